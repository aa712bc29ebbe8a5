"""An interactive octave-cli on a pseudo-terminal, driven as a user at the
keyboard drives it: type a line, wait for what it prints, press Ctrl-C.

For tests of what only an interactive session shows, such as the interrupt.
Octave runs with its line editor and its terminal settings, so Ctrl-C is a
real SIGINT from the terminal, as at a user's keyboard.

    with Session("octave-cli", path=["build/mex"]) as s:
        s.run("X = rand(100, 10);")
        s.start("W = dovex_fit(...);")
        s.wait_for(r"sweep : 3, ")
        seconds, text = s.interrupt()
        assert s.value("1 + 1") == "2"
        print(s.rss_kib())

The prompt and every marker the driver waits for are printed by Octave from
character codes, so the terminal's echo of a typed line never contains them.
"""

import fcntl
import os
import pty
import re
import select
import signal
import struct
import tempfile
import termios
import time


def _codes(text):
    """An Octave expression for the string text that does not contain it."""
    return "char([%s])" % " ".join(str(ord(c)) for c in text)


class Session:
    PROMPT = "<octave-pty> "

    def __init__(self, octave="octave-cli", path=(), env=None, timeout=60):
        """Starts octave and waits for its prompt; path folders are added with
        addpath, env entries are added to the environment."""
        self.timeout = timeout
        self.buffer = b""
        self.marks = 0
        # The line editor's settings: no blinking of the matching parenthesis,
        # which holds the line for half a second and then redraws it with the
        # prompt, and no bracketed paste, whose codes would clutter the text.
        self.inputrc = tempfile.NamedTemporaryFile("w", prefix="octave-pty-", suffix=".inputrc")
        self.inputrc.write("set blink-matching-paren off\nset enable-bracketed-paste off\n")
        self.inputrc.flush()
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.environ.update(env or {})
            os.environ["TERM"] = "dumb"
            os.environ["INPUTRC"] = self.inputrc.name
            os.execvp(octave, [octave, "--no-gui", "--norc", "--no-history", "--quiet"])
        # A wide terminal, so that no typed line wraps and gets redrawn.
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 4000, 0, 0))
        self.wait_for(rb"> ")
        self.run("PS1(%s);" % _codes(self.PROMPT))
        for folder in path:
            self.run("addpath('%s');" % folder.replace("'", "''"))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Ends octave: exit, or a kill if it does not go."""
        if self.pid is None:
            return
        try:
            os.write(self.fd, b"exit\n")
            end = time.monotonic() + 10
            while time.monotonic() < end:
                done, _ = os.waitpid(self.pid, os.WNOHANG)
                if done:
                    break
                time.sleep(0.05)
            else:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
        except OSError:
            pass
        os.close(self.fd)
        self.inputrc.close()
        self.pid = None

    def _read(self, deadline):
        wait = deadline - time.monotonic()
        if wait <= 0:
            return False
        ready, _, _ = select.select([self.fd], [], [], min(wait, 0.2))
        if ready:
            try:
                data = os.read(self.fd, 65536)
            except OSError:  # octave has gone
                raise RuntimeError("octave ended; last output:\n" + self.text(self.buffer[-2000:]))
            self.buffer += data
        return True

    @staticmethod
    def text(data):
        return data.decode("utf-8", "replace").replace("\r", "")

    def wait_for(self, pattern, timeout=None):
        """Waits until octave has printed pattern (a regular expression,
        str or bytes); returns what it printed up to the end of the match
        and forgets it. Raises TimeoutError after timeout seconds."""
        if isinstance(pattern, str):
            pattern = pattern.encode()
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while True:
            m = re.search(pattern, self.buffer)
            if m:
                out, self.buffer = self.buffer[: m.end()], self.buffer[m.end():]
                return self.text(out)
            if not self._read(deadline):
                raise TimeoutError("no %r from octave; last output:\n%s"
                                   % (pattern, self.text(self.buffer[-2000:])))

    def start(self, command):
        """Types command and Enter, and returns at once."""
        os.write(self.fd, command.encode() + b"\n")

    def run(self, command, timeout=None):
        """Types command, waits for the prompt after it, and returns what
        octave printed (with the terminal's echo of the line). Type one line
        at a time: a line typed ahead of the prompt is redrawn, slowly."""
        self.start(command)
        return self.wait_for(re.escape(self.PROMPT.encode()), timeout)

    def value(self, expression, timeout=None):
        """What disp(expression) prints, stripped."""
        self.marks += 1
        begin, end = "@@<%d@@" % self.marks, "@@>%d@@" % self.marks
        out = self.run("disp(%s); disp(%s); disp(%s);" % (_codes(begin), expression, _codes(end)),
                       timeout)
        if begin not in out or end not in out:
            raise RuntimeError("octave could not display %s:\n%s" % (expression, out))
        return out[out.rindex(begin) + len(begin): out.rindex(end)].strip()

    def interrupt(self, timeout=None):
        """Presses Ctrl-C and waits for the prompt; returns the seconds it
        took and what octave printed meanwhile."""
        t0 = time.monotonic()
        os.write(self.fd, b"\x03")
        out = self.wait_for(re.escape(self.PROMPT.encode()), timeout)
        return time.monotonic() - t0, out

    def rss_kib(self):
        """Resident memory of the octave process, in KiB."""
        with open("/proc/%d/status" % self.pid) as f:
            return int(re.search(r"VmRSS:\s*(\d+)", f.read()).group(1))
