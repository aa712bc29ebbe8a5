#!/usr/bin/env bash
# Installs what the suite needs when it is missing, builds everything
# warning-free and runs the whole test suite through ctest, the Octave
# tests included.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make libgtest-dev octave liboctave-dev

build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" -DDOVEX_WERROR=ON
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
