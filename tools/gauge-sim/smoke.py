#!/usr/bin/env python3
"""Smoke check of gauge-sim: talks to it over a pseudo-terminal as the converter would and
compares every reply with registers computed here from the scenario file, independently of the
simulator's own code. Then exercises reloading with faults, resynchronisation after junk, and
the serial-device mode on a pty of our own. Exits non-zero on the first mismatch.

usage: smoke.py --sim PATH/gauge-sim --scenario scenarios/e2e.json
"""

import argparse
import json
import os
import queue
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty

IMAGE_REGISTERS = 295
LINE_TIMEOUT = 10.0  # generous: only reached when something is wrong
BYTES_TIMEOUT = 10.0

MAIN_SLOTS = [("level", 3), ("mass", 6), ("volume", 9), ("density", 12), ("temperature", 15),
              ("water", 18), ("pap", 21), ("tap", 24), ("ppf", 27), ("tpf", 30), ("dpf", 33),
              ("volume_max", 42)]

# (kind, register, count) of every read the converter sends, by channel type.
LEVEL_READS = [("main", 3, 42), ("temp", 128, 33), ("temp2", 161, 33), ("coords", 194, 21),
               ("density", 256, 18), ("probes", 280, 15)]
TYPE_READS = {1: [("pressure", 0, 30)], 2: [("gas", 0, 18)]}


class Mismatch(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Mismatch(message)


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(body):
    c = crc16(body)
    return bytes(body) + bytes([c & 0xFF, c >> 8])


def request(slave, function, reg, word):
    return with_crc(bytes([slave, function, reg >> 8, reg & 0xFF, word >> 8, word & 0xFF]))


def as_int(v):
    return int(v, 0) if isinstance(v, str) else int(v)


def float_words(value):
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    return [bits & 0xFFFF, bits >> 16]  # less significant half in the lower register


def put_slot(regs, reg, entry, value_key="value", high_key="high"):
    if isinstance(entry, (int, float)):
        value, state = entry, 0
    else:
        value = entry.get(value_key, 0)
        if high_key in entry or "flags" in entry:
            state = (as_int(entry.get(high_key, 0)) & 0xFF) << 8 | as_int(entry.get("flags", 0))
        else:
            state = as_int(entry.get("state", 0))
    regs[reg:reg + 2] = float_words(value)
    regs[reg + 2] = state


def channel_image(ch):
    regs = [0] * IMAGE_REGISTERS
    regs[0] = as_int(ch.get("type", 0)) << 8
    regs[1] = as_int(ch.get("config", 0))
    regs[2] = as_int(ch.get("reg2", 0))
    main = ch.get("main")
    if main:
        for name, reg in MAIN_SLOTS:
            if name in main:
                put_slot(regs, reg, main[name])
        text = main.get("software", "").encode().ljust(6, b"\0")
        for i in range(3):
            regs[36 + i] = text[2 * i] << 8 | text[2 * i + 1]
        regs[39] = as_int(main.get("product", 0)) << 8 | as_int(main.get("version", 0))
    for key, count in (("pressure", 9), ("gas", 5)):
        for k, entry in enumerate(ch.get(key, [])[:count]):
            put_slot(regs, 3 + 3 * k, entry)
    temp = ch.get("temperature", {})
    for i, w in enumerate(temp.get("header", [])):
        regs[128 + i] = as_int(w)
    for k, point in enumerate(temp.get("points", [])):
        put_slot(regs, 131 + 3 * k, point)
        if isinstance(point, dict):
            regs[194 + k] = as_int(point.get("height", 0))
    dens = ch.get("density", {})
    for i, w in enumerate(dens.get("header", [])):
        regs[256 + i] = as_int(w)
    for k, probe in enumerate(dens.get("probes", [])):
        put_slot(regs, 259 + 3 * k, probe, "density", "refine")
        regs[280 + 3 * k] = as_int(probe.get("height", 0))
        regs[281 + 3 * k:283 + 3 * k] = float_words(probe.get("temp", 0))
    return regs


def read_reply(slave, regs, reg, count):
    body = bytes([slave, 0x04, 2 * count])
    for r in regs[reg:reg + count]:
        body += bytes([r >> 8, r & 0xFF])
    return with_crc(body)


class Sim:
    """A running gauge-sim: its output lines as events, its line as a file descriptor."""

    def __init__(self, exe, args):
        self.proc = subprocess.Popen([exe] + args, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()
        self.fd = None

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next_line(self):
        try:
            line = self.lines.get(timeout=LINE_TIMEOUT)
        except queue.Empty:
            raise Mismatch("no output line from the simulator")
        check(line is not None, "the simulator ended unexpectedly")
        return line

    def expect(self, pattern):
        line = self.next_line()
        check(re.search(pattern, line), f"expected a line matching {pattern!r}, got {line!r}")
        return line

    def send(self, data):
        os.write(self.fd, data)

    def read(self, count, timeout=BYTES_TIMEOUT):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            check(left > 0, f"expected {count} bytes, got {len(data)}: {data.hex(' ')}")
            if select.select([self.fd], [], [], left)[0]:
                data += os.read(self.fd, count - len(data))
        return data

    def assert_quiet(self):
        # The simulator writes an answer before it logs the request, so after the log line
        # anything it sent is already waiting.
        if select.select([self.fd], [], [], 0)[0]:
            raise Mismatch(f"unexpected bytes: {os.read(self.fd, 256).hex(' ')}")

    def exchange(self, frame, pattern, expected):
        self.send(frame)
        got = self.read(len(expected))
        self.expect(pattern)
        check(got == expected, f"reply to {frame.hex(' ')}:\n  got  {got.hex(' ')}\n"
                               f"  want {expected.hex(' ')}")
        self.assert_quiet()

    def silent(self, frame, pattern):
        self.send(frame)
        self.expect(pattern)
        self.assert_quiet()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.expect(r"^EXIT$")
        check(self.proc.wait(timeout=LINE_TIMEOUT) == 0, "non-zero exit status")


def open_pty_side(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    return fd


def poll_channel(sim, slave, ch):
    """One tank's full poll, as the converter does it."""
    address = as_int(ch["address"])
    regs = channel_image(ch)
    sim.silent(b"\x00", r"^REQ 00 \(zero.*\) -> SILENT$")
    select_frame = request(slave, 0x06, 0, address)
    sim.exchange(select_frame, rf"\(select ch {address}\) -> REPLY 8 bytes$", select_frame)
    sim.exchange(request(slave, 0x04, 0, 3), rf"\(type ch {address}\) -> REPLY 11 bytes$",
                 read_reply(slave, regs, 0, 3))
    for kind, reg, count in TYPE_READS.get(as_int(ch.get("type", 0)), LEVEL_READS):
        sim.exchange(request(slave, 0x04, reg, count),
                     rf"\({kind} ch {address}\) -> REPLY {5 + 2 * count} bytes$",
                     read_reply(slave, regs, reg, count))


def check_answers(sim, scenario):
    slave = as_int(scenario.get("slave", 80))
    channels = scenario.get("channels", [])
    for ch in channels:
        poll_channel(sim, slave, ch)
    present = {as_int(ch["address"]) for ch in channels}
    absent = min(set(range(256)) - present)
    sim.silent(request(slave, 0x06, 0, absent), rf"\(select ch {absent}\) -> SILENT \(no channel")
    sim.silent(request(slave, 0x04, 0, 3), r"\(type\) -> SILENT \(no channel selected\)$")
    sim.silent(request((slave % 255) + 1, 0x04, 0, 3), r"-> SILENT \(slave ")
    return len(channels)


def check_resync(sim, slave, ch):
    address = as_int(ch["address"])
    frame = request(slave, 0x06, 0, address)
    sim.send(b"\xab\xcd" + frame)
    got = sim.read(8)
    sim.expect(r"^JUNK ab cd -> DROPPED$")
    sim.expect(rf"\(select ch {address}\) -> REPLY 8 bytes$")
    check(got == frame, f"echo after junk: {got.hex(' ')}")
    # An unfinished frame is given up after the pause on the line.
    sim.silent(b"\x51\x52\x53", r"^JUNK 51 52 53 -> DROPPED$")


def check_faults(sim, exe_scenario_path, scenario, level, other):
    """Rewrites the scenario with faults, reloads it by SIGUSR1, and checks each fault."""
    slave = as_int(scenario.get("slave", 80))
    faulty = json.loads(json.dumps(scenario))
    faulty["faults"] = [
        {"on": "zero", "fault": "stray", "every": 2, "times": 2, "bytes": ["0x55"]},
        {"on": "select", "fault": "silent", "times": 2},
        {"on": "type", "fault": "exception", "code": "0x84", "times": 1},
        {"on": "main", "fault": "badcrc", "crc": "swap", "times": 1},
        {"on": "main", "fault": "length", "delta": -1, "after": 1, "times": 1},
        {"on": "temp", "fault": "split", "at": 10, "delay_ms": 1200, "times": 1},
    ]
    if other is not None:
        for ch in faulty["channels"]:
            if ch["address"] == other["address"]:
                ch["faults"] = [{"fault": "exception", "code": 2, "times": 1}]
    with open(exe_scenario_path, "w") as f:
        json.dump(faulty, f)
    sim.proc.send_signal(signal.SIGUSR1)
    sim.expect(r"^RELOAD ok: ")

    address = as_int(level["address"])
    regs = channel_image(level)
    # Zero bytes 1 and 3 are hit, 2 and 4 are not.
    for _ in range(2):
        sim.send(b"\x00")
        check(sim.read(1) == b"\x55", "stray byte after the zero byte")
        sim.expect(r"\(zero.*\) -> FAULT stray 1 byte$")
        sim.silent(b"\x00", r"\(zero.*\) -> SILENT$")

    select_frame = request(slave, 0x06, 0, address)
    for _ in range(2):
        sim.silent(select_frame, rf"\(select ch {address}\) -> FAULT silent$")
    sim.exchange(select_frame, r"-> REPLY 8 bytes$", select_frame)

    type_frame = request(slave, 0x04, 0, 3)
    sim.exchange(type_frame, r"\(type .*\) -> FAULT exception 132$",
                 with_crc(bytes([slave, 0x84, 0x84])))
    sim.exchange(type_frame, r"-> REPLY 11 bytes$", read_reply(slave, regs, 0, 3))

    main_frame = request(slave, 0x04, 3, 42)
    good = read_reply(slave, regs, 3, 42)
    swapped = good[:-2] + bytes([good[-1], good[-2]]) if good[-1] != good[-2] else None
    sim.send(main_frame)
    got = sim.read(89)
    sim.expect(r"\(main .*\) -> FAULT badcrc")
    check(got[:-2] == good[:-2] and got[-2:] != good[-2:], "bad CRC reply")
    check(swapped is None or got == swapped, "CRC bytes not swapped")
    short = with_crc(good[:86])
    sim.exchange(main_frame, r"\(main .*\) -> FAULT length 88 bytes$", short)
    sim.exchange(main_frame, r"\(main .*\) -> REPLY 89 bytes$", good)

    temp_frame = request(slave, 0x04, 128, 33)
    sent = time.monotonic()
    sim.send(temp_frame)
    first = sim.read(10)
    sim.expect(r"\(temp .*\) -> FAULT split 10\+61 bytes, rest after 1200 ms$")
    rest = sim.read(61)
    elapsed = time.monotonic() - sent
    check(first + rest == read_reply(slave, regs, 128, 33), "split reply content")
    check(elapsed >= 1.2, f"rest of a split reply came after {elapsed:.3f} s")
    sim.exchange(temp_frame, r"-> REPLY 71 bytes$", read_reply(slave, regs, 128, 33))

    if other is not None:
        other_select = request(slave, 0x06, 0, as_int(other["address"]))
        sim.exchange(other_select, r"-> FAULT exception 2$", with_crc(bytes([slave, 0x86, 2])))
        # The refused select left the level gauge selected.
        sim.exchange(type_frame, rf"\(type ch {address}\) -> REPLY 11 bytes$",
                     read_reply(slave, regs, 0, 3))
        sim.exchange(other_select, r"-> REPLY 8 bytes$", other_select)

    # A scenario that does not load leaves the running one in force.
    with open(exe_scenario_path, "w") as f:
        f.write('{"slave": 80, "channels": [{"address": 1, "main": {"levle": 1}}]}')
    sim.proc.send_signal(signal.SIGUSR1)
    sim.expect(r"^RELOAD failed, scenario kept: .*levle: unknown key$")
    sim.exchange(select_frame, r"-> REPLY 8 bytes$", select_frame)


def check_device_mode(exe, scenario_path, scenario):
    """--device on a pty of our own: libmodbus opens and programs it like a serial port."""
    master, slave_fd = os.openpty()
    path = os.ttyname(slave_fd)
    os.close(slave_fd)
    sim = Sim(exe, ["--device", path, scenario_path])
    try:
        sim.expect(rf"^DEVICE {re.escape(path)}$")
        sim.expect(r"^SCENARIO ")
        sim.fd = master
        slave = as_int(scenario.get("slave", 80))
        ch = scenario["channels"][0]
        frame = request(slave, 0x06, 0, as_int(ch["address"]))
        sim.exchange(frame, r"-> REPLY 8 bytes$", frame)
        sim.exchange(request(slave, 0x04, 0, 3), r"-> REPLY 11 bytes$",
                     read_reply(slave, channel_image(ch), 0, 3))
        sim.stop()
    finally:
        if sim.proc.poll() is None:
            sim.proc.kill()
        os.close(master)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", required=True, help="the gauge-sim executable")
    parser.add_argument("--scenario", required=True, help="a scenario with channels")
    args = parser.parse_args()
    with open(args.scenario) as f:
        scenario = json.load(f)
    levels = [ch for ch in scenario["channels"] if as_int(ch.get("type", 0)) == 0]
    check(levels, "the scenario needs a level gauge")
    others = [ch for ch in scenario["channels"] if ch is not levels[0]]

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        sim = Sim(args.sim, ["--pty", path])
        try:
            first = sim.next_line()
            m = re.fullmatch(r"PTY (/\S+)", first)
            check(m, f"first line {first!r} is not 'PTY <path>'")
            sim.expect(r"^SCENARIO ")
            sim.fd = open_pty_side(m.group(1))
            count = check_answers(sim, scenario)
            check_resync(sim, as_int(scenario.get("slave", 80)), levels[0])
            check_faults(sim, path, scenario, levels[0], others[0] if others else None)
            sim.stop()
        finally:
            if sim.proc.poll() is None:
                sim.proc.kill()
        check_device_mode(args.sim, args.scenario, scenario)
    print(f"gauge-sim smoke: OK ({count} channels polled, faults, reload, resync, device mode)")


if __name__ == "__main__":
    try:
        main()
    except Mismatch as e:
        print(f"gauge-sim smoke: FAILED: {e}", file=sys.stderr)
        sys.exit(1)
