// The poll cycle in fast mode: the same requests in the same order, decoded by the same decoders
// under the same retry rules as on Timer1's ticks, but each reply is decided as soon as it is
// complete and the next request follows after a short quiet pause, instead of one request per
// 800 ms tick.
//
// A plain scheduler, free of any event loop. The loop that drives it (the window program, a
// service, a test) calls FastPollStep whenever something may have happened and does what the
// returned LineWait says; a call for no reason is harmless. The loop's part:
//
//     FastPoll fast;                        // one per MODBUS line, next to its PollState
//     fast.Timing = FastPollTiming::FromMs(timeoutMs, pauseMs);
//     port.SetArrivalNotification(true);    // before every open of the line
//     port.Open(...);
//     FastPollRestart(fast, poll, now);     // after every open: the driver's queues are empty
//     LineWait w = FastPollStep(fast, poll, table, port, log, now);
//     loop: wait for the port's ArrivalHandle() while w.OnArrival, and for w.Deadline;
//           on either (Windows: RearmArrival() first), w = FastPollStep(..., now);
//     after each PacingStep (Timer3, unchanged): w = FastPollStep(..., now), since the pacing may
//           have started the cycle again.
//
// `now` is the loop's monotonic clock in microseconds. No call sleeps, reads a clock, or blocks
// beyond the port's own Write. Timer1 is not used while a line runs in fast mode.
//
// The decisions, in the order the issue of each request meets them:
// - A request's reply is decided when it holds the bytes its request expects (the echo of a
//   write, the registers of a read), or is a whole exception reply (five bytes, the function code
//   with 0x80, a good CRC), or when Timeout has passed since the request, whichever comes first;
//   a line error is decided at once. The decoder then gets in RxFrame/RxCount every byte read by
//   that moment, as the tick's read would have: a short or split reply at the timeout, a long
//   one as far as it goes.
// - The single zero byte is decided Pause after it was sent, on whatever arrived meanwhile.
// - Then the next request waits for Pause of quiet line. Bytes arriving meanwhile restart the
//   pause (never beyond Timeout after the decision) and are kept as the start of the next reply,
//   as the tick would have read them with it. After a line error they are dropped instead: the
//   tick's read that reported the error would have taken them too; and the line, which may keep
//   reporting errors, is not watched until Timeout has passed.
// - A line error while no reply is awaited counts against the next reply, as at the next tick.
#pragma once

#include <array>
#include <cstdint>

#include "modbus/poll.h"
#include "serial/line_wait.h"

namespace conv {

struct FastPollTiming {
    MicroTime TimeoutUs = 800'000;  // "Ожидание": from a request to its reply's last chance
    MicroTime PauseUs = 20'000;     // "Пауза": quiet line before the next request
    MicroTime CharUs = CharTimeUs(kModbusLine);

    static FastPollTiming FromMs(int timeoutMs, int pauseMs) {
        return {timeoutMs * 1000LL, pauseMs * 1000LL, CharTimeUs(kModbusLine)};
    }
};

struct FastPoll {
    FastPollTiming Timing;

    // The scheduler's own state; the loop only creates it and hands it back.
    enum class Phase { kIdle, kReply, kPause };
    Phase At = Phase::kIdle;
    bool ZeroByte = false;    // the request in flight is the single zero byte
    int Expected = 0;         // bytes that complete its reply
    uint8_t Function = 0;     // its function code
    MicroTime DecideBy = 0;   // its timeout
    MicroTime QuietFrom = 0;  // the pause runs from here, or from the last arrival if later
    MicroTime PauseCap = 0;   // and ends by here at the latest
    MicroTime LastArrival = 0;
    bool Streaming = false;     // the last look found new bytes: the reply is coming in
    bool LineError = false;     // a read reported a line error that no decision has taken yet
    bool DropArrivals = false;  // after a line error: bytes until the next request are lost
    int Have = 0;               // bytes read and not yet decided on
    std::array<uint8_t, kRxCapacity> Rx{};
};

// The line was opened (again): nothing read before counts, as the open purged the driver's
// queues. A request still awaiting its reply gets its whole time again.
void FastPollRestart(FastPoll& fast, const PollState& poll, MicroTime now);

// Reads what has arrived, decides and sends what is due at `now`, and says what to wait for.
LineWait FastPollStep(FastPoll& fast, PollState& poll, TankTable& table, SerialPort& port,
                      OperationLog& log, MicroTime now);

}  // namespace conv
