#!/usr/bin/env python3
# The window program for Windows on the whole road, as a site runs it: modbusvelt.exe under wine
# with the windows platform, on an X server of its own (Xvfb, with a window manager that restores
# a minimised window as the task bar does), between the Linux gauge-sim, serving its MODBUS line
# as Com5, and the Linux host-sim, asking on its host line as Com12 (opened through \\.\); both
# lines are pseudo-terminals linked into the wine prefix. The settings file beside the exe is
# Windows-1251 with CRLF line ends, as an operator's editor leaves it.
#
# Each check counts as one test:
#   road     the Linux program runs at the same time between its own pair of simulators on the
#            same scenario and settings; after both have passed their first poll cycle, host-sim
#            asks both the same requests, and every reply must be the same bytes (one test per
#            line of requests). The time from starting each program to its first MODBUS request
#            is printed for both.
#   windows  the main window restored shows its caption as the window title; the port dialog,
#            opened from the menu with the keyboard, lists a free mapped port and the two the
#            program holds but not a port whose device is gone, an operator's choice in it
#            reaches the file in Windows-1251 with CRLF, and the program opens its lines again
#            afterwards; the channel setup, the access prompt and the password change, and the
#            viewer open; Cancel in the closing warning keeps the host served.
#   fast     (when the tree has the fast lines) the road again with both sides of both programs
#            in fast mode: the same bytes as the Linux program's. The time to the first poll
#            cycle's end and the host reply latency of both are printed for both modes.
#   box      a missing COM port: the error box is a real window captioned " OUT "; once it is
#            dismissed the start-up goes on and the host line answers.
#   first    a first start without a settings file creates it beside the exe, in Windows-1251
#            with CRLF.
# With --screenshots DIR every window met is also saved there as a PNG.
# Ends with "road-gui: N tests ran: P passed, F failed, K skipped"; exits non-zero on a failure.
import argparse
import os
import re
import select
import shutil
import subprocess
import sys
import termios
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "harness"))
sys.path.insert(0, str(Path(__file__).resolve().parent))
from plumbing import Child  # noqa: E402
from wine_runner import link  # noqa: E402

MAIN_CAPTION = "Конвертор Modbus Torvik+ -> Velt. Версия 00.08"
PORT_DIALOG = "Установка по COM-портам"
# Tank 3 on channel 5 is the road of one value; channel 9 is one nobody answers.
TANKS = "[Резервуар]\n1=10\n2=11\n3=5\n4=9\n5=3\n6=7\n[SLAVE]\nАдрес=80\n[Флаг]\nПротокол=1\n"
# What a host asks: identification, the system table, every block of each kind of channel, the
# silent channel, protocol 1.4, a channel with no tank.
REQUESTS = [
    "07", "10", "11", "dd",
    "c5 d4",
    "c3 d2 dc d4 d7 d8 a0 d6 d3 d5 a1 d6 d3 d5 a2 d6 d3 d5 a3 d5 a4 d5",
    "c7 d2 d4 d7 d8",
    "ca d2 dc d7 d4",
    "cb d2 dc db df de",
    "c9 d4 d5",
    "29 39 49",
    "23 83 b3 53 43 33 63 25 85 27 2a 2b 28",
    "c8 d4",
]
FIRST_CYCLE_SECONDS = 300
# Both sides in fast mode: a reply is decided once it is whole, the next request follows 20 ms of
# quiet line, and the host is answered when its byte arrives instead of at the next 55 ms tick.
FAST_SETTINGS = {"MODBUS": "Быстрый опрос=1\nОжидание=800\nПауза=20\n", "VELT": "Быстрый ответ=1\n"}
ROOT = Path(__file__).resolve().parents[2]
HAVE_FAST_MODE = "Быстрый ответ" in (ROOT / "src" / "settings" / "keys.h").read_text()
# What the runs measured, printed together at the end.
FIGURES = {}


def ini_bytes(text):
    return text.replace("\n", "\r\n").encode("cp1251")


def sh(argv, env, timeout=60):
    return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)


class Checks:
    def __init__(self, on_failure=None):
        self.passed, self.failed = 0, 0
        self.on_failure = on_failure

    def check(self, name, ok, detail=""):
        print(f"{'PASS' if ok else 'FAIL'}  {name}" + (f": {detail}" if detail else ""), flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            if self.on_failure:
                self.on_failure(self.failed)
        return ok


# An X server with a window manager: the program starts minimised, and a window manager is what
# gives a minimised window back, as the task bar does on Windows.
class Display:
    def __init__(self, logdir):
        read_end, write_end = os.pipe()
        self.log = open(logdir / "xvfb.log", "w")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp"], pass_fds=[write_end], stdout=self.log, stderr=self.log,
            start_new_session=True)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n") and select.select([read_end], [], [], 30)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)
        self.wm = None
        deadline = time.monotonic() + 30
        # The window manager announces itself on the root window once it manages the screen; one
        # that could not reach the display yet is started again.
        while "window id" not in sh(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], self.env).stdout:
            if time.monotonic() > deadline:
                raise RuntimeError("the window manager did not start")
            if self.wm is None or self.wm.poll() is not None:
                self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                           stdout=self.log, stderr=self.log,
                                           start_new_session=True)
            time.sleep(0.1)

    def close(self):
        for p in (self.wm, self.xvfb):
            if p is None:
                continue
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.log.close()

    # The first window whose title matches `pattern` (a regular expression, whole title), once
    # it is there; None after `timeout` seconds. `visible`: only a window on the screen.
    def window(self, pattern, timeout=60, visible=True):
        argv = ["xdotool", "search", "--sync"] + (["--onlyvisible"] if visible else []) + [
            "--name", f"^{pattern}$"]
        try:
            out = sh(argv, self.env, timeout=timeout).stdout.split()
        except subprocess.TimeoutExpired:
            return None
        return out[0] if out else None

    def title(self, window):
        out = sh(["xprop", "-id", window, "_NET_WM_NAME"], self.env).stdout
        m = re.match(r'_NET_WM_NAME\(UTF8_STRING\) = "(.*)"\s*$', out, re.S)
        return m.group(1).replace('\\"', '"') if m else None

    def gone(self, window, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            state = sh(["xwininfo", "-id", window], self.env)
            if state.returncode != 0 or "IsViewable" not in state.stdout:
                return True
            time.sleep(0.1)
        return False

    def keys(self, window, *keys):
        sh(["xdotool", "windowactivate", "--sync", window], self.env)
        for k in keys:
            sh(["xdotool", "key", "--clearmodifiers", k], self.env)
            time.sleep(0.15)  # a key at a time, as a person types: menus open between keys

    # Chooses from the menu with `keys` and returns the window captioned `caption` that opens.
    # A busy machine may show a menu after the next key has gone to the window under it: then
    # the menus are closed and the keys typed again, up to three times.
    def from_menu(self, main, keys, caption):
        for _ in range(3):
            self.keys(main, *keys)
            found = self.window(re.escape(caption), timeout=15)
            if found:
                return found
            self.keys(main, "Escape", "Escape", "Escape")
        return None

    def click(self, window, x, y):
        sh(["xdotool", "windowactivate", "--sync", window], self.env)
        sh(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"], self.env)

    def geometry(self, window):
        out = sh(["xdotool", "getwindowgeometry", "--shell", window], self.env).stdout
        g = dict(line.split("=", 1) for line in out.split())
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    # The window as it is on the screen, with whatever it has open over itself (a drop-down list).
    def screenshot(self, window, path):
        if path is None:
            return
        x, y, w, h = self.geometry(window)
        # A window just shown or restored paints a moment later: until then it is one colour.
        for _ in range(50):
            sh(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", str(path)],
               self.env)
            if int(sh(["identify", "-format", "%k", str(path)], self.env).stdout or 0) > 8:
                break
            time.sleep(0.2)
        print(f"screenshot: {path.name}", flush=True)


class Wine:
    def __init__(self, prefix, display):
        self.prefix = prefix
        self.env = dict(display.env, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        quiet = dict(env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if prefix.exists():
            subprocess.run(["wineserver", "-k"], **quiet)
            shutil.rmtree(prefix)
        prefix.mkdir(parents=True)
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(["wineboot", "-i"], check=True, timeout=600, **quiet)
        # Wine draws each window's frame and caption itself, as Windows does, instead of leaving
        # it to the X window manager.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                        "/d", "N", "/f"], check=True, **quiet)
        # Wine's own fonts (Debian's fonts-wine) are not in a new prefix: without them the
        # windows' "MS Sans Serif" falls back to whatever fontconfig offers and the caption
        # buttons' Marlett glyphs show as letters.
        fonts = prefix / "drive_c" / "windows" / "Fonts"
        for font in Path("/usr/share/wine/fonts").glob("*"):
            shutil.copy2(font, fonts)
        self.dosdevices = prefix / "dosdevices"
        # Only the ports this run maps: no COM port of the machine itself in the lists.
        for old in self.dosdevices.glob("com*"):
            old.unlink()

    def start(self, exe, logfile, on_line=None):
        return Child(["wine", str(exe)], log=logfile, on_line=on_line, env=self.env,
                     cwd=str(exe.parent))

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


# host-sim in its console mode: each line written is a set of requests, answered in turn.
class Host:
    def __init__(self, host_sim, logfile, latency=False):
        self.sim = Child([str(host_sim), "--pty", "--stdin", "--machine", "--timeout", "300"] +
                         (["--latency"] if latency else []), log=logfile, stdin=subprocess.PIPE)
        self.pty = self.sim.announced()
        self.latency = None

    # The replies to one line of requests: [(status, raw)]. The values they carried, by name
    # and scaled, are in `values` afterwards.
    def ask(self, requests, timeout=30):
        self.sim.proc.stdin.write((requests + "\n").encode())
        self.sim.proc.stdin.flush()
        replies, deadline, self.values = [], time.monotonic() + timeout, {}
        while (line := self.sim.line(deadline - time.monotonic())) not in (None, "DONE"):
            f = dict(w.split("=", 1) for w in line.split()[1:] if "=" in w)
            if line.startswith("REPLY "):
                replies.append((f.get("status"), f.get("raw")))
            elif line.startswith("VAL ") and "name" in f:
                self.values[f["name"]] = f.get("scaled")
            elif line.startswith("LATENCY "):
                self.latency = " ".join(f"{k} {f[k]} ms" for k in ("p50_ms", "p99_ms", "max_ms")
                                        if k in f).replace("_ms", "")
        return replies

    # Asks for the identification until it is answered with data, not the initialisation byte:
    # the program has passed its first poll cycle. False when that has not happened in time.
    def wait_first_cycle(self, timeout=FIRST_CYCLE_SECONDS):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if [status for status, _ in self.ask("07")] == ["0"]:
                return True
        return False

    # The first reply to `requests` once there is one at all: (status, raw), or None.
    def answered(self, requests="07", timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            replies = self.ask(requests)
            if replies and replies[0][0] not in (None, "none"):
                return replies[0]
        return None


# A gauge-sim whose first request line is timed from `started`.
class Gauge:
    def __init__(self, gauge_sim, scenario, logfile):
        self.first_request = None
        self.started = None
        self.sim = Child([str(gauge_sim), "--pty", str(scenario)], log=logfile,
                         on_line=self._line)
        self.pty = self.sim.announced()

    def _line(self, line):
        if self.first_request is None and self.started and line.startswith("REQ "):
            self.first_request = time.monotonic() - self.started


# A pseudo-terminal keeps no parity flag, so once the program has set its line up, a second open
# asks for what the line already has, which the C library refuses (EINVAL) and wine passes on as
# a failed SetCommState: the port would not open again after the port dialog. A real port's
# driver takes the same settings twice; the run puts back what the simulator left before the
# program opens the line again.
class LineSettings:
    def __init__(self, path):
        self.path = path
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.attrs = termios.tcgetattr(fd)
        os.close(fd)

    def restore(self):
        fd = os.open(self.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        termios.tcsetattr(fd, termios.TCSANOW, self.attrs)
        os.close(fd)


def write_settings(folder, modbus, velt, extra=None):
    extra = extra or {}
    text = TANKS + f"[MODBUS]\nCom-порт={modbus}\nСуществует=1\n" + extra.get("MODBUS", "") + \
        f"[VELT]\nCom-порт={velt}\nСуществует=1\n" + extra.get("VELT", "")
    (folder / "Nastroika.ini").write_bytes(ini_bytes(text))


def fresh_folder(path, exe):
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return Path(shutil.copy2(exe, path))


def shot(shots, name):
    return shots / name if shots else None


# The road, both programs side by side, then the windows of the Windows one.
# The road in tick mode, or with both sides in fast mode; the windows part in tick mode only.
def run_road(args, work, display, wine, checks, shots, fast=False):
    mode = "fast" if fast else "tick"
    logs = {n: open(work / f"{mode}-{n}.log", "w") for n in
            ("gauge-linux", "host-linux", "program-linux", "gauge-windows", "host-windows",
             "program-windows")}
    children = []
    try:
        linux_exe = fresh_folder(work / mode / "linux", args.linux_program)
        windows_exe = fresh_folder(work / mode / "windows", args.exe)
        gauges = {side: Gauge(args.gauge_sim, args.scenario, logs[f"gauge-{side}"])
                  for side in ("linux", "windows")}
        hosts = {side: Host(args.host_sim, logs[f"host-{side}"], latency=HAVE_FAST_MODE)
                 for side in ("linux", "windows")}
        children += [g.sim for g in gauges.values()] + [h.sim for h in hosts.values()]
        extra = FAST_SETTINGS if fast else {}
        write_settings(linux_exe.parent, gauges["linux"].pty, hosts["linux"].pty, extra)
        write_settings(windows_exe.parent, "Com5", "Com12", extra)
        link(wine.dosdevices, "com5", gauges["windows"].pty)
        link(wine.dosdevices, "com12", hosts["windows"].pty)
        lines = [LineSettings(gauges["windows"].pty), LineSettings(hosts["windows"].pty)]

        gauges["linux"].started = time.monotonic()
        children.append(Child([str(linux_exe)], log=logs["program-linux"], cwd=str(linux_exe.parent),
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen")))
        gauges["windows"].started = time.monotonic()
        program = wine.start(windows_exe, logs["program-windows"])
        children.append(program)

        ready = {}
        for side in ("linux", "windows"):
            if hosts[side].wait_first_cycle():
                ready[side] = time.monotonic() - gauges[side].started
        for side in ("linux", "windows"):
            first = gauges[side].first_request
            FIGURES[f"{mode} {side}"] = (
                f"first MODBUS request {first:.2f} s after the start" if first is not None else
                "no MODBUS request") + (
                f", first poll cycle passed by {ready[side]:.1f} s" if side in ready else "")
            print(f"{mode} mode: {side}: {FIGURES[f'{mode} {side}']}", flush=True)
        if not checks.check(f"both programs passed their first poll cycle ({mode} mode)",
                            len(ready) == 2, str(sorted(ready))):
            return
        for requests in REQUESTS:
            want = hosts["linux"].ask(requests)
            got = hosts["windows"].ask(requests)
            sane = len(want) == len(requests.split()) and all(s != "none" for s, _ in want)
            checks.check(f"host answers to {requests!r} are the Linux program's bytes ({mode} mode)",
                         sane and got == want,
                         f"Linux {' '.join(r for _, r in want)}" + (
                             "" if got == want else f", Windows {' '.join(r for _, r in got)}"))
        print(f"{mode} mode: gauge-sim -> Com5 -> modbusvelt.exe -> \\\\.\\Com12 -> host-sim, the "
              "same bytes as gauge-sim -> modbusvelt -> host-sim", flush=True)
        if HAVE_FAST_MODE:
            # How soon a reply comes: measured only, the figures depend on the machine.
            for side in ("linux", "windows"):
                hosts[side].ask(" ".join(["07", "10"] * 20))
                FIGURES[f"{mode} {side} latency"] = hosts[side].latency
                print(f"{mode} mode: {side}: host reply latency {hosts[side].latency}", flush=True)
        if not fast:
            run_windows(display, wine, windows_exe, hosts["windows"], lines, checks, shots)
    finally:
        wine.stop()
        for child in reversed(children):
            child.stop()
        for name in ("com5", "com12"):
            (wine.dosdevices / name).unlink(missing_ok=True)
        for f in logs.values():
            f.close()


# The Windows program's own windows, driven as an operator drives them: the keyboard through the
# menus, the mouse on the tool buttons.
def run_windows(display, wine, exe, host, lines, checks, shots):
    main = display.window(re.escape(MAIN_CAPTION), visible=False)
    if not checks.check("the main window is there", main is not None):
        return
    display.keys(main)  # activating it restores it, as a click on the task bar does
    checks.check("the restored main window is titled with its caption",
                 display.title(main) == MAIN_CAPTION, repr(display.title(main)))
    display.screenshot(main, shot(shots, "main-window.png"))

    # A free port beside the two the program holds, and one whose device went away.
    spare = os.openpty()
    link(wine.dosdevices, "com3", os.ttyname(spare[1]))
    link(wine.dosdevices, "com7", "/nonexistent/tty")
    try:
        # Установка > Установка СОМ-порта
        dialog = display.from_menu(main, ("alt", "Down", "Down", "Return"), PORT_DIALOG)
        if not checks.check("the port dialog opens from the menu", dialog is not None):
            return
        ini = exe.parent / "Nastroika.ini"
        listed = port_list(display, dialog, ini, shots)
        # Names beside these are wine's for the machine's own serial devices (/dev/ttyS0 is
        # Com1), which the dialog lists as it would a Windows machine's.
        ours = [name for name in listed if name in ("Com3", "Com5", "Com7", "Com12")]
        checks.check("the port dialog lists the free mapped Com3 and the held Com5 and Com12, "
                     "not the broken Com7", ours == ["Com3", "Com5", "Com12"], str(listed))
        # Back to Com5, as the operator leaves it; the file keeps its encoding and line ends.
        back = len(listed) - 1 - listed.index("Com5") if "Com5" in listed else 0
        display.keys(dialog, *["Up"] * back)
        chosen = apply_port_choice(display, dialog, ini)
        data = ini.read_bytes()
        checks.check("the port chosen reaches the file in Windows-1251 with CRLF",
                     chosen == "Com5" and data.count(b"\r\n") == data.count(b"\n") and
                     "Com-порт=Com5\r\n".encode("cp1251") in data, repr(chosen))
        for line in lines:
            line.restore()
        display.keys(dialog, "Escape")
        checks.check("the port dialog closes with Esc", display.gone(dialog))
    finally:
        for name in ("com3", "com7"):
            (wine.dosdevices / name).unlink(missing_ok=True)
        os.close(spare[0])
        os.close(spare[1])
    answer = host.answered()
    checks.check("the ports are opened again and the host served",
                 answer is not None and answer[0] == "0", str(answer))

    nastroika = display.from_menu(main, ("alt", "Down", "Return"),
                                  "Настройка каналов датчиковой аппаратуры")
    if checks.check("the channel setup opens from the menu", nastroika is not None):
        display.screenshot(nastroika, shot(shots, "nastroika.png"))
        display.keys(nastroika, "Escape")
        display.gone(nastroika)
    # The closing password: the access code first (the first one is the default), then the
    # dialog that changes it.
    dostup = display.from_menu(main, ("alt", "Down", "Down", "Down", "Down", "Return"),
                               "Код доступа")
    if checks.check("the access prompt opens from the menu", dostup is not None):
        display.screenshot(dostup, shot(shots, "dostup.png"))
        display.keys(dostup, "7", "3", "1", "9", "0", "4", "Return")
        parol = display.window(re.escape("Пароль на закрытие приложения"))
        if checks.check("the default access code opens the password change", parol is not None):
            display.screenshot(parol, shot(shots, "parol.png"))
            display.keys(parol, "Escape")
            display.gone(parol)
    # The viewer has only its tool button, the second of the row under the menu.
    x, y = tool_button(display, main, 1)
    display.click(main, x, y)
    viewer = display.window(re.escape("Информация поступающая с ДА"))
    if checks.check("the viewer opens from its tool button", viewer is not None):
        display.screenshot(viewer, shot(shots, "viewer-main.png"))
        display.keys(viewer, "Escape")
        display.gone(viewer)

    # Closing with the operator password unset warns; Cancel keeps the program at work.
    # Выход on the menu bar
    warning = display.from_menu(main, ("alt", "Right", "Return"), "Будьте внимательны!")
    if checks.check("closing shows the warning box", warning is not None):
        display.screenshot(warning, shot(shots, "closing-warning.png"))
        display.keys(warning, "Escape")
        display.gone(warning)
        answer = host.answered("c5 d4")
        checks.check("Cancel keeps the program running and the host served",
                     display.window(re.escape(MAIN_CAPTION), timeout=5) is not None and
                     answer is not None and answer[0] == "0", str(answer))


# The middle of tool button `index` of the row under the menu bar, in window coordinates: below
# the caption wine draws and the menu bar, the buttons are 29 pixels apart from the left.
def tool_button(display, main, index):
    _, _, width, _ = display.geometry(main)
    frame = (width - 807) // 2
    return frame + 14 + 29 * index, 61


def settings_value(ini, section, key):
    current = None
    for line in ini.read_bytes().decode("cp1251").splitlines():
        if line.startswith("["):
            current = line.strip("[]")
        elif current == section and line.split("=", 1)[0] == key:
            return line.split("=", 1)[1]
    return None


# Applies the dialog's choice with the button "Применить" (two Tabs from the MODBUS box, then
# Space), confirms the box that says it is recorded, and comes back to the MODBUS box; returns
# the MODBUS port now in the file.
def apply_port_choice(display, dialog, ini):
    display.keys(dialog, "Tab", "Tab", "Tab", "space")
    box = display.window("Конвертор")
    if box is None:
        return None
    display.keys(box, "Return")
    display.gone(box)
    display.keys(dialog, "shift+Tab", "shift+Tab", "shift+Tab")
    return settings_value(ini, "MODBUS", "Com-порт")


# The names in the MODBUS box's list, read as an operator would find them: with the arrow keys
# in the box, applying each choice and reading it back from the settings file.
def port_list(display, dialog, ini, shots):
    display.keys(dialog, "Tab", "alt+Down")  # the MODBUS box, its list opened
    display.screenshot(dialog, shot(shots, "ustcom.png"))
    display.keys(dialog, "Escape", "Down", *["Up"] * 12)  # to the first name
    names = []
    for _ in range(12):
        name = apply_port_choice(display, dialog, ini)
        if name is None or name in names:
            break
        names.append(name)
        display.keys(dialog, "Down")
    return names


def run_box(args, work, display, wine, checks, shots):
    logs = [open(work / f"box-{n}.log", "w") for n in ("host", "program")]
    host = Host(args.host_sim, logs[0])
    try:
        exe = fresh_folder(work / "box", args.exe)
        write_settings(exe.parent, "Com8", "Com12")
        link(wine.dosdevices, "com12", host.pty)
        program = wine.start(exe, logs[1])
        box = display.window(" OUT ")
        if not checks.check("a missing COM port shows the error box", box is not None):
            return
        checks.check("the error box is captioned \" OUT \"", display.title(box) == " OUT ",
                     repr(display.title(box)))
        display.screenshot(box, shot(shots, "port-error.png"))
        display.keys(box, "Return")
        checks.check("the box closes with Enter", display.gone(box))
        answer = host.answered()
        checks.check("after the box the start-up goes on: the host line answers",
                     answer is not None and answer[1] == "fe", str(answer))
        program.stop()
    finally:
        wine.stop()
        host.sim.stop()
        (wine.dosdevices / "com12").unlink(missing_ok=True)
        for f in logs:
            f.close()


def run_first_start(args, work, display, wine, checks):
    log = open(work / "first-program.log", "w")
    try:
        exe = fresh_folder(work / "first", args.exe)
        wine.start(exe, log)
        ini = exe.parent / "Nastroika.ini"
        main = display.window(re.escape(MAIN_CAPTION), visible=False)
        want = ini_bytes("[Резервуар]\n1=0\n")
        got = ini.read_bytes() if ini.exists() else None
        checks.check("a first start creates Nastroika.ini beside the exe in Windows-1251 with CRLF",
                     main is not None and got == want, repr(got))
    finally:
        wine.stop()
        log.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True, type=Path, help="modbusvelt.exe")
    ap.add_argument("--linux-program", required=True, type=Path, help="the Linux modbusvelt")
    ap.add_argument("--gauge-sim", required=True, type=Path)
    ap.add_argument("--host-sim", required=True, type=Path)
    ap.add_argument("--scenario", required=True, type=Path, help="gauge-sim scenario")
    ap.add_argument("--work", required=True, type=Path, help="scratch folder (emptied)")
    ap.add_argument("--screenshots", type=Path, help="save the windows here as PNG files")
    ap.add_argument("--only", nargs="+", choices=("box", "first", "road", "fast"),
                    help="these parts only")
    args = ap.parse_args()
    for name in ("exe", "linux_program", "gauge_sim", "host_sim", "scenario"):
        setattr(args, name, getattr(args, name).resolve())
    work = args.work.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    shots = args.screenshots.resolve() if args.screenshots else None
    if shots:
        shots.mkdir(parents=True, exist_ok=True)
    display = Display(work)
    # What the screen showed at each failure, for whoever reads the logs.
    checks = Checks(lambda n: sh(["import", "-window", "root", str(work / f"failure-{n}.png")],
                                 display.env))
    try:
        wine = Wine(work / "wineprefix", display)
        parts = {"box": lambda: run_box(args, work, display, wine, checks, shots),
                 "first": lambda: run_first_start(args, work, display, wine, checks),
                 "road": lambda: run_road(args, work, display, wine, checks, shots)}
        if HAVE_FAST_MODE:
            parts["fast"] = lambda: run_road(args, work, display, wine, checks, None, fast=True)
        for name, part in parts.items():
            if args.only and name not in args.only:
                continue
            try:
                part()
            except (RuntimeError, OSError, subprocess.SubprocessError) as e:
                checks.check("no error in the run", False, f"{type(e).__name__}: {e}")
    finally:
        display.close()
    for name, figure in FIGURES.items():
        print(f"figures: {name}: {figure}", flush=True)
    ran = checks.passed + checks.failed
    print(f"road-gui: {ran} tests ran: {checks.passed} passed, {checks.failed} failed, 0 skipped",
          flush=True)
    if checks.failed:
        print(f"logs in {work}", flush=True)
    return 1 if checks.failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
