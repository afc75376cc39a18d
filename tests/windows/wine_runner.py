#!/usr/bin/env python3
# Runs Windows test executables under wine and plays the far end of their serial lines.
#
# Each name in LINES becomes a symbolic link in the wine prefix's dosdevices folder to the slave
# side of a pseudo-terminal whose master side this runner holds, so that CreateFileA("COM5") in a
# test opens a real serial line; the names in MISSING are removed, so that opening them fails as a
# missing port does. A test asks for the far end's part with a line "@@peer VERB PORT [ARGUMENT]"
# on its standard output and reads the one-line answer from its standard input:
#     reset PORT            drop every byte queued either way, restore raw settings    -> ok
#     flow PORT MODE        set the line's flow control: rtscts, xonxoff or none       -> ok
#     send PORT HEX         write the bytes, wait until the port's queue holds them    -> ok
#     expect PORT COUNT     read up to COUNT bytes, waiting up to 10 s                 -> got HEX
#     settings PORT         the line settings as the tty holds them                    -> k=v ...
# Every other line is passed through. The GoogleTest results of all executables are counted (a
# crash or a hang counts as one failure) into the last line, "wine: N tests ran: P passed, F
# failed, K skipped"; the exit status is non-zero on any failure and when no test ran.
#
# --road runs one more check, counted as one test: gauge-sim (Linux) serves the MODBUS line as
# com5, host-sim (Linux) polls the host line as com12 (opened through the device namespace), and
# modbusvelt-service.exe runs the core on the Win32 backend between them under wine, with a
# "Nastroika.ini" beside it. It passes when host-sim reads the gauge's main parameters of channel
# 3 in well-formed host replies.
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

LINES, MISSING = ("com5", "com6", "com15"), ("com8",)
BAUDS = {getattr(termios, f"B{b}"): b for b in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}
# Tank 1 on gauge channel 3, whose main parameters in road_scenario.json reach the host as these.
ROAD_SETTINGS = ("[Резервуар]\r\n1=3\r\n[SLAVE]\r\nАдрес=80\r\n[Флаг]\r\nПротокол=1\r\n"
                 "[MODBUS]\r\nCom-порт=Com5\r\nСуществует=1\r\n"
                 "[VELT]\r\nCom-порт=Com12\r\nСуществует=1\r\n")
ROAD_VALUES = {"level": "4321.5", "volume": "150123.5", "density": "812.5", "mass": "123456.8"}


def link(dosdevices, name, target=None):
    path = dosdevices / name
    if path.is_symlink() or path.exists():
        path.unlink()
    if target:
        path.symlink_to(target)
    return path


# One pseudo-terminal: the master is the far end, the slave is what wine opens. Our own slave
# descriptor keeps the line alive between opens and shows its receive queue and its settings as
# the port under test left them.
class Line:
    def __init__(self, name, dosdevices):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.raw = termios.tcgetattr(self.slave)
        self.link = link(dosdevices, name, os.ttyname(self.slave))

    def close(self):
        self.link.unlink(missing_ok=True)
        os.close(self.master)
        os.close(self.slave)

    def queued(self):
        return int.from_bytes(fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4), sys.byteorder)

    def reset(self, _):
        while read_bytes(self.master, 4096, 0):
            pass
        termios.tcflush(self.slave, termios.TCIOFLUSH)
        termios.tcsetattr(self.slave, termios.TCSANOW, self.raw)
        return "ok"

    def flow(self, mode):
        if mode not in ("rtscts", "xonxoff", "none"):
            return f"error unknown flow mode {mode}"
        attrs = termios.tcgetattr(self.slave)
        attrs[0] = attrs[0] & ~(termios.IXON | termios.IXOFF) | (
            termios.IXON | termios.IXOFF if mode == "xonxoff" else 0)
        attrs[2] = attrs[2] & ~termios.CRTSCTS | (termios.CRTSCTS if mode == "rtscts" else 0)
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        return "ok"

    def send(self, hex_bytes):
        data, before, deadline = bytes.fromhex(hex_bytes), self.queued(), time.monotonic() + 10
        os.write(self.master, data)
        # The tty moves the bytes to the slave asynchronously: answer once they all wait in the
        # queue the port reads, so that the test's next read sees every one of them.
        while self.queued() < before + len(data):
            if time.monotonic() > deadline:
                return f"error only {self.queued() - before} of {len(data)} queued"
            time.sleep(0.001)
        return "ok"

    def expect(self, count):
        return "got " + read_bytes(self.master, int(count)).hex(" ")

    def settings(self, _):
        iflag, _, cflag, _, _, ospeed, cc = termios.tcgetattr(self.slave)
        veof = cc[termios.VEOF][0] if isinstance(cc[termios.VEOF], bytes) else cc[termios.VEOF]
        bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
        flags = {"cstopb": cflag & termios.CSTOPB, "parenb": cflag & termios.PARENB,
                 "parodd": cflag & termios.PARODD, "crtscts": cflag & termios.CRTSCTS,
                 "ixon": iflag & termios.IXON, "ixoff": iflag & termios.IXOFF}
        return f"baud={BAUDS.get(ospeed, -1)} bits={bits} veof={veof} " + " ".join(
            f"{k}={int(bool(v))}" for k, v in flags.items())


def answer(lines, request):
    verb, port, arg = (request.split(maxsplit=2) + ["", ""])[:3]
    if port.lower() not in lines or verb not in ("reset", "flow", "send", "expect", "settings"):
        return f"error bad request {request!r}"
    try:
        return getattr(lines[port.lower()], verb)(arg)
    except (OSError, ValueError) as e:
        return f"error {e}"


# Runs one executable with fresh lines; returns its counts of passed, failed and skipped tests.
def run_one(exe, env, dosdevices, timeout):
    lines = {name: Line(name, dosdevices) for name in LINES}
    for name in MISSING:
        link(dosdevices, name)
    test = Child(["wine", str(exe)], cwd=str(exe.parent), env=dict(env, CONV_PTY_PEER="1"),
                 stdin=subprocess.PIPE)
    counts, deadline = {}, time.monotonic() + timeout
    try:
        while (text := test.line(deadline - time.monotonic())) is not None:
            if text.startswith("@@peer "):
                test.proc.stdin.write((answer(lines, text[7:]) + "\n").encode())
                test.proc.stdin.flush()
                continue
            print(text, flush=True)
            if m := re.match(r"\[  (PASSED|FAILED|SKIPPED) *\] (\d+) tests?[.,]", text):
                counts[m.group(1)] = int(m.group(2))
    finally:
        hung = time.monotonic() >= deadline
        if hung:
            print(f"{exe.name}: no end after {timeout} s, stopped", flush=True)
        rc = test.stop(signal.SIGKILL) if hung else test.finish(30)
        for line in lines.values():
            line.close()
    failed = counts.get("FAILED", 0) or int(rc != 0 or not counts)  # a crash or a hang: one
    return counts.get("PASSED", 0), failed, counts.get("SKIPPED", 0)


# The whole road of a value on the Win32 backend; True when the host saw it.
def run_road(env, dosdevices, driver, gauge_sim, host_sim, scenario, workdir):
    shutil.rmtree(workdir, ignore_errors=True)
    workdir.mkdir(parents=True)
    exe = shutil.copy2(driver, workdir)
    (workdir / "Nastroika.ini").write_bytes(ROAD_SETTINGS.encode("cp1251"))
    names = ("gauge-sim", "host-sim", Path(driver).stem)
    logs = [open(workdir / f"{name}.log", "w") for name in names]
    children, links, seen, problem = [], [], {}, None
    deadline = time.monotonic() + 180
    try:
        gauge = Child([str(gauge_sim), "--pty", "--quiet", str(scenario)], log=logs[0])
        host = Child([str(host_sim), "--pty", "--poll", "--channels", "3", "--machine"],
                     log=logs[1])
        children = [gauge, host]
        links = [link(dosdevices, "com5", gauge.announced()),
                 link(dosdevices, "com12", host.announced())]
        children.append(Child(["wine", exe], log=logs[2], env=env, cwd=str(workdir)))
        while seen != ROAD_VALUES and (line := host.line(deadline - time.monotonic())) is not None:
            if line.startswith("PASS ") and " malformed=0 " not in line:
                raise RuntimeError(f"host-sim read malformed replies: {line}")
            m = re.match(r"VAL ch=3 cmd=d4 .* name=(\w+) scaled=(\S+)", line)
            if m and m.group(1) in ROAD_VALUES:
                seen[m.group(1)] = m.group(2)
        if seen != ROAD_VALUES:
            raise RuntimeError(f"host-sim saw {seen or 'nothing'}, expected {ROAD_VALUES}")
        print("road: " + ", ".join(f"{k} {v}" for k, v in seen.items()) +
              f" went gauge-sim -> com5 -> {Path(driver).name} -> com12 -> host-sim", flush=True)
    except RuntimeError as e:
        problem = e
    finally:
        for child in reversed(children):
            child.stop()
        for path in links:
            path.unlink()
    if problem:
        print(f"road: FAILED: {problem}", flush=True)
        for log in logs:
            print(f"--- last lines of {Path(log.name).name}\n" +
                  "\n".join(Path(log.name).read_text(errors="replace").splitlines()[-25:]))
    return problem is None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", required=True, type=Path, help="wine prefix to create and use")
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds per executable")
    ap.add_argument("--road", nargs=4, type=Path,
                    metavar=("SERVICE_EXE", "GAUGE_SIM", "HOST_SIM", "SCENARIO"))
    ap.add_argument("exes", nargs="+", type=Path)
    args = ap.parse_args()
    prefix = args.prefix.resolve()
    # No Mono or Gecko download prompts, no menu entries, no display.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    total = [0, 0, 0]
    try:
        # A new prefix with one server for the whole run, so that every executable finds it
        # running and the dosdevices links made before each executable stay as they are.
        if prefix.exists():
            subprocess.run(["wineserver", "-k"], **quiet)
            shutil.rmtree(prefix)
        prefix.mkdir(parents=True)
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(["wineboot", "-i"], check=True, timeout=600, **quiet)
        for exe in args.exes:
            print(f"=== {exe.name}", flush=True)
            counts = run_one(exe.resolve(), env, prefix / "dosdevices", args.timeout)
            print(f"=== {exe.name}: {counts[0]} ok, {counts[1]} bad, {counts[2]} skipped", flush=True)
            total = [t + c for t, c in zip(total, counts)]
        if args.road:
            print("=== road", flush=True)
            ok = run_road(env, prefix / "dosdevices", *(p.resolve() for p in args.road),
                          prefix.parent / "road")
            total[0 if ok else 1] += 1
    finally:
        subprocess.run(["wineserver", "-k"], **quiet)
    ran = total[0] + total[1]
    print(f"wine: {ran} tests ran: {total[0]} passed, {total[1]} failed, {total[2]} skipped",
          flush=True)
    return 1 if total[1] or ran == 0 else 0  # executables that list no test checked nothing


if __name__ == "__main__":
    sys.exit(main())
