#!/usr/bin/env bash
# Benchmarks dovex_cv's engines on the digits (5 folds x 10 penalties),
# serial and parallel in one Octave run (bench/cv_engines.m), and reports
# the peak resident memory of each phase: Octave and its worker processes
# together, sampled every 0.2 s. Takes about three minutes on two cores;
# not part of the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/deps.sh
need_packages cmake g++ make octave liboctave-dev octave-parallel
build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 2 --target dovex_octave >/dev/null
lscpu | sed -n 's/^Model name: *//p' | head -1 | sed 's/^/Machine: /'
echo "Cores: $(nproc)"

phase=$(mktemp)
peaks=$(mktemp)
trap 'rm -f "$phase" "$peaks"' EXIT
echo start >"$phase"
DOVEX_BENCH_PHASE=$phase octave-cli --no-gui --norc --no-history \
    --eval "addpath('$build/mex', '$here/toolbox'); run('$here/bench/cv_engines.m')" &
octave=$!

# The resident memory of a process and everything below it, in KiB.
tree_rss() {
    ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
        { parent[$1] = $2; rss[$1] = $3 }
        END {
            inside[root] = 1
            for (changed = 1; changed; ) {
                changed = 0
                for (p in parent) if (!(p in inside) && (parent[p] in inside)) { inside[p] = 1; changed = 1 }
            }
            for (p in inside) total += rss[p]
            print total + 0
        }'
}
while kill -0 "$octave" 2>/dev/null; do
    echo "$(cat "$phase") $(tree_rss "$octave")" >>"$peaks"
    sleep 0.2
done
wait "$octave"
for p in serial parallel; do
    awk -v p="$p" '$1 == p && $2 > max { max = $2 } END { printf "peak memory, %s: %.0f MiB\n", p, max / 1024 }' "$peaks"
done
