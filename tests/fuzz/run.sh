#!/usr/bin/env bash
# Runs the fuzzer for a bounded time from the stored inputs.
#
#   tests/fuzz/run.sh FUZZER SECONDS WORKDIR [more libFuzzer options]
#
# New inputs go to WORKDIR/corpus (tests/fuzz/corpus and tests/fuzz/regressions
# are only read), an input that fails a check to WORKDIR/crash-*. Exits
# non-zero on any finding.
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3
shift 3
src=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work/corpus"
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$work/" "$@" \
    "$work/corpus" "$src/corpus" "$src/regressions"
