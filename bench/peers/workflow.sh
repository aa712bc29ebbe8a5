#!/usr/bin/env bash
# The main job side by side: choosing the penalty by cross-validation with
# each tool's defaults, on the same stratified 80/20 splits. Run through
#   bash tools/peers.sh workflow [data set...]
# Data sets: digits (bundled), vehicle vowel dna satellite soybean letter zoo
# (from R's mlbench package, exported at run time into a temporary folder),
# and the synthetic brain (200 x 20,000 x 4) and text (4,000 x 10,000 x 20,
# sparse) from the benchmark's generators. No name: digits and the seven
# mlbench sets; "all": every set. Environment:
#   DOVEX_WORKFLOW_TOOLS     tools to run (default "dovex glmnet sklearn")
#   DOVEX_WORKFLOW_ENGINES   "serial parallel" (default) or one of them
#   DOVEX_WORKFLOW_TIMEOUT   seconds per run (default 900); a run stopped
#                            there shows as "timeout" in the table
#   DOVEX_WORKFLOW_SWEEPS    MaxSweeps of dovex's tight refit for the gap
#                            (0: no refit, no gap)
#   DOVEX_WORKFLOW_SPLITS    how many seeded 80/20 splits of each data set
#                            (default 1); the table gives each figure's
#                            mean over them, which a small test part needs
#                            (one sample of zoo's 21 is 5 points)
#   DOVEX_WORKFLOW_KEEP      a folder that receives the result lines as
#                            they come (the file results)
#   DOVEX_BUILD_DIR          the build folder (default build-workflow)
set -euo pipefail
start=$(date +%s)
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
. tools/deps.sh
# An optimised BLAS for all three tools, as users have it: Debian's octave
# recommends libopenblas0, and MATLAB ships its own. The single-threaded
# build, so that a serial run uses one core whatever it multiplies.
need_packages cmake g++ make octave liboctave-dev octave-parallel \
    r-cran-glmnet r-cran-mlbench r-cran-doparallel python3-sklearn libopenblas0-serial

real=(digits vehicle vowel dna satellite soybean letter zoo)
synthetic=(brain text)
sets=("$@")
if [ ${#sets[@]} -eq 0 ]; then
    sets=("${real[@]}")
elif [ ${#sets[@]} -eq 1 ] && [ "${sets[0]}" = all ]; then
    sets=("${real[@]}" "${synthetic[@]}")
fi
for s in "${sets[@]}"; do
    case " ${real[*]} ${synthetic[*]} " in
        *" $s "*) ;;
        *) echo "unknown data set $s (${real[*]} ${synthetic[*]} all)" >&2; exit 2 ;;
    esac
done
tools=(${DOVEX_WORKFLOW_TOOLS:-dovex glmnet sklearn})
engines=(${DOVEX_WORKFLOW_ENGINES:-serial parallel})
limit=${DOVEX_WORKFLOW_TIMEOUT:-900}
splits=${DOVEX_WORKFLOW_SPLITS:-1}
[[ $splits =~ ^[1-9][0-9]*$ ]] || { echo "DOVEX_WORKFLOW_SPLITS: a count of 1 or more" >&2; exit 2; }
# Split k of data set s is in the folder s (k = 1) or s.k.
folder() { if [ "$2" -eq 1 ]; then echo "$1"; else echo "$1.$2"; fi; }
# dovex's elastic net is lambda1*|w| + lambda2/2*w^2 with lambda2 =
# Lambda2Ratio*lambda1 (default 0.1); the peers' is lambda*(alpha*|w| +
# (1-alpha)/2*w^2), so the same mix is alpha = 1/(1 + Lambda2Ratio).
alpha=$(awk 'BEGIN { printf "%.17g", 1 / (1 + 0.1) }')

# A build folder of its own without the tests; every Octave module the
# project defines (the targets named *_octave) is built.
build=${DOVEX_BUILD_DIR:-$here/build-workflow}
cmake -S . -B "$build" -DDOVEX_TESTS=OFF >/dev/null
modules=$( (cmake --build "$build" --target help 2>/dev/null || true) |
    grep -o 'dovex_[a-z_]*_octave' | sort -u) || true
[ -n "$modules" ] || modules="dovex_fit_octave dovex_seed_octave"
cmake --build "$build" -j 2 --target $modules >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Each set's source, as workflow_split.py takes it before OUT.
declare -A source
mlbench=()
for s in "${sets[@]}"; do
    case $s in
        digits) source[$s]="csv data/digits.csv 16" ;;
        brain | text)
            cmake --build "$build" -j 2 --target dovex_peers >/dev/null
            problem=$s
            [ "$s" = text ] && problem=text-small
            mkdir -p "$work/raw"
            "$build/bench/dovex_peers" export "$work/raw" "$problem"
            source[$s]="problem $work/raw/$problem" ;;
        *) mlbench+=("$s")
           source[$s]="csv $work/raw/$s.csv 1" ;;
    esac
done
if [ ${#mlbench[@]} -gt 0 ]; then
    mkdir -p "$work/raw"
    Rscript bench/peers/workflow_export.R "$work/raw" "${mlbench[@]}" >&2
fi
for s in "${sets[@]}"; do
    for k in $(seq "$splits"); do
        /usr/bin/python3 bench/peers/workflow_split.py ${source[$s]} "$work/$(folder "$s" "$k")" "$k"
    done
done
rm -rf "$work/raw"

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
     "load average at the start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Versions: $(octave-cli --version | head -1);" \
     "R glmnet $(Rscript -e 'cat(format(packageVersion("glmnet")))');" \
     "scikit-learn $(/usr/bin/python3 -c 'import sklearn; print(sklearn.__version__)');" \
     "BLAS $(basename "$(dirname "$(readlink -f /usr/lib/x86_64-linux-gnu/libblas.so.3)")")"
echo

# One run, with its timeout; its result line, or a line saying how it ended.
# Every run's output goes to stderr as it comes, for progress.
results=$work/results
run() {
    local set=$1 tool=$2 engine=$3 out rc=0
    shift 3
    out=$(timeout --kill-after=10 "$limit" "$@" 2>"$work/stderr") || rc=$?
    out=$(printf '%s\n' "$out" | grep "^$tool $engine " | tail -1) || true
    if [ $rc -eq 0 ] && [ -n "$out" ]; then
        echo "$set $out" >>"$results"
    elif [ $rc -eq 124 ] || [ $rc -eq 137 ] && [[ $out == *gap=pending* ]]; then
        # dovex finished its timed call; only the gap's refit was stopped.
        echo "$set ${out/gap=pending/gap=timeout}" >>"$results"
    elif [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
        echo "$set $tool $engine status=timeout limit=$limit" >>"$results"
    else
        echo "$set $tool $engine status=failed" >>"$results"
        tail -5 "$work/stderr" >&2
    fi
    tail -1 "$results" >&2
    if [ -n "${DOVEX_WORKFLOW_KEEP:-}" ]; then
        cp "$results" "$DOVEX_WORKFLOW_KEEP/"
    fi
}
for s in "${sets[@]}"; do
    for k in $(seq "$splits"); do
        name=$(folder "$s" "$k")
        for tool in "${tools[@]}"; do
            for engine in "${engines[@]}"; do
                case $tool in
                    dovex)
                        run "$name" dovex "$engine" octave-cli --no-gui --norc --no-history --eval \
                            "addpath('$build/mex', '$here/toolbox', '$here/bench/peers'); workflow_dovex('$work/$name', '$engine')" ;;
                    glmnet)
                        run "$name" glmnet "$engine" Rscript bench/peers/workflow_glmnet.R "$work/$name" "$engine" "$alpha" ;;
                    sklearn)
                        run "$name" sklearn "$engine" /usr/bin/python3 bench/peers/workflow_sklearn.py "$work/$name" "$engine" "$alpha" ;;
                    *) echo "unknown tool $tool (dovex glmnet sklearn)" >&2; exit 2 ;;
                esac
            done
        done
    done
done
/usr/bin/python3 bench/peers/workflow_summary.py "$work" "$results" "$splits" "${sets[@]}"
echo "Whole run: $(( $(date +%s) - start )) s; load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
