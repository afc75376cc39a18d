#!/usr/bin/env python3
# gauge-sim on its own, over a pseudo-terminal, for what the whole-road runs never make it do
# (they meet every fault kind through the converter): faults loaded by a reload and where they
# stop, a refused select, a reload that fails, junk before a request, a clean exit on SIGTERM.
#   usage: smoke.py --sim PATH/gauge-sim --scenario scenarios/e2e.json
import json
import os
import signal
import sys
import tempfile

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

    # Sends `frame`: `reply` must come back, then the line `outcome`, and nothing more; a reply
    # of `length` when `reply` is None. Returns it.
    def ask(self, frame, reply, outcome=r"^(REQ|JUNK) ", length=0):
        os.write(self.fd, frame)
        got = read_bytes(self.fd, length or len(reply))
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


# Faults loaded by SIGUSR1; where a fault stops ("after", "times", "every") is counted alike for
# every kind, and shown on the zero bytes and the select.
def faults(gauge, scenario, address, other):
    slave, select, kind = gauge.slave, gauge.request(6, 0, address), gauge.request(4, 0, 3)
    gauge.ask(select, select)
    good_kind = gauge.ask(kind, None, length=11)
    check(crc(good_kind[:-2]) == good_kind, f"type: {good_kind.hex(' ')}")
    gauge.reload(dict(scenario, faults=[
        {"on": "zero", "fault": "stray", "every": 2, "times": 2, "bytes": ["0x55"]},
        {"on": "select", "fault": "silent", "after": 1, "times": 2}], channels=[
        dict(ch, faults=[{"fault": "exception", "code": 2, "times": 1}])
        if ch["address"] == other else ch for ch in scenario["channels"]]), r"^RELOAD ok: ")
    for _ in range(2):  # zero bytes 1 and 3 are hit, 2 and 4 are not
        gauge.ask(b"\0", b"\x55", r"\(zero.*\) -> FAULT stray 1 byte$")
        gauge.ask(b"\0", b"", r"\(zero.*\) -> SILENT$")
    for reply in (select, b"", b"", select):
        gauge.ask(select, reply)
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
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        gauge = Gauge([opts["--sim"], "--pty", path], slave)
        try:
            select = gauge.request(6, 0, addresses[0])
            gauge.ask(b"\xab\xcd" + select, select, r"\(select ch \d+\) -> REPLY 8 bytes$")
            # An unfinished request is given up after the pause on the line.
            gauge.ask(b"\x51\x52\x53", b"", r"^JUNK 51 52 53 -> DROPPED$")
            faults(gauge, scenario, addresses[0], addresses[1])
            gauge.stop()
        finally:
            gauge.sim.stop()
    print("gauge-sim smoke: OK (faults, reload, resync)")


if __name__ == "__main__":
    try:
        main(dict(zip(sys.argv[1::2], sys.argv[2::2])))
    except AssertionError as e:
        print(f"gauge-sim smoke: FAILED: {e}", file=sys.stderr)
        sys.exit(1)
