#!/usr/bin/env python3
"""Writes the measured figures into docs/performance.md, between the markers
<!-- figures:begin --> and <!-- figures:end -->; the text around them is kept as written.

usage: report.py STEPS.json E2E.json DOC.md [--service E2E_SERVICE.json] [--modes MODES.json]
       report.py --modes-only MODES.json DOC.md
The second form rewrites only the side-by-side section of tick and fast mode and keeps the other
figures as they were measured.
"""
import argparse
import json
import os
import platform
import sys
import time

BEGIN, END = "<!-- figures:begin -->", "<!-- figures:end -->"
STEP_TARGET_US = 50.0
TICK_MS = 55.0
LATENCY_SLACK_MS = 2.0
CPU_TARGET = 1.0
RSS_TARGET_MB = 40.0
FAST_P99_TARGET_MS = 6.0
FAST_CYCLE_TARGET_S = 45.0
SERVICE_CPU_TARGET = 0.2
SERVICE_RSS_TARGET_MB = 5.0
STARTUP_SLACK_S = 0.1  # both wait two pacing ticks; the rest is the noise of a shared machine


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    load = os.getloadavg()
    return (f"{os.cpu_count()} CPUs (nproc), {model}, {mem_kb / 1024 / 1024:.1f} GiB memory, "
            f"{platform.system()} {platform.release()}; load average at the end "
            f"{load[0]:.1f} / {load[1]:.1f} / {load[2]:.1f} (1/5/15 min)")


def mark(ok):
    return "met" if ok else "**missed**"


def steps_table(steps):
    rows = ["| Benchmark | Time per step | CPU per step | Target |", "|---|---:|---:|---|"]
    worst = 0.0
    for b in steps["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        unit = b["time_unit"]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[unit]
        real = b["real_time"] * scale
        cpu = b["cpu_time"] * scale
        name = b.get("run_name", b["name"])
        target = ""
        if not name.startswith("Crc16"):
            worst = max(worst, cpu)
            target = f"< {STEP_TARGET_US:.0f} µs: {mark(cpu < STEP_TARGET_US)}"
        rows.append(f"| `{name}` | {real:.2f} µs | {cpu:.2f} µs | {target} |")
    return rows, worst


MODES_HEADING = "### Tick mode and fast mode side by side"


def measured(how):
    return (f"Measured {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())} by `{how}` on: "
            f"{machine()}.")


def modes_section(m, how):
    """Tick and fast mode side by side (bench/modes_bench.py)."""
    tick, fast = m["tick"], m["fast"]

    def lat(r):
        x = r["latency"]
        return f"{x['p50_ms']:.1f} / {x['p99_ms']:.1f} / {x['max_ms']:.1f} ms"

    def cpu(w):
        return f"{w['cpu_percent']:.2f} % ({w['wakeups_per_s']:.0f} wakeups/s)"

    def per_request(r):
        return 10_000 * r["rest"]["cpu_percent"] / r["rest"]["modbus_requests_per_s"]

    def per_wakeup(r):
        return 10_000 * r["rest"]["cpu_percent"] / r["rest"]["wakeups_per_s"]

    def no_higher(key):
        return mark(fast[key]["cpu_percent"] <= tick[key]["cpu_percent"])

    fl = fast["latency"]
    lat_ok = fl["p99_ms"] <= FAST_P99_TARGET_MS and fl["answered"] == fl["requests"]
    rows = [
        MODES_HEADING,
        "",
        measured(how),
        "",
        f"{m['gauges']} level gauges on gauge-sim `--delay 20 --pace` (19200 baud, a byte every "
        f"625 µs, 20 ms after the request), the host on host-sim; `bench/modes_bench.py`.",
        "",
        "| Figure | Tick mode | Fast mode | Target for fast mode | |",
        "|---|---:|---:|---|---|",
        f"| Host reply latency p50 / p99 / max, {fl['requests']} commands, end of the command "
        f"byte to the first reply byte | {lat(tick)} | {lat(fast)} | p99 ≤ "
        f"{FAST_P99_TARGET_MS:.0f} ms | {mark(lat_ok)} |",
        f"| One poll cycle over {m['gauges']} level gauges ({fast['requests_in_cycle']} requests) "
        f"| {tick['cycle_s']:.1f} s | {fast['cycle_s']:.1f} s | ≤ {FAST_CYCLE_TARGET_S:.0f} s | "
        f"{mark(fast['cycle_s'] <= FAST_CYCLE_TARGET_S)} |",
        f"| Cycle start to the next cycle's start (with the pacing rest) | {tick['period_s']:.1f} s"
        f" | {fast['period_s']:.1f} s | | |",
        f"| A silent tank's cost ({fast['silent_tank']['channel_selects']} channel selects) | "
        f"{tick['silent_tank']['seconds']:.2f} s | {fast['silent_tank']['seconds']:.2f} s | | |",
        f"| CPU at rest: host quiet, every gauge polled | {cpu(tick['rest'])} | {cpu(fast['rest'])}"
        f" | no higher than tick | {no_higher('rest')} |",
        f"| CPU under load: host asking {fast['load']['host_requests_per_s']:.1f} commands/s, every"
        f" gauge polled | {cpu(tick['load'])} | {cpu(fast['load'])} | no higher than tick | "
        f"{no_higher('load')} |",
        f"| CPU idle: every tank silent, host quiet | {cpu(tick['idle'])} | {cpu(fast['idle'])} | "
        f"no higher than tick | {no_higher('idle')} |",
        f"| MODBUS requests per second at rest | {tick['rest']['modbus_requests_per_s']:.2f} | "
        f"{fast['rest']['modbus_requests_per_s']:.2f} | | |",
        f"| CPU per MODBUS request at rest | {per_request(tick):.0f} µs | {per_request(fast):.0f} µs"
        f" | | |",
        f"| Wakeups per MODBUS request at rest | "
        f"{tick['rest']['wakeups_per_s'] / tick['rest']['modbus_requests_per_s']:.1f} | "
        f"{fast['rest']['wakeups_per_s'] / fast['rest']['modbus_requests_per_s']:.1f} | | |",
        f"| CPU per wakeup at rest | {per_wakeup(tick):.0f} µs | {per_wakeup(fast):.0f} µs | | |",
        f"| Resident memory at rest / under load, peak | {tick['rest']['rss_mb']} / "
        f"{tick['load']['rss_mb']}, {tick['load']['peak_rss_mb']} MB | {fast['rest']['rss_mb']} / "
        f"{fast['load']['rss_mb']}, {fast['load']['peak_rss_mb']} MB | | |",
        "",
    ]
    return rows


def e2e_lines(e2e):
    lat, load = e2e["latency_ms"], e2e["load"]
    return [
        f"- Host reply latency over {lat['requests']} single-byte requests of mixed commands at "
        f"random moments: p50 {lat['p50']:.2f} ms, p99 {lat['p99']:.2f} ms, max {lat['max']:.2f} "
        f"ms, mean {lat['mean']:.2f} ms; unanswered {lat['unanswered']}. The service tick is "
        f"{TICK_MS:.0f} ms, so a request waits on average half a tick.",
        f"- Load window of {load['seconds']} s, {e2e['tanks']} level gauges polled, host at full "
        f"rate ({load['host_requests_answered']} requests answered, {load['requests_per_s']}/s): "
        f"CPU {load['cpu_s']} s = {load['cpu_percent_of_one_core']} % of one core; resident "
        f"memory {load['rss_start_mb']} MB at the start of the window, {load['rss_end_mb']} MB at "
        f"its end, peak {load['peak_rss_mb']} MB.",
        f"- Start-up: first MODBUS request {e2e['startup_to_first_modbus_request_s']} s after the "
        f"process started, first host answer after {e2e['startup_to_first_host_answer_s']} s; "
        f"first poll cycle over all tanks done after {e2e['first_cycle_done_s']} s.",
    ]


def service_rows(service, e2e):
    """Summary rows of modbusvelt-service against its own targets and the window's start-up."""
    load, lat = service["load"], service["latency_ms"]
    start, window_start = (service["startup_to_first_modbus_request_s"],
                           e2e["startup_to_first_modbus_request_s"])
    lat_ok = lat["p99"] <= TICK_MS + LATENCY_SLACK_MS and lat["unanswered"] == 0
    return [
        f"| Service: host reply latency p50 / p99 / max | {lat['p50']:.1f} / {lat['p99']:.1f} / "
        f"{lat['max']:.1f} ms | p99 ≤ {TICK_MS:.0f} + {LATENCY_SLACK_MS:.0f} ms | {mark(lat_ok)} |",
        f"| Service: CPU, {service['tanks']} tanks polled, host at full rate, log on | "
        f"{load['cpu_percent_of_one_core']:.2f} % of one core | ≤ {SERVICE_CPU_TARGET} % | "
        f"{mark(load['cpu_percent_of_one_core'] <= SERVICE_CPU_TARGET)} |",
        f"| Service: peak resident memory (VmHWM) | {load['peak_rss_mb']:.1f} MB | "
        f"≤ {SERVICE_RSS_TARGET_MB:.0f} MB | {mark(load['peak_rss_mb'] <= SERVICE_RSS_TARGET_MB)} |",
        f"| Service: start-up to the first MODBUS request | {start} s | as the window program's "
        f"({window_start} s, + {STARTUP_SLACK_S} s) | "
        f"{mark(start is not None and start <= window_start + STARTUP_SLACK_S)} |",
    ]


def replace_modes(modes_path, doc_path):
    """Only the side-by-side section is new; the rest of the figures stays as it was measured."""
    with open(modes_path) as f:
        section = "\n".join(modes_section(json.load(f), "scripts/bench --modes-only"))
    with open(doc_path, encoding="utf-8") as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        sys.exit(f"report: {doc_path} has no figures yet; run scripts/bench in full first")
    head, rest = text.split(BEGIN, 1)
    figures, tail = rest.split(END, 1)
    if MODES_HEADING in figures:
        before, after = figures.split(MODES_HEADING, 1)
        nxt = after.find("\n### ")
        figures = before + section + ("\n" + after[nxt + 1:] if nxt >= 0 else "\n")
    else:
        at = figures.find("### One step")
        at = at if at >= 0 else len(figures)
        figures = figures[:at] + section + "\n" + figures[at:]
    with open(doc_path, "w", encoding="utf-8") as f:
        f.write(head + BEGIN + figures + END + tail)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--modes-only":
        if len(sys.argv) != 4:
            sys.exit("usage: report.py --modes-only MODES.json DOC.md")
        replace_modes(sys.argv[2], sys.argv[3])
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("steps")
    ap.add_argument("e2e")
    ap.add_argument("doc")
    ap.add_argument("--service", help="e2e_bench.py's figures of modbusvelt-service")
    ap.add_argument("--modes", help="modes_bench.py's figures of tick and fast mode")
    args = ap.parse_args()
    steps_path, doc_path = args.steps, args.doc
    with open(steps_path) as f:
        steps = json.load(f)
    with open(args.e2e) as f:
        e2e = json.load(f)
    service = modes = None
    if args.service:
        with open(args.service) as f:
            service = json.load(f)
    if args.modes:
        with open(args.modes) as f:
            modes = json.load(f)
    rows, worst = steps_table(steps)
    lat = e2e["latency_ms"]
    load = e2e["load"]
    lat_ok = lat["p99"] <= TICK_MS + LATENCY_SLACK_MS and lat["unanswered"] == 0
    cpu_ok = load["cpu_percent_of_one_core"] < CPU_TARGET
    rss_ok = load["peak_rss_mb"] < RSS_TARGET_MB
    out = [
        BEGIN,
        measured("scripts/bench"),
        "",
        "### Summary against the targets",
        "",
        "| Figure | Measured | Target | |",
        "|---|---:|---|---|",
        f"| Slowest host or poll step (CPU) | {worst:.2f} µs | < {STEP_TARGET_US:.0f} µs | "
        f"{mark(worst < STEP_TARGET_US)} |",
        f"| Host reply latency p50 / p99 / max | {lat['p50']:.1f} / {lat['p99']:.1f} / "
        f"{lat['max']:.1f} ms | p99 ≤ {TICK_MS:.0f} + {LATENCY_SLACK_MS:.0f} ms | {mark(lat_ok)} |",
        f"| CPU, {e2e['tanks']} tanks polled, host at full rate | "
        f"{load['cpu_percent_of_one_core']:.2f} % of one core | < {CPU_TARGET:.0f} % | "
        f"{mark(cpu_ok)} |",
        f"| Peak resident memory (VmHWM) | {load['peak_rss_mb']:.1f} MB | < {RSS_TARGET_MB:.0f} MB | "
        f"{mark(rss_ok)} |",
        f"| Start-up to the first MODBUS request | {e2e['startup_to_first_modbus_request_s']} s | "
        "(two Timer3 ticks by design) | |",
        f"| Start-up to the first host answer | {e2e['startup_to_first_host_answer_s']} s | | |",
        *(service_rows(service, e2e) if service else []),
        "",
        *(modes_section(modes, "scripts/bench") if modes else []),
        "### One step (Google Benchmark, log on)",
        "",
        *rows,
        "",
        "### End to end (real program, offscreen, pseudo-terminals)",
        "",
        *e2e_lines(e2e),
        *(["", "### End to end: modbusvelt-service (same load, same pseudo-terminals)", "",
           *e2e_lines(service)] if service else []),
        END,
    ]
    text = ""
    if os.path.exists(doc_path):
        with open(doc_path, encoding="utf-8") as f:
            text = f.read()
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        text = head + "\n".join(out) + tail
    else:
        text = "# Performance\n\n" + "\n".join(out) + "\n" + text
    with open(doc_path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
