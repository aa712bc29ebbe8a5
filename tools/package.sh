#!/usr/bin/env bash
# bash tools/package.sh [DIR]: writes the Octave package dovex-<version>.tar.gz
# into DIR (default build-pkg/) and prints its path as the last line. The
# version is the one project() sets in CMakeLists.txt; CMake assembles the
# package (package/assemble.cmake) in a configuration of its own, which
# leaves every other build folder alone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/deps.sh"
need_packages cmake g++ make

out=${1:-$here/build-pkg}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# The package's Date is the date of the sources: the last commit's, unless
# the caller sets SOURCE_DATE_EPOCH.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

if ! cmake -S "$here" -B "$tree/build" -DDOVEX_TESTS=OFF -DDOVEX_BENCH=OFF -DDOVEX_OCTAVE=OFF \
        -DDOVEX_PACKAGE_DIR="$out" >"$tree/log" 2>&1 ||
   ! cmake --build "$tree/build" --target octave_package >>"$tree/log" 2>&1; then
    cat "$tree/log" >&2
    echo "package.sh: making the package failed" >&2
    exit 1
fi
tarball=$(sed -n 's/^-- Octave package: //p' "$tree/log")
[ -f "$tarball" ] || { cat "$tree/log" >&2; echo "package.sh: no tarball written" >&2; exit 1; }
echo "$(tar tzf "$tarball" | wc -l) files, $(du -k "$tarball" | cut -f1) KiB"
echo "$tarball"
