#!/usr/bin/env python3
"""End-to-end check of host-sim over a pseudo-terminal against a scripted converter.

The scripted converter answers like the real one does at the line: it looks at the line once per
55 ms tick, answers a lone command byte from fixed replies and a tick with several bytes with 0xC0.
It serves a level gauge on channel address 5, a pressure-sensor tank on 7 and a gas-sensor tank
on 9. Usage: smoke.py PATH/TO/host-sim. Exits non-zero on the first mismatch of a scenario (all
scenarios run; the failures are listed).
"""

import os
import queue
import re
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import termios

TICK = 0.055
WAIT = 60.0  # upper bound for any single expected event; never reached when things work


def xor(data):
    x = 0
    for b in data:
        x ^= b
    return x


def sealed(body):
    body = bytes(body)
    return body + bytes([xor(body)])


def i32(v):
    return (v & 0xFFFFFFFF).to_bytes(4, "little")


def param_block(groups, empty_from=None, empty_status=1):
    """groups: list of (st1, st2, value); groups after them up to 9 are (empty_status, 0, 0)."""
    body = bytearray([0])
    for st1, st2, value in groups:
        body += bytes([st1, st2]) + i32(value)
    while len(body) < 55:
        body += bytes([empty_status, 0]) + i32(0)
    return sealed(body)


def coord_block(values):
    body = bytearray([0])
    for v in values:
        body += (v & 0xFFFF).to_bytes(2, "little")
    body += bytes(19 - len(body))
    return sealed(body)


# The worked example of the main-parameter reply, byte for byte.
D4_EXAMPLE = bytes.fromhex(
    "00" "00003a300000" "000050c30000" "00007b000000" "000099000000" "000040210000"
    "000040a60000" + "00" * 18 + "fc")
assert len(D4_EXAMPLE) == 56 and xor(D4_EXAMPLE[:-1]) == D4_EXAMPLE[-1]


class FakeConverter:
    """The converter's host side, reduced to fixed answers."""

    def __init__(self, path, faults=()):
        self.path = path
        self.faults = set(faults)
        self.channel = 0
        self.group = 0
        self.requests = []
        self.stop = threading.Event()
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd, termios.TCSANOW)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def close(self):
        self.stop.set()
        self.thread.join()
        os.close(self.fd)

    def run(self):
        next_tick = time.monotonic() + TICK
        while not self.stop.is_set():
            left = next_tick - time.monotonic()
            if left > 0:
                self.stop.wait(left)
                continue
            next_tick += TICK
            try:
                data = os.read(self.fd, 1024)
            except BlockingIOError:
                continue
            except OSError:
                return
            if len(data) > 1:
                self.send(b"\xc0")
            elif len(data) == 1:
                self.requests.append(data[0])
                self.send(self.answer(data[0]))

    def send(self, reply):
        try:
            os.write(self.fd, reply)
        except OSError:
            pass

    def answer(self, b):
        high, n = b >> 4, b & 0x0F
        if high == 0xA:
            self.group = n
            return b"\x00"
        if high == 0xC:
            self.channel = n
            return b"\x00"
        if b == 0x07:
            return b"\x00\x0a\x06\x3c\x30" + (b"\x99" if "extra" in self.faults else b"")
        if b == 0x10:
            return b"\x00\x55"
        if b == 0x14:
            return b"\x00\xe0"
        if b == 0xDD:
            table = [0] * 16
            table[5], table[7], table[9] = 0x80, 0x81, 0x82
            return sealed([0] + table)
        if b == 0x11:
            table = [0] * 16
            table[5] = 0xC0
            return sealed([0] + table)
        if high == 0xD:
            return self.answer_d(n)
        if high in (0x2, 0x3, 0x4, 0x5, 0x6, 0x8, 0xB):
            self.channel = n
            return self.answer_14(high, n)
        return b"\xc0"

    def answer_d(self, n):
        ch, g = self.channel, self.group
        if n in (0x0, 0x1, 0x9, 0xA):
            return b"\x0c"
        if n == 0x2:
            return {5: sealed([0, 0x80, 21, 5, 1]), 7: sealed([0, 0x80, 0, 0, 8]),
                    9: sealed([0, 0x80, 0, 0, 0])}.get(ch, b"\xff")
        if n == 0xC:
            return {5: sealed([0, 0x80, 0, 21, 5, 1, 0, 0, 0]),
                    7: sealed([0, 0x80, 0, 0, 0, 8, 0, 0, 0]),
                    9: sealed([0, 0x80, 1, 0, 0, 0, 5, 0, 0])}.get(ch, b"\xff")
        if n == 0x7:
            if ch == 5:
                return param_block([(0, 0, 1234)])
            if ch == 7:
                return param_block([(1 if k == 9 else 0, 0, 100 * k) for k in range(1, 10)])
            return b"\xff"
        if ch == 9 and n in (0xB, 0xE, 0xF):
            if n == 0xB:
                return param_block([(0, 1, 123 * k) for k in range(1, 6)])
            if n == 0xF:
                return param_block([(0, 1, k % 3) for k in range(1, 6)])
            return sealed([0] + [1, 0] * 5 + [0x20, 0] * 4)
        if ch != 5:
            return b"\xff"
        if n == 0x4:
            if "checksum" in self.faults:
                return D4_EXAMPLE[:-1] + b"\xfd"
            if "short" in self.faults:
                return D4_EXAMPLE[:30]
            return D4_EXAMPLE
        if n == 0x5:
            if g > 4:
                return b"\x0c"
            height = (1500 + 100 * g) * 10 + 3
            return param_block([(0, 0, 8500 + g), (0, 0, 150 + g), (1, 0, 0),
                                (0, 0, height & 0xFFFF), (1, 0, 0)], empty_status=0)
        if n == 0x6:
            if g > 2:
                return b"\x0c"
            points = range(9 * g + 1, min(9 * g + 9, 21) + 1)
            return param_block([(0, 0, 200 + p) for p in points])
        if n == 0x3:
            if g > 2:
                return b"\x0c"
            return coord_block([100 * p for p in range(9 * g + 1, min(9 * g + 9, 21) + 1)])
        if n == 0x8:
            return coord_block([1500 + 100 * k for k in range(5)])
        return b"\x0c"

    def answer_14(self, high, n):
        if n != 5:
            return b"\xff"
        replies = {
            0x2: sealed([0, 0x39, 0x30, 0x06]),   # level 12345.6 mm
            0x3: sealed([0, 0x28, 0x29, 0xA9, 0x81]),
            0x4: bytes([0, 0x2C]),                # water 44 mm
            0x5: sealed([0, 0x53, 0x03, 0x02]),   # 851.2 kg/m3
            0x6: bytes([0, 0x81]),                # -0.5 degC
            0x8: sealed([0, 0xF1, 0xFB, 0x95]),   # 654321.5 l
            0xB: b"\x06",                          # mass: gauge silent
        }
        return replies[high]


class HostSim:
    """host-sim running with --pty; its stdout lines arrive in a queue."""

    def __init__(self, binary, args):
        self.proc = subprocess.Popen([binary, "--pty"] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.all = []
        threading.Thread(target=self._pump, daemon=True).start()
        first = self.next_line()
        if not first or not first.startswith("PTY /dev/"):
            raise RuntimeError("first line is not the pty path: %r" % first)
        self.pty = first[4:]

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next_line(self, timeout=WAIT):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            return None
        if line is not None:
            self.all.append(line)
        return line

    def wait_for(self, pattern):
        rx = re.compile(pattern)
        while True:
            line = self.next_line()
            if line is None:
                return None
            if rx.search(line):
                return line

    def finish(self):
        while self.next_line() is not None:
            pass
        return self.proc.wait(timeout=WAIT)


def fields(line):
    return dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)


def values(lines):
    """name -> VAL fields, for the VAL lines in `lines` (the last one of each name wins)."""
    out = {}
    for line in lines:
        if line.startswith("VAL "):
            f = fields(line)
            out[(int(f["ch"]), f["name"])] = f
    return out


class Check:
    def __init__(self):
        self.failures = []
        self.scenario = ""

    def eq(self, got, want, what):
        if got != want:
            self.failures.append("%s: %s: got %r, want %r" % (self.scenario, what, got, want))

    def true(self, cond, what):
        if not cond:
            self.failures.append("%s: %s" % (self.scenario, what))


def run_with_fake(binary, args, faults=()):
    sim = HostSim(binary, args)
    fake = FakeConverter(sim.pty, faults)
    rc = sim.finish()
    fake.close()
    return sim, fake, rc


def scenario_commands(binary, check):
    check.scenario = "command mode"
    sim, fake, rc = run_with_fake(binary, ["--machine", "c5", "d4", "07", "a3", "d5", "d9"])
    check.eq(rc, 0, "exit code")
    check.eq(fake.requests, [0xC5, 0xD4, 0x07, 0xA3, 0xD5, 0xD9], "requests seen, one per tick")
    replies = [fields(l) for l in sim.all if l.startswith("REPLY ")]
    check.eq([r["verdict"] for r in replies], ["ok"] * 6, "verdicts")
    check.eq(replies[1]["raw"], D4_EXAMPLE.hex(), "raw main-parameter reply")
    check.eq(replies[5]["status"], "c", "0xD9 answered 0x0C")
    v = values(sim.all)
    for name, raw, scaled, unit in [("level", "12346", "1234.6", "mm"),
                                    ("volume", "50000", "5000.0", "l"),
                                    ("water", "123", "12.3", "mm"),
                                    ("temp", "153", "15.3", "degC"),
                                    ("density", "8512", "851.2", "kg/m3"),
                                    ("mass", "42560", "4256.0", "kg")]:
        f = v.get((5, name), {})
        check.eq((f.get("value"), f.get("scaled"), f.get("unit"), f.get("st1"), f.get("cmd")),
                 (raw, scaled, unit, "0", "d4"), name)
    f = v.get((5, "probe4_height"), {})
    check.eq((f.get("scaled"), f.get("blk")), ("1800.3", "3"), "probe 4 height under block 3")

    check.scenario = "command mode, text"
    sim, fake, rc = run_with_fake(binary, ["c5", "d4"])
    check.eq(rc, 0, "exit code")
    text = "\n".join(sim.all)
    for piece in ["level 1234.6 mm", "volume 5000.0 l", "water 12.3 mm", "temp 15.3 °C",
                  "density 851.2 kg/m³", "mass 4256.0 kg"]:
        check.true(piece in text, "missing %r in %r" % (piece, text))


def scenario_faults(binary, check):
    for fault, code, cmd in [("checksum", "checksum", "d4"), ("short", "short", "d4"),
                             ("extra", "extra", "07")]:
        check.scenario = "malformed reply: " + fault
        sim, _, rc = run_with_fake(binary, ["--machine", "c5", cmd],
                                   faults=[fault])
        check.eq(rc, 1, "exit code")
        reply = [fields(l) for l in sim.all if l.startswith("REPLY ") and "cmd=" + cmd in l]
        check.eq([(r["verdict"], r.get("problems")) for r in reply], [("bad", code)], "verdict")
        if fault != "extra":
            check.true(not any(l.startswith("VAL ") and "cmd=d4" in l for l in sim.all),
                       "no values from a damaged reply")


def scenario_poll(binary, check):
    check.scenario = "poll 2.0"
    with tempfile.TemporaryDirectory() as tmp:
        table = os.path.join(tmp, "table.txt")
        sim, fake, rc = run_with_fake(binary, ["--poll", "--once", "--machine",
                                               "--table-file", table])
        check.eq(rc, 0, "exit code")
        passes = [fields(l) for l in sim.all if l.startswith("PASS ")]
        check.eq([(p["n"], p["complete"], p["channels"], p["malformed"]) for p in passes],
                 [("1", "1", "5,7,9", "0")], "one complete pass over 5, 7, 9")
        v = values(sim.all)
        for key, scaled in [((5, "level"), "1234.6"), ((5, "t1"), "20.1"),
                            ((5, "t21"), "22.1"), ((5, "t21_height"), "2100"),
                            ((5, "probe1_density"), "850.0"), ((5, "probe5_density"), "850.4"),
                            ((5, "probe5_coord"), "1900"), ((5, "p1"), "123.4"),
                            ((5, "press"), "1"), ((7, "p8"), "80.0"), ((9, "gas2"), "24.6"),
                            ((9, "gas3_alarm"), "0"), ((9, "gas5_kind"), "1"),
                            ((7, "cfg"), "0x81")]:
            check.eq(v.get(key, {}).get("scaled"), scaled, "%s of ch %d" % (key[1], key[0]))
        check.eq(v.get((7, "p9"), {}).get("st1"), "1", "p9 of ch 7 not fitted")
        check.true(0xD2 in fake.requests and 0xDC not in fake.requests, "2.0 asks 0xD2")
        check.true(0xA5 not in fake.requests, "no sixth density probe asked for")
        try:
            with open(table, encoding="utf-8") as f:
                written = f.read()
        except OSError as e:
            written = str(e)
        for piece in ["pass 1", "ch 5", "level 1234.6 mm", "t21 22.1 °C", "ch 9", "gas sensors"]:
            check.true(piece in written, "table file lacks %r:\n%s" % (piece, written))

    check.scenario = "poll 2.2"
    sim, fake, rc = run_with_fake(binary, ["--v22", "--once", "--machine"])
    check.eq(rc, 0, "exit code")
    check.true(0xDC in fake.requests and 0xD2 not in fake.requests, "2.2 asks 0xDC")
    check.eq(values(sim.all).get((9, "gas"), {}).get("value"), "5", "gas sensors of ch 9")

    check.scenario = "poll 1.4"
    sim, fake, rc = run_with_fake(binary, ["--v14", "--once", "--machine"])
    check.eq(rc, 0, "exit code")
    check.eq(fake.requests, [0x11, 0x25, 0x35, 0x45, 0x55, 0x65, 0x85, 0xB5], "1.4 requests")
    v = values(sim.all)
    for name, scaled in [("level", "12345.6"), ("t1", "20.0"), ("t2", "20.5"), ("t3", "-20.5"),
                         ("mean_temp", "-0.5"), ("water", "44"), ("density", "851.2"),
                         ("surface_temp", "-0.5"), ("volume", "654321.5")]:
        check.eq(v.get((5, name), {}).get("scaled"), scaled, name)
    mass = [fields(l) for l in sim.all if l.startswith("REPLY ") and "cmd=b5" in l]
    check.eq([(m["status"], m["verdict"]) for m in mass], [("6", "ok")], "mass answered 0x06")


def scenario_late_converter(binary, check):
    check.scenario = "converter opens the pty late"
    sim = HostSim(binary, ["--poll", "--machine"])
    first = sim.wait_for(r"^PASS n=1 ")
    check.true(first is not None and "channels=-" in first, "first pass finds nobody")
    fake = FakeConverter(sim.pty)
    good = sim.wait_for(r"^PASS .*complete=1 channels=5,7,9 ")
    check.true(good is not None, "a full pass once the converter is there")
    sim.proc.send_signal(signal.SIGTERM)
    rc = sim.finish()
    fake.close()
    check.eq(rc, 0, "exit code after SIGTERM")


def scenario_soak(binary, check):
    check.scenario = "random traffic"
    sim, fake, rc = run_with_fake(binary, ["--random", "--seconds", "3", "--seed", "7"])
    check.eq(rc, 0, "exit code")
    summary = [fields(l) for l in sim.all if l.startswith("SUMMARY ")]
    check.true(len(summary) == 1 and int(summary[0]["judged"]) > 0, "summary %r" % summary)
    check.true(summary and summary[0]["bad"] == "0", "no malformed lone reply: %r" % [
        l for l in sim.all if "verdict=bad" in l])
    check.true(any("kind=burst" in l for l in sim.all), "bursts were sent")

    check.scenario = "garbage until SIGINT"
    sim = HostSim(binary, ["--garbage", "--seed", "3"])
    fake = FakeConverter(sim.pty)
    for _ in range(5):
        check.true(sim.wait_for(r"^EXCH .*kind=garbage") is not None, "garbage exchanges")
    sim.proc.send_signal(signal.SIGINT)
    rc = sim.finish()
    fake.close()
    check.eq(rc, 0, "exit code after SIGINT")
    check.true(any(l.startswith("SUMMARY ") for l in sim.all), "summary after SIGINT")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    binary = sys.argv[1]
    check = Check()
    for scenario in (scenario_commands, scenario_faults, scenario_poll, scenario_late_converter,
                     scenario_soak):
        try:
            scenario(binary, check)
        except Exception as e:  # a scenario that blows up is a failure, the others still run
            check.failures.append("%s: %s: %r" % (scenario.__name__, check.scenario, e))
    for f in check.failures:
        print("FAIL " + f)
    print("smoke: %d failure(s)" % len(check.failures))
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
