"""Ctrl-C during a long dovex_fit in an interactive octave-cli: the prompt
comes back within a sweep, the interrupted call assigns nothing, Octave and
the module work on, and twenty interrupted fits leave resident memory flat
(Octave frees the call's scratch memory and the W it never returned).

    interrupt_fit.py OCTAVE_CLI MODULE_DIR

Prints the figures it measured."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pty_driver import Session  # noqa: E402

octave, module_dir = sys.argv[1:3]
PROMPT = r">> $"
SWEEP = r"^sweep : (\d+), diff : .*$"
# About 0.2 s a sweep: 1,000 pairs of 20,000 samples, every weight moving.
# Each call copies 3.2 MB of predictor state, so twenty calls whose memory
# were not freed would add some 60 MiB.
SETUP = ("rand('seed', 1); ns = 20000; nd = 100; nc = 10; X = rand(ns, nd); "
         "Y = full(sparse((1:ns)', randi(nc, ns, 1), 1, ns, nc)); "
         "args = {X, Y, zeros(ns, nc), ones(ns, nc), nc * ones(ns, 1), 0, 0.1, -1, 1e5};")
FIT = "W = dovex_fit(args{:});"
ROUNDS = 20
GROWTH_KIB = 8192
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def value(s, expression):
    """What Octave prints for the integer expression."""
    s.send_line("fprintf('value %%d\\n', %s)" % expression)
    m = s.expect(r"^value (-?\d+)$", 20)
    s.expect(PROMPT, 20)
    return int(m.group(1))


def rss_kib(s):
    with open("/proc/%d/status" % s.pid) as f:
        return int(re.search(r"VmRSS:\s*(\d+)", f.read()).group(1))


def interrupted_fit(s, at):
    """Starts the fit and presses Ctrl-C once sweep `at` is printed; returns
    the seconds until the prompt and the sweeps printed after the key."""
    s.send_line(FIT)
    s.expect(r"^sweep : %d, diff : .*$" % at, 60)
    start = s.seen
    t0 = time.monotonic()
    s.interrupt()
    s.expect(PROMPT, 60)
    return time.monotonic() - t0, len(re.findall(SWEEP, s.text[start:s.seen], re.M))


with Session([octave, "--no-gui", "--norc", "--no-history", "--no-line-editing"]) as s:
    s.send_line("PS1('>> '); more off")
    s.expect(PROMPT, 60)
    s.send_line("addpath('%s'); %s" % (module_dir, SETUP))
    s.expect(PROMPT, 120)
    check(value(s, "exist('dovex_fit')") == 3, "dovex_fit.mex is on the path")

    # A sweep's time from the progress lines, then Ctrl-C.
    s.send_line(FIT)
    s.expect(r"^sweep : 1, ", 60)
    t1 = time.monotonic()
    s.expect(r"^sweep : 4, diff : .*$", 60)
    per_sweep = (time.monotonic() - t1) / 3
    start = s.seen
    t0 = time.monotonic()
    s.interrupt()
    s.expect(PROMPT, 60)
    seconds = time.monotonic() - t0
    after = len(re.findall(SWEEP, s.text[start:s.seen], re.M))
    print("     one sweep %.3f s; Ctrl-C after sweep 4: prompt back after %.3f s, "
          "%d more sweep(s)" % (per_sweep, seconds, after), flush=True)
    check(after <= 1, "at most one sweep after Ctrl-C (%d)" % after)
    check(seconds <= 2 * per_sweep + 0.5, "the prompt back within two sweeps (%.1f)"
          % (seconds / per_sweep))
    check(value(s, "exist('W')") == 0, "the interrupted call assigned nothing")

    # Octave goes on working, and the module with it.
    check(value(s, "6 * 7") == 42, "Octave computes after the interrupt")
    s.send_line("V = dovex_fit(X(1:200,:), Y(1:200,:), zeros(200,nc), ones(200,nc), "
                "nc*ones(200,1), 1, 0.1, 1e-3, 5);")
    s.expect(r"^sweep : 1, diff : 1\.0000$", 60)
    s.expect(PROMPT, 60)
    check(value(s, "isequal(size(V), [nd nc]) && any(V(:) ~= 0)") == 1,
          "a fit after the interrupt returns its weights")

    # Memory: a few interrupted fits to settle Octave's own, then twenty.
    for _ in range(3):
        interrupted_fit(s, 2)
    before = rss_kib(s)
    worst, most = 0.0, 0
    for k in range(ROUNDS):
        seconds, after = interrupted_fit(s, 1 + k % 3)
        worst, most = max(worst, seconds), max(most, after)
    growth = rss_kib(s) - before
    print("     %d interrupted fits: prompt back after at most %.3f s and %d more sweep(s); "
          "resident memory %d KiB before, %+d KiB after" % (ROUNDS, worst, most, before, growth),
          flush=True)
    check(most <= 1, "at most one sweep after each Ctrl-C (%d)" % most)
    check(growth < GROWTH_KIB, "resident memory flat over %d interrupted fits (%+d KiB)"
          % (ROUNDS, growth))
    check(value(s, "6 * 7") == 42, "Octave computes after the interrupts")

sys.exit(1 if failures else 0)
