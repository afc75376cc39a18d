#!/usr/bin/env python3
# Runs Windows test executables under wine and plays the far end of their serial lines.
#
# Each name in LINES becomes a symbolic link in the wine prefix's dosdevices folder to the slave
# side of a pseudo-terminal whose master side this runner holds, so that CreateFileA("COM5") in a
# test opens a real serial line, set up with the flow control its driver would have; every other
# COM name is removed from the prefix, so that opening Com8 fails as a missing port does. A test
# asks for the far end's part with a line "@@peer VERB PORT [ARGUMENT]" on its standard output
# and reads the one-line answer from its standard input:
#     reset PORT            drop every byte queued either way, restore the first settings -> ok
#     send PORT HEX         write the bytes, wait until the port's queue holds them       -> ok
#     settings PORT         the line settings as the tty holds them                       -> k=v ...
# Every other line is passed through. The results of all executables (GoogleTest and QTest) are
# counted, a crash or a hang as one failure, into the last line, "wine: N tests ran: P passed, F
# failed, K skipped"; the exit status is non-zero on any failure and when no test ran.
import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import termios
import time
import tty
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "harness"))
from plumbing import Child, read_bytes  # noqa: E402

LINES = {"com5": (termios.CRTSCTS, 0), "com6": (0, termios.IXON | termios.IXOFF)}
BAUDS = {termios.B9600: 9600, termios.B19200: 19200}


# No Mono or Gecko download prompts, no menu entries; a display only when given one.
def wine_env(prefix, base=None):
    env = base or {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return dict(env, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


# A new prefix with one server for the whole run, so that every program finds it running and the
# COM links made stay as they are; with one registry value set, and only the COM ports the run
# links itself (none of the machine's own). Returns its dosdevices folder.
def new_prefix(env, key, value, data):
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    prefix = Path(env["WINEPREFIX"])
    subprocess.run(["wineserver", "-k"], **quiet)
    shutil.rmtree(prefix, ignore_errors=True)
    prefix.mkdir(parents=True)
    subprocess.run(["wineserver", "-p"], check=True, **quiet)
    subprocess.run(["wineboot", "-i"], check=True, timeout=600, **quiet)
    subprocess.run(["wine", "reg", "add", key, "/v", value, "/d", data, "/f"], check=True, **quiet)
    for port in (prefix / "dosdevices").glob("com*"):
        port.unlink()
    return prefix / "dosdevices"


# The condition's value once it is true, or its last value after `timeout` seconds.
def wait_until(condition, timeout=30, step=0.1):
    deadline = time.monotonic() + timeout
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(step)
    return value


def link(dosdevices, name, target):
    path = dosdevices / name
    path.unlink(missing_ok=True)
    path.symlink_to(target)
    return path


# One pseudo-terminal: the master is the far end, the slave is what wine opens. Our own slave
# descriptor keeps the line alive between opens and shows its receive queue and its settings as
# the port under test left them.
class Line:
    def __init__(self, name, dosdevices):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.first = termios.tcgetattr(self.slave)
        self.first[2] |= LINES[name][0]
        self.first[0] |= LINES[name][1]
        link(dosdevices, name, os.ttyname(self.slave))

    def close(self):
        os.close(self.master)
        os.close(self.slave)

    def queued(self):
        return int.from_bytes(fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4), sys.byteorder)

    def reset(self, _):
        while read_bytes(self.master, 4096, 0):
            pass
        termios.tcflush(self.slave, termios.TCIOFLUSH)
        termios.tcsetattr(self.slave, termios.TCSANOW, self.first)
        return "ok"

    # The tty moves the bytes to the slave asynchronously: the answer comes once they all wait
    # in the queue the port reads, so that the test's next read sees every one of them.
    def send(self, hex_bytes):
        data, before = bytes.fromhex(hex_bytes), self.queued()
        os.write(self.master, data)
        queued = wait_until(lambda: self.queued() >= before + len(data), 10, 0.001)
        return "ok" if queued else "error not all queued"

    def settings(self, _):
        iflag, _, cflag, _, _, ospeed, cc = termios.tcgetattr(self.slave)
        on = {"cs8": cflag & termios.CSIZE == termios.CS8, "cstopb": cflag & termios.CSTOPB,
              "parodd": cflag & termios.PARODD, "veof": cc[termios.VEOF] not in (b"\0", 0),
              "crtscts": cflag & termios.CRTSCTS, "ixon": iflag & termios.IXON}
        return f"baud={BAUDS.get(ospeed)} " + " ".join(f"{k}={int(bool(v))}" for k, v in on.items())


# Runs one executable with fresh lines; returns its counts of passed, failed and skipped tests.
def run_one(exe, env, dosdevices, timeout=300):
    lines = {name: Line(name, dosdevices) for name in LINES}
    test = Child(["wine", str(exe)], cwd=str(exe.parent), env=dict(env, CONV_PTY_PEER="1"),
                 stdin=subprocess.PIPE)
    counts, deadline = {}, time.monotonic() + timeout
    try:
        while (text := test.line(deadline - time.monotonic())) is not None:
            if text.startswith("@@peer "):
                # A request the runner cannot serve ends the run with its traceback.
                verb, port, arg = (text[7:].split(maxsplit=2) + ["", ""])[:3]
                reply = getattr(lines[port.lower()], verb)(arg)
                test.proc.stdin.write((reply + "\n").encode())
                test.proc.stdin.flush()
                continue
            print(text, flush=True)
            if m := re.match(r"\[  (PASSED|FAILED|SKIPPED) *\] (\d+) tests?[.,]", text):
                counts[m.group(1)] = int(m.group(2))
            elif m := re.match(r"Totals: (\d+) passed, (\d+) failed, (\d+) skipped", text):
                counts.update(zip(("PASSED", "FAILED", "SKIPPED"), map(int, m.groups())))
    finally:
        rc = test.stop(signal.SIGKILL) if time.monotonic() >= deadline else test.finish(30)
        for line in lines.values():
            line.close()
    failed = counts.get("FAILED", 0) or int(rc != 0 or not counts)  # a crash or a hang: one
    return counts.get("PASSED", 0), failed, counts.get("SKIPPED", 0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", required=True, type=Path, help="wine prefix to create and use")
    ap.add_argument("exes", nargs="+", type=Path)
    args = ap.parse_args()
    # The QTest programs (GUI tests) run offscreen and print to standard output: wine hands a
    # Windows program each WINEQT_* variable as QT_* and drops the QT_* ones, and without a
    # console window Qt's log would go to the debugger channel. The offscreen platform of a
    # Windows Qt reads its fonts from a folder, none by default: given Debian's DejaVu, the one
    # the Linux runs lay out with, the windows keep their sizes.
    env = dict(wine_env(args.prefix.resolve()), WINEQT_QPA_PLATFORM="offscreen",
               WINEQT_FORCE_STDERR_LOGGING="1",
               WINEQT_QPA_FONTDIR="Z:\\usr\\share\\fonts\\truetype\\dejavu")
    total = [0, 0, 0]
    try:
        # Qt's event dispatcher needs window handles even offscreen: wine's null display driver
        # gives them without an X server.
        dosdevices = new_prefix(env, r"HKCU\Software\Wine\Drivers", "Graphics", "null")
        for exe in args.exes:
            counts = run_one(exe.resolve(), env, dosdevices)
            print(f"=== {exe.name}: {counts[0]} ok, {counts[1]} bad, {counts[2]} skipped")
            total = [t + c for t, c in zip(total, counts)]
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    ran = total[0] + total[1]
    print(f"wine: {ran} tests ran: {total[0]} passed, {total[1]} failed, {total[2]} skipped")
    return 1 if total[1] or ran == 0 else 0  # executables that list no test checked nothing


if __name__ == "__main__":
    sys.exit(main())
