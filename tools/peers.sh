#!/usr/bin/env bash
# Optional peer comparison: fits the benchmark's problems with the core,
# with glmnet (R) and with scikit-learn's saga (Python) at ladders of
# tolerances, and prints each tool's time to reach a relative objective gap
# of 1e-4 and 1e-6. Installs r-cran-glmnet and python3-sklearn when missing.
# Arguments pick problems (iris digits brain many text; default all; text
# goes to every tool as a sparse matrix). Each tool's ladder stops after its
# first fit longer than a minute, and at ten minutes in any case, so a full
# run takes up to an hour and a half.
#
# "workflow" as the first argument runs the cross-validated workflow
# instead, each tool with its defaults (bench/peers/workflow.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if [ "${1:-}" = workflow ]; then
    shift
    exec bash bench/peers/workflow.sh "$@"
fi
. tools/deps.sh
need_packages cmake g++ make libgtest-dev r-cran-glmnet python3-sklearn
build=${DOVEX_BUILD_DIR:-$here/build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 2 --target dovex_peers >/dev/null
problems=("$@")
[ ${#problems[@]} -eq 0 ] && problems=(iris digits brain many text)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/dovex_peers" export "$work" "${problems[@]}"
lscpu | sed -n 's/^Model name: *//p' | head -1 | sed 's/^/Machine: /'
echo
echo "| problem | gap | dovex s | glmnet s | saga s | glmnet / dovex | saga / dovex |"
echo "|---|---|---:|---:|---:|---:|---:|"
for p in "${problems[@]}"; do
    # A tool still running after ten minutes is stopped; its fits so far count.
    {
        timeout 600 "$build/bench/dovex_peers" ladder "$p" || true
        timeout 600 Rscript bench/peers/glmnet_ladder.R "$work/$p" || true
        timeout 600 /usr/bin/python3 bench/peers/saga_ladder.py "$work/$p" || true
    } > "$work/$p.ladders"
    /usr/bin/python3 bench/peers/summarise.py "$p" < "$work/$p.ladders"
    if [ -n "${DOVEX_PEERS_KEEP:-}" ]; then
        cp "$work/$p.ladders" "$DOVEX_PEERS_KEEP/"
    fi
done
