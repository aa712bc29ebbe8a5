"""Ctrl-C during a long dovex_fit in an interactive octave-cli: the prompt
comes back within a few sweeps, Octave works on, the interrupted call
assigns nothing, and twenty interrupted fits leave resident memory flat
(Octave frees the module's scratch memory and the unreturned W).

    interrupt_test.py OCTAVE-CLI MODULE-DIR

Prints the figures it measured."""

import re
import sys
import time

from octave_pty import Session

# About 0.2 s a sweep: 1,000 pairs of 20,000 samples, every weight moving.
# Each call copies 3.2 MB of predictor state, so twenty calls whose memory
# were not freed would add some 60 MiB.
SETUP = ("rand('seed', 1); ns = 20000; nd = 100; nc = 10; X = rand(ns, nd); "
         "Y = full(sparse((1:ns)', randi(nc, ns, 1), 1, ns, nc)); "
         "args = {X, Y, zeros(ns, nc), ones(ns, nc), nc * ones(ns, 1), 0, 0.1, -1, 1e5};")
FIT = "W = dovex_fit(args{:});"
SWEEP = r"sweep : (\d+), diff : [^\n]*\n"
ROUNDS = 20
GROWTH_KIB = 8192


def sweep_numbers(text):
    return [int(n) for n in re.findall(SWEEP, text)]


def interrupted_fit(s, at):
    """Starts the fit, presses Ctrl-C once sweep `at` is printed; returns
    the seconds to the prompt and the sweeps printed after the key."""
    s.start(FIT)
    s.wait_for(r"sweep : %d, diff : [^\n]*\n" % at)
    seconds, out = s.interrupt()
    return seconds, len(sweep_numbers(out))


def main(octave, module_dir):
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAILED: " + what)

    with Session(octave, path=[module_dir]) as s:
        s.run(SETUP, timeout=120)
        check(s.value("exist('dovex_fit')") == "3", "dovex_fit.mex is not on the path")

        # One sweep's time, from the progress lines of an interrupted fit.
        s.start(FIT)
        s.wait_for(r"sweep : 1, ")
        t1 = time.monotonic()
        s.wait_for(r"sweep : 4, diff : [^\n]*\n")
        per_sweep = (time.monotonic() - t1) / 3
        seconds, out = s.interrupt()
        after = len(sweep_numbers(out))
        print("one sweep: %.3f s; Ctrl-C after sweep 4: prompt after %.3f s, %d more sweep(s)"
              % (per_sweep, seconds, after))
        check(after <= 2, "%d sweeps ran after Ctrl-C" % after)
        check(seconds <= 3 * per_sweep + 0.5,
              "the prompt took %.2f s, %.1f sweeps" % (seconds, seconds / per_sweep))
        check(s.value("exist('W')") == "0", "the interrupted call assigned W")

        # Octave goes on working, and the module with it.
        check(s.value("1 + 1") == "2", "Octave does not compute after the interrupt")
        out = s.run("V = dovex_fit(args{1}(1:200,:), args{2}(1:200,:), zeros(200,nc), "
                    "ones(200,nc), nc*ones(200,1), 1, 0.1, 1e-3, 5);")
        check(s.value("isequal(size(V), [nd nc]) && any(V(:) ~= 0)") == "1",
              "a fit after the interrupt did not return its weights")
        check(len(sweep_numbers(out)) >= 1, "a fit after the interrupt printed no progress")

        # Memory: a few interrupted fits to settle Octave's own, then twenty.
        for _ in range(3):
            interrupted_fit(s, 2)
        before = s.rss_kib()
        worst, most = 0.0, 0
        for k in range(ROUNDS):
            seconds, after = interrupted_fit(s, 1 + k % 3)
            worst, most = max(worst, seconds), max(most, after)
        growth = s.rss_kib() - before
        print("%d interrupted fits: prompt after at most %.3f s and %d more sweep(s); "
              "resident memory %d KiB before, %+d KiB after"
              % (ROUNDS, worst, most, before, growth))
        check(most <= 2, "up to %d sweeps ran after Ctrl-C" % most)
        check(growth < GROWTH_KIB, "resident memory grew by %d KiB" % growth)
        check(s.value("1 + 1") == "2", "Octave does not compute after the interrupts")

    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
