#!/usr/bin/env python3
"""End-to-end figures of the real converter on pseudo-terminals (the window program offscreen, or
modbusvelt-service: either reads the Nastroika.ini beside its copy), with gauge-sim serving 16
level gauges on the MODBUS line and this script acting as the host:

  start-up   from starting the process to the first request on the MODBUS line (gauge-sim's
             first REQ line) and to the first answer on the host line (0x07 sent every 5 ms);
  latency    N single-byte requests of mixed commands at random moments (0..100 ms apart), each
             from writing the byte to reading the last byte of its reply;
  load       CPU time (utime + stime, /proc/PID/stat) and resident memory over a window in which
             all 16 tanks are polled and the host asks at full rate (the next request as soon as
             the previous reply is complete); peak resident memory is VmHWM at its end.

Prints one JSON object with every figure; standard library only.
"""
import argparse
import json
import os
import random
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

CLK_TCK = os.sysconf("SC_CLK_TCK")
TANKS = 16

# Length of a reply with status 0x00, as the host reads it; any other status is one byte.
REPLY_LENGTH = {0x07: 5, 0x10: 2, 0x14: 2, 0x11: 18, 0xD2: 6, 0xD3: 20, 0xD4: 56, 0xD5: 56,
                0xD6: 56, 0xD7: 56, 0xD8: 20, 0xDB: 56, 0xDC: 10, 0xDD: 18, 0xDE: 20, 0xDF: 56}


def reply_length(cmd, status):
    if status != 0:
        return 1
    high = cmd >> 4
    if high in (0xA, 0xC):
        return 1
    if high in (0x2, 0x5, 0x8, 0xB):
        return 5
    if high == 0x3:
        return 6
    if high in (0x4, 0x6):
        return 2
    return REPLY_LENGTH.get(cmd, 1)


# A host's mix: selects, the 2.x block reads on the selected channel, the 1.4 reads.
def request_mix():
    mix = [0x07, 0x10, 0x11, 0xDD]
    for ch in range(0, TANKS, 3):
        mix += [0xC0 | ch, 0xD2, 0xD4, 0xD4, 0xD6, 0xD3, 0xD5, 0xD8, 0xDC, 0x20 | ch, 0x30 | ch,
                0x50 | ch]
    mix += [0xA0, 0xA1, 0xA2, 0xD9, 0x00]
    return mix


def scenario(path):
    channels = []
    for ch in range(TANKS):
        points = [{"value": 10.0 + k + ch / 10, "height": 250 * (k + 1)} for k in range(21)]
        channels.append({
            "address": ch, "type": 0, "config": "0x0005",
            "main": {"level": 1000.5 + ch, "mass": 50000.25, "volume": 60000.5, "density": 0.8125,
                     "temperature": 15.5, "water": 12.25, "dpf": 1.5, "software": "BENCH"},
            "temperature": {"header": [0, 0, "0x1500"], "points": points},
            "density": {"header": [0, 0, "0x8500"], "probes": [
                {"density": 0.81, "height": 500 * (k + 1), "temp": 12.5} for k in range(5)]},
        })
    with open(path, "w") as f:
        json.dump({"slave": 80, "channels": channels}, f)


def make_raw(fd):
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = termios.B19200
    attrs[2] &= ~(termios.PARENB | termios.PARODD)
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class HostLine:
    def __init__(self):
        self.master, self.slave = os.openpty()
        make_raw(self.slave)
        self.path = os.ttyname(self.slave)

    def drop_unread(self):
        while select.select([self.master], [], [], 0)[0]:
            os.read(self.master, 4096)

    def transact(self, cmd, timeout=2.0):
        """Latency in seconds from writing `cmd` to the last byte of its reply, and the reply."""
        self.drop_unread()
        t0 = time.perf_counter()
        os.write(self.master, bytes([cmd]))
        got = b""
        want = None
        deadline = t0 + timeout
        while want is None or len(got) < want:
            left = deadline - time.perf_counter()
            if left <= 0:
                return None, got
            if not select.select([self.master], [], [], left)[0]:
                continue
            got += os.read(self.master, 4096)
            if want is None and got:
                want = reply_length(cmd, got[0])
        return time.perf_counter() - t0, got


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def percentile(sorted_values, p):
    k = (len(sorted_values) - 1) * p
    lo = int(k)
    hi = min(lo + 1, len(sorted_values) - 1)
    return sorted_values[lo] + (sorted_values[hi] - sorted_values[lo]) * (k - lo)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--converter", required=True)
    ap.add_argument("--gauge-sim", required=True)
    ap.add_argument("--requests", type=int, default=1000)
    ap.add_argument("--load-seconds", type=int, default=60)
    ap.add_argument("--log", type=int, default=1, help="the settings' log flag (1 = on)")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="conv-bench-")
    results = {"tanks": TANKS, "log": args.log}

    scen = os.path.join(work, "scenario.json")
    scenario(scen)
    gauge = subprocess.Popen([args.gauge_sim, "--pty", scen], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    gauge_path = gauge.stdout.readline().decode().split()[1]
    first_req = threading.Event()
    first_req_at = [0.0]

    def read_gauge():
        for raw in iter(gauge.stdout.readline, b""):
            if raw.startswith(b"REQ") and not first_req.is_set():
                first_req_at[0] = time.perf_counter()
                first_req.set()
    threading.Thread(target=read_gauge, daemon=True).start()

    host = HostLine()
    exe = os.path.join(work, "modbusvelt")
    shutil.copy2(args.converter, exe)
    tanks = "".join(f"{n + 1}={n}\n" for n in range(TANKS))
    with open(os.path.join(work, "Nastroika.ini"), "w", encoding="utf-8") as f:
        f.write(f"[Резервуар]\n{tanks}[SLAVE]\nАдрес=80\n[Флаг]\nПротокол={args.log}\n"
                f"[MODBUS]\nCom-порт={gauge_path}\nСуществует=1\n"
                f"[VELT]\nCom-порт={host.path}\nСуществует=1\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    t_start = time.perf_counter()
    conv = subprocess.Popen([exe], cwd=work, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    try:
        # Start-up.
        first_answer = None
        while first_answer is None and time.perf_counter() - t_start < 30:
            latency, reply = host.transact(0x07, timeout=0.005)
            if reply:
                first_answer = time.perf_counter() - t_start
        first_req.wait(30)
        results["startup_to_first_host_answer_s"] = round(first_answer, 3) if first_answer else None
        results["startup_to_first_modbus_request_s"] = (
            round(first_req_at[0] - t_start, 3) if first_req.is_set() else None)

        # The host is served from the table only once the first cycle is over.
        t0 = time.perf_counter()
        while time.perf_counter() - t0 < 400:
            _, reply = host.transact(0x07)
            if reply[:1] == b"\x00":
                break
            time.sleep(0.5)
        results["first_cycle_done_s"] = round(time.perf_counter() - t_start, 1)

        # Latency of single requests at random moments.
        mix = request_mix()
        lat = []
        missing = 0
        for _ in range(args.requests):
            time.sleep(rng.uniform(0, 0.1))
            latency, _ = host.transact(rng.choice(mix))
            if latency is None:
                missing += 1
            else:
                lat.append(latency * 1000)
        lat.sort()
        results["latency_ms"] = {
            "requests": args.requests, "unanswered": missing,
            "p50": round(percentile(lat, 0.5), 2), "p99": round(percentile(lat, 0.99), 2),
            "max": round(lat[-1], 2), "mean": round(statistics.mean(lat), 2)}

        # Load: the host at full rate while all tanks are polled.
        cpu0, w0 = cpu_seconds(conv.pid), time.perf_counter()
        rss0 = status_kb(conv.pid, "VmRSS")
        answered = 0
        while time.perf_counter() - w0 < args.load_seconds:
            latency, _ = host.transact(rng.choice(mix))
            answered += latency is not None
        wall = time.perf_counter() - w0
        cpu = cpu_seconds(conv.pid) - cpu0
        results["load"] = {
            "seconds": round(wall, 1), "host_requests_answered": answered,
            "requests_per_s": round(answered / wall, 1),
            "cpu_s": round(cpu, 2), "cpu_percent_of_one_core": round(100 * cpu / wall, 2),
            "rss_start_mb": round(rss0 / 1024, 1),
            "rss_end_mb": round(status_kb(conv.pid, "VmRSS") / 1024, 1),
            "peak_rss_mb": round(status_kb(conv.pid, "VmHWM") / 1024, 1)}
    finally:
        conv.send_signal(signal.SIGTERM)
        try:
            conv.wait(5)
        except subprocess.TimeoutExpired:
            conv.kill()
            conv.wait()
        gauge.terminate()
        gauge.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    print(json.dumps(results, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
