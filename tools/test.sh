#!/usr/bin/env bash
# Installs what the suite needs when it is missing, builds everything
# warning-free and runs the whole test suite through ctest, the Octave
# tests included, and the Windows module cross-built, checked and run under
# wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
. tools/win32.sh
need_packages cmake g++ make libgtest-dev octave liboctave-dev
need_win32_tools

build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" -DDOVEX_WERROR=ON -DDOVEX_WIN32=ON
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
