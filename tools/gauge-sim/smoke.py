#!/usr/bin/env python3
# gauge-sim on its own, over a pseudo-terminal, for what the whole-road runs never make it do:
# every fault kind and where it stops, loaded by a reload; a reload that fails; the requests it
# must leave unanswered; junk before a request; a clean exit on SIGTERM.
# Each fault is judged against the simulator's own good reply to the same request.
#   usage: smoke.py --sim PATH/gauge-sim --scenario scenarios/e2e.json
import json
import os
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/harness"))
from plumbing import Child, open_raw, read_bytes  # noqa: E402


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


# gauge-sim and our end of its line.
class Gauge:
    def __init__(self, args, slave):
        self.sim, self.slave = Child(args), slave
        self.fd = open_raw(self.sim.announced())

    def request(self, function, reg, word):
        return crc([self.slave, function, reg >> 8, reg & 0xFF, word >> 8, word & 0xFF])

    # Sends `frame`: `reply` must come back (not before `at_least` seconds), then the line
    # `outcome`, and nothing more; a reply of `length` when `reply` is None. Returns it.
    def ask(self, frame, reply, outcome=r"^(REQ|JUNK) ", at_least=0.0, length=0):
        sent = time.monotonic()
        os.write(self.fd, frame)
        got = read_bytes(self.fd, length or len(reply))
        check(time.monotonic() - sent >= at_least, f"{frame.hex(' ')} answered too early")
        reply = got if reply is None else reply
        check(got == reply, f"{frame.hex(' ')}:\n got  {got.hex(' ')}\n want {reply.hex(' ')}")
        check(self.sim.wait_for(outcome, 10), f"{frame.hex(' ')}: no line /{outcome}/")
        # A request's line comes after its answer: by now nothing more may be on its way.
        check(not read_bytes(self.fd, 1, 0), f"bytes after the reply to {frame.hex(' ')}")
        return got

    def reload(self, scenario, outcome):
        with open(self.sim.proc.args[-1], "w") as f:
            f.write(scenario if isinstance(scenario, str) else json.dumps(scenario))
        self.sim.proc.send_signal(signal.SIGUSR1)
        check(self.sim.wait_for(outcome, 10), f"no line /{outcome}/ after SIGUSR1")

    def stop(self):
        check(self.sim.stop() == 0, "exit status after SIGTERM")
        check("EXIT" in self.sim.seen, "no EXIT line")


# Every fault kind, loaded by SIGUSR1; where a fault stops ("after", "times", "every") is counted
# alike for every kind, and shown on the zero bytes, the select and main.
def faults(gauge, scenario, address, other):
    slave, select = gauge.slave, gauge.request(6, 0, address)
    kind, main, temp = gauge.request(4, 0, 3), gauge.request(4, 3, 42), gauge.request(4, 128, 33)
    gauge.ask(select, select)
    good_kind, good_main, good_temp = (gauge.ask(r, None, length=5 + 2 * n)
                                       for r, n in ((kind, 3), (main, 42), (temp, 33)))
    check(crc(good_main[:-2]) == good_main, f"main: {good_main.hex(' ')}")
    gauge.reload(dict(scenario, faults=[
        {"on": "zero", "fault": "stray", "every": 2, "times": 2, "bytes": ["0x55"]},
        {"on": "select", "fault": "silent", "times": 2},
        {"on": "type", "fault": "exception", "code": "0x84", "times": 1},
        {"on": "main", "fault": "badcrc", "crc": "swap", "times": 1},
        {"on": "main", "fault": "length", "delta": -1, "after": 1, "times": 1},
        {"on": "temp", "fault": "split", "at": 10, "delay_ms": 1200, "times": 1}], channels=[
        dict(ch, faults=[{"fault": "exception", "code": 2, "times": 1}])
        if ch["address"] == other else ch for ch in scenario["channels"]]), r"^RELOAD ok: ")
    for _ in range(2):  # zero bytes 1 and 3 are hit, 2 and 4 are not
        gauge.ask(b"\0", b"\x55", r"\(zero.*\) -> FAULT stray 1 byte$")
        gauge.ask(b"\0", b"", r"\(zero.*\) -> SILENT$")
    for _ in range(2):
        gauge.ask(select, b"", r"-> FAULT silent$")
    gauge.ask(select, select)
    gauge.ask(kind, crc([slave, 0x84, 0x84]))
    gauge.ask(main, good_main[:-2] + good_main[:-3:-1])
    gauge.ask(main, crc(good_main[:86]))
    gauge.ask(main, good_main)
    gauge.ask(temp, good_temp, r"FAULT split 10\+61 bytes, rest after 1200 ms$", at_least=1.2)
    other_select = gauge.request(6, 0, other)
    gauge.ask(other_select, crc([slave, 0x86, 2]))
    gauge.ask(kind, good_kind)  # the refused select left the level gauge selected
    gauge.ask(other_select, other_select)
    # A scenario that does not load leaves the running one in force.
    gauge.reload('{"slave": 80, "channels": [{"address": 1, "main": {"levle": 1}}]}',
                 r"^RELOAD failed, scenario kept: .*levle: unknown key$")
    gauge.ask(select, select)


def main(opts):
    with open(opts["--scenario"]) as f:
        scenario = json.load(f)
    slave, addresses = scenario["slave"], [ch["address"] for ch in scenario["channels"]]
    absent = min(set(range(256)) - set(addresses))
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        gauge = Gauge([opts["--sim"], "--pty", path], slave)
        try:
            select = gauge.request(6, 0, addresses[0])
            gauge.ask(gauge.request(4, 0, 3), b"", r"\(type\) -> SILENT \(no channel selected\)$")
            gauge.ask(gauge.request(6, 0, absent), b"", rf"\(select ch {absent}\) -> SILENT \(no")
            gauge.ask(crc([slave % 255 + 1, 4, 0, 0, 0, 3]), b"", r"-> SILENT \(slave ")
            gauge.ask(b"\xab\xcd" + select, select, r"\(select ch \d+\) -> REPLY 8 bytes$")
            # An unfinished request is given up after the pause on the line.
            gauge.ask(b"\x51\x52\x53", b"", r"^JUNK 51 52 53 -> DROPPED$")
            faults(gauge, scenario, addresses[0], addresses[1])
            gauge.stop()
        finally:
            gauge.sim.stop()
    print("gauge-sim smoke: OK (faults, reload, silences, resync)")


if __name__ == "__main__":
    try:
        main(dict(zip(sys.argv[1::2], sys.argv[2::2])))
    except AssertionError as e:
        print(f"gauge-sim smoke: FAILED: {e}", file=sys.stderr)
        sys.exit(1)
