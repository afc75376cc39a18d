#!/usr/bin/env python3
# Fault and soak run of the real converter between the two simulators, on pseudo-terminals
# (docs/performance.md, "Soak and fault run", tells the whole of it). It checks what only a long
# faulty run shows; what the converter makes of each reply is the unit and whole-road tests' part.
#
# Phase 1 (--minutes N): gauge-sim serves two level gauges (one with every block), a pressure-
# sensor and a gas-sensor tank; a fifth configured tank is on a channel the gauge does not have.
# Every 3-15 s the scenario gets new values and random faults and is reloaded (SIGUSR1); around
# the middle the gauge is silent for a quarter of the run (at most a minute). All along, host-sim
# --random asks the converter lone requests, bursts, close pairs and garbage.
# Phase 2: gauge-sim is stopped, its line closed for good, while host-sim keeps asking.
#
# Fails on: the converter not running to the end; resident memory grown by 2 MB or more, or open
# descriptors grown, from minute 1 to the end of phase 1; CPU of 5 % of one core or more over
# either phase; the host unanswered for 20 s or more; a reply host-sim judged malformed; no gauge
# fault met.
#   usage: soak.py --minutes N --converter EXE --gauge-sim EXE --host-sim EXE [--seed S]
import json
import os
import pathlib
import random
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/harness"))
from plumbing import Child, fields  # noqa: E402

MB, CPU_LIMIT, SLAVE = 1024 * 1024, 0.05, 80
CHANNELS = [1, 2, 3, 4, 9]  # of tanks 1..5: two level gauges, pressure, gas, and one absent
MAIN = ["level", "mass", "volume", "density", "temperature", "water", "dpf"]
FAULTS = {"exception": ("code", [1, 2, 4, 0x84, 0x96]), "length": ("delta", [-3, -1, 1, 2]),
          "badcrc": ("crc", ["flip", "swap"]), "split": ("delay_ms", [100, 500, 1200, 2000]),
          "stray": ("bytes", [[0], [0x55, 0xAA], [0x50, 4, 2]]), "silent": (None, None)}
FAULT_ON = ["select", "type", "main", "temp", "temp2", "coords", "density", "probes", "pressure",
            "gas", "any"]


def log(msg):
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


# A new scenario version with random values and faults, written whole for gauge-sim to reload.
def write_scenario(path, rng, silent=False):
    def fault():
        kind, (key, choices) = rng.choice(list(FAULTS.items()))
        f = {"fault": kind, "after": rng.randint(0, 2), "on": rng.choice(FAULT_ON),
             "times": "always" if rng.random() < 0.1 else rng.randint(1, 6)}
        return dict(f, **{key: rng.choice(choices)}) if key else f

    def values(n):
        return [round(rng.uniform(0, 1000), 3) for _ in range(n)]

    channels = [{"address": a, "type": 0, "config": "0x0005", "main": dict(zip(MAIN, values(7)))}
                for a in (1, 2)] + [{"address": 3, "type": 1, "pressure": values(9)},
                                    {"address": 4, "type": 2, "gas": values(5)}]
    channels[0].update(
        temperature={"header": [0, 0, "0x1500"], "points": [
            {"value": v, "height": 250 * k} for k, v in enumerate(values(21), 1)]},
        density={"header": [0, 0, "0x8500"], "probes": [
            {"density": v / 1000, "height": 500 * k} for k, v in enumerate(values(5), 1)]})
    for ch in channels:
        ch["faults"] = [fault()] if rng.random() < 0.3 and not silent else []
    faults = [fault(), fault()][rng.randint(0, 2):]
    tmp = pathlib.Path(path + ".tmp")
    tmp.write_text(json.dumps({"slave": SLAVE, "channels": channels,
                               "faults": [{"on": "any", "fault": "silent"}] if silent else faults}))
    tmp.replace(path)  # gauge-sim never reads half a file


# The converter's CPU seconds (utime + stime), resident memory and open descriptors.
def usage(pid):
    stat = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    cpu = (int(stat[11]) + int(stat[12])) / os.sysconf("SC_CLK_TCK")
    return cpu, int(stat[21]) * os.sysconf("SC_PAGE_SIZE"), len(os.listdir(f"/proc/{pid}/fd"))


# Counts the host replies host-sim judged and the longest time the host went unanswered, keeps
# the malformed replies, and counts the faults the gauge met, from the children's lines as they
# come (the run drops them then, so that a long run does not pile them up).
class Tally:
    def __init__(self):
        self.judged, self.malformed, self.faults = 0, [], 0
        self.answered, self.longest_wait = 0.0, 0.0  # by host-sim's clock, from its start

    def on_line(self, line):
        self.faults += "-> FAULT " in line
        verdict = fields(line).get("verdict") if line.startswith("EXCH ") else None
        self.judged += verdict in ("ok", "bad", "noreply")
        self.malformed += [line] * (verdict == "bad")
        if verdict in ("ok", "bad"):
            t = float(fields(line)["t"])
            self.longest_wait, self.answered = max(self.longest_wait, t - self.answered), t


# Phase 1, then phase 2 from `total` seconds on; the converter's usage at minute 1, at the end of
# phase 1 and at the end.
def run(total, window, rng, scenario, gauge, host, link, conv):
    silence = (total / 2 - min(30.0, total / 8), total / 2 + min(30.0, total / 8))
    start, minute, end1, next_reload, silent_now = time.time(), None, None, 5.0, False
    while (t := time.time() - start) < total + window:
        if conv.proc.poll() is not None:
            return [f"converter exited after {t:.0f} s ({conv.proc.returncode})"]
        for child in (gauge, host):
            while child.line(0) is not None:
                child.seen.clear()
        minute = minute or (usage(conv.proc.pid) if t >= 60 else None)
        in_silence = silence[0] <= t < silence[1]
        if t >= total and end1 is None:
            end1 = (t,) + usage(conv.proc.pid)
            log("phase 2: gauge line closed")
            gauge.stop()
            # Gone as an unplugged adapter's name, even after a SIGKILL.
            pathlib.Path(link).unlink(missing_ok=True)
        elif end1 is None and (in_silence != silent_now or (not in_silence and t >= next_reload)):
            write_scenario(scenario, rng, silent=in_silence)
            gauge.proc.send_signal(signal.SIGUSR1)
            if in_silence != silent_now:
                log(f"gauge {'silent' if in_silence else 'answering again'} at {t:.0f} s")
            silent_now, next_reload = in_silence, t + rng.uniform(3, 15)
        time.sleep(0.5)
    (t1, cpu1, rss, fds), t2, cpu2 = end1, time.time() - start, usage(conv.proc.pid)[0]
    _, rss_minute, fds_minute = minute or end1[1:]
    cpu1, cpu2 = cpu1 / t1, (cpu2 - cpu1) / (t2 - t1)
    log(f"CPU {100 * cpu1:.2f} % of one core in phase 1, {100 * cpu2:.2f} % in phase 2; RSS "
        f"{rss_minute / MB:.2f} MB at 1 min, {rss / MB:.2f} MB at the end of phase 1; "
        f"descriptors {fds_minute} and {fds}")
    failures = [f"phase {n} CPU {100 * c:.2f} % >= 5 %" for n, c in ((1, cpu1), (2, cpu2))
                if c >= CPU_LIMIT]
    failures += [f"RSS grew by {(rss - rss_minute) / MB:.2f} MB"] * (rss - rss_minute >= 2 * MB)
    return failures + [f"descriptors {fds_minute} -> {fds}"] * (fds > fds_minute)


def main(opts):
    seed, total = int(opts.get("--seed", time.time())), float(opts["--minutes"]) * 60
    window = min(300.0, max(30.0, total / 8))
    rng, work = random.Random(seed), tempfile.mkdtemp(prefix="conv-soak-")
    out = open(os.path.join(work, "children.log"), "w")
    log(f"soak: {total / 60} min, seed {seed}, files in {work}")
    scenario = os.path.join(work, "scenario.json")
    write_scenario(scenario, rng)
    tally = Tally()
    # The converter reaches the gauge through a link, as a site reaches an adapter by its stable
    # name: when the gauge goes, the link goes, and the pseudo-terminal number it freed is not the
    # gauge line any more for a converter that opens it again.
    link = os.path.join(work, "gauge")
    gauge = Child([opts["--gauge-sim"], "--pty", "--link", link, scenario], on_line=tally.on_line)
    gauge.announced()
    host = Child([opts["--host-sim"], "--pty", "--machine", "--random", "--timeout", "1500",
                  "--seed", str(seed), "--seconds", str(int(total + window + 600))],
                 log=out, on_line=tally.on_line)
    exe = shutil.copy2(opts["--converter"], os.path.join(work, "modbusvelt"))
    tanks = "".join(f"{n}={ch}\n" for n, ch in enumerate(CHANNELS, 1))
    pathlib.Path(work, "Nastroika.ini").write_text(
        f"[Резервуар]\n{tanks}[SLAVE]\nАдрес={SLAVE}\n[Флаг]\nПротокол=1\n"
        f"[MODBUS]\nCom-порт={link}\nСуществует=1\n[VELT]\nCom-порт={host.announced()}\n"
        "Существует=1\n[Пароль]\nдоступа=731904\nоператора=731904\n", encoding="utf-8")
    conv = Child([exe], log=out, cwd=work,
                 env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    try:
        failures = run(total, window, rng, scenario, gauge, host, link, conv)
    finally:
        conv.stop()
        gauge.stop()
        host.stop(signal.SIGINT)
    failures += ["no gauge fault met"] * (tally.faults == 0)
    failures += [f"host unanswered for {tally.longest_wait:.0f} s"] * (tally.longest_wait >= 20)
    failures += ["malformed: " + line for line in tally.malformed[:10]]
    print(f"soak: {tally.judged + tally.faults} checks ({tally.judged} host replies judged, "
          f"{len(tally.malformed)} malformed, {tally.faults} gauge faults met, host unanswered "
          f"for {tally.longest_wait:.1f} s at most)")
    failed = "FAILED:\n  " + "\n  ".join(failures) + f"\n(seed {seed}; logs in {work})"
    print(failed if failures else f"soak: passed (seed {seed})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(dict(zip(sys.argv[1::2], sys.argv[2::2]))))
