// What a line scheduler asks of the event loop that drives it. The schedulers of the fast lines
// (modbus/fast_poll.h, host/fast_host.h) neither sleep nor read a clock: the loop tells them the
// time and calls them when something may have happened, and they answer with what to wait for
// next. So the window program (Qt), a poll()/timerfd service and the tests' virtual clock drive the
// same code.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace conv {

// Microseconds of a monotonic clock of the loop's choosing; only differences matter.
using MicroTime = int64_t;

struct LineWait {
    static constexpr MicroTime kNever = INT64_MAX;

    // Call again when bytes arrive on the port (SerialPort::ArrivalHandle()).
    bool OnArrival = false;
    // Call again once the clock reaches this value; kNever: no deadline.
    MicroTime Deadline = kNever;

    bool operator==(const LineWait&) const = default;
};

// Time one character takes on the line: start bit, data bits, parity bit, stop bits; rounded up to
// whole microseconds (1250 at 9600 8E2, 625 at 19200 8O2).
constexpr MicroTime CharTimeUs(const LineSettings& line) {
    const int halfBits = 2 * (1 + line.dataBits + (line.parityCode == kParityNone ? 0 : 1)) +
                         (line.stopCode == kOneStopBit     ? 2
                          : line.stopCode == kOne5StopBits ? 3
                                                           : 4);
    return (halfBits * 500'000LL + line.baud - 1) / line.baud;
}

static_assert(CharTimeUs(kVeltLine) == 1250 && CharTimeUs(kModbusLine) == 625);

// A port that cannot tell of arrivals (closed, or a driver that gave the comm-event wait up) is
// looked at this often while its scheduler waits for bytes: as often as the host side's tick,
// never more.
inline constexpr MicroTime kLookWithoutArrivalUs = 55'000;

// What the loop waits for on `port`: `wait` itself, or, when it wants arrivals the port cannot
// signal, a look at the latest after kLookWithoutArrivalUs.
inline LineWait OnPort(LineWait wait, const SerialPort& port, MicroTime now) {
    if (wait.OnArrival && port.ArrivalHandle() == -1) {
        wait.OnArrival = false;
        if (now + kLookWithoutArrivalUs < wait.Deadline)
            wait.Deadline = now + kLookWithoutArrivalUs;
    }
    return wait;
}

}  // namespace conv
