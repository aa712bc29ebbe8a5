#!/usr/bin/env bash
# Installs what the suite needs when it is missing, builds everything
# warning-free and runs the whole test suite through ctest, the Octave
# tests included, and the Windows modules (64-bit and legacy 32-bit)
# cross-built, checked and run under wine: once as shipped (with gcc, the
# module's calls also under valgrind), then a second tree built with clang
# under AddressSanitizer and UndefinedBehaviorSanitizer, which fails on the
# first report and also runs the fuzzer for a minute.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
. tools/windows.sh
need_packages cmake g++ make libgtest-dev octave liboctave-dev \
    octave-parallel gnuplot-nox fonts-freefont-otf python3 \
    clang-14 libclang-rt-14-dev llvm-14 valgrind zip unzip libc++-14-dev musl-dev
# The Windows builds are asked for, so their tools are set up.
need_windows_tools
# Sanitizer reports name functions and lines only with a symbolizer.
if command -v llvm-symbolizer-14 >/dev/null; then
    export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14)}
fi

jobs=$(nproc)
build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" -DDOVEX_WERROR=ON -DDOVEX_WINDOWS=ON
cmake --build "$build" -j "$jobs"
(cd "$build" && ctest --output-on-failure --no-tests=error -j "$jobs")

san=${DOVEX_SAN_BUILD_DIR:-$here/build-san}
cmake -S . -B "$san" -DCMAKE_CXX_COMPILER=clang++-14 -DDOVEX_WERROR=ON -DDOVEX_SANITIZE=ON \
    -DDOVEX_FUZZ=ON
cmake --build "$san" -j "$jobs"
(cd "$san" && ctest --output-on-failure --no-tests=error -j "$jobs")
