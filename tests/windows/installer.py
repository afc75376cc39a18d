#!/usr/bin/env python3
# The Windows installer and the portable zip under wine, as a site meets them: a silent install
# (/S) for one user without administrator rights, the installed program started from its
# Start-menu entry, an upgrade over the operator's changed Nastroika.ini that keeps it, a silent
# uninstall that leaves it, and the portable zip's folder. What the program then does on its
# lines is the road's (road_gui.py): the installed file is the packaged one, byte for byte. Runs
# on an X server of its own with a fresh wine prefix. Each check is counted; ends with
# "installer: N checks ran: P passed, F failed, 0 skipped".
import re
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from road_gui import MAIN_CAPTION, Child, arguments, check, run_parts, sh, wait_until  # noqa: E402

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Modbusvelt"


def run(p, setup, packaged, sample):
    # The prefix's user folder is named after the Linux user.
    home = next(u for u in (p.dosdevices.parent / "drive_c/users").iterdir()
                if (u / "AppData").is_dir() and u.name != "Public")
    folder = home / "AppData/Local/Programs/Modbusvelt"
    menu = home / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Конвертор Modbus - Velt"
    lnk = menu / "Конвертор.lnk"
    exe, ini, uninstaller = map(folder.joinpath, ("modbusvelt.exe", "Nastroika.ini", "uninstall.exe"))
    names = packaged.namelist()
    top = names[0].split("/")[0]
    program = packaged.read(f"{top}/modbusvelt.exe")

    def silent(installer):
        return sh(["wine", str(installer), "/S"], p.env, timeout=300).returncode == 0

    def registered():
        return sh(["wine", "reg", "query", UNINSTALL_KEY], p.env).stdout

    check("the silent install asks for no administrator rights (asInvoker) and puts the program, "
          "the sample settings and the uninstaller into the user's own LOCALAPPDATA\\Programs, "
          "with a Start-menu entry and the user's own uninstall entry",
          b'level="asInvoker"' in setup.read_bytes() and silent(setup) and exe.is_file() and
          exe.read_bytes() == program and ini.read_bytes() == sample and lnk.is_file() and
          "\\AppData\\Local\\Programs\\Modbusvelt\\uninstall.exe" in registered(), registered())

    # The installed program, started from its Start-menu entry as an operator does.
    ini.write_bytes("; настроено на месте\r\n".encode("cp1251") + sample)
    p.child(Child(["wine", "start", "/unix", str(lnk)], log=p.log("installed-program"), env=p.env))
    check("the Start-menu entry starts the installed program, without a port box on the sample "
          "settings", p.display.window(re.escape(MAIN_CAPTION), visible=False) and
          p.display.window(" OUT ", timeout=5) is None)
    sh(["wineserver", "-k"], p.env)
    kept = ini.read_bytes()

    # An upgrade over the operator's settings and an older program; then the uninstall, which
    # runs on from a copy of itself in the temporary folder.
    exe.write_bytes(b"an older program")
    check("the silent upgrade replaces the program and keeps the operator's Nastroika.ini",
          silent(setup) and exe.read_bytes() == program and ini.read_bytes() == kept)
    check("the silent uninstall removes the program, the uninstaller, the Start-menu entry and "
          "the uninstall entry, and leaves the operator's Nastroika.ini",
          silent(uninstaller) and
          wait_until(lambda: not (exe.exists() or uninstaller.exists() or menu.exists()
                                  or "Uninstall" in registered()), 60) and
          ini.is_file() and ini.read_bytes() == kept)

    # The portable zip: one folder with the program and its commented sample settings.
    files = sorted(n for n in names if not n.endswith("/"))
    check("the zip holds one folder with modbusvelt.exe and the commented sample Nastroika.ini "
          "in Windows-1251 with CRLF", files == [f"{top}/Nastroika.ini", f"{top}/modbusvelt.exe"]
          and packaged.read(files[0]) == sample and sample.startswith("; Н".encode("cp1251"))
          and b"\n" not in sample.replace(b"\r\n", b""), str(names))


def main():
    args = arguments("setup", "zip", "sample", "work")
    packaged = zipfile.ZipFile(args.zip)
    parts = {"run": lambda p: run(p, args.setup, packaged, args.sample.read_bytes())}
    return run_parts(args, parts, "installer", "checks")


if __name__ == "__main__":
    sys.exit(main())
