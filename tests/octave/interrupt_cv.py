"""Ctrl-C at the Octave prompt during dovex_cv, parallel and serial, and
during a dovex_train that shows its progress lines: each time the prompt
comes back, nothing of the interrupted call is left (no parcellfun worker
process, no diary of its own) and the session goes on working.

    interrupt_cv.py OCTAVE_CLI MODULE_DIR TOOLBOX_DIR DATA_DIR
"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pty_driver import Session, alive  # noqa: E402

octave, module_dir, toolbox_dir, data_dir = sys.argv[1:5]
PROMPT = r">> $"
passed, failures = [], []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    (passed if ok else failures).append(what)


def run(s, command):
    """Types command followed by a line printing DONE, which an interrupted
    command never reaches; returns where its output starts."""
    start = len(s.text)
    s.send_line(command + "; disp(upper('done'))")
    return start


def back_at_prompt(s, start, what, timeout=60):
    """Ctrl-C, then the prompt again, without the command having ended."""
    t0 = time.monotonic()
    s.interrupt()
    s.expect(PROMPT, timeout)
    seconds = time.monotonic() - t0
    check(not re.search(r"^DONE$", s.text[start:], re.M), what + ": the call did not run to its end")
    print("     prompt back %.1f s after Ctrl-C" % seconds, flush=True)


def still_works(s, what):
    s.send_line("disp(6 * 7)")
    s.expect(r"^42$", 20)
    s.expect(PROMPT, 20)
    s.send_line("[on, f] = diary(); printf('diary %d\\n', on)")
    m = s.expect(r"^diary (\d)$", 20)
    check(m.group(1) == "0", what + ": no diary left on")
    s.expect(PROMPT, 20)


with Session([octave, "--no-gui", "--norc", "--no-history", "--no-line-editing"]) as s:
    s.send_line("PS1('>> '); more off")
    s.expect(PROMPT, 60)
    s.send_line(
        "addpath('%s', '%s'); D = dlmread(fullfile('%s', 'digits.csv'), ',', 1, 0); "
        "X = D(:,1:end-1) / 16; l = D(:,end); grid = logspace(1, -2, 8);"
        % (module_dir, toolbox_dir, data_dir)
    )
    s.expect(PROMPT, 60)

    # Parallel: Ctrl-C once the workers are busy with the fits.
    start = run(s, "cv = dovex_cv(X, l, 'Lambda1', grid, 'Parallel', true)")
    workers, end = [], time.monotonic() + 60
    while len(workers) < 2 and time.monotonic() < end:
        time.sleep(0.5)
        workers = s.descendants()
    check(len(workers) >= 2, "parallel: worker processes started (%d)" % len(workers))
    time.sleep(3)
    workers = s.descendants()
    back_at_prompt(s, start, "parallel")
    time.sleep(1)
    check(not any(alive(p) for p in workers), "parallel: every worker process has ended")
    check(s.descendants() == [], "parallel: no process left below Octave")
    still_works(s, "parallel")
    s.send_line("printf('cv %d\\n', exist('cv'))")
    s.expect(r"^cv 0$", 20)
    s.expect(PROMPT, 20)

    # Serial: Ctrl-C in the middle of the fits in this very process.
    start = run(s, "cv = dovex_cv(X, l, 'Lambda1', grid, 'Parallel', false)")
    time.sleep(4)
    back_at_prompt(s, start, "serial")
    check(s.descendants() == [], "serial: no process left below Octave")
    still_works(s, "serial")

    # The progress lines on the screen: Ctrl-C between two of them.
    start = run(s, "m = dovex_train(X, l, 'Lambda1', 0.01, 'MaxSweeps', 1e6, 'Tol', 0)")
    s.expect(r"^sweep : 20, diff", 60)
    back_at_prompt(s, start, "progress lines")
    still_works(s, "progress lines")

    # A fit after all that gives the bits of a fresh one from the same seed.
    s.send_line(
        "a = dovex_train(X, l, 'Seed', 3, 'MaxSweeps', 20, 'Display', 'off'); "
        "b = dovex_cv(X(1:300,:), l(1:300), 'Lambda1', [5 1], 'Folds', 2, 'Parallel', true); "
        "printf('same %d, engine %s\\n', isequal(a.W, dovex_train(X, l, 'Seed', 3, "
        "'MaxSweeps', 20, 'Display', 'off').W), b.engine)"
    )
    m = s.expect(r"^same (\d), engine (\S+)$", 120)
    check(m.groups() == ("1", "parcellfun"), "afterwards: fits and the parallel engine work")
    s.expect(PROMPT, 20)
    check(s.descendants() == [], "afterwards: no worker left")
    s.send_line("exit")
    time.sleep(1)
    if os.environ.get("DOVEX_PTY_TRANSCRIPT"):
        print(s.text)

print("%d passed, %d failed" % (len(passed), len(failures)))
sys.exit(1 if failures else 0)
