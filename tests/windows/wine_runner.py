#!/usr/bin/env python3
"""Runs Windows test executables under wine and plays the far end of their serial lines.

Each name in LINES becomes a symbolic link in the wine prefix's dosdevices folder to the slave
side of a pseudo-terminal whose master side this runner holds, so that CreateFileA("COM5") in a
test opens a real serial line. The names in MISSING are removed from dosdevices, so that opening
them fails as a missing port does.

A test asks for the far end's part with a line on its standard output,
    @@peer <verb> <port> [argument]
and reads the one-line answer from its standard input:
    reset <port>            drop every byte queued either way and restore raw settings -> ok
    flow <port> <mode>      set the line's flow control: rtscts, xonxoff or none       -> ok
    send <port> <hex>       write the bytes and wait until the port's queue holds them -> ok
    expect <port> <count>   read up to count bytes, waiting up to the deadline        -> got <hex>
    settings <port>         the line settings as the tty holds them                    -> k=v ...
Every other output line is passed through. The runner counts the GoogleTest results of every
executable and ends with one line "wine: N tests ran: P passed, F failed, K skipped"; it exits
non-zero on any failure, crash or time-out, and when no test ran at all.

With --road, one more check runs last and counts as one test: the whole road of a value on the
Win32 serial backend. gauge-sim (Linux) serves the MODBUS line as com5, host-sim (Linux) polls
the host line as com12 (opened through the device namespace), and modbusvelt-service.exe runs
the core between them under wine with a "Nastroika.ini" beside it. It passes when host-sim reads
the gauge's main parameters of channel 3 in well-formed host replies.
"""

import argparse
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import termios
import time
import tty
from pathlib import Path

LINES = ("com5", "com6", "com15")
MISSING = ("com8",)
PEER_DEADLINE_S = 10.0
TTY_BAUDS = {
    getattr(termios, f"B{b}"): b
    for b in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)
}


def wine_env(prefix):
    env = dict(os.environ)
    env.update(
        WINEPREFIX=str(prefix),
        WINEDEBUG="-all",
        # No Mono or Gecko download prompts, no menu entries, no display.
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
        WINEARCH="win64",
    )
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def queued(fd):
    return int.from_bytes(
        fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder, signed=True
    )


class Line:
    """One pseudo-terminal: the master is the far end, the slave is what wine opens."""

    def __init__(self, name, dosdevices):
        self.name = name
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        # Our own slave descriptor keeps the line alive between opens and lets us see its
        # receive queue and its settings as the port under test left them.
        self.raw = termios.tcgetattr(self.slave)
        self.link = dosdevices / name
        if self.link.is_symlink() or self.link.exists():
            self.link.unlink()
        self.link.symlink_to(os.ttyname(self.slave))

    def close(self):
        if self.link.is_symlink():
            self.link.unlink()
        os.close(self.master)
        os.close(self.slave)

    def reset(self):
        self.drain()
        termios.tcflush(self.slave, termios.TCIOFLUSH)
        termios.tcsetattr(self.slave, termios.TCSANOW, self.raw)
        return "ok"

    def drain(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                if not os.read(self.master, 4096):
                    return
            except BlockingIOError:
                return

    def flow(self, mode):
        attrs = termios.tcgetattr(self.slave)
        attrs[0] &= ~(termios.IXON | termios.IXOFF)
        attrs[2] &= ~termios.CRTSCTS
        if mode == "rtscts":
            attrs[2] |= termios.CRTSCTS
        elif mode == "xonxoff":
            attrs[0] |= termios.IXON | termios.IXOFF
        elif mode != "none":
            return f"error unknown flow mode {mode}"
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        return "ok"

    def send(self, data):
        before = queued(self.slave)
        os.write(self.master, data)
        deadline = time.monotonic() + PEER_DEADLINE_S
        # The tty moves bytes from master to slave asynchronously; answer only once they are all
        # in the queue the port reads, so that the test's next read sees every one of them.
        while queued(self.slave) < before + len(data):
            if time.monotonic() > deadline:
                return f"error only {queued(self.slave) - before} of {len(data)} queued"
            time.sleep(0.001)
        return "ok"

    def expect(self, count):
        got = b""
        deadline = time.monotonic() + PEER_DEADLINE_S
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                break
            try:
                chunk = os.read(self.master, count - len(got))
            except BlockingIOError:
                continue
            if not chunk:
                break
            got += chunk
        return "got " + got.hex(" ")

    def settings(self):
        iflag, _, cflag, _, _, ospeed, cc = termios.tcgetattr(self.slave)
        size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[
            cflag & termios.CSIZE
        ]
        fields = {
            "baud": TTY_BAUDS.get(ospeed, -1),
            "bits": size,
            "cstopb": int(bool(cflag & termios.CSTOPB)),
            "parenb": int(bool(cflag & termios.PARENB)),
            "parodd": int(bool(cflag & termios.PARODD)),
            "crtscts": int(bool(cflag & termios.CRTSCTS)),
            "ixon": int(bool(iflag & termios.IXON)),
            "ixoff": int(bool(iflag & termios.IXOFF)),
            "veof": cc[termios.VEOF][0] if isinstance(cc[termios.VEOF], bytes) else cc[termios.VEOF],
        }
        return " ".join(f"{k}={v}" for k, v in fields.items())


def answer(lines, request):
    parts = request.split(maxsplit=2)
    if len(parts) < 2 or parts[1].lower() not in lines:
        return f"error bad request {request!r}"
    verb, line, arg = parts[0], lines[parts[1].lower()], parts[2] if len(parts) > 2 else ""
    try:
        if verb == "reset":
            return line.reset()
        if verb == "flow":
            return line.flow(arg)
        if verb == "send":
            return line.send(bytes.fromhex(arg))
        if verb == "expect":
            return line.expect(int(arg))
        if verb == "settings":
            return line.settings()
    except (OSError, ValueError) as e:
        return f"error {e}"
    return f"error unknown verb {verb}"


SUMMARY = {
    "passed": re.compile(r"^\[  PASSED  \] (\d+) tests?\."),
    "failed": re.compile(r"^\[  FAILED  \] (\d+) tests?, listed below"),
    "skipped": re.compile(r"^\[  SKIPPED \] (\d+) tests?, listed below"),
}


def run_one(exe, env, dosdevices, timeout):
    """Runs one executable with fresh lines; returns (passed, failed, skipped)."""
    lines = {name: Line(name, dosdevices) for name in LINES}
    for name in MISSING:
        link = dosdevices / name
        if link.is_symlink() or link.exists():
            link.unlink()
    counts = dict(passed=0, failed=0, skipped=0)
    seen_summary = False
    proc = subprocess.Popen(
        ["wine", str(exe)],
        cwd=str(Path(exe).parent),
        env=dict(env, CONV_PTY_PEER="1"),
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        start_new_session=True,
    )
    deadline = time.monotonic() + timeout
    pending = b""
    timed_out = False
    try:
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                timed_out = True
                break
            if not select.select([proc.stdout], [], [], left)[0]:
                continue
            chunk = os.read(proc.stdout.fileno(), 65536)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                raw, pending = pending.split(b"\n", 1)
                text = raw.decode("utf-8", "replace").rstrip("\r")
                if text.startswith("@@peer "):
                    reply = answer(lines, text[len("@@peer "):])
                    proc.stdin.write((reply + "\n").encode())
                    proc.stdin.flush()
                    continue
                print(text, flush=True)
                for key, pattern in SUMMARY.items():
                    m = pattern.match(text)
                    if m:
                        counts[key] = int(m.group(1))
                        seen_summary = True
    finally:
        if timed_out:
            print(f"{exe.name}: no end after {timeout} s, stopped", flush=True)
            os.killpg(proc.pid, signal.SIGKILL)
        rc = proc.wait()
        for line in lines.values():
            line.close()
    if pending:
        print(pending.decode("utf-8", "replace"), flush=True)
    if (rc != 0 or timed_out or not seen_summary) and counts["failed"] == 0:
        counts["failed"] = 1  # a crash or a hang counts as one failure
    return counts["passed"], counts["failed"], counts["skipped"]


# The road: tank 1 on gauge channel 3, whose main parameters in road_scenario.json
# reach the host as these scaled values (host-sim's "VAL" lines).
ROAD_SETTINGS = (
    "[Резервуар]\r\n1=3\r\n"
    "[SLAVE]\r\nАдрес=80\r\n"
    "[Флаг]\r\nПротокол=1\r\n"
    "[MODBUS]\r\nCom-порт=Com5\r\nСуществует=1\r\n"
    "[VELT]\r\nCom-порт=Com12\r\nСуществует=1\r\n"
)
ROAD_VALUES = {"level": "4321.5", "volume": "150123.5", "density": "812.5", "mass": "123456.8"}
ROAD_DEADLINE_S = 180.0


class Child:
    """A child process whose output is kept in a log file and handed out line by line."""

    def __init__(self, argv, log, env=None, cwd=None):
        self.name = Path(argv[0]).name if argv[0] != "wine" else Path(argv[1]).name
        self.log = log
        self.out = open(log, "wb")
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     env=env, cwd=cwd, start_new_session=True)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.pending = b""
        self.lines = []
        self.ended = False

    def take(self):
        """Reads what the child has written; False once its output has ended."""
        try:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
        except BlockingIOError:
            return True
        if not chunk:
            self.ended = True
            return False
        self.out.write(chunk)
        self.pending += chunk
        *done, self.pending = self.pending.split(b"\n")
        self.lines += [l.decode("utf-8", "replace").rstrip("\r") for l in done]
        return True

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        while not self.ended and self.take():
            pass
        self.proc.stdout.close()
        self.out.close()

    def tail(self, n=25):
        return self.log.read_bytes().decode("utf-8", "replace").splitlines()[-n:]


def pump(children, deadline):
    """Waits until some child has written (or the deadline); False when one has ended."""
    live = {c.proc.stdout.fileno(): c for c in children if not c.ended}
    left = deadline - time.monotonic()
    if left <= 0:
        return True
    ready = select.select(list(live), [], [], left)[0]
    return all(live[fd].take() for fd in ready)


def run_road(env, dosdevices, driver, gauge_sim, host_sim, scenario, workdir):
    """The whole road of a value on the Win32 backend; True when the host saw it."""
    if workdir.exists():
        shutil.rmtree(workdir)
    workdir.mkdir(parents=True)
    exe = workdir / driver.name
    shutil.copy2(driver, exe)
    (workdir / "Nastroika.ini").write_bytes(ROAD_SETTINGS.encode("cp1251"))

    deadline = time.monotonic() + ROAD_DEADLINE_S
    gauge = Child([str(gauge_sim), "--pty", "--quiet", str(scenario)], workdir / "gauge-sim.log")
    host = Child([str(host_sim), "--pty", "--poll", "--channels", "3", "--machine"],
                 workdir / "host-sim.log")
    children = [gauge, host]
    links = []
    seen = {}
    problem = None
    try:
        # Each simulator's first line names the pseudo-terminal the converter is to open.
        for sim, com in ((gauge, "com5"), (host, "com12")):
            while not sim.lines and time.monotonic() < deadline:
                if not pump([sim], deadline):
                    break
            first = sim.lines[0] if sim.lines else ""
            if not first.startswith("PTY "):
                problem = f"{sim.name} did not start: {first!r}"
                return False
            link = dosdevices / com
            if link.is_symlink() or link.exists():
                link.unlink()
            link.symlink_to(first.split(" ", 1)[1])
            links.append(link)
        children.append(Child(["wine", str(exe)], workdir / f"{exe.stem}.log", env=env,
                              cwd=str(workdir)))
        while len(seen) < len(ROAD_VALUES) and time.monotonic() < deadline:
            if not pump(children, deadline):
                problem = "ended early: " + ", ".join(c.name for c in children if c.ended)
                return False
            for line in host.lines:
                if line.startswith("PASS ") and " malformed=0 " not in line:
                    problem = f"host-sim read malformed replies: {line}"
                    return False
                m = re.match(r"VAL ch=3 cmd=d4 .* name=(\w+) scaled=(\S+)", line)
                if m and m.group(1) in ROAD_VALUES:
                    seen[m.group(1)] = m.group(2)
            host.lines.clear()
        if seen != ROAD_VALUES:
            problem = f"host-sim saw {seen or 'nothing'}, expected {ROAD_VALUES}"
            return False
        print("road: " + ", ".join(f"{k} {v}" for k, v in seen.items()) +
              f" went gauge-sim -> com5 -> {exe.name} -> com12 -> host-sim", flush=True)
        return True
    finally:
        for child in reversed(children):
            child.stop()
        for link in links:
            link.unlink()
        if problem:
            print(f"road: FAILED: {problem}", flush=True)
            for child in children:
                print(f"--- last lines of {child.log.name}", flush=True)
                for line in child.tail():
                    print(line, flush=True)


def make_prefix(prefix, env):
    """A new prefix with one quiet server for the whole run, so that every executable finds it
    running and the dosdevices links made before each executable stay as they are."""
    if prefix.exists():
        subprocess.run(["wineserver", "-k"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix)
    prefix.mkdir(parents=True)
    subprocess.run(["wineserver", "-p"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(
        ["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, timeout=600,
    )


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--prefix", required=True, type=Path, help="wine prefix to create and use")
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds per executable")
    ap.add_argument("--road", nargs=4, type=Path,
                    metavar=("SERVICE_EXE", "GAUGE_SIM", "HOST_SIM", "SCENARIO"),
                    help="also run the end-to-end road check (see above)")
    ap.add_argument("exes", nargs="+", type=Path)
    args = ap.parse_args()

    prefix = args.prefix.resolve()
    env = wine_env(prefix)
    total = dict(passed=0, failed=0, skipped=0)
    try:
        make_prefix(prefix, env)
        for exe in args.exes:
            exe = exe.resolve()
            print(f"=== {exe.name}", flush=True)
            p, f, s = run_one(exe, env, prefix / "dosdevices", args.timeout)
            print(f"=== {exe.name}: {p} ok, {f} bad, {s} skipped", flush=True)
            total["passed"] += p
            total["failed"] += f
            total["skipped"] += s
        if args.road:
            driver, gauge_sim, host_sim, scenario = (p.resolve() for p in args.road)
            print(f"=== road", flush=True)
            ok = run_road(env, prefix / "dosdevices", driver, gauge_sim, host_sim, scenario,
                          prefix.parent / "road")
            total["passed" if ok else "failed"] += 1
    finally:
        subprocess.run(["wineserver", "-k"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ran = total["passed"] + total["failed"]
    print(f"wine: {ran} tests ran: {total['passed']} passed, {total['failed']} failed, "
          f"{total['skipped']} skipped", flush=True)
    # Executables that list no test have checked nothing.
    return 1 if total["failed"] or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
