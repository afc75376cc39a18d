#!/usr/bin/env python3
"""modbusvelt-service as its operator meets it: the settings check, the signals systemd sends, and
a line whose far end goes away and comes back under the same name. gauge-sim plays the gauge
system; the test itself is the host, on a pseudo-terminal of its own.

    service_test.py [-v] [CASE] --service PATH --gauge-sim PATH
"""
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

ARGS = {}
# Tank 1 on channel 3: its main parameters, as the host's 0xD4 reply carries the level (tenths).
SCENARIO = {"channels": [
    {"address": 3, "type": 0, "main": {"level": 1234.5, "volume": 500.0}},
    {"address": 7, "type": 0, "main": {"level": 2000.0}}]}
LEVEL_3 = (12345).to_bytes(4, "little", signed=True)
LEVEL_7 = (20000).to_bytes(4, "little", signed=True)


def ini(tanks="1=3", slave=80, modbus=None, velt=None, log=1):
    lines = ["[Резервуар]", *tanks.split(), "[SLAVE]", f"Адрес={slave}", "[Флаг]", f"Протокол={log}"]
    for section, port in (("MODBUS", modbus), ("VELT", velt)):
        lines += [f"[{section}]", f"Com-порт={port or 'Com1'}", f"Существует={int(bool(port))}"]
    return "\n".join(lines) + "\n"


class Proc:
    """A child whose standard output and error are read into lists as they come."""

    def __init__(self, argv):
        self.p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out, self.err, self.cv = [], [], threading.Condition()
        self.readers = [threading.Thread(target=self._read, args=pair, daemon=True)
                        for pair in ((self.p.stdout, self.out), (self.p.stderr, self.err))]
        for r in self.readers:
            r.start()

    def _read(self, stream, lines):
        for raw in stream:
            with self.cv:
                lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cv.notify_all()

    def wait_line(self, lines, pattern, timeout=60):
        with self.cv:
            ok = self.cv.wait_for(lambda: any(re.search(pattern, l) for l in lines), timeout)
        assert ok, f"no line /{pattern}/ in {timeout} s; last: {lines[-5:]}"

    def stop(self):
        if self.p.poll() is None:
            self.p.terminate()
        try:
            self.p.wait(10)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
        for r in self.readers:
            r.join(10)
        self.p.stdout.close()
        self.p.stderr.close()


def ready(fd, timeout):
    return bool(select.select([fd], [], [], max(0, timeout))[0])


class HostEnd:
    """The host's side of a pseudo-terminal, reached by the service through a link."""

    def __init__(self, link):
        self.link = link
        # Our own hold on the slave side keeps the pair usable while the service has it closed.
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(self.slave), link)

    def ask(self, *commands):
        """Sends each byte alone and returns the replies, b"" for one that did not come."""
        replies = []
        for cmd in commands:
            os.write(self.master, bytes([cmd]))
            got, deadline = b"", time.monotonic() + 2
            while time.monotonic() < deadline:
                # The reply comes within one 55 ms tick, all at once; a pause after it ends it.
                if not ready(self.master, 0.2 if got else deadline - time.monotonic()):
                    if got:
                        break
                    continue
                got += os.read(self.master, 256)
            replies.append(got)
            time.sleep(0.12)  # never two requests in one tick
        return replies

    def until(self, commands, want, timeout=90):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            replies = self.ask(*commands)
            if want(replies):
                return replies
            time.sleep(0.3)
        raise AssertionError(f"host never got what it waited for; last: {replies}")

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class ServiceCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="conv-service-")
        self.path = os.path.join(self.dir.name, "Nastroika.ini")
        self.link = {side: os.path.join(self.dir.name, side) for side in ("gauge", "host")}
        self.children = []

    def tearDown(self):
        for c in self.children:
            c.stop()
        self.dir.cleanup()

    def write_ini(self, text):
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(text)

    def gauge(self):
        g = Proc([ARGS["gauge_sim"], "--pty", "--link", self.link["gauge"], self.scenario(80)])
        g.wait_line(g.out, "^PTY ")
        self.children.append(g)
        return g

    def scenario(self, slave):
        path = os.path.join(self.dir.name, "scenario.json")
        with open(path, "w") as f:
            json.dump(dict(SCENARIO, slave=slave), f)
        return path

    def service(self, text):
        self.write_ini(text)
        s = Proc([ARGS["service"], "--config", self.path])
        self.children.insert(0, s)
        return s

    def road(self):
        """gauge-sim, the host end and the service between them, until tank 1 is served."""
        g, host = self.gauge(), HostEnd(self.link["host"])
        s = self.service(ini(modbus=self.link["gauge"], velt=self.link["host"]))
        first = host.until([0xC3, 0xD4], lambda r: r[1][:1] == b"\0")
        self.assertEqual(first[1][3:7], LEVEL_3)
        return g, host, s


class CheckConfig(ServiceCase):
    def run_service(self, *args):
        r = subprocess.run([ARGS["service"], *args], capture_output=True, text=True, timeout=30)
        return r.returncode, r.stdout, r.stderr

    def test_files_and_command_lines(self):
        cases = [  # name, file contents (None: none; "dir": a folder), arguments, code, out, err
            ("good file", ini("1=3 2=- 5=12", slave=81, modbus="/dev/ttyUSB0"), ["--check-config"],
             0, ["MODBUS: порт /dev/ttyUSB0, используется, 19200,8,1,ODD", "VELT: порт Com1, не "
                 "используется", "Адрес SLAVE: 81 (0x51)", "Резервуаров: 2",
                 "Резервуар 1: канал 3", "Резервуар 5: канал 12"], []),
            ("bad values", ini("1=3 2=3 3=20 4=x 5=6", slave=300, modbus="/dev/a", velt="/dev/a")
             .replace("Протокол=1", "Протокол=on"), ["--check-config"], 1,
             ["Резервуаров: 3", "Протокол: не ведётся"],
             ['Адрес="300": вне 0..255', '2="3": канал уже у резервуара 1', '3="20": адрес канала '
              'вне 0..15', '4="x": не целое число: резервуары с 4-го не читаются',
              'Протокол="on": не целое число', "Обе стороны на одном порту /dev/a",
              "Проблем в файле настроек: 6"]),
            ("missing file", None, ["--check-config"], 1, ["Резервуар 1: канал 0"],
             ["не найден: служба создаст его"]),
            ("a folder in its place", "dir", ["--check-config"], 1, [],
             ["Не удалось прочитать файл настроек"]),
            ("help", None, ["--help"], 0, ["Коды выхода:", "SIGHUP"], []),
            ("unknown option", None, ["--check"], 2, [], ["неизвестный параметр: --check"]),
        ]
        for name, text, args, code, out, err in cases:
            with self.subTest(name):
                if os.path.isdir(self.path):
                    os.rmdir(self.path)
                elif os.path.exists(self.path):
                    os.unlink(self.path)
                if text == "dir":
                    os.mkdir(self.path)
                elif text is not None:
                    self.write_ini(text)
                rc, stdout, stderr = self.run_service(*args, "--config", self.path)
                self.assertEqual(rc, code, stderr)
                for want in out:
                    self.assertIn(want, stdout)
                for want in err:
                    self.assertIn(want, stderr)
                if not err:
                    self.assertEqual(stderr, "")
                self.assertEqual(os.path.isfile(self.path), text not in (None, "dir"))


class Signals(ServiceCase):
    def test_sighup_applies_a_new_tank_table_and_slave_address(self):
        g, host, s = self.road()
        before = host.ask(0xC3, 0xD4)[1]
        self.assertEqual(host.ask(0xC7, 0xD4)[1], b"\xff")  # no tank on channel 7
        # The gauge system moves to slave address 81 and the service is told so, with a tank on
        # channel 7 added.
        self.scenario(81)
        g.p.send_signal(signal.SIGUSR1)
        g.wait_line(g.out, "^RELOAD ok")
        self.write_ini(ini("1=3 2=7", slave=81, modbus=self.link["gauge"], velt=self.link["host"]))
        s.p.send_signal(signal.SIGHUP)
        s.wait_line(s.err, "^Настройки перечитаны из ")
        # Tank 1 keeps what it holds; tank 2 is served at once (zeros until the gauge is read).
        self.assertEqual(host.ask(0xC3, 0xD4)[1], before)
        self.assertEqual(host.ask(0xC7, 0xD4)[1][:1], b"\0")
        g.wait_line(g.out, r"^REQ 51 06 00 00 00 07 .* -> REPLY")
        replies = host.until([0xC7, 0xD4], lambda r: r[1][3:7] == LEVEL_7)
        self.assertEqual(replies[1][:1], b"\0")

    def test_sigterm_with_both_lines_busy_closes_the_ports_and_exits_0_at_once(self):
        g, host, s = self.road()
        stop = threading.Event()

        def ask_at_full_rate():
            while not stop.is_set():
                host.ask(0xD4)

        busy = threading.Thread(target=ask_at_full_rate, daemon=True)
        busy.start()
        try:
            g.wait_line(g.out, r"^REQ 50 .*-> REPLY")
            t0 = time.monotonic()
            s.p.send_signal(signal.SIGTERM)
            self.assertEqual(s.p.wait(5), 0)
            self.assertLess(time.monotonic() - t0, 1.0)
        finally:
            stop.set()
            busy.join()
        s.wait_line(s.err, "^Остановлено сигналом SIGTERM, порты закрыты$", 5)


class PortReturn(ServiceCase):
    def returns(self, s, side, link, come_back):
        s.wait_line(s.out, f"^{side} Порт {re.escape(link)} потерян: устройство отключено")
        come_back()
        s.wait_line(s.out, f"^{side} Порт {re.escape(link)} снова открыт$", 30)
        for what in ("потерян", "снова открыт"):
            self.assertEqual(sum(what in l for l in s.out), 1, what)

    def test_gauge_side(self):
        g, host, s = self.road()
        g.stop()  # closes its pseudo-terminal and removes the link, as an unplugged adapter
        host.until([0xC3, 0xD4], lambda r: r[1] == b"\x04")  # the tank's link error
        self.returns(s, "MODBUS", self.link["gauge"], self.gauge)
        replies = host.until([0xC3, 0xD4], lambda r: r[1][:1] == b"\0")
        self.assertEqual(replies[1][3:7], LEVEL_3)

    def test_host_side(self):
        silent = HostEnd(self.link["gauge"])  # a gauge line with no tank to poll on it
        host = HostEnd(self.link["host"])
        s = self.service(ini("", modbus=self.link["gauge"], velt=self.link["host"]))
        ident = b"\x00\x0a\x06\x3c\x30"
        host.until([0x07], lambda r: r[0] == ident)
        host.close()
        renewed = []
        self.returns(s, "VELT", self.link["host"], lambda: renewed.append(HostEnd(self.link["host"])))
        self.assertEqual(renewed[0].ask(0x07), [ident])
        silent.close()


if __name__ == "__main__":
    argv = sys.argv[:1]
    it = iter(sys.argv[1:])
    for a in it:
        if a in ("--service", "--gauge-sim"):
            ARGS[a[2:].replace("-", "_")] = next(it)
        else:
            argv.append(a)
    unittest.main(argv=argv)
