#!/usr/bin/env python3
# gauge-sim on its own, over a pseudo-terminal: polls every channel of the scenario as the
# converter does and compares each reply byte for byte with registers worked out here from the
# scenario file (independently of the simulator's code, from the layout in README.md); then the
# silences, junk before a request, every fault kind through a reload, a reload that fails, the
# --device mode and a clean exit on SIGTERM.
#   usage: smoke.py --sim PATH/gauge-sim --scenario scenarios/e2e.json
import json
import os
import re
import signal
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/harness"))
from plumbing import Child, open_raw, read_bytes  # noqa: E402

MAIN = {"level": 3, "mass": 6, "volume": 9, "density": 12, "temperature": 15, "water": 18,
        "pap": 21, "tap": 24, "ppf": 27, "tpf": 30, "dpf": 33, "volume_max": 42}
# (kind, first register, count) of the converter's reads after the select, by channel type.
READS = {0: [("main", 3, 42), ("temp", 128, 33), ("temp2", 161, 33), ("coords", 194, 21),
             ("density", 256, 18), ("probes", 280, 15)], 1: [("pressure", 0, 30)],
         2: [("gas", 0, 18)]}


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def crc(body):
    c = 0xFFFF
    for b in body:
        c ^= b
        for _ in range(8):
            c = c >> 1 ^ 0xA001 if c & 1 else c >> 1
    return bytes(body) + bytes([c & 0xFF, c >> 8])


def num(v):
    return int(v, 0) if isinstance(v, str) else int(v)


def floats(x):  # less significant half in the lower register
    bits = struct.unpack("<I", struct.pack("<f", x))[0]
    return [bits & 0xFFFF, bits >> 16]


# The channel's 295 registers as README.md lays them out.
def image(ch):
    r = [0] * 295

    def slot(reg, e, key="value", high="high"):
        e = e if isinstance(e, dict) else {key: e}
        state = num(e.get("state", 0))
        if high in e or "flags" in e:
            state = (num(e.get(high, 0)) & 0xFF) << 8 | num(e.get("flags", 0))
        r[reg:reg + 3] = floats(e.get(key, 0)) + [state]

    main, temp, dens = ch.get("main", {}), ch.get("temperature", {}), ch.get("density", {})
    text = main.get("software", "").encode().ljust(6, b"\0")
    r[0:3] = [num(ch.get("type", 0)) << 8, num(ch.get("config", 0)), num(ch.get("reg2", 0))]
    r[36:40] = [text[i] << 8 | text[i + 1] for i in (0, 2, 4)] + [
        num(main.get("product", 0)) << 8 | num(main.get("version", 0))]
    for name in MAIN.keys() & main.keys():
        slot(MAIN[name], main[name])
    for k, e in enumerate(ch.get("pressure", []) + ch.get("gas", [])):
        slot(3 + 3 * k, e)
    for base, block in ((128, temp), (256, dens)):
        r[base:base + len(block.get("header", []))] = map(num, block.get("header", []))
    for k, p in enumerate(temp.get("points", [])):
        slot(131 + 3 * k, p)
        r[194 + k] = num(p.get("height", 0)) if isinstance(p, dict) else 0
    for k, p in enumerate(dens.get("probes", [])):
        slot(259 + 3 * k, p, "density", "refine")
        r[280 + 3 * k:283 + 3 * k] = [num(p.get("height", 0))] + floats(p.get("temp", 0))
    return r


# gauge-sim and our end of its line.
class Gauge:
    def __init__(self, args, slave, fd=None):
        self.sim, self.slave = Child(args), slave
        self.path = self.sim.announced()
        check(self.sim.wait_for(r"^SCENARIO ", 10), "no SCENARIO line")
        self.fd = open_raw(self.path) if fd is None else fd

    def request(self, function, reg, word):
        return crc([self.slave, function, reg >> 8, reg & 0xFF, word >> 8, word & 0xFF])

    def reply(self, regs, reg, count):
        words = regs[reg:reg + count]
        return crc([self.slave, 4, 2 * count] + [b for r in words for b in (r >> 8, r & 0xFF)])

    # Sends `frame`: `reply` must come back (not before `at_least` seconds), then a line per
    # pattern in `outcomes`, and nothing more.
    def ask(self, frame, reply, *outcomes, at_least=0.0):
        sent = time.monotonic()
        os.write(self.fd, frame)
        got = read_bytes(self.fd, len(reply))
        check(time.monotonic() - sent >= at_least, f"{frame.hex(' ')} answered too early")
        check(got == reply, f"{frame.hex(' ')}:\n got  {got.hex(' ')}\n want {reply.hex(' ')}")
        for pattern in outcomes:
            line = self.sim.line(10)
            check(line and re.search(pattern, line), f"{frame.hex(' ')}: {line!r} not /{pattern}/")
        # A request's line comes after its answer: by now nothing more may be on its way.
        check(not read_bytes(self.fd, 1, 0), f"bytes after the reply to {frame.hex(' ')}")

    def poll(self, ch):  # one tank, as the converter polls it
        address, regs = num(ch["address"]), image(ch)
        select = self.request(6, 0, address)
        self.ask(b"\0", b"", r"^REQ 00 \(zero.*\) -> SILENT$")
        self.ask(select, select, rf"\(select ch {address}\) -> REPLY 8 bytes$")
        for kind, reg, count in [("type", 0, 3)] + READS.get(num(ch.get("type", 0)), READS[0]):
            self.ask(self.request(4, reg, count), self.reply(regs, reg, count),
                     rf"\({kind} ch {address}\) -> REPLY {5 + 2 * count} bytes$")

    def reload(self, scenario, outcome):
        with open(self.sim.proc.args[-1], "w") as f:
            f.write(scenario if isinstance(scenario, str) else json.dumps(scenario))
        self.sim.proc.send_signal(signal.SIGUSR1)
        check(self.sim.wait_for(outcome, 10), f"no line /{outcome}/ after SIGUSR1")

    def stop(self):
        check(self.sim.stop() == 0, "exit status after SIGTERM")
        check("EXIT" in self.sim.seen, "no EXIT line")


# Every fault kind, loaded by SIGUSR1, checked where it hits; where a fault stops ("after",
# "times") is counted alike for every kind, and shown on the zero bytes, the select and main.
def faults(gauge, scenario, level, other):
    gauge.reload(dict(scenario, faults=[
        {"on": "zero", "fault": "stray", "every": 2, "times": 2, "bytes": ["0x55"]},
        {"on": "select", "fault": "silent", "times": 2},
        {"on": "type", "fault": "exception", "code": "0x84", "times": 1},
        {"on": "main", "fault": "badcrc", "crc": "swap", "times": 1},
        {"on": "main", "fault": "length", "delta": -1, "after": 1, "times": 1},
        {"on": "temp", "fault": "split", "at": 10, "delay_ms": 1200, "times": 1}], channels=[
        dict(ch, faults=[{"fault": "exception", "code": 2, "times": 1}]) if ch is other else ch
        for ch in scenario["channels"]]), r"^RELOAD ok: ")
    regs, address, slave = image(level), num(level["address"]), gauge.slave
    select, kind = gauge.request(6, 0, address), gauge.request(4, 0, 3)
    main, temp = gauge.request(4, 3, 42), gauge.request(4, 128, 33)
    good_main, good_temp = gauge.reply(regs, 3, 42), gauge.reply(regs, 128, 33)
    for _ in range(2):  # zero bytes 1 and 3 are hit, 2 and 4 are not
        gauge.ask(b"\0", b"\x55", r"\(zero.*\) -> FAULT stray 1 byte$")
        gauge.ask(b"\0", b"", r"\(zero.*\) -> SILENT$")
    for _ in range(2):
        gauge.ask(select, b"", rf"\(select ch {address}\) -> FAULT silent$")
    gauge.ask(select, select, r"-> REPLY 8 bytes$")
    gauge.ask(kind, crc([slave, 0x84, 0x84]), r"\(type .*\) -> FAULT exception 132$")
    gauge.ask(main, good_main[:-2] + good_main[:-3:-1], r"\(main .*\) -> FAULT badcrc")
    gauge.ask(main, crc(good_main[:86]), r"\(main .*\) -> FAULT length 88 bytes$")
    gauge.ask(main, good_main, r"\(main .*\) -> REPLY 89 bytes$")
    gauge.ask(temp, good_temp, r"\(temp .*\) -> FAULT split 10\+61 bytes, rest after 1200 ms$",
              at_least=1.2)
    if other is not None:
        other_select = gauge.request(6, 0, num(other["address"]))
        gauge.ask(other_select, crc([slave, 0x86, 2]), r"-> FAULT exception 2$")
        # The refused select left the level gauge selected.
        gauge.ask(kind, gauge.reply(regs, 0, 3), rf"\(type ch {address}\) -> REPLY 11 bytes$")
        gauge.ask(other_select, other_select, r"-> REPLY 8 bytes$")
    # A scenario that does not load leaves the running one in force.
    gauge.reload('{"slave": 80, "channels": [{"address": 1, "main": {"levle": 1}}]}',
                 r"^RELOAD failed, scenario kept: .*levle: unknown key$")
    gauge.ask(select, select, r"-> REPLY 8 bytes$")


def main(opts):
    with open(opts["--scenario"]) as f:
        scenario = json.load(f)
    slave, channels = num(scenario.get("slave", 80)), scenario["channels"]
    level = next(ch for ch in channels if num(ch.get("type", 0)) == 0)
    other = next((ch for ch in channels if ch is not level), None)
    absent = min(set(range(256)) - {num(ch["address"]) for ch in channels})
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        gauge = Gauge([opts["--sim"], "--pty", path], slave)
        try:
            for ch in channels:
                gauge.poll(ch)
            select, kind = gauge.request(6, 0, num(level["address"])), gauge.request(4, 0, 3)
            gauge.ask(gauge.request(6, 0, absent), b"", rf"\(select ch {absent}\) -> SILENT \(no")
            gauge.ask(kind, b"", r"\(type\) -> SILENT \(no channel selected\)$")
            gauge.ask(crc([slave % 255 + 1, 4, 0, 0, 0, 3]), b"", r"-> SILENT \(slave ")
            gauge.ask(b"\xab\xcd" + select, select, r"^JUNK ab cd -> DROPPED$",
                      r"\(select ch \d+\) -> REPLY 8 bytes$")
            # An unfinished request is given up after the pause on the line.
            gauge.ask(b"\x51\x52\x53", b"", r"^JUNK 51 52 53 -> DROPPED$")
            faults(gauge, scenario, level, other)
            gauge.stop()
        finally:
            gauge.sim.stop()
        # --device: libmodbus opens and programs a pty of ours like a serial port.
        master, slave_fd = os.openpty()
        device = os.ttyname(slave_fd)
        os.close(slave_fd)
        gauge = Gauge([opts["--sim"], "--device", device, opts["--scenario"]], slave, master)
        try:
            check(gauge.path == device, f"DEVICE {gauge.path}")
            gauge.poll(channels[0])
            gauge.stop()
        finally:
            gauge.sim.stop()
            os.close(master)
    print(f"gauge-sim smoke: OK ({len(channels)} channels polled, faults, reload, resync, device)")


if __name__ == "__main__":
    try:
        main(dict(zip(sys.argv[1::2], sys.argv[2::2])))
    except AssertionError as e:
        print(f"gauge-sim smoke: FAILED: {e}", file=sys.stderr)
        sys.exit(1)
