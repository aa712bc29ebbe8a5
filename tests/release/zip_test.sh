#!/usr/bin/env bash
# The MATLAB zip as a user gets it: made from this build's modules by
# package/matlab_zip.cmake, unzipped into a fresh folder, and then
#   - one folder dovex-VERSION, with every gateway's help file, source and
#     three modules, Contents.m naming exactly the functions of the folder,
#     and no text file naming a path of the project or the build;
#   - each .mexa64 loaded by the stand-in host's mexrun from there, and
#     dovex_fit fitting the unzipped digits with the bits (W and the printed
#     lines) of the build's own module;
#   - the same for each .mexw64 and .mexw32 under wine, against the build's
#     Windows modules, one wine prefix per architecture;
#   - in octave-cli, make.m from the folder building the Octave modules in
#     place, help dovex, and the tests shipped in the folder's .m files
#     (zip_octave.m).
#
#   zip_test.sh source=DIR build=DIR cmake=PATH zip=PATH version=V mexrun=PATH
#               octave=PATH mexa64=DIR win64=DIR win32=DIR
# mexa64 is where the build puts NAME.mexa64; winNN the Windows build's bin/
# (its NAME.mexwNN and mexrun.exe).
set -uo pipefail
export LC_ALL=C
# The shipped tests must find the data in the folder, not the project's.
unset DOVEX_DATA_DIR

declare -A arg
for a in "$@"; do
    [[ $a == *=* ]] || { echo "zip_test.sh: argument $a is not KEY=VALUE"; exit 2; }
    arg[${a%%=*}]=${a#*=}
done
for k in source build cmake zip version mexrun octave mexa64 win64 win32; do
    [ -n "${arg[$k]:-}" ] || { echo "zip_test.sh: $k=... missing"; exit 2; }
done
src=${arg[source]}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$src/tests/windows/wine_run.sh

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
seconds() { echo $(($(date +%s) - start)); }
start=$(date +%s)

scratch=${arg[build]}/release_zip_test
rm -rf "$scratch"
mkdir -p "$scratch/user" "$scratch/fits"

name=dovex-${arg[version]}
"${arg[cmake]}" -DSOURCE_DIR="$src" -DVERSION="${arg[version]}" -DZIP="${arg[zip]}" \
    -DMEXA64_DIR="${arg[mexa64]}" -DMEXW64_DIR="${arg[win64]}" -DMEXW32_DIR="${arg[win32]}" \
    -DSTAGE_DIR="$scratch/stage" -DOUTPUT_DIR="$scratch/out" \
    -P "$src/package/matlab_zip.cmake" >"$scratch/zip.log" 2>&1
check "matlab_zip.cmake" "0" "$?"
archive=$scratch/out/$name-matlab.zip
(cd "$scratch/user" && unzip -q "$archive")
check "unzip $archive" "0" "$?"
echo "$(basename "$archive"): $(du -k "$archive" | cut -f1) KiB, $(unzip -Z1 "$archive" | wc -l) entries"

check "the zip's one top folder" "$name" "$(ls -A "$scratch/user" | paste -sd' ' -)"
folder=$scratch/user/$name

# Every gateway whole, by the rule: every mex/NAME.cpp.
gateways=$(cd "$src/mex" && ls -- *.cpp | sed 's/\.cpp$//' | sort)
for g in $gateways; do
    for f in $g.m $g.mexa64 $g.mexw64 $g.mexw32 src/mex/$g.cpp; do
        check "$g: $f in the zip" "yes" "$(present "$folder/$f")"
    done
done
for f in Contents.m dovex.m make.m README.md NEWS COPYING data/digits.csv data/README.md \
    demo_digits.m src/core/exact_fp.flags private/check_data.m; do
    check "$f in the zip" "yes" "$(present "$folder/$f")"
done
check "help files with the version" "" \
    "$(for g in $gateways; do grep -qxF "%   dovex version: ${arg[version]}" "$folder/$g.m" || echo "$g.m"; done)"
check "NEWS headed by the version" "dovex ${arg[version]}" "$(head -1 "$folder/NEWS")"
check "text files naming the project or the build" "" \
    "$(grep -rIlF -e "$src" -e "${arg[build]}" "$folder" | paste -sd' ' -)"

# Contents.m names the folder's functions, each once, and no other: the
# header names dovex (dovex.m), every other line one function.
listed=$( { sed -n 's/^% \([A-Za-z_0-9]*\)  .*/\1/p' "$folder/Contents.m" | head -1
            sed -n 's/^%   \([A-Za-z_0-9]*\) *- .*/\1/p' "$folder/Contents.m"; } | sort)
found=$(cd "$folder" && ls -- *.m | sed 's/\.m$//' | grep -vx Contents | sort)
check "functions in Contents.m and in the folder" "$found" "$listed"
check "Contents.m names each once" "" "$(uniq -d <<<"$listed")"
check "Contents.m's version line" "yes" \
    "$(grep -qE "^% Version ${arg[version]//./\\.} [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4}$" "$folder/Contents.m" && echo yes || echo no)"

# The MATLAB modules: dovex_fit fits the unzipped digits with the bits of the
# build's module, the printed lines included; every other module loads and
# refuses a call of nine matrices with its own identifier.
digits=(2 0.5 1e-4 30)
fit_linux() { # fit_linux MODULE OUT
    "${arg[mexrun]}" "$1" "$folder/data/digits.csv" "${digits[@]}" "$2.csv" >"$2.out" 2>&1
}
fit_linux "$folder/dovex_fit.mexa64" "$scratch/fits/zip"
check "mexa64: the unzipped dovex_fit fits digits" "0" "$?"
fit_linux "${arg[mexa64]}/dovex_fit.mexa64" "$scratch/fits/build"
check "mexa64: the build's dovex_fit fits digits" "0" "$?"
check "mexa64: the same W, bit for bit" "yes" \
    "$(cmp -s "$scratch/fits/zip.csv" "$scratch/fits/build.csv" && echo yes || echo no)"
check "mexa64: the same lines" "yes" \
    "$(cmp -s "$scratch/fits/zip.out" "$scratch/fits/build.out" && echo yes || echo no)"
check "mexa64: 30 sweeps printed" "30" "$(grep -c '^sweep : ' "$scratch/fits/zip.out")"
for g in $gateways; do
    [ "$g" == dovex_fit ] && continue
    out=$("${arg[mexrun]}" "$folder/$g.mexa64" "$folder/data/iris.csv" 1 0.1 1e-4 1 2>&1)
    check "mexa64: $g loads and refuses mexrun's call" "yes" \
        "$(grep -q "^Error ($g:" <<<"$out" && echo yes || echo no)"
done

# The same under wine: both fits in one wine prefix, through a batch file.
winpath() { echo "Z:${1//\//\\}"; }
for arch in win64 win32; do
    ext=${arch/win/mexw}
    bin=${arg[$arch]}
    bat=$scratch/fits/$arch.bat
    : >"$bat"
    for who in zip build; do
        module=$folder/dovex_fit.$ext
        [ "$who" == build ] && module=$bin/dovex_fit.$ext
        out=$scratch/fits/$arch-$who
        printf '"%s" "Z:%s" "Z:%s" %s "Z:%s.csv" > "%s" 2>&1\r\nif errorlevel 1 exit /b 1\r\n' \
            "$(winpath "$bin/mexrun.exe")" "$module" "$folder/data/digits.csv" "${digits[*]}" \
            "$out" "$(winpath "$out.out")" >>"$bat"
    done
    bash "$wine_run" "$arch" cmd /c "$(winpath "$bat")" >"$scratch/fits/$arch.wine" 2>&1
    check "$ext: both fits under wine" "0" "$?"
    check "$ext: the same W, bit for bit" "yes" \
        "$(cmp -s "$scratch/fits/$arch-zip.csv" "$scratch/fits/$arch-build.csv" && echo yes || echo no)"
    check "$ext: the same lines" "yes" \
        "$(cmp -s "$scratch/fits/$arch-zip.out" "$scratch/fits/$arch-build.out" && echo yes || echo no)"
    check "$ext: 30 sweeps printed" "30" "$(grep -c '^sweep : ' "$scratch/fits/$arch-zip.out")"
done
echo "modules checked: $(seconds) s"

# Octave from the unzipped folder alone, run from a scratch folder of its own.
mkdir -p "$scratch/octave"
(cd "$scratch/octave" && "${arg[octave]}" --no-gui --norc --no-history --eval \
    "addpath('$here'); zip_octave('$folder', '${arg[version]}')")
check "octave: make, help dovex and the shipped tests in the unzipped folder" "0" "$?"
for g in $gateways; do
    check "$g.mex built in the folder by make" "yes" "$(present "$folder/$g.mex")"
done
echo "all checked: $(seconds) s"

[ "$failed" -ne 0 ] || rm -rf "$scratch"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
