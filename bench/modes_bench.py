#!/usr/bin/env python3
"""Tick mode and fast mode side by side, on the real converter (offscreen) between gauge-sim and
host-sim on pseudo-terminals. For each mode, one run:

  cycle    64 level gauges on channels 1..64 of gauge-sim --delay 20 --pace (each reply starts
           20 ms after its request and comes a byte every 625 us, as at 19200 baud): the first
           poll cycle, from the zero byte before tank 1's channel select to the first byte of the
           reply to tank 64's last request, timed by gauge-sim's request lines; and the period
           from that cycle's start to the next one's, which adds the pacing rest;
  rest     CPU (utime + stime), resident memory and wakeups (voluntary context switches) of the
           converter over that first cycle, with the host silent;
  latency  N single-byte commands of mixed kinds, sent by host-sim 120..170 ms apart, each timed
           by host-sim from the end of its write to the first byte of the reply;
  load     CPU, memory and wakeups while host-sim asks at that rate for S seconds and the poll
           cycle runs;
and two more short runs: a silent tank (a channel the gauge does not have, between two good ones),
from its zero byte to the next tank's; and idle lines, every tank silent and the host quiet, where
both modes send one request per 800 ms or so, for the cost of waiting itself.

Prints one JSON object; standard library only.
"""
import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
GAUGES = 64
SILENT_CHANNEL = 99
# The settings of each mode beyond the ports: under [MODBUS], under [VELT].
MODES = {
    "tick": ("", ""),
    "fast": ("Быстрый опрос=1\nОжидание=800\nПауза=20\n", "Быстрый ответ=1\n"),
}


def scenario(path):
    channels = []
    for ch in range(1, GAUGES + 1):
        points = [{"value": 10.0 + k + ch / 10, "height": 250 * (k + 1)} for k in range(21)]
        channels.append({
            "address": ch, "type": 0, "config": "0x0005",
            "main": {"level": 1000.5 + ch, "mass": 50000.25, "volume": 60000.5, "density": 0.8125,
                     "temperature": 15.5, "water": 12.25, "software": "BENCH"},
            "temperature": {"header": [0, 0, "0x1500"], "points": points},
            "density": {"header": [0, 0, "0x8500"], "probes": [
                {"density": 0.81, "height": 500 * (k + 1), "temp": 12.5} for k in range(5)]},
        })
    with open(path, "w") as f:
        json.dump({"slave": 80, "channels": channels}, f)


def commands(n, rng):
    """A host's mix: selects, the 2.x block reads, the 1.4 reads, tables, unserved and bad bytes."""
    mix = [0x07, 0x10, 0x11, 0xDD, 0xA0, 0xA1, 0xD9, 0x00]
    for ch in range(1, 16, 2):
        mix += [0xC0 | ch, 0xD2, 0xD4, 0xD4, 0xD6, 0xD3, 0xD5, 0xD8, 0xDC,
                0x20 | ch, 0x30 | ch, 0x50 | ch]
    return " ".join(f"{rng.choice(mix):02x}" for _ in range(n))


class Lines:
    """A child's standard output, line by line, each with the moment it was read."""

    def __init__(self, argv, stdin=None):
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stdin=stdin,
                                     stderr=subprocess.DEVNULL)
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            with self.cond:
                self.lines.append((time.perf_counter(), raw.decode(errors="replace").strip()))
                self.cond.notify_all()

    def wait(self, test, start=0, timeout=900):
        """Index of the first line from `start` on for which test(index) holds."""
        deadline = time.perf_counter() + timeout
        i = start
        with self.cond:
            while True:
                while i < len(self.lines):
                    if test(i):
                        return i
                    i += 1
                left = deadline - time.perf_counter()
                if left <= 0:
                    raise TimeoutError(f"no such line after {timeout} s")
                self.cond.wait(left)

    def text(self, i):
        return self.lines[i][1]

    def at(self, i):
        return self.lines[i][0]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


def usage(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    status = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.split()[0] if value.split() else ""
    return {"t": time.perf_counter(), "cpu": (int(fields[11]) + int(fields[12])) / CLK_TCK,
            "rss_kb": int(status["VmRSS"]), "hwm_kb": int(status["VmHWM"]),
            "wakeups": int(status["voluntary_ctxt_switches"])}


def window(a, b, **extra):
    wall = b["t"] - a["t"]
    return dict(seconds=round(wall, 1), cpu_percent=round(100 * (b["cpu"] - a["cpu"]) / wall, 3),
                wakeups_per_s=round((b["wakeups"] - a["wakeups"]) / wall, 1),
                rss_mb=round(b["rss_kb"] / 1024, 1), peak_rss_mb=round(b["hwm_kb"] / 1024, 1),
                **extra)


def latency(line):
    fields = dict(w.split("=", 1) for w in line.split()[1:])
    return {k: float(v) if "." in v else int(v) for k, v in fields.items()}


class Converter:
    def __init__(self, exe, work, tanks, gauge_path, host_path, mode):
        self.dir = tempfile.mkdtemp(prefix="conv-modes-", dir=work)
        shutil.copy2(exe, os.path.join(self.dir, "modbusvelt"))
        tank_lines = "".join(f"{n}={ch}\n" for n, ch in enumerate(tanks, 1))
        host = f"Com-порт={host_path}\nСуществует=1\n" if host_path else "Существует=0\n"
        with open(os.path.join(self.dir, "Nastroika.ini"), "w", encoding="utf-8") as f:
            modbus, velt = MODES[mode]
            f.write(f"[Резервуар]\n{tank_lines}[SLAVE]\nАдрес=80\n[Флаг]\nПротокол=1\n"
                    f"[MODBUS]\nCom-порт={gauge_path}\nСуществует=1\n{modbus}[VELT]\n{host}{velt}")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.proc = subprocess.Popen([os.path.join(self.dir, "modbusvelt")], cwd=self.dir, env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def is_req(text, what):
    return text.startswith("REQ ") and what in text


def run_mode(mode, args, work, scen, rng):
    gauge = Lines([args.gauge_sim, "--pty", "--delay", "20", "--pace", scen])
    host = Lines([args.host_sim, "--pty", "--stdin", "--latency", "--machine", "--gap", "120",
                  "--jitter", "50", "--timeout", "500"], stdin=subprocess.PIPE)
    conv = None
    try:
        gauge_path = gauge.text(gauge.wait(lambda i: gauge.text(i).startswith("PTY"), 0, 10)).split()[1]
        host_path = host.text(host.wait(lambda i: host.text(i).startswith("PTY"), 0, 10)).split()[1]
        conv = Converter(args.converter, work, range(1, GAUGES + 1), gauge_path, host_path, mode)
        pid = conv.proc.pid

        # The zero byte just before tank 1's channel select starts a cycle.
        def cycle_start(start):
            sel = gauge.wait(lambda i: is_req(gauge.text(i), "(select ch 1)"), start)
            return max(i for i in range(sel) if is_req(gauge.text(i), "REQ 00 ")), sel

        first, sel = cycle_start(0)
        u0 = usage(pid)
        last = gauge.wait(lambda i: is_req(gauge.text(i), "(probes ch 64)"), sel)
        u1 = usage(pid)
        result = {"cycle_s": round(gauge.at(last) - gauge.at(first), 2),
                  "requests_in_cycle": sum(1 for i in range(first, last + 1)
                                           if gauge.text(i).startswith("REQ "))}
        result["rest"] = window(u0, u1, modbus_requests_per_s=round(
            result["requests_in_cycle"] / (gauge.at(last) - gauge.at(first)), 2))

        def ask(n):
            start = len(host.lines)
            host.proc.stdin.write((commands(n, rng) + "\n").encode())
            host.proc.stdin.flush()
            done = host.wait(lambda i: host.text(i) == "DONE", start)
            return latency(host.text(done - 1))

        result["latency"] = ask(args.requests)
        per_request = 0.145  # the mean of host-sim's 120..170 ms gap
        u2 = usage(pid)
        load = ask(max(1, int(args.load_seconds / per_request)))
        u3 = usage(pid)
        result["load"] = window(u2, u3, host_requests_per_s=round(load["requests"] / (u3["t"] - u2["t"]), 2),
                                host_unanswered=load["requests"] - load["answered"])
        second, _ = cycle_start(last)
        result["period_s"] = round(gauge.at(second) - gauge.at(first), 2)
        return result
    finally:
        if conv:
            conv.stop()
        host.stop()
        gauge.stop()


def silent_tank(mode, args, work, scen):
    gauge = Lines([args.gauge_sim, "--pty", "--delay", "20", "--pace", scen])
    conv = None
    try:
        path = gauge.text(gauge.wait(lambda i: gauge.text(i).startswith("PTY"), 0, 10)).split()[1]
        # Not the first tank: the first cycle's first tank has one repeat instead of four.
        conv = Converter(args.converter, work, [1, SILENT_CHANNEL, 2], path, None, mode)
        first = gauge.wait(lambda i: is_req(gauge.text(i), "REQ 00 "), 0, 60)
        zero = gauge.wait(lambda i: is_req(gauge.text(i), "REQ 00 "), first + 1, 60)
        nxt = gauge.wait(lambda i: is_req(gauge.text(i), "REQ 00 "), zero + 1, 60)
        selects = sum(1 for i in range(zero, nxt) if f"select ch {SILENT_CHANNEL}" in gauge.text(i))
        return {"seconds": round(gauge.at(nxt) - gauge.at(zero), 2), "channel_selects": selects}
    finally:
        if conv:
            conv.stop()
        gauge.stop()


def idle(mode, args, work, scen, seconds=30):
    gauge = Lines([args.gauge_sim, "--pty", "--quiet", scen])
    host_master, host_slave = os.openpty()
    conv = None
    try:
        path = gauge.text(gauge.wait(lambda i: gauge.text(i).startswith("PTY"), 0, 10)).split()[1]
        conv = Converter(args.converter, work, [SILENT_CHANNEL - 2, SILENT_CHANNEL - 1, SILENT_CHANNEL],
                         path, os.ttyname(host_slave), mode)
        time.sleep(5)  # start-up done, first cycle under way
        a = usage(conv.proc.pid)
        time.sleep(seconds)
        return window(a, usage(conv.proc.pid))
    finally:
        if conv:
            conv.stop()
        gauge.stop()
        os.close(host_master)
        os.close(host_slave)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--converter", required=True)
    ap.add_argument("--gauge-sim", required=True)
    ap.add_argument("--host-sim", required=True)
    ap.add_argument("--requests", type=int, default=1000)
    ap.add_argument("--load-seconds", type=int, default=60)
    ap.add_argument("--modes", default="tick,fast")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="conv-modes-")
    scen = os.path.join(work, "scenario.json")
    scenario(scen)
    out = {"gauges": GAUGES, "requests": args.requests, "load_seconds": args.load_seconds}
    try:
        for mode in args.modes.split(","):
            print(f"modes: {mode} mode", file=sys.stderr)
            out[mode] = run_mode(mode, args, work, scen, random.Random(args.seed))
            out[mode]["silent_tank"] = silent_tank(mode, args, work, scen)
            out[mode]["idle"] = idle(mode, args, work, scen)
            print(f"modes: {mode}: {json.dumps(out[mode])}", file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(json.dumps(out, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
