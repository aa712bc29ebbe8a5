#!/usr/bin/env bash
# Every gateway mex/NAME.cpp is a whole compiled function: its help file
# mex/NAME.m with an H1 line and an example, its lines in mex/imports.txt
# for every kind of module (and no lines for a gateway that is gone), its
# modules in each build given, and NAME.m, its modules and its source in
# the folder cmake --install writes and in the Octave package, whose
# Makefile builds NAME.mex, and its line in the Contents.m of both.
#
#   gateways_test.sh source=DIR build=DIR cmake=PATH install_dir=NAME version=V \
#                    [mexa64=DIR] [mex=DIR] [mexw64=DIR] [mexw32=DIR]
# Each KIND=DIR is the folder where this build puts the NAME.KIND modules.
set -uo pipefail
export LC_ALL=C
. "$(dirname "${BASH_SOURCE[0]}")/imports.sh"

declare -A arg
for a in "$@"; do
    [[ $a == *=* ]] || { echo "gateways_test.sh: argument $a is not KEY=VALUE"; exit 2; }
    arg[${a%%=*}]=${a#*=}
done
for k in source build cmake install_dir version; do
    [ -n "${arg[$k]:-}" ] || { echo "gateways_test.sh: $k=... missing"; exit 2; }
done
src=${arg[source]}
imports=$src/mex/imports.txt
kinds=""
for k in mexa64 mex mexw64 mexw32; do
    [ -z "${arg[$k]:-}" ] || kinds+=" $k"
done

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
present() { [ -e "$1" ] && echo yes || echo no; }

gateways=$(cd "$src/mex" && ls -- *.cpp 2>/dev/null | sed 's/\.cpp$//' | sort)
check "gateways in $src/mex" "yes" "$([ -n "$gateways" ] && echo yes || echo no)"
echo "gateways:" $gateways

# The expected imports: well-formed, and only for gateways there are.
check "malformed lines of $imports" "" "$(imports_malformed "$imports")"
check "lines in $imports for no gateway" "" \
    "$(comm -13 <(echo "$gateways") <(imports_gateways "$imports") | paste -sd' ' -)"

scratch=${arg[build]}/gateways_test
rm -rf "$scratch"
mkdir -p "$scratch"

# The install folder, from a real install of this build.
installed=$scratch/install/${arg[install_dir]}
"${arg[cmake]}" --install "${arg[build]}" --prefix "$scratch/install" >"$scratch/install.log" 2>&1
check "cmake --install" "0" "$?"

# The Octave package, assembled as tools/package.sh does, and what its
# Makefile would build (make -n runs no compiler).
pkg=dovex-${arg[version]}
"${arg[cmake]}" -DSOURCE_DIR="$src" -DVERSION="${arg[version]}" -DSTAGE_DIR="$scratch/stage" \
    -DOUTPUT_DIR="$scratch/out" -P "$src/package/assemble.cmake" >"$scratch/package.log" 2>&1
check "package assembled" "0" "$?"
packaged=$(tar tzf "$scratch/out/$pkg.tar.gz" 2>/dev/null)
package_make=$(make -n -C "$scratch/stage/$pkg/src" MKOCTFILE=mkoctfile 2>&1)
compiled_index=$(sed -n '/^Compiled functions$/{n;p;}' "$scratch/stage/$pkg/INDEX" 2>/dev/null)

for g in $gateways; do
    help=$src/mex/$g.m
    check "$g: help file mex/$g.m" "yes" "$(present "$help")"
    if [ -f "$help" ]; then
        upper=$(tr '[:lower:]' '[:upper:]' <<<"$g")
        check "$g: H1 line of mex/$g.m" "%$upper  ..." \
            "$(head -1 "$help" | sed -E "s/^%$upper +[^ ].*/%$upper  .../")"
        check "$g: an example in mex/$g.m" "yes" \
            "$(grep -qE '^%[[:space:]]+Examples?([[:space:]]|:)' "$help" && echo yes || echo no)"
    fi

    for kind in mexa64 mexw64 mexw32; do
        for from in libmx libmex; do
            check "$g: $from line for $kind in mex/imports.txt" "yes" \
                "$(imports_has "$imports" "$g" "$kind" "$from" && echo yes || echo no)"
        done
    done

    for kind in $kinds; do
        check "$g: $g.$kind built" "yes" "$(present "${arg[$kind]}/$g.$kind")"
    done
    check "$g: help file beside the Linux modules" "yes" "$(present "${arg[build]}/mex/$g.m")"

    for f in $g.m src/mex/$g.cpp; do
        check "$g: $f installed" "yes" "$(present "$installed/$f")"
    done
    for kind in mexa64 mex; do
        [ -z "${arg[$kind]:-}" ] || check "$g: $g.$kind installed" "yes" "$(present "$installed/$g.$kind")"
    done
    for contents in "$installed/Contents.m" "$scratch/stage/$pkg/inst/Contents.m"; do
        check "$g: a line of $contents" "yes" \
            "$(grep -qE "^%   $g +- [^ ]" "$contents" 2>/dev/null && echo yes || echo no)"
    done

    for f in inst/$g.m src/mex/$g.cpp; do
        check "$g: $f packaged" "yes" "$(grep -qxF "$pkg/$f" <<<"$packaged" && echo yes || echo no)"
    done
    check "$g: in the package's INDEX" "yes" \
        "$([[ " $compiled_index " == *" $g "* ]] && echo yes || echo no)"
    check "$g: $g.mex built by the package's Makefile" "yes" \
        "$(grep -qE -- "-o $g\.mex .*mex/$g\.cpp" <<<"$package_make" && echo yes || echo no)"
done

[ "$failed" -ne 0 ] || rm -rf "$scratch"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
