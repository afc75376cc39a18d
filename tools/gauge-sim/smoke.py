#!/usr/bin/env python3
# gauge-sim on its own, over a pseudo-terminal, for what the whole-road runs never make it do
# (they meet every fault kind through the converter): faults loaded by a reload and where they
# stop, a refused select, junk before a request, a clean exit on SIGTERM.
#   usage: smoke.py --sim PATH/gauge-sim --scenario scenarios/e2e.json
import json
import os
import pathlib
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


def main(opts):
    with open(opts["--scenario"]) as f:
        scenario = json.load(f)
    slave, (address, other) = scenario["slave"], [ch["address"] for ch in scenario["channels"][:2]]

    def request(function, reg, word):
        return crc([slave, function, reg >> 8, reg & 0xFF, word >> 8, word & 0xFF])

    # Sends `frame`: `reply` must come back, then the line `outcome`, and nothing more; a reply
    # of `length` when `reply` is None. Returns it.
    def ask(frame, reply, outcome=r"^(REQ|JUNK) ", length=0):
        os.write(fd, frame)
        got = read_bytes(fd, length or len(reply))
        reply = got if reply is None else reply
        check(got == reply, f"{frame.hex(' ')}:\n got  {got.hex(' ')}\n want {reply.hex(' ')}")
        check(sim.wait_for(outcome, 10), f"{frame.hex(' ')}: no line /{outcome}/")
        # A request's line comes after its answer: by now nothing more may be on its way.
        check(not read_bytes(fd, 1, 0), f"bytes after the reply to {frame.hex(' ')}")
        return got

    select, other_select, kind = request(6, 0, address), request(6, 0, other), request(4, 0, 3)
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp, "scenario.json")
        path.write_text(json.dumps(scenario))
        sim = Child([opts["--sim"], "--pty", path])
        fd = open_raw(sim.announced())
        try:
            ask(b"\xab\xcd" + select, select, r"\(select ch \d+\) -> REPLY 8 bytes$")
            # An unfinished request is given up after the pause on the line.
            ask(b"\x51\x52\x53", b"", r"^JUNK 51 52 53 -> DROPPED$")
            good_kind = ask(kind, None, length=11)
            # Faults loaded by SIGUSR1; where a fault stops ("after", "times", "every") is counted
            # alike for every kind, and shown on the zero bytes and the select.
            path.write_text(json.dumps(dict(scenario, faults=[
                {"on": "zero", "fault": "stray", "every": 2, "times": 2, "bytes": ["0x55"]},
                {"on": "select", "fault": "silent", "after": 1, "times": 2}], channels=[
                dict(ch, faults=[{"fault": "exception", "code": 2, "times": 1}])
                if ch["address"] == other else ch for ch in scenario["channels"]])))
            sim.proc.send_signal(signal.SIGUSR1)
            check(sim.wait_for(r"^RELOAD ok: ", 10), "no RELOAD ok after SIGUSR1")
            for _ in range(2):  # zero bytes 1 and 3 are hit, 2 and 4 are not
                ask(b"\0", b"\x55", r"\(zero.*\) -> FAULT stray 1 byte$")
                ask(b"\0", b"", r"\(zero.*\) -> SILENT$")
            for reply in (select, b"", b"", select):
                ask(select, reply)
            ask(other_select, crc([slave, 0x86, 2]))
            ask(kind, good_kind)  # the refused select left the level gauge selected
            ask(other_select, other_select)
            check(sim.stop() == 0 and "EXIT" in sim.seen, "exit status or EXIT line after SIGTERM")
        finally:
            sim.stop()
    print("gauge-sim smoke: OK (faults, reload, resync)")


if __name__ == "__main__":
    try:
        main(dict(zip(sys.argv[1::2], sys.argv[2::2])))
    except AssertionError as e:
        print(f"gauge-sim smoke: FAILED: {e}", file=sys.stderr)
        sys.exit(1)
