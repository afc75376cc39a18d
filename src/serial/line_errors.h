// Whether a read of a serial line is reported as a line error. Each platform tells of errors its
// own way: the Linux driver counts them, the Windows comm API hands out (and clears) a set of
// error flags. The two decisions are plain functions, built on every platform, so that both can
// be tested wherever the tests run.
//
// A parity error alone is let through on both: the gauge's replies carry their own CRC and the
// host's commands are single bytes that the dispatcher checks.
#pragma once

#include <cstdint>

namespace conv {

// The error counters of the Linux serial driver (TIOCGICOUNT) at one moment.
struct LineErrorCounters {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t bufOverrun = 0;
};

// The error flags of the Windows comm API (ClearCommError), by their CE_ values.
enum : uint32_t {
    kCommErrorRxOver = 0x0001,
    kCommErrorOverrun = 0x0002,
    kCommErrorRxParity = 0x0004,
    kCommErrorFrame = 0x0008,
    kCommErrorBreak = 0x0010,
};

// What a read that took `count` bytes returns when the counters went from `before` to `now`
// since the previous read: -1 when a framing, overrun, break or receive-buffer overrun error was
// counted in between, otherwise `count`.
int ReadResultFromCounters(const LineErrorCounters& before, const LineErrorCounters& now,
                           int count);

// What a read that took `count` bytes returns when ClearCommError reported `flags`: -1 when any
// flag is set other than parity alone, otherwise `count`.
int ReadResultFromErrorFlags(uint32_t flags, int count);

}  // namespace conv
