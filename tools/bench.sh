#!/usr/bin/env bash
# Builds and runs the speed benchmark: the optimised core against the plain
# baseline on each problem, side by side, with a bit-identity check. Extra
# arguments pick problems (iris digits brain many), "targets" the per-unit
# costs, "text" a text-like sparse problem fitted sparse and full (about a
# minute, 8 GB of memory for the full one), "text-large" a far larger one
# fitted sparse (two minutes, 2 GB). Takes a few minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make libgtest-dev
build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 2 --target dovex_bench >/dev/null
lscpu | sed -n 's/^Model name: *//p' | head -1 | sed 's/^/Machine: /'
echo "Cores: $(nproc)"
"$build/bench/dovex_bench" "$@"
