#!/usr/bin/env bash
# Holds the stand-in host DLLs to the interface modules are built against:
# every function a module may call (matrix.h for libmx.dll, mex.h for
# libmex.dll) is listed in the DLL's .def file, from which the modules'
# import libraries are made, and the built DLL exports every name listed
# there. A name missing from the .def file fails a module's link; one the
# DLL lacks makes Windows (or wine) refuse to load the module.
#
#   host_exports.sh OBJDUMP BIN SOURCE   BIN holds libmx.dll and libmex.dll,
#                                        SOURCE is the project folder
set -uo pipefail
export LC_ALL=C
usage="usage: host_exports.sh OBJDUMP BIN SOURCE"
objdump=${1:?$usage} bin=${2:?$usage} src=${3:?$usage}

failed=0
report() { # report WHAT NAMES
    [ -z "$2" ] && return
    failed=1
    printf 'FAIL %s:\n%s\n' "$1" "$2"
}
for lib in mx mex; do
    case $lib in
    mx) header=matrix.h api=STANDIN_MX_API ;;
    mex) header=mex.h api=STANDIN_MEX_API ;;
    esac
    declared=$(grep -v '^#' "$src/standin/include/$header" | grep -oE "$api [^(]*\\(" |
        sed -E 's/.*[ *]([A-Za-z_0-9]+)\($/\1/' | sort -u)
    listed=$(sed -n '/^EXPORTS/,$p' "$src/windows/lib$lib.def" | sed 1d | grep -v '^;' | sort -u)
    dump=$("$objdump" -p "$bin/lib$lib.dll") || { report "lib$lib.dll read by objdump" "no"; continue; }
    exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$dump" |
        sort -u)
    [ -n "$declared" ] || report "$header declares functions" "none found"
    report "declared in $header, missing from lib$lib.def" "$(comm -23 <(echo "$declared") <(echo "$listed"))"
    report "listed in lib$lib.def, not exported by lib$lib.dll" "$(comm -23 <(echo "$listed") <(echo "$exported"))"
done
[ "$failed" -eq 0 ] && echo "lib*.def and the host DLLs match matrix.h and mex.h"
exit "$failed"
