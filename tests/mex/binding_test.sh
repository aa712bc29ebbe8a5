#!/usr/bin/env bash
# Reads a built module (dovex_fit.mexa64 or dovex_seed.mexa64) back with
# readelf and objdump and checks what MATLAB's loader relies on: a 64-bit
# x86-64 shared object named after its file, whose only export is
# mexFunction under the version node MEX, whose needed libraries are exactly
# the host's and the C and C++ runtimes', which needs no versioned libstdc++
# symbol (MATLAB loads its own, older libstdc++), and which imports exactly
# the host functions listed.
#
#   binding_test.sh PATH/NAME.mexa64 "HOST FUNCTIONS, SORTED"
set -uo pipefail
export LC_ALL=C
module=${1:?usage: binding_test.sh MODULE HOST_FUNCTIONS}
host_functions=${2:?usage: binding_test.sh MODULE HOST_FUNCTIONS}
name=$(basename "$module")

passed=0
failed=0
check() { # check NAME EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}
join() { paste -sd' ' -; }

[ -f "$module" ] || { echo "FAIL no module at $module"; exit 1; }
case "$name" in
    dovex_fit.mexa64 | dovex_seed.mexa64) ;;
    *) echo "FAIL $name is not a module of this project"; exit 1 ;;
esac

header=$(readelf -h "$module") || { echo "FAIL readelf cannot read $module"; exit 1; }
field() { awk -F: -v k="$1" '$1 ~ "^ *" k "$" { sub(/^ +/, "", $2); print $2 }' <<<"$header"; }
check "ELF class" "ELF64" "$(field Class)"
check "object type" "DYN (Shared object file)" "$(field Type)"
check "machine" "Advanced Micro Devices X86-64" "$(field Machine)"

dynamic=$(readelf -d "$module")
check "soname" "$name" \
    "$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' <<<"$dynamic")"
check "needed libraries, in order" \
    "libmx.so libmex.so libmat.so libm.so.6 libstdc++.so.6 libpthread.so.0 libc.so.6" \
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
# among the locals.
symtab=$(readelf -s -W "$module" | awk '/Symbol table .\.symtab/ { on = 1; next } on')
check "global symbols of the symbol table" "mexFunction MEX" \
    "$(awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") { print $8 }' <<<"$symtab" | join)"
if [ "$name" == dovex_fit.mexa64 ]; then
    check "core entry point is local" "LOCAL" \
        "$(awk '$8 ~ /dovex_approx/ { print $5 }' <<<"$symtab" | sort -u | join)"
fi

# Imports: the host's functions unversioned, the C runtime's and libm's
# under GLIBC versions, and nothing from libstdc++.
imports=$(objdump -T "$module" | awk '$0 ~ /\*UND\*/')
check "versioned libstdc++ imports" "" "$(grep -E 'GLIBCXX_|CXXABI_' <<<"$imports")"
check "libstdc++ in the version needs" "" "$(grep -F 'libstdc++' <<<"$versions")"
check "host functions imported" "$host_functions" \
    "$(awk '$NF ~ /^mex|^mx/ { print $NF }' <<<"$imports" | sort | join)"
check "other strong imports, all from glibc" "" \
    "$(awk '$2 != "w" && $NF !~ /^mex|^mx/ && $0 !~ /\(GLIBC_[0-9.]+\)/' <<<"$imports")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
