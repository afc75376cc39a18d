#!/usr/bin/env python3
# Fault and soak run of the real converter between the two simulators, on pseudo-terminals
# (docs/performance.md, "Soak and fault run", tells the whole of it).
#
# Phase 1 (--minutes N): gauge-sim serves two level gauges (one with every block), a pressure-
# sensor and a gas-sensor tank; a fifth configured tank is on a channel the gauge does not have.
# Every 3-15 s the scenario gets new values and random faults and is reloaded (SIGUSR1); around
# the middle the gauge is silent for a quarter of the run (at most a minute). The host line is
# driven by host-sim runs one after another, through a relay of ours: --random and --poll in
# turns, and a stretch of --garbage.
# Phase 2: gauge-sim is stopped, its line closed for good: every tank must come to 0x04, 0x10 too,
# a channel without a tank 0xFF, while the CPU stays low.
#
# Fails on: the converter not running at the end of a phase; resident memory grown by 2 MB or
# more from minute 1 to the end of phase 1; CPU of 5 % of one core or more over phase 1 or over
# phase 2's window; a reply host-sim judged malformed; a value the host read that the gauge was
# never given (each value the host reads is looked up among the host integers of every value of
# its quantity and channel in every scenario version, worked out here from the value as a single
# float), or a first status code other than 0 or 1 (the scenarios flag nothing).
#   usage: soak.py --minutes N --converter EXE --gauge-sim EXE --host-sim EXE [--seed S]
import json
import os
import random
import re
import select
import shutil
import signal
import struct
import sys
import tempfile
import termios
import threading
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/harness"))
from plumbing import Child, fields, open_raw  # noqa: E402

MB, CPU_LIMIT, SLAVE, LOCK = 1024 * 1024, 0.05, 80, threading.Lock()
CHANNELS = [1, 2, 3, 4, 9]  # of tanks 1..5: two level gauges, pressure, gas, and one absent
MAIN = {"level": (100, 20000), "mass": (1000, 2000000), "volume": (1000, 900000),
        "density": (0.6, 1.1), "temperature": (-40, 60), "water": (0, 500), "dpf": (0, 10)}
# The host's quantities of the main parameters in the order of 0xD4, with their scenario keys;
# a sensor tank not yet known as one is read as a level gauge, its sensors in these registers.
D4 = {"level": "level", "volume": "volume", "water": "water", "temp": "temperature",
      "density": "density", "mass": "mass"}
SENSOR_REGS = ["level", "mass", "volume", "density", "temp", "water"]
PACKED14 = {0x2: "level", 0x5: "density", 0x8: "volume", 0xB: "mass"}
FAULTS = {"exception": ("code", [1, 2, 4, 0x84, 0x96]), "length": ("delta", [-3, -1, 1, 2]),
          "badcrc": ("crc", ["flip", "swap"]), "split": ("delay_ms", [100, 500, 1200, 2000]),
          "stray": ("bytes", None), "silent": (None, None)}
FAULT_ON = ["select", "type", "main", "temp", "temp2", "coords", "density", "probes", "pressure",
            "gas", "any"]


def log(msg):
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


# The host's reading of a value the gauge sends as a float: tenths of its unit (of g/cm3 / 1000
# for densities), rounded half up; temperatures half away from zero.
def host_integer(quantity, x):
    v = int(struct.unpack("<f", struct.pack("<f", x))[0] * (100000 if quantity == "density" else 100))
    q = abs(v) // 10 * (1 if v >= 0 else -1)
    return q + (v - 10 * q >= 5) - (quantity in ("temp", "tpoint") and v - 10 * q <= -5)


# Writes the scenario versions and keeps every value the gauge was ever given.
class Scenarios:
    def __init__(self, path, rng):
        self.path, self.rng, self.version, self.expected = path, rng, 0, {}

    def expect(self, quantity, channel, *values):
        with LOCK:
            self.expected.setdefault((quantity, channel), set()).update(
                host_integer(quantity, x) for x in values)

    def value(self, lo, hi):
        return round(self.rng.uniform(lo, hi), 2)

    def level(self, address, full):
        main = {k: self.value(*r) for k, r in MAIN.items()}
        main["density"] = round(main["density"], 4)
        for quantity, key in list(D4.items()) + [("pressure", "dpf")]:
            self.expect(quantity, address, main[key])
        points = [self.value(-40, 60) for _ in range(21)] if full else [0.0]
        self.expect("tpoint", address, *points)  # a gauge without points is asked all the same
        ch = {"address": address, "type": 0, "config": "0x0005", "main": main}
        if full:
            ch["temperature"] = {"header": [0, 0, "0x1500"], "points": [
                {"value": t, "height": 250 * (k + 1)} for k, t in enumerate(points)]}
            ch["density"] = {"header": [0, 0, "0x8500"], "probes": [
                {"density": round(self.value(0.7, 0.9), 4), "height": 500 * (k + 1),
                 "temp": self.value(-10, 30)} for k in range(5)]}
        return ch

    def sensors(self, address, type_, key, count, hi):
        values = [self.value(0, hi) for _ in range(count)]
        self.expect(key, address, *values)
        for quantity, x in zip(SENSOR_REGS, values + [0] * 6):
            self.expect(quantity, address, x)
        self.expect("pressure", address, 0)  # Dpf
        self.expect("tpoint", address, 0)
        return {"address": address, "type": type_, key: values}

    def fault(self):
        r = self.rng
        kind = r.choice(list(FAULTS))
        key, choices = FAULTS[kind]
        fault = {"fault": kind, "after": r.randint(0, 6), "on": r.choice(FAULT_ON),
                 "times": "always" if r.random() < 0.1 else r.randint(1, 6)}
        if key:
            fault[key] = r.choice(choices) if choices else [r.randint(0, 255) for _ in range(r.randint(1, 4))]
        return fault

    def write(self, silent=False):
        self.version += 1
        channels = [self.level(1, True), self.level(2, False),
                    self.sensors(3, 1, "pressure", 9, 10), self.sensors(4, 2, "gas", 5, 100)]
        for ch in channels:
            if self.rng.random() < 0.3 and not silent:
                ch["faults"] = [self.fault()]
        faults = [self.fault() for _ in range(self.rng.randint(0, 2))]
        with open(self.path + ".tmp", "w") as f:
            json.dump({"slave": SLAVE, "channels": channels,
                       "faults": [{"on": "any", "fault": "silent"}] if silent else faults}, f)
        os.replace(self.path + ".tmp", self.path)  # gauge-sim never reads half a file


# The converter's host line is a pty of ours; each host-sim run gets a pty of its own, and this
# copies the bytes between the two while that run lasts.
class Relay(threading.Thread):
    def __init__(self):
        super().__init__(daemon=True)
        self.master, slave = os.openpty()
        self.path, self.peer = os.ttyname(slave), None
        tty.setraw(slave)
        attrs = termios.tcgetattr(slave)
        attrs[4] = attrs[5] = termios.B19200  # the converter's 9600 8E2 must change something
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        self.start()

    def run(self):
        while True:
            peer = self.peer
            try:
                for fd in select.select([self.master] + ([peer] if peer else []), [], [], 0.2)[0]:
                    data = os.read(fd, 4096)
                    if fd == peer and not data:
                        raise OSError("end of the line")
                    if peer:
                        os.write(self.master if fd == peer else peer, data)
            except OSError:  # host-sim has gone: leave its line alone until the next run
                self.peer = None if self.peer == peer else self.peer

    def host_sim(self, host_sim, argv, out, on_line=None):
        run = Child([host_sim, "--pty", "--timeout", "1500", "--machine"] + argv, log=out,
                    on_line=on_line)
        run.fd = self.peer = open_raw(run.announced())
        return run

    def end(self, run, sig=None, timeout=60):
        run.stop(sig) if sig else run.finish(timeout)
        self.peer = None
        os.close(run.fd)
        # An answer to this run's last request may still be on its way; it must not reach the
        # next run, which would take it for the answer to its own first request.
        time.sleep(0.6)
        return run


class Converter(Child):
    def __init__(self, binary, workdir, gauge_path, host_path, out):
        os.makedirs(workdir)
        exe = shutil.copy2(binary, os.path.join(workdir, "modbusvelt"))
        tanks = "".join(f"{n}={ch}\n" for n, ch in enumerate(CHANNELS, 1))
        with open(os.path.join(workdir, "Nastroika.ini"), "w", encoding="utf-8") as f:
            f.write(f"[Резервуар]\n{tanks}[SLAVE]\nАдрес={SLAVE}\n[Флаг]\nПротокол=1\n"
                    f"[MODBUS]\nCom-порт={gauge_path}\nСуществует=1\n"
                    f"[VELT]\nCom-порт={host_path}\nСуществует=1\n"
                    "[Пароль]\nдоступа=731904\nоператора=731904\n")
        super().__init__([exe], log=out, cwd=workdir,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.start = time.time()

    def alive(self, phase):
        if self.proc.poll() is not None:
            raise RuntimeError(f"converter exited during {phase} (status {self.proc.returncode})")

    def cpu(self):  # utime + stime, in seconds
        with open(f"/proc/{self.proc.pid}/stat") as f:
            stat = f.read().rsplit(")", 1)[1].split()
        return (int(stat[11]) + int(stat[12])) / os.sysconf("SC_CLK_TCK")

    def rss(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1)) * 1024


# Reads host-sim's lines: the replies it judged, the malformed ones, and every value it read
# against the values the gauge was given.
class Checker:
    def __init__(self, scenarios):
        self.sc, self.violations, self.malformed = scenarios, [], []
        self.checked = self.skipped = self.judged = 0

    def compare(self, quantity, channel, value, st1, where, cap=1 << 40):
        with LOCK:
            if st1 == 1:  # no value behind the group
                self.skipped += 1
                return
            expected = {min(v, cap) for (q, c), vs in self.sc.expected.items() for v in vs
                        if q == quantity and channel in (None, c)}
            self.checked += 1
            if st1 != 0 or value not in expected:
                self.violations.append(f"{where}: {quantity} {value} (first status {st1:#x}) on "
                                       f"channel {channel} was never delivered by the gauge")

    def on_poll(self, line):
        f = fields(line)
        if line.startswith("REPLY") and f.get("verdict") == "bad":
            self.malformed.append(line)
        pattern = {"d4": "|".join(D4), "d6": r"t(\d|1\d|2[01])", "d7": r"p\d", "db": r"gas\d"}
        if line.startswith("VAL") and re.fullmatch(pattern.get(f["cmd"], "-"), f["name"]):
            quantity = {"d6": "tpoint", "d7": "pressure", "db": "gas"}.get(f["cmd"], f["name"])
            self.compare(quantity, int(f["ch"]), int(f["value"]), int(f["st1"], 16), "poll")

    def on_random(self, line):
        f = fields(line)
        if not line.startswith("EXCH") or f.get("verdict") not in ("ok", "bad", "noreply"):
            return
        self.judged += 1
        if f["verdict"] == "bad":
            self.malformed.append(line)
        rx = bytes.fromhex(f["rx"]) if f.get("rx", "-") != "-" else b""
        if f["verdict"] != "ok" or len(f.get("tx", "")) != 2 or not rx or rx[0] != 0:
            return
        cmd = int(f["tx"], 16)
        if cmd == 0xD4 and len(rx) == 56:  # channel unknown after bursts: any channel's value
            for g, quantity in enumerate(D4):
                value = struct.unpack_from("<i", rx, 3 + 6 * g)[0]
                self.compare(quantity, None, value, rx[1 + 6 * g], "random d4")
        elif cmd >> 4 in PACKED14 and len(rx) == 5:  # 20 bits of whole units and a tenths digit
            whole = rx[1] | rx[2] << 8 | (rx[3] >> 4) << 16
            self.compare(PACKED14[cmd >> 4], cmd & 0xF, whole * 10 + (rx[3] & 0x0F), 0,
                         f"random {cmd:02x}", cap=0xFFFFF * 10 + 9)


def phase1(opts, total, rng, scenarios, checker, relay, gauge, conv, out):
    # The gauge silent for a quarter around the middle, then garbage on the host line for an
    # eighth; otherwise host-sim runs of `chunk` seconds, --random and --poll in turns.
    silence = (total / 2 - min(30.0, total / 8), total / 2 + min(30.0, total / 8))
    garbage = (silence[1] + min(30.0, total / 16), silence[1] + min(30.0, total / 16) +
               min(60.0, total / 8))
    chunk = max(15.0, min(60.0, total / 8))
    rss_minute, host, host_until, next_reload, silent_now = None, None, 0.0, 5.0, False
    while (t := time.time() - conv.start) < total:
        conv.alive("phase 1")
        rss_minute = rss_minute or (conv.rss() if t >= 60 else None)
        in_silence = silence[0] <= t < silence[1]
        if in_silence != silent_now or (not in_silence and t >= next_reload):
            scenarios.write(silent=in_silence)
            gauge.proc.send_signal(signal.SIGUSR1)
            if in_silence != silent_now:
                log(f"gauge {'silent' if in_silence else 'answering again'} at {t:.0f} s")
            silent_now, next_reload = in_silence, t + rng.uniform(3, 15)
        if t >= host_until:
            if host:
                relay.end(host, signal.SIGINT)
            end = garbage[0] if t < garbage[0] else total
            if garbage[0] <= t < garbage[1]:
                end, argv, on_line = garbage[1], ["--garbage"], checker.on_random
            elif int(t // chunk) % 2 == 0:
                argv, on_line = ["--random", "--seed", str(rng.randint(0, 2**31))], checker.on_random
            else:
                argv, on_line = ["--poll"], checker.on_poll
            secs = max(1, round(min(chunk, end - t)))
            host = relay.host_sim(opts["--host-sim"], argv + ["--seconds", str(secs)], out, on_line)
            host_until = t + secs
        time.sleep(0.5)
    relay.end(host, signal.SIGINT)
    conv.alive("phase 1")
    wall, cpu, rss = time.time() - conv.start, conv.cpu(), conv.rss()
    rss_minute = rss_minute or rss
    log(f"phase 1: {wall:.0f} s, CPU {100 * cpu / wall:.2f} % of one core, RSS "
        f"{rss_minute / MB:.2f} MB at 1 min, {rss / MB:.2f} MB at the end")
    return [f"phase 1 CPU {100 * cpu / wall:.2f} % >= 5 %"] * (cpu / wall >= CPU_LIMIT) + [
        f"RSS grew by {(rss - rss_minute) / MB:.2f} MB after minute 1"] * (rss - rss_minute >= 2 * MB)


# Every tank's main parameters, the gauge link check and a channel without a tank, then the
# host asking at random while the CPU is measured.
def phase2(opts, total, checker, relay, gauge, link, conv, out):
    log("phase 2: gauge line closed")
    gauge.stop()
    if os.path.lexists(link):  # gone as an unplugged adapter's name, even after a SIGKILL
        os.unlink(link)
    failures, statuses, deadline = [], [], time.time() + 180
    probe = [c for ch in CHANNELS for c in (f"c{ch:x}", "d4")] + ["10", "c7", "d4"]
    while statuses != [("d4", "4")] * 5 + [("10", "4"), ("d4", "ff")]:
        conv.alive("phase 2")
        if time.time() > deadline:
            failures.append(f"phase 2: not 0x04 for every tank (statuses {statuses})")
            break
        run = relay.end(relay.host_sim(opts["--host-sim"], probe, out))
        replies = [fields(line) for line in run.seen if line.startswith("REPLY")]
        statuses = [(r["cmd"], r["status"]) for r in replies if r["cmd"] in ("d4", "10")]
    window = min(300.0, max(30.0, total / 8))
    cpu, t = conv.cpu(), time.time()
    relay.end(relay.host_sim(opts["--host-sim"], ["--random", "--seconds", str(int(window))],
                             out, checker.on_random), timeout=window + 60)
    conv.alive("phase 2")
    cpu = (conv.cpu() - cpu) / (time.time() - t)
    log(f"phase 2: CPU {100 * cpu:.2f} % of one core over {window:.0f} s")
    return failures + [f"phase 2 CPU {100 * cpu:.2f} % >= 5 %"] * (cpu >= CPU_LIMIT)


def main(opts):
    seed, total = int(opts.get("--seed", time.time())), float(opts["--minutes"]) * 60
    rng, work = random.Random(seed), tempfile.mkdtemp(prefix="conv-soak-")
    out = open(os.path.join(work, "children.log"), "w")
    log(f"soak: {total / 60} min, seed {seed}, files in {work}")
    scenarios = Scenarios(os.path.join(work, "scenario.json"), rng)
    scenarios.write()
    checker, relay = Checker(scenarios), Relay()
    # The converter reaches the gauge through a link, as a site reaches an adapter by its stable
    # name: when the gauge goes, the link goes, and the pseudo-terminal number it freed (soon
    # another host-sim run's) is not the gauge line any more for a converter that opens it again.
    link = os.path.join(work, "gauge")
    gauge = Child([opts["--gauge-sim"], "--pty", "--link", link, "--quiet", scenarios.path],
                  log=out)
    gauge.announced()
    conv = Converter(opts["--converter"], os.path.join(work, "converter"), link, relay.path, out)
    try:
        failures = phase1(opts, total, rng, scenarios, checker, relay, gauge, conv, out)
        failures += phase2(opts, total, checker, relay, gauge, link, conv, out)
    except RuntimeError as e:
        failures = [str(e)]
    finally:
        conv.stop()
        gauge.stop()
    failures += [f"no {what}" for what, n in (("value compared", checker.checked),
                                              ("host reply judged", checker.judged)) if n == 0]
    failures += ["malformed: " + line for line in checker.malformed[:10]]
    failures += ["value: " + v for v in checker.violations[:20]]
    print(f"soak: {scenarios.version} scenario versions, {len(checker.violations)} value "
          f"violations, {len(checker.malformed)} malformed\n"
          f"soak: {checker.checked + checker.judged} checks ({checker.checked} values compared, "
          f"{checker.skipped} absent groups skipped, {checker.judged} host replies judged)")
    if failures:
        print("FAILED:\n  " + "\n  ".join(failures) + f"\n(seed {seed}; logs in {work})")
        return 1
    print(f"soak: passed (seed {seed})")
    return 0


if __name__ == "__main__":
    sys.exit(main(dict(zip(sys.argv[1::2], sys.argv[2::2]))))
