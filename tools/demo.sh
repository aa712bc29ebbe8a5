#!/usr/bin/env bash
# The main job: builds the Octave modules and runs the digits demo in Octave
# (installs the compiler, CMake, Octave, its parallel package and what it
# draws headless with first when they are missing). The demo writes
# dovex_digits.png into the project folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make octave liboctave-dev octave-parallel gnuplot-nox fonts-freefont-otf

# A build folder of its own, without the tests, so the demo needs no test
# libraries and leaves the test command's configuration alone.
build=${DOVEX_DEMO_BUILD_DIR:-$here/build-demo}
cmake -S . -B "$build" -DDOVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target dovex_octave >/dev/null
# Called by name rather than through run(), which would change into demo/.
octave-cli --no-gui --norc --no-history \
    --eval "addpath('$build/mex', '$here/toolbox', '$here/demo'); demo_digits"
