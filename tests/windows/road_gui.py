#!/usr/bin/env python3
# The Windows programs on the whole road, as a site runs them: under wine on an X server of its
# own (Xvfb, with a window manager that restores a minimised window as the task bar does), the
# Linux gauge-sim serving its MODBUS line as a COM port, the Linux host-sim asking on its host line
# as another (Com12 and Com13 opened through \\.\); every line is a pseudo-terminal linked into
# the wine prefix. The settings file beside each exe is Windows-1251 with CRLF, as an operator's
# editor leaves it. Each check counts as one test:
#   box      a missing COM port: the error box is a real window captioned " OUT "; once it is
#            dismissed with Enter the start-up goes on and the host line answers.
#   first    a first start, from another working folder, creates the settings file beside the
#            exe, in Windows-1251 with CRLF.
#   road     on the ticks, the window program (Com5, Com12) and modbusvelt-service.exe (Com6,
#            Com13) run beside the Linux program, each between its own pair of simulators; once
#            all have passed their first poll cycle, host-sim asks each the same requests and
#            every reply must be the same bytes as the Linux program's (one test per line of
#            REQUESTS). Then the window program's own windows: the main window restored is titled
#            with its caption, and each window of WINDOWS opens as the operator opens it.
#   fast     both Windows programs again with both sides in fast mode: every reply must be the
#            same bytes as the Linux program's on the ticks. Under wine a comm-event wait on a
#            pseudo-terminal ends at once, cancelled, so the ports give the wait up and the fast
#            lines look at them every 55 ms instead of waking on a byte: what wine shows is the
#            fast decisions (replies decided when whole, the pause, the same bytes), not the wake
#            on arrival.
# With --screenshots DIR every window met is saved there as a PNG. Ends with
# "road-gui: N tests ran: P passed, F failed, 0 skipped".
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE.parent / "harness"), str(HERE)]
from plumbing import Child, fields  # noqa: E402
from wine_runner import link, new_prefix, wait_until, wine_env  # noqa: E402

MAIN_CAPTION = "Конвертор Modbus Torvik+ -> Velt. Версия 00.08"
# Tank 3 on channel 5 is the road of one value; channel 9 is one nobody answers.
TANKS = "[Резервуар]\n1=10\n2=11\n3=5\n4=9\n5=3\n6=7\n[SLAVE]\nАдрес=80\n[Флаг]\nПротокол=1\n"
# What a host asks: identification, the system table, every block of each kind of channel, the
# silent channel, protocol 1.4, a channel with no tank.
REQUESTS = ["07", "10", "11", "dd", "c5 d4", "c7 d2 d4 d7 d8", "ca d2 dc d7 d4", "c9 d4 d5",
            "c3 d2 dc d4 d7 d8 a0 d6 d3 d5 a1 d6 d3 d5 a2 d6 d3 d5 a3 d5 a4 d5", "29 39 49",
            "cb d2 dc db df de", "23 83 b3 53 43 33 63 25 85 27 2a 2b 28", "c8 d4"]
# Both sides in fast mode: a reply is decided once it is whole, the next request follows 20 ms of
# quiet line, and the host is answered when its byte arrives instead of at the next 55 ms tick.
FAST_SETTINGS = {"MODBUS": "Быстрый опрос=1\nОжидание=800\nПауза=20\n", "VELT": "Быстрый ответ=1\n"}
# The windows an operator opens: by the menu keys, the caption, the screenshot.
WINDOWS = [(("alt", "Down", "Return"), "Настройка каналов датчиковой аппаратуры", "nastroika.png"),
           (("alt", "Down", "Down", "Return"), "Установка по COM-портам", "ustcom.png"),
           (("alt",) + ("Down",) * 4 + ("Return",), "Код доступа", "dostup.png")]
# The Linux program's host answers on the ticks, by line of REQUESTS: what every mode must give.
TICK_ANSWERS = {}


def ini_bytes(text):
    return text.replace("\n", "\r\n").encode("cp1251")


def settings(modbus, velt, extra={}):
    return ini_bytes(f"{TANKS}[MODBUS]\nCom-порт={modbus}\nСуществует=1\n{extra.get('MODBUS', '')}"
                     f"[VELT]\nCom-порт={velt}\nСуществует=1\n{extra.get('VELT', '')}")


def sh(argv, env, timeout=60):
    return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)


# Every check is one test; what it saw is printed when it fails.
RESULTS = []


def check(name, ok, detail=""):
    print(f"PASS  {name}" if ok else f"FAIL  {name}: {detail}", flush=True)
    RESULTS.append(bool(ok))
    return ok


def summary(what, unit="tests"):
    passed, failed = RESULTS.count(True), RESULTS.count(False)
    print(f"{what}: {passed + failed} {unit} ran: {passed} passed, {failed} failed, 0 skipped")
    return 0 if RESULTS and all(RESULTS) else 1


# An X server with a window manager: the program starts minimised, and a window manager is what
# gives a minimised window back, as the task bar does on Windows.
class Display(contextlib.ExitStack):
    def __init__(self, work):
        super().__init__()
        self.log = self.enter_context(open(work / "xvfb.log", "w"))
        self.xvfb = Child(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24"], log=self.log)
        self.callback(self.xvfb.stop)
        if not (number := self.xvfb.wait_for(r"^\d+$")):
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + number)

        # The window manager announces itself on the root window once it manages the screen; one
        # that could not reach the display yet is started again.
        wm, announced = [], ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]

        def managed():
            if not wm or wm[-1].proc.poll() is not None:
                wm.append(Child(["openbox", "--sm-disable"], log=self.log, env=self.env))
                self.callback(wm[-1].stop)
            return "window id" in sh(announced, self.env).stdout
        if not wait_until(managed):
            raise RuntimeError("the window manager did not start")

    # The first window whose whole title, as the window system shows it (the UTF-8 one the window
    # manager reads), matches `pattern`, once it is there; None after `timeout` seconds.
    # `visible`: only a window on the screen.
    def window(self, pattern, timeout=60, visible=True):
        argv = ["xdotool", "search", "--sync"] + ["--onlyvisible"] * visible
        argv += ["--name", f"^{pattern}$"]
        with contextlib.suppress(subprocess.TimeoutExpired):
            return (sh(argv, self.env, timeout=timeout).stdout.split() or [None])[0]

    def keys(self, window, *keys):
        sh(["xdotool", "windowactivate", "--sync", window], self.env)
        for k in keys:
            sh(["xdotool", "key", "--clearmodifiers", k], self.env)
            time.sleep(0.15)  # a key at a time, as a person types: menus open between keys

    # Opens the window captioned `caption` with `keys` typed into `parent`. A busy machine may
    # show a menu after the next key has gone to the window under it: then the menus are closed
    # and the keys typed again, up to three times.
    def open(self, parent, keys, caption):
        for _ in range(3):
            self.keys(parent, *keys)
            if found := self.window(re.escape(caption), timeout=15):
                return found
            self.keys(parent, "Escape", "Escape", "Escape")
        return None


# host-sim in its console mode: each line written is a set of requests, answered in turn.
class Host(Child):
    def __init__(self, host_sim, log):
        super().__init__([str(host_sim), "--pty", "--stdin", "--machine", "--timeout", "300"],
                         log=log, stdin=subprocess.PIPE)
        self.pty = self.announced()

    # The replies to one line of requests: [(status, raw)].
    def ask(self, requests, timeout=30):
        self.proc.stdin.write((requests + "\n").encode())
        self.proc.stdin.flush()
        replies, deadline = [], time.monotonic() + timeout
        while (line := self.line(deadline - time.monotonic())) not in (None, "DONE"):
            if line.startswith("REPLY "):
                replies.append((fields(line).get("status"), fields(line).get("raw")))
        return replies


# One part of the run: what it starts is stopped, and what it links removed, when it ends.
class Part(contextlib.ExitStack):
    def __init__(self, args, display, wine):
        super().__init__()
        self.args, self.display, (self.env, self.dosdevices) = args, display, wine
        # At the end the server is stopped and gone, so that the next part starts a new one.
        self.callback(sh, ["wineserver", "-w"], self.env)
        self.callback(sh, ["wineserver", "-k"], self.env)

    def log(self, name):
        return self.enter_context(open(self.args.work / f"{name}.log", "w"))

    def child(self, child):
        self.callback(child.stop)
        return child

    def com(self, name, target):
        self.callback(link(self.dosdevices, name, target).unlink, missing_ok=True)

    # `exe` copied into a fresh folder with `ini` beside it (None: no settings file).
    def folder(self, name, ini, exe=None):
        path = self.args.work / name
        path.mkdir(parents=True)
        if ini is not None:
            (path / "Nastroika.ini").write_bytes(ini)
        return Path(shutil.copy2(exe or self.args.exe, path))

    # Under wine, or a Linux program on Qt's offscreen platform.
    def start(self, exe, name, cwd=None, wine=True):
        env = self.env if wine else dict(os.environ, QT_QPA_PLATFORM="offscreen")
        return self.child(Child(["wine"] * wine + [str(exe)], log=self.log(name), env=env,
                                cwd=str(cwd or exe.parent)))

    # A window just shown or restored paints a moment later: until then it is one colour.
    def shot(self, window, name):
        if folder := self.args.screenshots:
            folder.mkdir(parents=True, exist_ok=True)
            png, env = str(folder / name), self.display.env
            wait_until(lambda: sh(["import", "-window", window, png], env) and
                       int(sh(["identify", "-format", "%k", png], env).stdout or 0) > 8, 10)


def run_box(p):
    host = p.child(Host(p.args.host_sim, p.log("box-host")))
    p.com("com12", host.pty)
    p.start(p.folder("box", settings("Com8", "Com12")), "box-program")
    box = p.display.window(" OUT ")
    if check("a missing COM port shows the error box captioned \" OUT \"", box):
        p.shot(box, "port-error.png")
        p.display.keys(box, "Return")
        answer = wait_until(lambda: [r for s, r in host.ask("07") if s != "none"], 60)
        check("the box closes with Enter and the start-up goes on: the host line answers",
              answer == ["fe"], str(answer))


def run_first(p):
    exe = p.folder("first", None)
    p.start(exe, "first-program", cwd=p.args.work)
    ini = exe.parent / "Nastroika.ini"
    got = wait_until(lambda: ini.is_file() and ini.read_bytes(), 90)
    check("a first start from another folder creates Nastroika.ini beside the exe in "
          "Windows-1251 with CRLF", got == ini_bytes("[Резервуар]\n1=0\n"), repr(got))


# The Windows programs beside each other on the same scenario and settings, on the ticks with the
# Linux program beside them; then, on the ticks, the window program's windows.
def run_road(p, fast=False):
    mode, extra = ("fast", FAST_SETTINGS) if fast else ("tick", {})
    sides = {"windows": ("Com5", "Com12", p.args.exe), "service": ("Com6", "Com13", p.args.service)}
    if not fast:
        sides["linux"] = (None, None, p.args.linux_program)
    hosts = {}
    for name, (modbus, velt, exe) in sides.items():
        gauge = p.child(Child([str(p.args.gauge_sim), "--pty", str(p.args.scenario)],
                              log=p.log(f"{mode}-{name}-gauge"))).announced()
        hosts[name] = p.child(Host(p.args.host_sim, p.log(f"{mode}-{name}-host")))
        if modbus:
            p.com(modbus.lower(), gauge)
            p.com(velt.lower(), hosts[name].pty)
        ini = settings(modbus or gauge, velt or hosts[name].pty, extra)
        p.start(p.folder(f"{mode}/{name}", ini, exe), f"{mode}-{name}", wine=bool(modbus))

    # Until the identification is answered with data the first poll cycle has not passed: a
    # program that never gets there fails every comparison below.
    for h in hosts.values():
        wait_until(lambda: [s for s, _ in h.ask("07")] == ["0"], 300)
    for requests in REQUESTS:
        got = {name: h.ask(requests) for name, h in hosts.items()}
        want = TICK_ANSWERS.setdefault(requests, got.get("linux"))
        sane = want and len(want) == len(requests.split()) and all(s != "none" for s, _ in want)
        wrong = [name for name in ("windows", "service") if got[name] != want]
        check(f"host answers to {requests!r} are the Linux program's bytes on the ticks "
              f"({mode} mode)", sane and not wrong, f"{wrong} differ: {got}, Linux {want}")
    if not fast:
        run_windows(p)


# The window program's own windows, driven as an operator drives them, by the keyboard.
def run_windows(p):
    d = p.display
    # Activating the minimised window restores it, as a click on the task bar does.
    if hidden := d.window(re.escape(MAIN_CAPTION), visible=False):
        d.keys(hidden)
    main = hidden and d.window(re.escape(MAIN_CAPTION), timeout=30)
    if not check("the restored main window is titled with its caption", main):
        return
    p.shot(main, "main-window.png")
    for keys, caption, png in WINDOWS:
        window = d.open(main, keys, caption)
        if check(f"{caption!r} opens", window):
            p.shot(window, png)
            d.keys(window, "Escape")
            wait_until(lambda: "IsViewable" not in sh(["xwininfo", "-id", window], d.env).stdout)


# The paths named on the command line, `work` made empty; `screenshots` may be left out.
def arguments(*names):
    ap = argparse.ArgumentParser()
    for name in names:
        required = name != "screenshots"
        ap.add_argument(f"--{name}", required=required, type=lambda s: Path(s).resolve())
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    args.work.mkdir(parents=True)
    return args


# Each part in a fresh wine server of one prefix, on one display; the summary's exit status.
# In that prefix wine draws each window's frame and caption itself, as Windows does, with wine's
# own fonts (Debian's fonts-wine, not in a new prefix: without them "MS Sans Serif" falls back to
# whatever fontconfig offers and the caption buttons' Marlett glyphs show as letters).
def run_parts(args, parts, what, unit="tests"):
    with Display(args.work) as display:
        env = wine_env(args.work / "wineprefix", display.env)
        wine = env, new_prefix(env, r"HKCU\Software\Wine\X11 Driver", "Decorated", "N")
        fonts = args.work / "wineprefix/drive_c/windows/Fonts"
        shutil.copytree("/usr/share/wine/fonts", fonts, dirs_exist_ok=True)
        for name, part in parts.items():
            try:
                with Part(args, display, wine) as p:
                    part(p)
            except (RuntimeError, OSError, subprocess.SubprocessError, StopIteration) as e:
                check(f"no error in the {name} part", False, f"{type(e).__name__}: {e}")
    return summary(what, unit)


def main():
    args = arguments("exe", "service", "linux-program", "gauge-sim", "host-sim", "scenario",
                     "work", "screenshots")
    parts = dict(box=run_box, first=run_first, road=run_road, fast=lambda p: run_road(p, True))
    return run_parts(args, parts, "road-gui")


if __name__ == "__main__":
    sys.exit(main())
