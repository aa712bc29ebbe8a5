#!/usr/bin/env bash
# Reads built Linux MATLAB modules (NAME.mexa64) back with readelf and
# objdump and checks what MATLAB's loader relies on: a 64-bit x86-64 shared
# object named after its file, whose only export is mexFunction under the
# version node MEX, whose needed libraries are exactly the host's and the C
# and C++ runtimes', which needs no versioned libstdc++ symbol (MATLAB loads
# its own, older libstdc++), and which imports exactly the host functions
# that mex/imports.txt gives for its gateway, and the C runtime's there
# from glibc.
#
#   binding_test.sh IMPORTS MODULE...   IMPORTS is mex/imports.txt
set -uo pipefail
export LC_ALL=C
here=$(dirname "${BASH_SOURCE[0]}")
. "$here/imports.sh"
imports_file=${1:?usage: binding_test.sh IMPORTS MODULE...}
shift
[ $# -gt 0 ] || { echo "usage: binding_test.sh IMPORTS MODULE..."; exit 2; }

passed=0
failed=0
check() { # check NAME EXPECTED ACTUAL, NAME prefixed with the module's file
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s: %s\n  expected: %s\n  actual:   %s\n' "$name" "$1" "$2" "$3"
    fi
}
join() { paste -sd' ' -; }
sorted() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort | join; }

check_module() {
    local module=$1 gateway needed from_mx from_mex crt f
    name=$(basename "$module")
    gateway=${name%.mexa64}
    [ "$gateway" != "$name" ] || { check "extension" ".mexa64" "${name##*.}"; return; }
    [ -f "$module" ] || { check "exists" "yes" "no"; return; }
    needed=$(imports_of "$imports_file" "$gateway" mexa64 needed) &&
        from_mx=$(imports_of "$imports_file" "$gateway" mexa64 libmx) &&
        from_mex=$(imports_of "$imports_file" "$gateway" mexa64 libmex) ||
        { check "its needed, libmx and libmex lines in $imports_file" "yes" "no"; return; }
    crt=$(imports_of "$imports_file" "$gateway" mexa64 crt)

    local header dynamic versions dynsyms defined symtab imports
    header=$(readelf -h "$module") || { check "read by readelf" "yes" "no"; return; }
    field() { awk -F: -v k="$1" '$1 ~ "^ *" k "$" { sub(/^ +/, "", $2); print $2 }' <<<"$header"; }
    check "ELF class" "ELF64" "$(field Class)"
    check "object type" "DYN (Shared object file)" "$(field Type)"
    check "machine" "Advanced Micro Devices X86-64" "$(field Machine)"

    dynamic=$(readelf -d "$module")
    check "soname" "$name" \
        "$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' <<<"$dynamic")"
    check "needed libraries, in order" "$needed" \
        "$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | join)"
    check "no search path of the build" "" "$(grep -E '\((RPATH|RUNPATH)\)' <<<"$dynamic")"

    # Version definitions: the base (the soname) and the node MEX, no other.
    versions=$(readelf -V "$module")
    check "version definitions" "BASE:$name none:MEX" \
        "$(sed -n '/\.gnu\.version_d/,/^$/s/.*Flags: \([A-Za-z]*\) .*Name: \(.*\)/\1:\2/p' \
            <<<"$versions" | join)"

    # Defined dynamic symbols. GNU ld adds an absolute OBJECT symbol named after
    # each version node; it marks the node and is no export, so it is set aside
    # here, and only when it is exactly that.
    dynsyms=$(readelf --dyn-syms -W "$module" | awk '$1 ~ /^[0-9]+:$/')
    defined=$(awk '$7 != "UND" && !($4 == "OBJECT" && $7 == "ABS" && $8 == "MEX")' <<<"$dynsyms")
    check "exported symbols" "FUNC GLOBAL DEFAULT mexFunction@@MEX" \
        "$(awk '{ print $4, $5, $6, $8 }' <<<"$defined" | join)"
    check "version-node markers" "MEX" \
        "$(awk '$7 == "ABS" && $4 == "OBJECT" { print $8 }' <<<"$dynsyms" | join)"

    # Every other symbol of the file is local: none global or weak in the full
    # symbol table but mexFunction and the marker, and the fit's core entry point
    # among the locals wherever the gateway calls the core.
    symtab=$(readelf -s -W "$module" | awk '/Symbol table .\.symtab/ { on = 1; next } on')
    check "global symbols of the symbol table" "mexFunction MEX" \
        "$(awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") { print $8 }' <<<"$symtab" | join)"
    if grep -q dovex_approx <<<"$symtab"; then
        check "core entry point is local" "LOCAL" \
            "$(awk '$8 ~ /dovex_approx/ { print $5 }' <<<"$symtab" | sort -u | join)"
    fi

    # Imports: the host's functions unversioned, the C runtime's and libm's
    # under GLIBC versions, and nothing from libstdc++.
    imports=$(objdump -T "$module" | awk '$0 ~ /\*UND\*/')
    check "versioned libstdc++ imports" "" "$(grep -E 'GLIBCXX_|CXXABI_' <<<"$imports")"
    check "libstdc++ in the version needs" "" "$(grep -F 'libstdc++' <<<"$versions")"
    check "host functions imported from libmx" "$(sorted "$from_mx")" \
        "$(awk '$NF ~ /^mx/ { print $NF }' <<<"$imports" | sort | join)"
    check "host functions imported from libmex" "$(sorted "$from_mex")" \
        "$(awk '$NF ~ /^mex/ { print $NF }' <<<"$imports" | sort | join)"
    check "other strong imports, all from glibc" "" \
        "$(awk '$2 != "w" && $NF !~ /^mex|^mx/ && $0 !~ /\(GLIBC_[0-9.]+\)/' <<<"$imports")"
    for f in $crt; do
        check "$f from glibc" "yes" \
            "$(awk -v f="$f" '$NF == f && /\(GLIBC_[0-9.]+\)/ { found = 1 } END { print found ? "yes" : "no" }' \
                <<<"$imports")"
    done
}

for module in "$@"; do
    check_module "$module"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
