#!/usr/bin/env bash
# bash tools/release.sh [DIR]: writes the release into DIR (default
# build-release/): the Octave package dovex-<version>.tar.gz and, beside it,
# the MATLAB download dovex-<version>-matlab.zip, with the Linux modules
# built here and the Windows ones (64-bit and 32-bit) cross-built with
# MinGW-w64, and prints their paths as the last two lines. The version is
# the one project() sets in CMakeLists.txt. It builds in a configuration of
# its own, the one the test suite's first tree uses for these modules, and
# leaves every other build folder alone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/deps.sh"
need_packages cmake g++ make zip unzip g++-mingw-w64-x86-64 g++-mingw-w64-i686

out=${1:-$here/build-release}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# The package's Date and the Contents.m date are the date of the sources:
# the last commit's, unless the caller sets SOURCE_DATE_EPOCH.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

jobs=$(nproc)
if ! cmake -S "$here" -B "$tree/build" -DDOVEX_TESTS=OFF -DDOVEX_BENCH=OFF -DDOVEX_OCTAVE=OFF \
        -DDOVEX_WINDOWS=ON -DDOVEX_WINDOWS_ARCHS="win64;win32" \
        -DDOVEX_PACKAGE_DIR="$out" >"$tree/log" 2>&1 ||
   ! cmake --build "$tree/build" -j "$jobs" --target octave_package matlab_zip >>"$tree/log" 2>&1; then
    cat "$tree/log" >&2
    echo "release.sh: making the release failed" >&2
    exit 1
fi
tarball=$(sed -n 's/^-- Octave package: //p' "$tree/log")
zip=$(sed -n 's/^-- MATLAB zip: //p' "$tree/log" | grep '\.zip$' || true)
for f in "$tarball" "$zip"; do
    [ -n "$f" ] && [ -f "$f" ] || { cat "$tree/log" >&2; echo "release.sh: not written: $f" >&2; exit 1; }
done
echo "$(tar tzf "$tarball" | wc -l) files, $(du -k "$tarball" | cut -f1) KiB: Octave package"
echo "$(unzip -Z1 "$zip" 2>/dev/null | wc -l) entries, $(du -k "$zip" | cut -f1) KiB: MATLAB zip"
echo "$tarball"
echo "$zip"
