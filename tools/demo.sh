#!/usr/bin/env bash
# The main job: builds the project and fits the bundled digits data.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make libgtest-dev
build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fit_digits >/dev/null
"$build/tests/fit_digits"
