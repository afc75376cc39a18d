#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

The seeds are the situations the unit tests walk through, in each target's input format (see the
comment at the top of each *_fuzz.cpp): a full pass over level gauges, pressure and gas tanks, an
unknown type, silence, line errors, exceptions, bad CRCs and wrong lengths on the gauge side; a
host that selects channels and groups and asks every command, with bursts and line errors; and
settings files as operators bring them (Windows-1251, UTF-8 with and without BOM, duplicates,
quotes, comments). Run it again after changing an input format.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


# ---- register images as the gauge sends them ----

def wire_float(x):
    """Float as two registers, less significant half first, each high byte first."""
    raw = struct.unpack("<I", struct.pack("<f", x))[0]
    return [(raw >> 8) & 0xFF, raw & 0xFF, (raw >> 24) & 0xFF, (raw >> 16) & 0xFF]


def slot(x, state=0):
    return wire_float(x) + [state >> 8, state & 0xFF]


def regs(count, fill=0):
    return [fill] * (2 * count)


# ---- poll step ----
OP_SILENCE, OP_ERROR, OP_RAW, OP_GOOD, OP_EXC, OP_ECHO, OP_BADCRC, OP_STRAY = range(8)


def type_regs(tank_type, config=0):
    return [tank_type, 0, config >> 8, config & 0xFF, 0, 0]


def main_regs():
    body = []
    for x in (1234.56, 4256.0, 5000.0, 0.8512, 15.27, 12.3, 1.0, 2.0, 3.0, 4.0, 0.5):
        body += slot(x)
    body += [0x31, 0x32, 0x33, 0x34, 0x35, 0x00, 0x01, 0x02, 0, 0, 0, 0]  # software, product
    body += slot(60000.0)
    assert len(body) == 84
    return body


def poll_seeds():
    cfg_one = [0x50, 0, 2, 5, 1]  # slave 0x50, one tank: index 2, channel 5, configured
    idle = [OP_SILENCE] * 2  # the cycle starts at the second pacing step
    level_pass = [OP_SILENCE, OP_GOOD, OP_GOOD] + type_regs(0)
    level_pass += [OP_GOOD] + main_regs()
    for count in (33, 33, 21, 18, 15):
        level_pass += [OP_GOOD] + regs(count, 0x41)
    write("poll_step", "level_gauge_pass", cfg_one + idle + level_pass * 2)
    write("poll_step", "all_good", cfg_one + [OP_GOOD] * 40)

    for t, count, name in ((1, 30, "pressure_tank"), (2, 18, "gas_tank")):
        seq = [OP_SILENCE, OP_GOOD, OP_GOOD] + type_regs(t) + [OP_GOOD] + regs(count, 0x3F)
        write("poll_step", name, cfg_one + idle + seq * 2)
    unknown = [OP_SILENCE, OP_GOOD, OP_GOOD] + type_regs(7) + [OP_GOOD] + regs(33) + [OP_GOOD] + regs(33)
    write("poll_step", "unknown_type", cfg_one + idle + unknown)

    # A tank that answers nothing: the select is sent five times.
    write("poll_step", "silent_gauge", [0x50, 1, 0, 3, 1] + [OP_SILENCE] * 30)
    write("poll_step", "line_errors", [0x50, 1, 0, 3, 1] + idle + [OP_SILENCE] + [OP_ERROR] * 12)
    # Exceptions, wrong lengths, bad CRCs, stray bytes, replies from another slave.
    faults = [OP_SILENCE, OP_GOOD, OP_RAW, 3, 1, 2, 3, OP_RAW, 4, 9, 9, 9, 9, OP_GOOD] + type_regs(0)
    faults += [OP_BADCRC] + main_regs() + [OP_STRAY] + main_regs() + [2, 0xAA, 0xBB]
    faults += [OP_GOOD | 0x10] + main_regs() + [OP_EXC, 0x84]
    write("poll_step", "fault_mix", [0x50, 2, 0, 0, 1, 63, 15, 1] + idle + faults * 2)
    write("poll_step", "echo_and_exception", cfg_one + idle + [OP_SILENCE, OP_ECHO, OP_EXC, 2] * 3)
    # Someone else talking after the zero byte; a select refused.
    write("poll_step", "zero_byte_answered", cfg_one + idle + [OP_RAW, 2, 1, 2, OP_EXC | 0x20, 4])


# ---- host step ----

def status_byte(configured, link, error_index, fill):
    for s in range(256):
        if (s % 3 == configured and (s >> 2) % 3 == link and (s >> 4) & 7 == error_index
                and bool(s & 0x80) == fill):
            return s
    raise ValueError("no status byte")


def level_images():
    img = type_regs(0, 0x0601)
    temp = regs(3)
    temp[4] = 21  # header register 130: number of points
    for k in range(10):
        temp += slot(10.0 + k * 0.55, 0x0008 if k == 3 else 0)
    for k in range(11):  # registers 161..193: T11..T21
        temp += slot(-5.25 + k, 0x0040 if k == 10 else 0)
    assert len(temp) == 132
    coords = []
    for k in range(21):
        coords += [(k * 500) >> 8, (k * 500) & 0xFF]
    dens = regs(3)
    dens[4] = 0x85
    for k in range(5):
        dens += slot(0.85 + k / 1000, (k << 8) | (0x04 if k == 1 else 0))
    probe = []
    for k in range(5):
        probe += [(k * 1000) >> 8, (k * 1000) & 0xFF] + wire_float(12.5 + k)
    press = regs(3)
    for k in range(9):
        press += slot(1.5 * k, 0x0040 if k == 8 else 0)
    gas = regs(3)
    for k in range(5):
        gas += slot(0.1 * k, 0x2200 | (0x02 if k == 2 else 0))
    # Type, main, temp, coords, density, probe, pressure, gas.
    images = img + main_regs() + temp + coords + dens + probe + press + gas
    assert len(images) == 6 + 84 + 132 + 42 + 36 + 30 + 60 + 36, len(images)
    return images


def host_seeds():
    every = [0x07, 0x10, 0x14, 0x11, 0xDD]
    for ch in (3, 5, 0):
        every += [0xC0 | ch, 0xD2, 0xDC, 0xD4, 0xD7, 0xDB, 0xDE, 0xDF, 0xD8]
        for g in range(6):
            every += [0xA0 | g, 0xD3, 0xD5, 0xD6]
        for high in (0x2, 0x3, 0x4, 0x5, 0x6, 0x8, 0xB):
            every += [high << 4 | ch]
    every += [0xD0, 0xD1, 0xD9, 0xDA, 0x00, 0x12, 0x7F, 0x9F, 0xE0, 0xFF]
    ticks = []
    for b in every:
        ticks += [2, b]
    burst = [3 | (2 << 2), 0xC3, 0xD4, 0xAA, 0x07]  # four bytes in one tick
    mixed = ticks[:40] + [0, 1] + burst + ticks[40:]

    tanks = [0x09, 4]  # FirstCycleDone, GaugeLinkOk; four tanks
    tanks += [2, 3, status_byte(1, 0, 0, True)] + level_images() + [0]
    tanks += [5, 3, status_byte(1, 0, 0, True)] + level_images() + [0]  # same channel, later tank
    tanks += [7, 5, status_byte(1, 0, 0, True)] + level_images() + [1]
    tanks += [9, 6, status_byte(1, 0, 0, True)] + level_images() + [2]
    write("host_step", "every_command", tanks + mixed)

    faulty = [0x09, 3]
    faulty += [0, 3, status_byte(1, 1, 0, True)] + level_images() + [0]
    faulty += [1, 5, status_byte(1, 2, 0, False)] + [0]
    faulty += [2, 0, status_byte(1, 0, 4, True)] + level_images() + [0]
    write("host_step", "faulty_tanks", faulty + ticks)
    write("host_step", "initialising", [0x00, 1, 0, 3, status_byte(1, 0, 0, False), 0] + ticks[:20])


# ---- settings file ----

def settings_seeds():
    head = [0, 1, 1, 2, 3, 4]
    utf8 = ("[Резервуар]\n1=0\n2=5\n3=-\n64=15\n[SLAVE]\nАдрес=80\n[Флаг]\nПротокол=1\n"
            "[MODBUS]\nCom-порт=/dev/ttyS0\nСуществует=1\n[VELT]\nCom-порт=Com2\nСуществует=0\n"
            "[Пароль]\nдоступа=731904\nоператора=731904\n").encode("utf-8")
    write("settings_file", "utf8", head + list(utf8))
    write("settings_file", "utf8_bom_crlf", [3, 7, 0, 0, 0, 0] +
          list(b"\xef\xbb\xbf" + utf8.replace(b"\n", b"\r\n")))
    cp = utf8.decode("utf-8").replace("\n", "\r\n").encode("cp1251")
    write("settings_file", "cp1251", [5, 9, 9, 9, 9, 9] + list(cp))
    odd = ("; comment\r\n[резервуар]\r\n 07 = 3 \r\n1=\"12\"\r\n1=13\r\n[SLAVE]\r\nадрес = x80\r\n"
           "[]\r\n=\r\nkey without section\r\n[Флаг\r\nПротокол=2\r\n").encode("cp1251")
    write("settings_file", "odd_lines", [11, 2, 1, 1, 1, 1] + list(odd))
    write("settings_file", "empty", [0, 0, 0, 0, 0, 0])
    write("settings_file", "binary", [4, 4, 4, 4, 4, 4, 0, 0xFF, 0x98, 0x0D, 0x5B, 0x5D, 0x3D, 0x0A])


if __name__ == "__main__":
    poll_seeds()
    host_seeds()
    settings_seeds()
    sys.exit(0)
