#!/usr/bin/env python3
# modbusvelt-service as its operator meets it: the settings check, the signals systemd sends, and
# each line's far end going away and coming back under the same name. gauge-sim is the gauge; the
# test is the host, on a pseudo-terminal of its own. The programs: $CONV_SERVICE, $CONV_GAUGE_SIM.
import json
import os
import re
import select
import signal
import subprocess
import tempfile
import threading
import time
import unittest

SERVICE, GAUGE_SIM = os.environ.get("CONV_SERVICE"), os.environ.get("CONV_GAUGE_SIM")
CHANNELS = [{"address": 3, "type": 0, "main": {"level": 1234.5}},
            {"address": 7, "type": 0, "main": {"level": 2000.0}}]
# The level of tank 1 (channel 3) and of channel 7 as 0xD4 carries them, in tenths.
LEVEL_3, LEVEL_7 = (12345).to_bytes(4, "little"), (20000).to_bytes(4, "little")


def ini(tanks="1=3", slave=80, modbus=None, velt=None, log=1, fast=0):
    lines = ["[Резервуар]", *tanks.split(), "[SLAVE]", f"Адрес={slave}", "[Флаг]",
             f"Протокол={log}"]
    for section, port, mode in (("MODBUS", modbus, "Быстрый опрос"),
                                ("VELT", velt, "Быстрый ответ")):
        lines += [f"[{section}]", f"Com-порт={port or 'Com1'}", f"Существует={int(bool(port))}",
                  f"{mode}={fast}"]
    return "\n".join(lines) + "\n"


class Proc:
    # A child of the test, ended with it, whose output lines (standard error's among them) are
    # gathered as they come.
    def __init__(self, test, argv):
        self.p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        test.addCleanup(self.p.wait)
        test.addCleanup(self.p.kill)
        self.lines, self.cv = [], threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.p.stdout:
            with self.cv:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cv.notify_all()

    def wait_line(self, pattern, timeout=60):
        with self.cv:
            ok = self.cv.wait_for(lambda: any(re.search(pattern, l) for l in self.lines), timeout)
        assert ok, f"no line /{pattern}/ within {timeout} s; last: {self.lines[-5:]}"


class HostEnd:
    # The far end of a pseudo-terminal that the service reaches through a link. Holding the slave
    # side too keeps the pair usable while the service has it closed.
    def __init__(self, link):
        self.master, self.slave = os.openpty()
        os.symlink(os.ttyname(self.slave), link)

    def ask(self, *commands):
        # Each byte alone, in its own tick; its reply ends with a pause (b"" when none came).
        replies = []
        for cmd in commands:
            os.write(self.master, bytes([cmd]))
            got, wait = b"", 2.0
            while select.select([self.master], [], [], wait)[0]:
                got += os.read(self.master, 256)
                wait = 0.2
            replies.append(got)
            time.sleep(0.12)
        return replies

    def until(self, commands, want, timeout=90):
        deadline = time.monotonic() + timeout
        while not want(replies := self.ask(*commands)):
            assert time.monotonic() < deadline, f"still {replies} after {timeout} s"


class ServiceCase(unittest.TestCase):
    FAST = 0  # both sides' mode

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="conv-service-")
        self.addCleanup(self.dir.cleanup)
        self.path = os.path.join(self.dir.name, "Nastroika.ini")
        self.link = {side: os.path.join(self.dir.name, side) for side in ("gauge", "host")}

    def write(self, name, text):
        with open(os.path.join(self.dir.name, name), "w", encoding="utf-8") as f:
            f.write(text)
        return f.name


class CheckConfig(ServiceCase):
    def test_exit_codes_and_problems(self):
        bad = ini("1=3 2=3 3=20 4=x 5=6", slave=300, modbus="/dev/a", velt="/dev/a", log="on")
        cases = [  # name, file (None: none, "dir": a folder), argument, exit code, out, err
            ("good file", ini("1=3 2=- 5=12", slave=81, modbus="/dev/ttyUSB0", fast=1),
             "--check-config", 0, ["/dev/ttyUSB0, используется, 19200,8,1,ODD, режим: быстрый",
                                   "Адрес SLAVE: 81 (0x51)", "Резервуар 5: канал 12"], []),
            ("bad values", bad, "--check-config", 1, ["Резервуаров: 3"],
             ['Адрес="300": вне 0..255', '2="3": канал уже у резервуара 1', '3="20": адрес канала '
              'вне 0..15', '4="x": не целое число: резервуары с 4-го не читаются', 'Протокол="on": '
              'не целое число', "на одном порту /dev/a", "Проблем в файле настроек: 6"]),
            ("missing file", None, "--check-config", 1, [], ["не найден: служба создаст его"]),
            ("a folder in its place", "dir", "--check-config", 1, [],
             ["Не удалось прочитать файл настроек"]),
            ("unknown option", None, "--check", 2, [], ["неизвестный параметр: --check"]),
        ]
        for name, text, arg, code, out, err in cases:
            with self.subTest(name):
                subprocess.run(["rm", "-rf", self.path], check=True)
                if text == "dir":
                    os.mkdir(self.path)
                elif text is not None:
                    self.write("Nastroika.ini", text)
                r = subprocess.run([SERVICE, arg, "--config", self.path],
                                   capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertTrue(all(w in r.stdout for w in out), r.stdout)
                self.assertTrue(all(w in r.stderr for w in err) if err else not r.stderr, r.stderr)
                # Checking never creates the file.
                self.assertEqual(os.path.isfile(self.path), text not in (None, "dir"))


class Road(ServiceCase):
    def gauge(self):
        scenario = self.write("scenario.json", json.dumps({"slave": 80, "channels": CHANNELS}))
        gauge = Proc(self, [GAUGE_SIM, "--pty", "--link", self.link["gauge"], scenario])
        gauge.wait_line("^PTY ")
        return gauge

    def lost_and_back(self, s, side, come_back):
        name = re.escape(self.link["gauge" if side == "MODBUS" else "host"])
        s.wait_line(f"^{side} Порт {name} потерян: устройство отключено")
        back = come_back()
        s.wait_line(f"^{side} Порт {name} снова открыт$", 30)
        return back

    def test_ports_return_sighup_reloads_sigterm_stops(self):
        g, host = self.gauge(), HostEnd(self.link["host"])
        self.write("Nastroika.ini",
                   ini(modbus=self.link["gauge"], velt=self.link["host"], fast=self.FAST))
        s = Proc(self, [SERVICE, "--config", self.path])
        served = lambda level: lambda r: r[1][:1] == b"\0" and r[1][3:7] == level
        host.until([0xC3, 0xD4], served(LEVEL_3))
        g.p.terminate()  # its pseudo-terminal closes and its link goes: an unplugged adapter
        g = self.lost_and_back(s, "MODBUS", self.gauge)
        host.until([0xC3, 0xD4], served(LEVEL_3))
        # Its pseudo-terminal closes and its link goes, as the gauge's did.
        os.close(host.master)
        os.close(host.slave)
        os.unlink(self.link["host"])
        host = self.lost_and_back(s, "VELT", lambda: HostEnd(self.link["host"]))

        # The gauge system moves to slave address 81; the service is told so, with a tank added.
        self.write("scenario.json", json.dumps({"slave": 81, "channels": CHANNELS}))
        g.p.send_signal(signal.SIGUSR1)
        g.wait_line("^RELOAD ok")
        self.write("Nastroika.ini", ini("1=3 2=7", slave=81, modbus=self.link["gauge"],
                                        velt=self.link["host"], fast=self.FAST))
        s.p.send_signal(signal.SIGHUP)
        s.wait_line("^Настройки перечитаны из ")
        host.until([0xC7, 0xD4], served(LEVEL_7))
        # Both lines busy (channel 7 came from slave 81 just now): it must stop, cleanly.
        s.p.send_signal(signal.SIGTERM)
        self.assertEqual(s.p.wait(30), 0)
        s.wait_line("^Остановлено сигналом SIGTERM, порты закрыты$", 5)


class RoadFast(Road):
    FAST = 1  # the same with both sides fast


if __name__ == "__main__":
    unittest.main()
