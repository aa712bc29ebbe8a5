"""Prints the workflow benchmark's table from the tools' result lines
("SET TOOL ENGINE key=value ...", status=timeout or status=failed for a
run that did not finish) and their test probabilities in WORK/SET/.

    python3 workflow_summary.py WORK RESULTS SPLITS SET...

Accuracy and mean log-loss are computed here for every tool alike, from
the probabilities each wrote: the most probable class, and
-mean(log max(P(true class), 1e-15)). The ratio columns are a run's wall
time over the faster of the two peers' runs with the same engine. A dovex
run stopped by its timeout enters the geometric mean at its limit, which
makes the mean a lower bound.

With SPLITS above 1, each data set SET has the splits SET, SET.2, ... and
every figure of a tool is its mean over the splits where it finished (the
gap: the largest); a tool that did not finish every split says in how
many it did. The bars compare dovex with each peer on the splits where
both finished.
"""
import math
import os
import sys

import numpy as np

TOOLS = ["dovex", "glmnet", "sklearn"]
ENGINES = ["serial", "parallel"]
PEERS = ["glmnet", "sklearn"]


def read_results(path):
    runs = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) < 3:
                continue
            fields = dict(w.split("=", 1) for w in words[3:] if "=" in w)
            runs[(words[0], words[1], words[2])] = fields
    return runs


def scores(work, name, tool, engine):
    d = os.path.join(work, name)
    path = os.path.join(d, f"{tool}-{engine}.prob")
    if not os.path.exists(path):
        return None
    with open(os.path.join(d, "meta")) as f:
        _, ntest, _, nc, _ = (int(v) for v in f.read().split())
    y = np.fromfile(os.path.join(d, "test.y"), dtype="<i4")
    P = np.fromfile(path, dtype="<f8")
    if P.size != ntest * nc:
        return None
    P = P.reshape((nc, ntest)).T
    accuracy = float(np.mean(np.argmax(P, axis=1) == y))
    logloss = float(-np.mean(np.log(np.maximum(P[np.arange(ntest), y], 1e-15))))
    return accuracy, logloss, P


def shape(work, name):
    with open(os.path.join(work, name, "meta")) as f:
        ntrain, ntest, nd, nc, sparse = (int(v) for v in f.read().split())
    return f"{ntrain}+{ntest} x {nd} x {nc}" + (" sparse" if sparse else "")


def limit(run):
    """The timeout of a run that was stopped, in seconds."""
    return float(run.get("limit", os.environ.get("DOVEX_WORKFLOW_TIMEOUT", 900)))


def seconds(run):
    if run is None:
        return None
    s = run.get("seconds")
    return float(s) if s is not None else None


def cell_time(run):
    if run is None:
        return "-"
    if "status" in run:
        return run["status"]
    return f"{float(run['seconds']):.1f}"


def unconverged(name, runs):
    """What each tool's serial run said about fits that stopped short."""
    out = []
    dovex = runs.get((name, "dovex", "serial"), {})
    if dovex.get("converged") == "0":
        out.append(f"{name} dovex's chosen model at MaxSweeps ({dovex.get('sweeps')} sweeps)")
    glmnet = runs.get((name, "glmnet", "serial"), {})
    if glmnet.get("warnings", "0") != "0":
        out.append(f"{name} glmnet {glmnet['warnings']} warnings")
    sklearn = runs.get((name, "sklearn", "serial"), {})
    if sklearn.get("warnings", "0") != "0":
        fits = 101 * int(sklearn.get("splits_done", "1"))
        out.append(f"{name} scikit-learn {sklearn['warnings']} of {fits} fits at max_iter")
    return out


def number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def split_folders(name, splits):
    """The folders of a data set's splits: name, name.2, ..."""
    return [name] + [f"{name}.{k}" for k in range(2, splits + 1)]


def merge(work, runs, name, splits):
    """One data set's runs and scores, each the mean over its splits."""
    folders = split_folders(name, splits)
    merged, scored = {}, {}
    for tool in TOOLS:
        for e in ENGINES:
            got = [runs[(f, tool, e)] for f in folders if (f, tool, e) in runs]
            if not got:
                continue
            done = [r for r in got if "seconds" in r]
            if not done:
                merged[(name, tool, e)] = got[0]
                continue
            run = dict(done[0])
            run["seconds"] = str(np.mean([float(r["seconds"]) for r in done]))
            if all("nnz" in r for r in done):
                run["nnz"] = f"{np.mean([float(r['nnz']) for r in done]):.0f}"
            gaps = [number(r.get("gap")) for r in done]
            if all(g is not None and math.isfinite(g) for g in gaps):
                run["gap"] = f"{max(gaps):.2g}"
            if splits > 1 and len(done) < splits:
                run["partial"] = f"{len(done)} of {splits}"
            run["converged"] = "0" if any(r.get("converged") == "0" for r in done) else run.get("converged", "1")
            run["warnings"] = str(sum(int(r.get("warnings", "0")) for r in done))
            run["splits_done"] = str(len(done))
            merged[(name, tool, e)] = run
            scored[(tool, e)] = {f: scores(work, f, tool, e) for f in folders}
    return merged, scored


def mean_scores(scored, tool, e, folders):
    """Accuracy, log-loss and the first split's P, over the given splits."""
    got = [scored.get((tool, e), {}).get(f) for f in folders]
    if not got or any(g is None for g in got):
        return None
    return (float(np.mean([g[0] for g in got])), float(np.mean([g[1] for g in got])), got[0][2])


def main():
    work, results, splits, names = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
    runs = read_results(results)
    if splits > 1:
        print(f"Each figure is the mean over {splits} seeded 80/20 splits of the data set.")
        print()
    print("| data set | train+test x features x classes | tool | serial s | parallel s "
          "| serial / fastest peer | parallel / fastest peer | accuracy | log-loss "
          "| non-zeros | gap |")
    print("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    ratios = {e: [] for e in ENGINES}
    accuracy_bar, logloss_bar, notes = [], [], []
    for name in names:
        if not os.path.exists(os.path.join(work, name, "meta")):
            continue
        merged, scored = merge(work, runs, name, splits)
        runs.update(merged)
        folders = split_folders(name, splits)
        # The splits each run has scores of; its figures are means over them.
        finished = {k: [f for f in folders if v.get(f) is not None] for k, v in scored.items()}
        # The runs that count for the bars: serial, or parallel when a tool
        # ran only that way (both choose the same model).
        engine = {t: "serial" if finished.get((t, "serial")) else "parallel" for t in TOOLS}
        fastest = {}
        for e in ENGINES:
            t = [seconds(runs.get((name, p, e))) for p in PEERS]
            t = [v for v in t if v is not None]
            fastest[e] = min(t) if t else None
        first = True
        for tool in TOOLS:
            if not any((name, tool, e) in runs for e in ENGINES):
                continue
            cells = [name if first else "", shape(work, name) if first else "", tool]
            first = False
            cells += [cell_time(runs.get((name, tool, e))) for e in ENGINES]
            for e in ENGINES:
                run = runs.get((name, tool, e), {})
                t = seconds(run)
                if not t and run.get("status") == "timeout" and fastest[e]:
                    cells.append(f"> {limit(run) / fastest[e]:.1f}")
                else:
                    cells.append(f"{t / fastest[e]:.2f}" if t and fastest[e] else "-")
            # Serial and parallel runs choose the same model; the serial one's
            # scores are shown, with a mark when the other's differ.
            got = [mean_scores(scored, tool, e, finished.get((tool, e), [])) for e in ENGINES]
            got = [g for g in got if g is not None]
            if got:
                accuracy, logloss, P = got[0]
                mark = ""
                if len(got) > 1 and np.max(np.abs(got[1][2] - P)) > 1e-6:
                    mark = " (parallel: %.4f)" % got[1][0]
                cells += [f"{accuracy:.4f}{mark}", f"{logloss:.4f}"]
            else:
                cells += ["-", "-"]
            run = next((runs[(name, tool, e)] for e in ENGINES
                        if (name, tool, e) in runs and "nnz" in runs[(name, tool, e)]), {})
            cells.append(run.get("nnz", "-") + (f" ({run['partial']} splits)"
                                                if "partial" in run else ""))
            gap = next((runs[(name, tool, e)].get("gap") for e in ENGINES
                        if runs.get((name, tool, e), {}).get("gap", "NaN") != "NaN"), "-")
            cells.append(gap)
            print("| " + " | ".join(cells) + " |")
        for e in ENGINES:
            d = seconds(runs.get((name, "dovex", e)))
            g = seconds(runs.get((name, "glmnet", e)))
            if not d and runs.get((name, "dovex", e), {}).get("status") == "timeout":
                d = -limit(runs[(name, "dovex", e)]) # a lower bound
            if d and g:
                ratios[e].append(d / g)
        notes += unconverged(name, runs)
        # Each peer against dovex on the splits both finished: the bar holds
        # when it holds against every peer, which on common splits is
        # against the better one.
        against = []
        for p in PEERS:
            both = [f for f in finished.get(("dovex", engine["dovex"]), [])
                    if f in finished.get((p, engine[p]), [])]
            d = mean_scores(scored, "dovex", engine["dovex"], both)
            q = mean_scores(scored, p, engine[p], both)
            if d and q:
                split_note = f" on {len(both)} of {splits} splits" if len(both) < splits else ""
                against.append((p, d, q, split_note))
        if against:
            accuracy_bar.append(f"{name} {'pass' if all(d[0] >= q[0] - 0.01 for _, d, q, _ in against) else 'FAIL'} ("
                                + ", ".join(f"{d[0]:.4f} vs {p} {q[0]:.4f}{n}" for p, d, q, n in against) + ")")
            logloss_bar.append(f"{name} {'pass' if all(d[1] <= 1.05 * q[1] for _, d, q, _ in against) else 'FAIL'} ("
                               + ", ".join(f"{d[1]:.4f} vs {p} {q[1]:.4f}{n}" for p, d, q, n in against) + ")")
        elif any(finished.get((p, engine[p])) for p in PEERS):
            accuracy_bar.append(f"{name} - (no dovex result)")
            logloss_bar.append(f"{name} - (no dovex result)")
    print()
    parts = []
    for e in ENGINES:
        r = ratios[e]
        if r:
            mean = math.exp(sum(math.log(abs(v)) for v in r) / len(r))
            bound = sum(v < 0 for v in r)
            parts.append(f"{e} {'>= ' if bound else ''}{mean:.2f} over {len(r)} data sets"
                         + (f" ({bound} dovex timeouts counted at the limit)" if bound else ""))
        else:
            parts.append(f"{e} -")
    print("Geometric mean of dovex / glmnet wall time: " + ", ".join(parts))
    print("Accuracy bar (dovex >= better peer - 0.01): " + ("; ".join(accuracy_bar) or "-"))
    print("Log-loss bar (dovex <= 1.05 x better peer): " + ("; ".join(logloss_bar) or "-"))
    print("Not converged (serial runs): " + ("; ".join(notes) or "none"))


main()
