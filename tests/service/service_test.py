#!/usr/bin/env python3
"""modbusvelt-service as its operator meets it: the settings check, the signals systemd sends, and
each line's far end going away and coming back under the same name. gauge-sim is the gauge; the
test is the host, on a pseudo-terminal of its own. The programs: $CONV_SERVICE, $CONV_GAUGE_SIM.
"""
import json
import os
import re
import select
import signal
import subprocess
import tempfile
import threading
import time
import tty
import unittest

SERVICE, GAUGE_SIM = os.environ.get("CONV_SERVICE"), os.environ.get("CONV_GAUGE_SIM")
CHANNELS = [{"address": 3, "type": 0, "main": {"level": 1234.5}},
            {"address": 7, "type": 0, "main": {"level": 2000.0}}]
# The level of tank 1 (channel 3) and of channel 7 as 0xD4 carries them, in tenths.
LEVEL_3, LEVEL_7 = (12345).to_bytes(4, "little"), (20000).to_bytes(4, "little")
IDENT = b"\x00\x0a\x06\x3c\x30"  # the answer to 0x07 once the first cycle is over


def ini(tanks="1=3", slave=80, modbus=None, velt=None, log=1, fast=0):
    lines = ["[Резервуар]", *tanks.split(), "[SLAVE]", f"Адрес={slave}", "[Флаг]", f"Протокол={log}"]
    for section, port, mode in (("MODBUS", modbus, "Быстрый опрос"), ("VELT", velt, "Быстрый ответ")):
        lines += [f"[{section}]", f"Com-порт={port or 'Com1'}", f"Существует={int(bool(port))}",
                  f"{mode}={fast}"]
    return "\n".join(lines) + "\n"


class Proc:
    """A child whose output lines (standard error's among them) are gathered as they come."""

    def __init__(self, argv):
        self.p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.lines, self.cv = [], threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.p.stdout:
            with self.cv:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cv.notify_all()

    def wait_line(self, pattern, timeout=60):
        with self.cv:
            ok = self.cv.wait_for(lambda: any(re.search(pattern, l) for l in self.lines), timeout)
        assert ok, f"no line /{pattern}/ within {timeout} s; last: {self.lines[-5:]}"

    def stop(self):
        self.p.terminate()
        try:
            self.p.wait(10)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
        self.reader.join(10)
        self.p.stdout.close()


class HostEnd:
    """The far end of a pseudo-terminal that the service reaches through a link. Holding the
    slave side too keeps the pair usable while the service has it closed."""

    def __init__(self, link):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(self.slave), link)

    def ask(self, *commands):
        """Each byte alone, in its own tick; its reply ends with a pause (b"" when none came)."""
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
        return replies


class ServiceCase(unittest.TestCase):
    FAST = 0  # both sides' mode

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="conv-service-")
        self.path = os.path.join(self.dir.name, "Nastroika.ini")
        self.link = {side: os.path.join(self.dir.name, side) for side in ("gauge", "host")}
        self.children = []

    def tearDown(self):
        for c in self.children:
            c.stop()
        self.dir.cleanup()

    def write(self, name, text):
        with open(os.path.join(self.dir.name, name), "w", encoding="utf-8") as f:
            f.write(text)
        return f.name

    def start(self, *argv):
        self.children.append(Proc(argv))
        return self.children[-1]

    def gauge(self):
        scenario = self.write("scenario.json", json.dumps({"slave": 80, "channels": CHANNELS}))
        g = self.start(GAUGE_SIM, "--pty", "--link", self.link["gauge"], scenario)
        g.wait_line("^PTY ")
        return g

    def service(self, text):
        self.write("Nastroika.ini", text)
        return self.start(SERVICE, "--config", self.path)

    def road(self):
        """gauge-sim, the host end and the service between them, until tank 1 is served."""
        g, host = self.gauge(), HostEnd(self.link["host"])
        s = self.service(ini(modbus=self.link["gauge"], velt=self.link["host"], fast=self.FAST))
        self.assertEqual(host.until([0xC3, 0xD4], lambda r: r[1][:1] == b"\0")[1][3:7], LEVEL_3)
        return g, host, s


class CheckConfig(ServiceCase):
    def test_files_and_command_lines(self):
        bad = ini("1=3 2=3 3=20 4=x 5=6", slave=300, modbus="/dev/a", velt="/dev/a", log="on")
        cases = [  # name, file (None: none, "dir": a folder), arguments, exit code, out, err
            ("good file", ini("1=3 2=- 5=12", slave=81, modbus="/dev/ttyUSB0"), ["--check-config"],
             0, ["MODBUS: порт /dev/ttyUSB0, используется, 19200,8,1,ODD", "VELT: порт Com1, не",
                 "Адрес SLAVE: 81 (0x51)", "Резервуаров: 2\nРезервуар 1: канал 3\nРезервуар 5: "
                 "канал 12"], []),
            ("bad values", bad, ["--check-config"], 1, ["Резервуаров: 3", "Протокол: не ведётся"],
             ['Адрес="300": вне 0..255', '2="3": канал уже у резервуара 1', '3="20": адрес канала '
              'вне 0..15', '4="x": не целое число: резервуары с 4-го не читаются', 'Протокол="on": '
              'не целое число', "Обе стороны на одном порту /dev/a", "Проблем в файле настроек: 6"]),
            ("missing file", None, ["--check-config"], 1, ["Резервуар 1: канал 0"],
             ["не найден: служба создаст его"]),
            ("a folder in its place", "dir", ["--check-config"], 1, [],
             ["Не удалось прочитать файл настроек"]),
            ("fast modes", ini(modbus="/dev/ttyUSB0", velt="/dev/ttyUSB1", fast=1),
             ["--check-config"], 0, ["режим: быстрый: ожидание 800 мс, пауза 20 мс, перезапуск",
                                     "9600,8,1,EVEN, режим: быстрый ответ"], []),
            ("help", None, ["--help"], 0, ["Коды выхода:", "SIGHUP"], []),
            ("unknown option", None, ["--check"], 2, [], ["неизвестный параметр: --check"]),
        ]
        for name, text, args, code, out, err in cases:
            with self.subTest(name):
                subprocess.run(["rm", "-rf", self.path], check=True)
                if text == "dir":
                    os.mkdir(self.path)
                elif text is not None:
                    self.write("Nastroika.ini", text)
                r = subprocess.run([SERVICE, *args, "--config", self.path],
                                   capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, code, r.stderr)
                for want in out:
                    self.assertIn(want, r.stdout)
                self.assertTrue(all(w in r.stderr for w in err) if err else not r.stderr, r.stderr)
                # Checking never creates the file.
                self.assertEqual(os.path.isfile(self.path), text not in (None, "dir"))


class Signals(ServiceCase):
    def test_sighup_applies_tanks_and_slave_address_then_sigterm_stops_both_busy_lines(self):
        g, host, s = self.road()
        before = host.ask(0xC3, 0xD4)[1]
        self.assertEqual(host.ask(0xC7, 0xD4)[1], b"\xff")  # no tank on channel 7
        # The gauge system moves to slave address 81; the service is told so, with a tank added.
        self.write("scenario.json", json.dumps({"slave": 81, "channels": CHANNELS}))
        g.p.send_signal(signal.SIGUSR1)
        g.wait_line("^RELOAD ok")
        self.write("Nastroika.ini",
                   ini("1=3 2=7", slave=81, modbus=self.link["gauge"], velt=self.link["host"]))
        s.p.send_signal(signal.SIGHUP)
        s.wait_line("^Настройки перечитаны из ")
        # Tank 1 keeps what it holds; tank 2 is served at once (zeros until the gauge is read).
        self.assertEqual(host.ask(0xC3, 0xD4)[1], before)
        self.assertEqual(host.ask(0xC7, 0xD4)[1][:1], b"\0")
        g.wait_line(r"^REQ 51 06 00 00 00 07 .* -> REPLY")
        host.until([0xC7, 0xD4], lambda r: r[1][:1] == b"\0" and r[1][3:7] == LEVEL_7)

        # Both lines busy: the host asking at full rate, the gauge answering.
        stop = threading.Event()
        threading.Thread(target=lambda: [host.ask(0xD4) for _ in iter(stop.is_set, True)],
                         daemon=True).start()
        g.wait_line(r"^REQ 51 .*-> REPLY")
        # How soon it stops is measured by the package check; here it must stop, cleanly.
        s.p.send_signal(signal.SIGTERM)
        self.assertEqual(s.p.wait(30), 0)
        stop.set()
        s.wait_line("^Остановлено сигналом SIGTERM, порты закрыты$", 5)


class PortReturn(ServiceCase):
    def lost_and_back(self, s, side, come_back):
        """One line at the loss, one at the return, none per attempt in between."""
        name = re.escape(self.link["gauge" if side == "MODBUS" else "host"])
        s.wait_line(f"^{side} Порт {name} потерян: устройство отключено")
        come_back()
        s.wait_line(f"^{side} Порт {name} снова открыт$", 30)
        for what in ("потерян", "снова открыт"):
            self.assertEqual(sum(what in line for line in s.lines), 1, what)

    def test_gauge_side(self):
        g, host, s = self.road()
        g.stop()  # its pseudo-terminal closes and its link goes, as with an unplugged adapter
        host.until([0xC3, 0xD4], lambda r: r[1] == b"\x04")  # the tank's link error
        self.lost_and_back(s, "MODBUS", self.gauge)
        self.assertEqual(host.until([0xC3, 0xD4], lambda r: r[1][:1] == b"\0")[1][3:7], LEVEL_3)

    def test_host_side(self):
        HostEnd(self.link["gauge"])  # a gauge line without tanks: the first cycle ends at once
        host = HostEnd(self.link["host"])
        s = self.service(ini("", modbus=self.link["gauge"], velt=self.link["host"], fast=self.FAST))
        host.until([0x07], lambda r: r[0] == IDENT)
        os.close(host.master)
        os.close(host.slave)
        renewed = []
        self.lost_and_back(s, "VELT", lambda: renewed.append(HostEnd(self.link["host"])))
        self.assertEqual(renewed[0].ask(0x07), [IDENT])


class PortReturnFast(PortReturn):
    """A fast side whose device goes comes back as a tick side does."""
    FAST = 1


if __name__ == "__main__":
    unittest.main()
