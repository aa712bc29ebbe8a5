#!/usr/bin/env bash
# Reads built Windows modules back with objdump and checks what MATLAB's
# loader relies on: a DLL of the module's architecture (PE32+ x86-64 for
# NAME.mexw64, PE32 x86 for NAME.mexw32) whose export directory is named
# after the file and holds mexFunction alone, under its plain name; which
# imports the host's functions by name from libmx.dll and libmex.dll and
# the C runtime's from msvcrt.dll, as mex/imports.txt gives them for its
# gateway; and which needs no DLL but those and KERNEL32.dll (no MinGW
# runtime DLL), none of them delay-loaded.
#
#   binding_test.sh OBJDUMP IMPORTS MODULE...   IMPORTS is mex/imports.txt,
#                                               each MODULE PATH/NAME.mexw64 or .mexw32
set -uo pipefail
export LC_ALL=C
. "$(dirname "${BASH_SOURCE[0]}")/../mex/imports.sh"
objdump=${1:?usage: binding_test.sh OBJDUMP IMPORTS MODULE...}
imports_file=${2:?usage: binding_test.sh OBJDUMP IMPORTS MODULE...}
shift 2
[ $# -gt 0 ] || { echo "usage: binding_test.sh OBJDUMP IMPORTS MODULE..."; exit 2; }

passed=0
failed=0
check() { # check NAME EXPECTED ACTUAL, NAME prefixed with the module's file
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s: %s\n  expected: %s\n  actual:   %s\n' "$file" "$1" "$2" "$3"
    fi
}
join() { paste -sd' ' -; }
sorted() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort | join; }
lower_sorted() { sorted "$(tr '[:upper:]' '[:lower:]' <<<"$1")"; }

check_module() {
    local module=$1 format magic kind needed from_mx from_mex from_msvcrt
    file=$(basename "$module")
    kind=${file##*.}
    case $kind in
    mexw64) format=pei-x86-64 magic="020b (PE32+)" ;;
    mexw32) format=pei-i386 magic="010b (PE32)" ;;
    *) check "extension" ".mexw64 or .mexw32" "$kind"; return ;;
    esac
    needed=$(imports_of "$imports_file" "${file%.*}" "$kind" needed) &&
        from_mx=$(imports_of "$imports_file" "${file%.*}" "$kind" libmx) &&
        from_mex=$(imports_of "$imports_file" "${file%.*}" "$kind" libmex) ||
        { check "its needed, libmx and libmex lines in $imports_file" "yes" "no"; return; }
    from_msvcrt=$(imports_of "$imports_file" "${file%.*}" "$kind" crt)

    [ -f "$module" ] || { check "exists" "yes" "no"; return; }

    local dump imports msvcrt f
    dump=$("$objdump" -p "$module") || { check "read by objdump" "yes" "no"; return; }
    check "file format" "$format" "$(sed -n 's/.*file format //p' <<<"$dump")"
    check "optional header" "$magic" "$(awk '$1 == "Magic" { print $2, $3 }' <<<"$dump")"
    check "a DLL" "DLL" "$(grep -xE $'\tDLL' <<<"$dump" | tr -d '\t')"

    # Export directory: its name, one function, one name, and that name.
    check "export directory name" "$file" \
        "$(awk '$1 == "Name" && NF == 3 { print $3 }' <<<"$dump")"
    check "exported functions" "00000001 00000001" \
        "$(grep -E $'^\t(Export Address Table|\\[Name Pointer/Ordinal\\] Table)' <<<"$dump" |
            awk '{ print $NF }' | head -2 | join)"
    check "exported names" "mexFunction" \
        "$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$dump" | join)"

    # Imports as "DLL name" lines; an entry without a name is an import by
    # ordinal and shows as "DLL #ordinal".
    imports=$(awk '
        /^\tDLL Name: / { dll = $3; next }
        dll != "" && /^\tvma:/ { next }
        dll != "" && /^$/ { dll = ""; next }
        dll != "" && NF >= 3 { print dll, $3; next }
        dll != "" && NF == 2 { print dll, "#" $2 }' <<<"$dump")
    from() { awk -v d="$1" 'tolower($1) == tolower(d) { print $2 }' <<<"$imports" | sort -u | join; }

    check "DLLs needed" "$(lower_sorted "$needed")" \
        "$(awk '{ print tolower($1) }' <<<"$imports" | sort -u | join)"
    check "imports by ordinal" "" "$(awk '$2 ~ /^#/' <<<"$imports")"
    # The data directory's delay-import entry: no address, no size.
    check "delay-loaded imports" "0 0" \
        "$(awk '/Delay Import Directory/ { for (i = 3; i <= 4; i++) { sub(/^0+/, "", $i); if ($i == "") $i = 0 }
                                           print $3, $4 }' <<<"$dump")"
    check "imports from libmx.dll" "$(sorted "$from_mx")" "$(from libmx.dll)"
    check "imports from libmex.dll" "$(sorted "$from_mex")" "$(from libmex.dll)"
    msvcrt=" $(from msvcrt.dll) "
    for f in $from_msvcrt; do
        check "$f from msvcrt.dll" "yes" "$([[ $msvcrt == *" $f "* ]] && echo yes || echo no)"
    done
    # The host functions come from the host DLLs and nowhere else.
    check "host functions from other DLLs" "" \
        "$(awk 'tolower($1) != "libmx.dll" && tolower($1) != "libmex.dll" && $2 ~ /^mex|^mx/' <<<"$imports")"
}

for module in "$@"; do
    check_module "$module"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
