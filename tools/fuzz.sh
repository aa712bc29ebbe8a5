#!/usr/bin/env bash
# A fuzzing campaign longer than the suite's minute:
#
#   bash tools/fuzz.sh [SECONDS [more libFuzzer options]]    (default an hour)
#
# Builds the fuzzer in the sanitized tree that tools/test.sh uses and runs it
# from the stored inputs. The corpus it grows stays in
# build-san/tests/fuzz/campaign/corpus for the next campaign; an input that
# fails a check is written to build-san/tests/fuzz/campaign/ as crash-*, oom-* or timeout-*.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make libgtest-dev clang-14 libclang-rt-14-dev llvm-14
if command -v llvm-symbolizer-14 >/dev/null; then
    export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14)}
fi

seconds=${1:-3600}
shift $(($# > 0 ? 1 : 0))
san=${DOVEX_SAN_BUILD_DIR:-$here/build-san}
cmake -S . -B "$san" -DCMAKE_CXX_COMPILER=clang++-14 -DDOVEX_WERROR=ON -DDOVEX_SANITIZE=ON \
    -DDOVEX_FUZZ=ON >/dev/null
cmake --build "$san" -j "$(nproc)" --target dovex_fuzz
cd "$san/tests/fuzz"
exec bash "$here/tests/fuzz/run.sh" "$san/tests/fuzz/dovex_fuzz" "$seconds" \
    "$san/tests/fuzz/campaign" "$@"
