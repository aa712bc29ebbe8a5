"""Drive an interactive program through a pseudo-terminal, as a person at a
terminal would: type lines, press Ctrl-C, read the screen, and see which
processes the program has started.

    from pty_driver import Session
    with Session(["octave-cli", "--no-gui", "--norc", "--no-history"]) as s:
        s.expect(r">> $")
        s.send_line("x = 1 + 1")
        s.expect(r"x = 2")
        s.interrupt()              # Ctrl-C, as the terminal sends it

Ctrl-C is the terminal's interrupt character written to the master side,
so the terminal driver turns it into SIGINT for the whole foreground
process group, children included, exactly as for a person.
"""

import os
import pty
import re
import select
import signal
import time


class Timeout(Exception):
    pass


class Session:
    def __init__(self, argv, env=None, cwd=None):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                if cwd:
                    os.chdir(cwd)
                os.execvpe(argv[0], argv, env if env is not None else os.environ)
            finally:
                os._exit(127)
        self.text = ""  # everything read so far
        self.seen = 0  # how much of it expect() has consumed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:  # the program has closed the terminal
            data = b""
        if not data:
            raise EOFError("the program ended; its output:\n" + self.text)
        text = data.decode("utf-8", "replace").replace("\r\n", "\n")
        # Terminal control sequences (bracketed paste, cursor moves) are
        # no part of what a person reads.
        self.text += re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
        return True

    def expect(self, pattern, timeout=30):
        """Waits for pattern (a regular expression, multiline) in the output
        after the last match; returns the match."""
        regex = re.compile(pattern, re.M)
        end = time.monotonic() + timeout
        while True:
            m = regex.search(self.text, self.seen)
            if m:
                self.seen = m.end()
                return m
            left = end - time.monotonic()
            if left <= 0:
                raise Timeout(
                    "no %r after %g s; output since the last match:\n%s"
                    % (pattern, timeout, self.text[self.seen:])
                )
            self._read(left)

    def drain(self, seconds):
        """Reads whatever comes for the given time."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self._read(end - time.monotonic())

    def send(self, text):
        os.write(self.fd, text.encode())

    def send_line(self, line):
        self.send(line + "\n")

    def interrupt(self):
        self.send("\x03")

    def descendants(self):
        """Process ids of every process below the program, living or zombie."""
        parent_of = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/stat" % entry) as f:
                        stat = f.read()
                except OSError:
                    continue
                # the command may hold spaces and parentheses: the fields
                # that follow come after the last ')'
                fields = stat[stat.rindex(")") + 2 :].split()
                parent_of[int(entry)] = int(fields[1])
        found, frontier = [], [self.pid]
        while frontier:
            p = frontier.pop()
            children = [c for c, pp in parent_of.items() if pp == p]
            found += children
            frontier += children
        return sorted(found)

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            os.waitpid(self.pid, 0)
        except ChildProcessError:
            pass
        os.close(self.fd)


def alive(pid):
    """Whether pid is a process that has not ended (a zombie has ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return False
    return stat[stat.rindex(")") + 2] != "Z"
