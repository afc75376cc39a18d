#!/usr/bin/env python3
"""Fault and soak run of the real converter between the two simulators, on pseudo-terminals.

Phase 1 (the soak, --minutes N):
  * gauge-sim serves five channels (two level gauges, one of them with every block filled, a
    pressure-sensor tank, a gas-sensor tank; a sixth configured tank is on a channel the gauge
    system does not have). Every few seconds the scenario file is rewritten with new values and a
    random set of faults (silence, exceptions, wrong lengths, bad CRCs, split replies, stray
    bytes) and gauge-sim is told to reload it (SIGUSR1).
  * From a quarter-length window around the middle (at most one minute) the gauge answers
    nothing at all, then it answers again.
  * The host line is driven by host-sim, through a relay of ours so that host-sim runs can follow
    one another on the one line the converter opened: random requests, bursts of several bytes
    in one tick, close pairs and garbage (--random), a stretch of garbage only (--garbage), and
    2.0 polls (--poll --machine) that read every value.
Phase 2 (the dead gauge line): gauge-sim is stopped, which closes its pseudo-terminal for good.
  The converter must keep answering the host: every configured tank with 0x04 once its retries
  are spent, 0x10 with 0x04, a channel without a tank with 0xFF; and it must not spin the CPU.

Checks (any failure makes the exit status non-zero):
  * the converter is running at the end of each phase;
  * resident memory (VmRSS) at the end of phase 1 exceeds the one sampled at minute 1 by less
    than 2 MB;
  * CPU (utime + stime from /proc/PID/stat) over wall time stays under 5 % of one core, over the
    whole of phase 1 and over the measuring window of phase 2;
  * no reply that host-sim judged malformed;
  * values: every value the host read is compared with the values the gauge was given. For each
    channel and each quantity family, the set of expected host integers is computed from every
    scenario version ever loaded, the way the host encodes them (float32 first, then rounded
    tenths with factor 100 for level, volume, water, mass, pressures and gas values, factor
    100000 for densities, tenths rounded half away from zero for temperatures). Compared:
      - from the 2.0 polls (channel known): main parameters of 0xD4 (level, volume, water, temp,
        density, mass), temperature points t1..t21 of 0xD6 (against all points of the channel),
        pressures of 0xD7 (p1..p9; Dpf for a level gauge), gas values of 0xDB (gas1..gas5);
      - from --random's lone requests answered 0x00: 0xD4 (channel unknown after bursts, so
        against the union over all channels) and the 1.4 packed values 0x2n, 0x5n, 0x8n, 0xBn
        (channel n: whole units and a tenths digit give the same tenths; the 20 bits of whole
        units hold at most 1048575.9, and a larger value must arrive as exactly that).
    A level gauge without temperature points in its scenario is still asked for them; its points
    are expected as the zeros the gauge sends. A sensor tank whose type reply has not got through
    yet is polled as a level gauge, and its sensors are expected where the main parameters stand.
    Groups whose first status is 1 (no value behind the group) are skipped; any other non-zero
    first status is a violation, since the scenarios never flag a value. Not compared: heights,
    probe values, configuration bytes, 1.4 temperatures, the half-degree bytes.
"""
import argparse
import json
import os
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

MB = 1024 * 1024
RSS_GROWTH_LIMIT = 2 * MB
CPU_LIMIT = 0.05
CLK_TCK = os.sysconf("SC_CLK_TCK")
SLAVE = 80
QUIET_BETWEEN_RUNS = 0.6  # s: more than ten host ticks

# Channels of the gauge system and the tanks configured on them in the converter.
LEVEL_FULL, LEVEL_MAIN, PRESSURE, GAS, ABSENT = 1, 2, 3, 4, 9
TANKS = {1: LEVEL_FULL, 2: LEVEL_MAIN, 3: PRESSURE, 4: GAS, 5: ABSENT}
KINDS = ["select", "type", "main", "temp", "temp2", "coords", "density", "probes", "pressure",
         "gas", None]


def log(msg):
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


# ---- host encodings (the host's reading of the values, not the converter's code) ----

def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def rounded_tenths(x, k):
    v = int(f32(x) * k)  # exact in double, truncated toward zero
    q = trunc_div(v, 10)
    if v - 10 * q >= 5:
        q += 1
    return q


def to_tenths(x):
    v = int(f32(x) * 100)
    q = trunc_div(v, 10)
    r = v - 10 * q
    if r >= 5:
        q += 1
    if r <= -5:
        q -= 1
    return q


# ---- scenarios ----

class Scenarios:
    """Writes scenario versions and remembers every value the gauge was ever given."""

    def __init__(self, path, rng):
        self.path = path
        self.rng = rng
        self.version = 0
        self.expected = {}  # (family, channel) -> set of host integers

    def expect(self, family, channel, value):
        self.expected.setdefault((family, channel), set()).add(value)

    def union(self, family):
        out = set()
        for (fam, _), values in self.expected.items():
            if fam == family:
                out |= values
        return out

    def value(self, lo, hi):
        return round(self.rng.uniform(lo, hi), 2)

    def level_channel(self, address, full):
        main = {k: self.value(*r) for k, r in (
            ("level", (100, 20000)), ("mass", (1000, 2000000)), ("volume", (1000, 900000)),
            ("density", (0.6, 1.1)), ("temperature", (-40, 60)), ("water", (0, 500)),
            ("dpf", (0, 10)))}
        main["density"] = round(main["density"], 4)
        main["software"] = "SOAK"
        for fam, key in (("level", "level"), ("volume", "volume"), ("water", "water"),
                         ("mass", "mass")):
            self.expect(fam, address, rounded_tenths(main[key], 100))
        self.expect("density", address, rounded_tenths(main["density"], 100000))
        self.expect("temp", address, to_tenths(main["temperature"]))
        self.expect("pressure", address, rounded_tenths(main["dpf"], 100))
        ch = {"address": address, "type": 0, "config": "0x0005", "main": main}
        if full:
            points = []
            for k in range(21):
                t = self.value(-40, 60)
                self.expect("tpoint", address, to_tenths(t))
                points.append({"value": t, "height": 250 * (k + 1)})
            ch["temperature"] = {"header": [0, 0, "0x1500"], "points": points}
            ch["density"] = {"header": [0, 0, "0x8500"], "probes": [
                {"density": round(self.value(0.7, 0.9), 4), "height": 500 * (k + 1),
                 "temp": self.value(-10, 30)} for k in range(5)]}
        else:
            self.expect("tpoint", address, 0)  # the points are polled all the same: zeros
        return ch

    def sensor_channel(self, address, type_, key, count, lo, hi):
        values = []
        for _ in range(count):
            x = self.value(lo, hi)
            self.expect(key, address, rounded_tenths(x, 100))
            values.append(x)
        # Until a type reply of this tank gets through, the converter takes it for a level gauge
        # (the type it starts with) and asks for main parameters; the gauge answers that request
        # from the same registers, so the sensors stand where level, mass, volume, density,
        # temperature and water level stand, and everything after them reads as zero.
        regs = values + [0.0] * 6
        for fam, i in (("level", 0), ("mass", 1), ("volume", 2), ("water", 5)):
            self.expect(fam, address, rounded_tenths(regs[i], 100))
        self.expect("density", address, rounded_tenths(regs[3], 100000))
        self.expect("temp", address, to_tenths(regs[4]))
        self.expect("pressure", address, 0)  # Dpf, register 33
        self.expect("tpoint", address, 0)
        return {"address": address, "type": type_, key: values}

    def random_fault(self):
        action = self.rng.choice(["silent", "exception", "length", "badcrc", "split", "stray"])
        f = {"fault": action}
        kind = self.rng.choice(KINDS)
        if kind:
            f["on"] = kind
        f["after"] = self.rng.randint(0, 6)
        f["times"] = "always" if self.rng.random() < 0.1 else self.rng.randint(1, 6)
        if action == "exception":
            f["code"] = self.rng.choice([1, 2, 4, 0x84, 0x96])
        elif action == "length":
            f["delta"] = self.rng.choice([-3, -1, 1, 2])
        elif action == "badcrc":
            f["crc"] = self.rng.choice(["flip", "swap"])
        elif action == "split":
            f["delay_ms"] = self.rng.choice([100, 500, 1200, 2000])
        elif action == "stray":
            f["bytes"] = [self.rng.randint(0, 255) for _ in range(self.rng.randint(1, 4))]
        return f

    def write(self, silent=False):
        """A new version: new values, new faults (or total silence)."""
        self.version += 1
        channels = [
            self.level_channel(LEVEL_FULL, True),
            self.level_channel(LEVEL_MAIN, False),
            self.sensor_channel(PRESSURE, 1, "pressure", 9, 0, 10),
            self.sensor_channel(GAS, 2, "gas", 5, 0, 100),
        ]
        if silent:
            faults = [{"on": "any", "fault": "silent"}]
        else:
            faults = [self.random_fault() for _ in range(self.rng.randint(0, 2))]
            for ch in channels:
                if self.rng.random() < 0.3:
                    ch["faults"] = [self.random_fault()]
        doc = {"comment": f"soak version {self.version}", "slave": SLAVE,
               "channels": channels, "faults": faults}
        tmp = self.path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(doc, f, indent=1)
        os.replace(tmp, self.path)  # gauge-sim never reads half a file


# ---- processes ----

def read_first_line(proc, prefix, timeout=30):
    deadline = time.time() + timeout
    buf = b""
    fd = proc.stdout.fileno()
    while time.time() < deadline:
        r, _, _ = select.select([fd], [], [], 0.5)
        if r:
            chunk = os.read(fd, 1)
            if not chunk:
                break
            buf += chunk
            if chunk == b"\n":
                line = buf.decode().strip()
                if line.startswith(prefix):
                    return line[len(prefix):].strip()
                buf = b""
    raise RuntimeError(f"no '{prefix}' line from {proc.args[0]}")


def drain(stream, sink, on_line=None):
    """Reads a child's output in a thread so that a full pipe never stalls it."""
    def run():
        for raw in iter(stream.readline, b""):
            line = raw.decode(errors="replace").rstrip("\n")
            sink.write(line + "\n")
            if on_line:
                on_line(line)
        sink.flush()
    t = threading.Thread(target=run, daemon=True)
    t.start()
    return t


def make_raw(fd, baud=termios.B19200):
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = baud
    attrs[2] &= ~(termios.PARENB | termios.PARODD)
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class Relay:
    """The converter's host line is a pty of ours; each host-sim run gets its own pty, and the
    relay copies bytes between the two for as long as that run lasts."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        make_raw(self.slave)
        self.path = os.ttyname(self.slave)
        self.peer = None
        self.lock = threading.Lock()
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def attach(self, path):
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        make_raw(fd)
        with self.lock:
            self.peer = fd

    def detach(self):
        with self.lock:
            if self.peer is not None:
                os.close(self.peer)
            self.peer = None

    def run(self):
        while not self.stop:
            with self.lock:
                peer = self.peer
            fds = [self.master] + ([peer] if peer is not None else [])
            try:
                r, _, _ = select.select(fds, [], [], 0.2)
            except (OSError, ValueError):
                continue
            for fd in r:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    data = b""
                if fd == self.master:
                    with self.lock:
                        if self.peer is not None and data:
                            try:
                                os.write(self.peer, data)
                            except OSError:
                                pass
                elif data:
                    os.write(self.master, data)
                else:  # host-sim went away
                    self.detach()


class Converter:
    def __init__(self, binary, workdir, gauge_path, host_path, out):
        os.makedirs(workdir, exist_ok=True)
        exe = os.path.join(workdir, "modbusvelt")
        shutil.copy2(binary, exe)
        tanks = "".join(f"{n}={ch}\n" for n, ch in TANKS.items())
        ini = (f"[Резервуар]\n{tanks}[SLAVE]\nАдрес={SLAVE}\n[Флаг]\nПротокол=1\n"
               f"[MODBUS]\nCom-порт={gauge_path}\nСуществует=1\n"
               f"[VELT]\nCom-порт={host_path}\nСуществует=1\n"
               "[Пароль]\nдоступа=731904\nоператора=731904\n")
        with open(os.path.join(workdir, "Nastroika.ini"), "w", encoding="utf-8") as f:
            f.write(ini)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.start = time.time()
        self.proc = subprocess.Popen([exe], cwd=workdir, env=env, stdout=out, stderr=out,
                                     stdin=subprocess.DEVNULL)

    def alive(self):
        return self.proc.poll() is None

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime

    def rss(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
        return 0

    def stop(self):
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# ---- checking host-sim's output ----

FAMILY_OF = {"level": "level", "volume": "volume", "water": "water", "temp": "temp",
             "density": "density", "mass": "mass"}
PACKED14_MAX = 0xFFFFF * 10 + 9
CMD14 = {0x2: "level", 0x5: "density", 0x8: "volume", 0xB: "mass"}
KV = re.compile(r"(\w+)=(\S+)")


class Checker:
    def __init__(self, scenarios):
        self.sc = scenarios
        self.lock = threading.Lock()
        self.checked = 0
        self.skipped = 0
        self.violations = []
        self.malformed = []
        self.noreply = 0
        self.judged = 0
        self.phase2_replies = []

    def violation(self, text):
        with self.lock:
            self.violations.append(text)

    def compare(self, family, channel, value, st1, where, packed14=False):
        if st1 == 1:
            self.skipped += 1
            return
        if st1 != 0:
            self.violation(f"{where}: first status {st1:#x} for {family}, the gauge flagged nothing")
            return
        with self.lock:
            expected = (self.sc.union(family) if channel is None
                        else self.sc.expected.get((family, channel), set()))
            if packed14:  # 20 bits of whole units: larger values arrive as the largest one
                expected = {min(v, PACKED14_MAX) for v in expected}
            self.checked += 1
            if value not in expected:
                self.violations.append(
                    f"{where}: {family} {value} on channel {channel} was never delivered by the gauge")

    def family(self, name, cmd):
        if cmd == "d4":
            return FAMILY_OF.get(name)
        if cmd == "d6" and re.fullmatch(r"t\d+", name) and int(name[1:]) <= 21:
            return "tpoint"
        if cmd == "d7" and re.fullmatch(r"p\d", name):
            return "pressure"
        if cmd == "db" and re.fullmatch(r"gas\d", name):
            return "gas"
        return None

    def on_poll_line(self, line):
        if line.startswith("REPLY"):
            kv = dict(KV.findall(line))
            if kv.get("verdict") == "bad":
                with self.lock:
                    self.malformed.append(line)
        elif line.startswith("VAL"):
            kv = dict(KV.findall(line))
            fam = self.family(kv.get("name", ""), kv.get("cmd", ""))
            if fam:
                self.compare(fam, int(kv["ch"]), int(kv["value"]), int(kv["st1"], 16),
                             f"poll {kv['cmd']} ch {kv['ch']}")

    def on_random_line(self, line):
        if not line.startswith("EXCH"):
            return
        kv = dict(KV.findall(line))
        verdict = kv.get("verdict", "")
        if verdict in ("ok", "bad", "noreply"):
            self.judged += 1
        if verdict == "bad":
            with self.lock:
                self.malformed.append(line)
        if verdict == "noreply":
            self.noreply += 1
        if verdict != "ok" or kv.get("tx", "-") == "-" or len(kv["tx"]) != 2:
            return
        cmd = int(kv["tx"], 16)
        rx = bytes.fromhex(kv["rx"]) if kv.get("rx", "-") != "-" else b""
        if not rx or rx[0] != 0:
            return
        where = f"random {cmd:02x}"
        if cmd == 0xD4 and len(rx) == 56:
            for g, fam in enumerate(["level", "volume", "water", "temp", "density", "mass"]):
                at = 1 + 6 * g
                value = struct.unpack_from("<i", rx, at + 2)[0]
                self.compare(fam, None, value, rx[at], where)
        elif cmd >> 4 in CMD14 and len(rx) == 5:
            whole = rx[1] | rx[2] << 8 | (rx[3] >> 4) << 16
            self.compare(CMD14[cmd >> 4], cmd & 0xF, whole * 10 + (rx[3] & 0x0F), 0, where,
                         packed14=True)


class HostRun:
    """One host-sim run on the relay."""

    def __init__(self, host_sim, args, relay, out, on_line):
        self.proc = subprocess.Popen([host_sim, "--pty", "--timeout", "1500"] + args,
                                     stdout=subprocess.PIPE, stderr=out, stdin=subprocess.DEVNULL)
        relay.attach(read_first_line(self.proc, "PTY"))
        self.relay = relay
        self.lines = []

        def keep(line):
            self.lines.append(line)
            on_line(line)
        self.reader = drain(self.proc.stdout, out, keep)

    def finish(self, timeout=60):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.terminate()
            self.proc.wait()
        self.reader.join(5)
        self.relay.detach()
        # An answer to this run's last request may still be on its way; it must not reach the
        # next run, which would take it for the answer to its own first request.
        time.sleep(QUIET_BETWEEN_RUNS)
        return self.proc.returncode


# ---- the run ----

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--minutes", type=float, required=True)
    ap.add_argument("--converter", required=True)
    ap.add_argument("--gauge-sim", required=True)
    ap.add_argument("--host-sim", required=True)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--workdir", default=None)
    args = ap.parse_args()

    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)
    work = args.workdir or tempfile.mkdtemp(prefix="conv-soak-")
    os.makedirs(work, exist_ok=True)
    out = open(os.path.join(work, "children.log"), "w")
    total = args.minutes * 60
    log(f"soak: {args.minutes} min, seed {seed}, files in {work}")

    scenarios = Scenarios(os.path.join(work, "scenario.json"), rng)
    scenarios.write()
    checker = Checker(scenarios)
    gauge = subprocess.Popen([args.gauge_sim, "--pty", "--quiet", scenarios.path],
                             stdout=subprocess.PIPE, stderr=out, stdin=subprocess.DEVNULL)
    gauge_path = read_first_line(gauge, "PTY")
    drain(gauge.stdout, out)
    relay = Relay()
    conv = Converter(args.converter, os.path.join(work, "converter"), gauge_path, relay.path, out)
    failures = []
    summary = {}

    # Timeline of phase 1.
    silence_len = min(60.0, total / 4)
    silence_from = total / 2 - silence_len / 2
    garbage_len = min(60.0, total / 8)
    garbage_from = silence_from + silence_len + min(30.0, total / 16)
    chunk = max(15.0, min(60.0, total / 8))

    def host_plan(t):
        """What host-sim does from t on, and for how long."""
        if garbage_from <= t < garbage_from + garbage_len:
            return ["--garbage"], garbage_from + garbage_len - t, checker.on_random_line
        end = garbage_from if t < garbage_from else total
        length = max(1.0, min(chunk, end - t))
        if int(t // chunk) % 2 == 0:
            return ["--random", "--seed", str(rng.randint(0, 2**31)), "--machine"], length, \
                checker.on_random_line
        return ["--poll", "--machine"], length, checker.on_poll_line

    rss_minute = None
    host = None
    host_until = 0.0
    next_reload = 5.0
    silent_now = False
    reloads = 0
    try:
        while True:
            t = time.time() - conv.start
            if t >= total:
                break
            if not conv.alive():
                failures.append(f"converter exited during phase 1 (status {conv.proc.returncode})")
                break
            if rss_minute is None and t >= 60:
                rss_minute = conv.rss()
            in_silence = silence_from <= t < silence_from + silence_len
            if in_silence != silent_now or (not in_silence and t >= next_reload):
                scenarios.write(silent=in_silence)
                gauge.send_signal(signal.SIGUSR1)
                reloads += 1
                if in_silence != silent_now:
                    log(f"gauge {'silent' if in_silence else 'answering again'} at {t:.0f} s")
                silent_now = in_silence
                next_reload = t + rng.uniform(3, 15)
            if host is None or t >= host_until:
                if host is not None:
                    host.proc.send_signal(signal.SIGINT)
                    host.finish()
                plan, length, on_line = host_plan(t)
                secs = max(1, int(round(length)))
                host = HostRun(args.host_sim, plan + ["--seconds", str(secs)], relay, out, on_line)
                host_until = t + secs
            time.sleep(0.5)
        if host is not None:
            host.proc.send_signal(signal.SIGINT)
            host.finish()
            host = None

        wall1 = time.time() - conv.start
        if conv.alive():
            cpu1 = conv.cpu_seconds()
            rss_end = conv.rss()
            if rss_minute is None:
                rss_minute = rss_end
            summary["phase 1 wall s"] = f"{wall1:.0f}"
            summary["phase 1 CPU"] = f"{100 * cpu1 / wall1:.2f} % of one core ({cpu1:.1f} s)"
            summary["RSS at 1 min / end of phase 1"] = \
                f"{rss_minute / MB:.2f} MB / {rss_end / MB:.2f} MB (growth {(rss_end - rss_minute) / MB:+.2f} MB)"
            if cpu1 / wall1 >= CPU_LIMIT:
                failures.append(f"phase 1 CPU {100 * cpu1 / wall1:.2f} % >= 5 %")
            if rss_end - rss_minute >= RSS_GROWTH_LIMIT:
                failures.append(f"RSS grew by {(rss_end - rss_minute) / MB:.2f} MB after minute 1")

        # Phase 2: the gauge's pty closed for good.
        if conv.alive():
            log("phase 2: gauge line closed")
            gauge.send_signal(signal.SIGTERM)
            gauge.wait(10)
            deadline = time.time() + 180
            dead_ok = False
            probe_cmds = []
            for ch in sorted(set(TANKS.values())):
                probe_cmds += [f"c{ch:x}", "d4"]
            probe_cmds += ["10", "c7", "d4"]
            last = []
            while time.time() < deadline and conv.alive():
                run = HostRun(args.host_sim, ["--machine"] + probe_cmds, relay, out, lambda l: None)
                run.finish()
                last = [l for l in run.lines if l.startswith("REPLY")]
                statuses = [dict(KV.findall(l)) for l in last]
                d4 = [s for s in statuses if s.get("cmd") == "d4"]
                link = [s for s in statuses if s.get("cmd") == "10"]
                tank_d4 = d4[:len(set(TANKS.values()))]
                if (tank_d4 and all(s.get("status") == "4" for s in tank_d4)
                        and link and link[0].get("status") == "4"
                        and d4[-1].get("status") == "ff"):
                    dead_ok = True
                    break
                time.sleep(2)
            if not dead_ok:
                failures.append("phase 2: the converter did not answer 0x04 for every tank "
                                f"(last replies: {' | '.join(last)})")
            # The host keeps asking at random while the CPU is measured.
            window = min(300.0, max(30.0, total / 8))
            cpu_a, t_a = conv.cpu_seconds(), time.time()
            run = HostRun(args.host_sim, ["--random", "--seed", str(rng.randint(0, 2**31)),
                                          "--machine", "--seconds", str(int(window))],
                          relay, out, checker.on_random_line)
            run.finish(timeout=window + 60)
            if conv.alive():
                cpu2 = (conv.cpu_seconds() - cpu_a) / (time.time() - t_a)
                summary["phase 2 (dead gauge line)"] = \
                    f"0x04 for every tank: {'yes' if dead_ok else 'NO'}; CPU {100 * cpu2:.2f} % of one core over {window:.0f} s"
                if cpu2 >= CPU_LIMIT:
                    failures.append(f"phase 2 CPU {100 * cpu2:.2f} % >= 5 %")
            if not conv.alive():
                failures.append(f"converter exited during phase 2 (status {conv.proc.returncode})")
    finally:
        if host is not None:
            host.proc.kill()
        conv.stop()
        if gauge.poll() is None:
            gauge.terminate()
            gauge.wait(10)
        relay.stop = True

    summary["scenario versions"] = f"{scenarios.version} ({reloads} reloads)"
    summary["values compared"] = f"{checker.checked} ({checker.skipped} absent groups skipped)"
    summary["host-sim judged requests"] = f"{checker.judged} (no reply: {checker.noreply})"
    summary["malformed replies"] = str(len(checker.malformed))
    summary["value violations"] = str(len(checker.violations))
    if checker.checked == 0:
        failures.append("no value was compared")
    if checker.judged == 0:
        failures.append("no host reply was judged")
    for line in checker.malformed[:10]:
        failures.append("malformed: " + line)
    for v in checker.violations[:20]:
        failures.append("value: " + v)
    if len(checker.violations) > 20:
        failures.append(f"... and {len(checker.violations) - 20} more value violations")

    print("\n== soak summary")
    for k, v in summary.items():
        print(f"  {k}: {v}")
    print(f"soak: {checker.checked + checker.judged} checks ({checker.checked} values compared, "
          f"{checker.judged} host replies judged)")
    if failures:
        print("FAILED:")
        for f in failures:
            print("  " + f)
        print(f"(seed {seed}; logs in {work})")
        return 1
    print(f"soak: passed (seed {seed})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
