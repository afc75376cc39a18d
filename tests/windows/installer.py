#!/usr/bin/env python3
# The Windows installer and the portable zip under wine, as a site meets them: a silent install
# (/S) for one user without administrator rights, the installed program started from its
# Start-menu entry between gauge-sim on Com5 and host-sim on Com12, an upgrade over the
# operator's changed Nastroika.ini that keeps it, a silent uninstall that leaves it, and the
# portable program started beside its sample settings. Runs on an X server of its own with a
# fresh wine prefix (see road_gui.py). Each check is counted; ends with
# "installer: N checks ran: P passed, F failed" and exits non-zero on a failure or when none ran.
import argparse
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from road_gui import MAIN_CAPTION, Checks, Display, Gauge, Host, Wine, ini_bytes, sh  # noqa: E402
from wine_runner import ROAD_VALUES, link  # noqa: E402

PRODUCT = "Modbusvelt"
MENU_FOLDER = "Конвертор Modbus - Velt"
UNINSTALL_KEY = rf"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\{PRODUCT}"
SCENARIO = Path(__file__).resolve().parent / "road_scenario.json"
# What an operator sets up after installing: tank 1 on gauge channel 3, both lines in use.
OPERATOR_SETTINGS = ini_bytes(
    "; настроено на месте\n[Резервуар]\n1=3\n[SLAVE]\nАдрес=80\n[Флаг]\nПротокол=1\n"
    "[MODBUS]\nCom-порт=Com5\nСуществует=1\n[VELT]\nCom-порт=Com12\nСуществует=1\n")


class Site:
    def __init__(self, wine):
        self.wine = wine
        users = wine.prefix / "drive_c" / "users"
        # The prefix's user folder is named after the Linux user.
        home = next(p for p in users.iterdir() if (p / "AppData").is_dir() and p.name != "Public")
        self.folder = home / "AppData" / "Local" / "Programs" / PRODUCT
        self.menu = home / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / \
            "Programs" / MENU_FOLDER
        self.exe, self.ini = self.folder / "modbusvelt.exe", self.folder / "Nastroika.ini"
        self.uninstaller = self.folder / "uninstall.exe"

    def run(self, *argv, timeout=300):
        return subprocess.run(["wine", *argv], env=self.wine.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def registered(self):
        out = sh(["wine", "reg", "query", UNINSTALL_KEY], self.wine.env).stdout
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", out, re.M))


def wait_until(condition, timeout=60):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


# The installed program, started from its Start-menu entry as an operator does, serves the
# gauge's values to the host.
def runs_end_to_end(site, display, work, checks, args):
    logs = [open(work / f"{n}.log", "w") for n in ("gauge", "host", "program")]
    gauge = host = None
    try:
        gauge = Gauge(args.gauge_sim, SCENARIO, logs[0])
        host = Host(args.host_sim, logs[1])
        link(site.wine.dosdevices, "com5", gauge.pty)
        link(site.wine.dosdevices, "com12", host.pty)
        shortcut = site.menu / "Конвертор.lnk"
        program = subprocess.Popen(["wine", "start", "/unix", str(shortcut)], env=site.wine.env,
                                   stdout=logs[2], stderr=logs[2])
        main = display.window(re.escape(MAIN_CAPTION), visible=False)
        checks.check("the Start-menu entry starts the installed program", main is not None)
        values = {}
        if host.wait_first_cycle():
            host.ask("c3 d4")
            values = {k: v for k, v in host.values.items() if k in ROAD_VALUES}
        checks.check("the installed program serves the gauge's values to the host",
                     values == ROAD_VALUES, str(values))
        program.wait(60)
    finally:
        site.wine.stop()
        for sim in (gauge, host):
            if sim:
                sim.sim.stop()
        for name in ("com5", "com12"):
            (site.wine.dosdevices / name).unlink(missing_ok=True)
        for f in logs:
            f.close()


def run(args, work, checks):
    display = Display(work)
    try:
        wine = Wine(work / "wineprefix", display)
        site = Site(wine)
        packaged = zipfile.ZipFile(args.zip)
        names = packaged.namelist()
        exe_bytes = packaged.read(next(n for n in names if n.endswith("/modbusvelt.exe")))
        sample = args.sample.read_bytes()

        checks.check("the installer asks for no administrator rights (asInvoker)",
                     b'level="asInvoker"' in args.setup.read_bytes())
        checks.check("the silent install ends well", site.run(str(args.setup), "/S") == 0)
        checks.check("the program is installed into the user's own LOCALAPPDATA\\Programs",
                     site.exe.is_file() and site.exe.read_bytes() == exe_bytes, str(site.exe))
        checks.check("the sample settings are installed beside it, Windows-1251 with CRLF",
                     site.ini.is_file() and site.ini.read_bytes() == sample)
        checks.check("a Start-menu entry and the uninstaller are there",
                     (site.menu / "Конвертор.lnk").is_file() and site.uninstaller.is_file())
        entry = site.registered()
        checks.check("the uninstall entry is the user's own",
                     re.fullmatch(r'"C:\\users\\[^\\]+\\AppData\\Local\\Programs\\Modbusvelt'
                                  r'\\uninstall\.exe"', entry.get("UninstallString", "")) is not None,
                     entry.get("UninstallString"))

        site.ini.write_bytes(OPERATOR_SETTINGS)
        runs_end_to_end(site, display, work, checks, args)

        # An upgrade: the operator's settings as they are now, and a program file to be replaced.
        kept = site.ini.read_bytes()
        site.exe.write_bytes(b"an older program")
        checks.check("the silent upgrade ends well", site.run(str(args.setup), "/S") == 0)
        checks.check("the upgrade replaces the program", site.exe.read_bytes() == exe_bytes)
        checks.check("the upgrade keeps the operator's Nastroika.ini", site.ini.read_bytes() == kept)

        checks.check("the silent uninstall starts", site.run(str(site.uninstaller), "/S") == 0)
        # The uninstaller runs on from a copy of itself in the temporary folder.
        gone = wait_until(lambda: not site.exe.exists() and not site.uninstaller.exists())
        checks.check("the uninstall removes the program and the uninstaller", gone)
        checks.check("the uninstall removes the Start-menu entry and the uninstall entry",
                     wait_until(lambda: not site.menu.exists()) and not site.registered())
        checks.check("the uninstall leaves the operator's Nastroika.ini",
                     site.ini.is_file() and site.ini.read_bytes() == kept)
        wine.stop()

        # The portable zip: one folder with the program and the sample settings.
        folder = work / "portable"
        shutil.rmtree(folder, ignore_errors=True)
        packaged.extractall(folder)
        top = {n.split("/")[0] for n in names}
        files = sorted(n.split("/", 1)[1] for n in names if not n.endswith("/"))
        checks.check("the zip holds one folder with modbusvelt.exe and Nastroika.ini",
                     len(top) == 1 and files == ["Nastroika.ini", "modbusvelt.exe"], str(names))
        ini = folder / top.pop() / "Nastroika.ini"
        text = ini.read_bytes()
        checks.check("the sample settings are Windows-1251 with CRLF and commented",
                     text == sample and b"\r\n" in text and b"\n" not in text.replace(b"\r\n", b"")
                     and text.decode("cp1251").startswith(";"))
        log = open(work / "portable.log", "w")
        try:
            wine.start(ini.parent / "modbusvelt.exe", log)
            main = display.window(re.escape(MAIN_CAPTION), visible=False)
            box = display.window(" OUT ", timeout=5)
            checks.check("the portable program starts on its sample settings, no port box",
                         main is not None and box is None)
            checks.check("and leaves the sample file as it was", ini.read_bytes() == sample)
        finally:
            wine.stop()
            log.close()
    finally:
        display.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--setup", required=True, type=Path, help="the installer")
    ap.add_argument("--zip", required=True, type=Path, help="the portable zip")
    ap.add_argument("--sample", required=True, type=Path, help="the sample Nastroika.ini")
    ap.add_argument("--gauge-sim", required=True, type=Path)
    ap.add_argument("--host-sim", required=True, type=Path)
    ap.add_argument("--work", required=True, type=Path, help="scratch folder (emptied)")
    args = ap.parse_args()
    work = args.work.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    checks = Checks()
    try:
        run(args, work, checks)
    except (RuntimeError, OSError, subprocess.SubprocessError, StopIteration) as e:
        checks.check("no error in the run", False, f"{type(e).__name__}: {e}")
    ran = checks.passed + checks.failed
    print(f"installer: {ran} checks ran: {checks.passed} passed, {checks.failed} failed",
          flush=True)
    return 1 if checks.failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
