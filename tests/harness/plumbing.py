# What the Python checks share (the simulators' smoke checks, the soak, the Windows runs): child
# processes whose output lines arrive as events, and raw pseudo-terminals. Every wait has a
# deadline, so a silent or missing peer ends a check with a message instead of a hang.
import os
import queue
import re
import select
import signal
import subprocess
import threading
import time
import termios
import tty


# A child process in a session of its own. Each output line (stderr included) goes to `log` and
# to `on_line` when given, and to a queue that line() reads; `seen` keeps the lines read.
class Child:
    def __init__(self, argv, log=None, on_line=None, **popen):
        popen.setdefault("stdin", subprocess.DEVNULL)
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     start_new_session=True, **popen)
        self.lines, self.seen = queue.Queue(), []
        self.pump = threading.Thread(target=self._pump, args=(log, on_line), daemon=True)
        self.pump.start()

    def _pump(self, log, on_line):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if log:
                print(line, file=log, flush=True)
            if on_line:
                on_line(line)
            self.lines.put(line)
        self.lines.put(None)

    # The next line; None once the output has ended or after `timeout` seconds.
    def line(self, timeout=30.0):
        try:
            line = self.lines.get(timeout=max(timeout, 0))
        except queue.Empty:
            return None
        if line is not None:
            self.seen.append(line)
        return line

    def wait_for(self, pattern, timeout=30.0):
        deadline = time.monotonic() + timeout
        while (line := self.line(deadline - time.monotonic())) is not None:
            if re.search(pattern, line):
                return line
        return None

    # The path in a simulator's first line, "PTY path" or "DEVICE path".
    def announced(self, timeout=30.0):
        first = self.line(timeout) or ""
        if not re.match(r"(PTY|DEVICE) /", first):
            raise RuntimeError(f"{self.proc.args} did not announce its line: {first!r}")
        return first.split(" ", 1)[1]

    # Waits up to `timeout` for the child to end by itself, then stops it; its exit status.
    def finish(self, timeout=60.0):
        return self.stop(grace=timeout)

    # After `grace` seconds, signals the session, kills it when it lingers; the exit status, with
    # every line in `seen`. (Signal 0 only asks whether the session is still there.)
    def stop(self, sig=signal.SIGTERM, timeout=10.0, grace=0.0):
        for s, wait in ((0, grace), (sig, timeout), (signal.SIGKILL, timeout)):
            if self.proc.poll() is None:
                os.killpg(self.proc.pid, s)
                try:
                    self.proc.wait(wait)
                except subprocess.TimeoutExpired:
                    pass
        self.pump.join(timeout)
        while self.line(0) is not None:
            pass
        return self.proc.wait()


def fields(line):
    return dict(w.split("=", 1) for w in line.split()[1:] if "=" in w)


def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd, termios.TCSANOW)  # what waits on the line stays there
    return fd


# Up to `count` bytes from `fd`: fewer only once `timeout` seconds have passed or the far end
# closed.
def read_bytes(fd, count, timeout=10.0):
    data, deadline = b"", time.monotonic() + timeout
    while len(data) < count and select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
        try:
            chunk = os.read(fd, count - len(data))
        except OSError:  # the far end is closed
            break
        if not chunk:
            break
        data += chunk
    return data
