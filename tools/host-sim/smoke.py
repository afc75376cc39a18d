#!/usr/bin/env python3
# host-sim end to end over a pseudo-terminal, against a scripted converter that looks at the line
# once per 55 ms tick as the real one does: a lone command byte gets a fixed answer, a tick with
# several bytes 0xC0. It serves a level gauge on channel 5, pressure sensors on 7 and gas sensors
# on 9. What host-sim reads out of a reply is host_sim_tests.cpp's part, the --stdin requests the
# whole-road runs'; this checks the modes they never use: one request per tick, the plans as sent,
# the skips after a select not taken and the exit statuses.
#   usage: smoke.py PATH/host-sim
import os
import re
import sys
import threading
from functools import reduce
from operator import xor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/harness"))
from plumbing import Child, open_raw  # noqa: E402


def sealed(hex_text):
    body = bytes.fromhex(hex_text)
    return body + bytes([reduce(xor, body, 0)])


# The configuration tables and a level; two selects are not taken, so that the requests under
# them are skipped.
ANSWERS = {0x14: b"\x00\xe0", 0xD4: sealed("00 00003a300000" + "00" * 48),
           0xDD: sealed("00 0000000000 80 00 81 00 82 000000000000"),
           0x11: sealed("00 0000000000 c0 00000000000000000000"), 0xA4: b"\xfe", 0xC7: b"\xfe"}


def answer(cmd):
    high = cmd >> 4
    if cmd in ANSWERS:
        return ANSWERS[cmd]
    if high in (0xA, 0xC):
        return b"\x00"
    if high == 0xD:  # not served, or no tank
        return b"\x0c" if cmd in (0xD0, 0xD1, 0xD9, 0xDA) else b"\xff"
    return b"\x06" if high in (0x2, 0x3, 0x4, 0x5, 0x6, 0x8, 0xB) else b"\xc0"


# The scripted converter; the commands in `wrong` get their answer with a byte too many. It notes
# each command it was asked, and -N for a tick that brought N bytes.
class Converter(threading.Thread):
    def __init__(self, path, wrong=()):
        super().__init__(daemon=True)
        self.fd, self.asked, self.done, self.wrong = open_raw(path), [], threading.Event(), wrong
        self.start()

    def run(self):
        while not self.done.wait(0.055):
            try:
                data = os.read(self.fd, 1024)
                if not data:  # host-sim has gone
                    return
                self.asked += [data[0]] if len(data) == 1 else [-len(data)]
                os.write(self.fd, b"\xc0" if len(data) > 1 else
                         answer(data[0]) + (b"\x00" if data[0] in self.wrong else b""))
            except BlockingIOError:
                continue
            except OSError:  # host-sim has gone
                return

    def close(self):
        self.done.set()
        self.join()
        os.close(self.fd)


POLL20 = "dd c5 d2 d4 d7 d8 a0 d5 d6 d3 a1 d5 d6 d3 a2 d5 d6 d3 a3 d5 a4 c7 c9 d2 db de df"
# (arguments, exit status, the requests the converter saw or None, patterns some line matches).
RUNS = [
    (["c5", "d4"], 0, "c5 d4", [r"\| ok: level 1234\.6 mm, volume 0\.0 l, "]),
    (["--machine", "14"], 1, None, [r"^REPLY .*cmd=14 .*verdict=bad .*problems=extra"]),
    (["--poll", "--once", "--machine"], 0, POLL20,
     [r"^PASS n=1 complete=1 channels=5,7,9 .*malformed=0 stray=0$"]),
    (["--v14", "--once", "--machine"], 0, "11 25 35 45 55 65 85 b5",
     [r"^REPLY .*cmd=b5 status=6 .*=ok"]),
]


def main(host_sim):
    failures = []
    for args, status, asked, patterns in RUNS:
        sim = Child([host_sim, "--pty"] + args)
        converter = Converter(sim.announced(), wrong={0x14} if status else ())
        failures += [f"{args}: exit status {sim.proc.returncode}"] * (sim.finish() != status)
        converter.close()
        said = " ".join(f"{b:02x}" for b in converter.asked)
        failures += [f"{args}: asked {said}"] * (asked not in (None, said))
        failures += [f"{args}: no line /{p}/" for p in patterns
                     if not any(re.search(p, line) for line in sim.seen)]

    for f in failures:
        print("FAIL " + f)
    print(f"smoke: {len(RUNS)} runs, {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
