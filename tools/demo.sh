#!/usr/bin/env bash
# The main job: builds the Octave module and runs the digits demo in Octave
# (installs the compiler, CMake and Octave first when they are missing).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make octave liboctave-dev

# A build folder of its own, without the tests, so the demo needs no test
# libraries and leaves the test command's configuration alone.
build=${DOVEX_DEMO_BUILD_DIR:-$here/build-demo}
cmake -S . -B "$build" -DDOVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target dovex_fit_octave >/dev/null
octave-cli --no-gui --norc --no-history \
    --eval "addpath('$build/mex'); run('$here/demo/demo_digits.m');"
