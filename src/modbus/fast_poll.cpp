#include "modbus/fast_poll.h"

#include <algorithm>

#include "modbus/frame.h"
#include "serial/serial_port.h"

namespace conv {
namespace {

using Phase = FastPoll::Phase;

// Long enough ago that no pause still runs from it.
constexpr MicroTime kLongAgo = INT64_MIN / 4;

void TakeArrivals(FastPoll& f, SerialPort& port, MicroTime now) {
    const int room = kRxCapacity - f.Have;
    if (room == 0) return;
    const int got = port.ReadAvailable(f.Rx.data() + f.Have, room);
    if (got < 0 || got > room) {
        // The bytes of a read that reports an error are lost, and so are those it would have
        // been read with.
        f.LineError = true;
        f.Have = 0;
        f.LastArrival = now;
        f.Streaming = false;
        return;
    }
    f.Streaming = got > 0;
    if (got == 0) return;
    f.LastArrival = now;
    if (f.DropArrivals || f.LineError) return;
    f.Have += got;
}

bool ReplyComplete(const FastPoll& f) {
    if (f.ZeroByte) return false;
    return f.Have >= f.Expected || IsExceptionReply(f.Rx.data(), f.Have, f.Function);
}

void Decide(FastPoll& f, PollState& poll, TankTable& table, SerialPort& port, OperationLog& log,
            MicroTime now) {
    const bool lineError = f.LineError;
    poll.RxCount = lineError ? -1 : f.Have;
    std::copy_n(f.Rx.begin(), f.Have, poll.RxFrame.begin());
    DecideReply(poll, table, port, log);
    poll.ReplyPending = 0;
    f.Have = 0;
    f.LineError = false;
    f.DropArrivals = lineError;
    f.At = Phase::kPause;
    // The zero byte's own wait was its pause, unless something arrived during it.
    f.QuietFrom = f.ZeroByte ? kLongAgo : now;
    f.PauseCap = now + f.Timing.TimeoutUs;
}

// A line that reported an error is not watched (it may go on reporting it, a hung-up device
// does at every look), so its pause runs to the end.
bool Watching(const FastPoll& f) {
    return !f.LineError && !f.DropArrivals && f.Have < kRxCapacity;
}

MicroTime PauseEnd(const FastPoll& f) {
    if (!Watching(f)) return f.PauseCap;
    return std::min(std::max(f.QuietFrom, f.LastArrival) + f.Timing.PauseUs, f.PauseCap);
}

// false when nothing was sent: the cycle is not running (any more).
bool Send(FastPoll& f, PollState& poll, TankTable& table, SerialPort& port, OperationLog& log,
          MicroTime now) {
    const PollSent sent = SendNextRequest(poll, table, port, log);
    if (sent == PollSent::kNothing) return false;
    f.At = Phase::kReply;
    f.ZeroByte = sent == PollSent::kZeroByte;
    f.Expected = f.ZeroByte ? 0 : ExpectedReplyLength(poll.TxFrame);
    f.Function = poll.TxFrame[1];
    f.DecideBy = now + (f.ZeroByte ? f.Timing.PauseUs : f.Timing.TimeoutUs);
    f.DropArrivals = false;
    f.Streaming = false;
    return true;
}

// While a reply comes in at the line's rate, the next look is when it could be complete at the
// earliest (at five bytes it may be an exception), not at every byte; once a look finds nothing
// new, the next byte wakes the loop.
LineWait ReplyWait(const FastPoll& f, MicroTime now) {
    if (f.ZeroByte || !f.Streaming || f.Have == 0) return {Watching(f), f.DecideBy};
    const int complete = f.Have < kExceptionReplyLength ? kExceptionReplyLength : f.Expected;
    const MicroTime earliest = now + (complete - f.Have) * f.Timing.CharUs;
    return {false, std::min(earliest, f.DecideBy)};
}

}  // namespace

void FastPollRestart(FastPoll& f, const PollState& poll, MicroTime now) {
    f.Have = 0;
    f.LineError = false;
    f.DropArrivals = false;
    f.Streaming = false;
    f.LastArrival = kLongAgo;
    f.QuietFrom = kLongAgo;
    f.PauseCap = now;
    f.At = Phase::kIdle;
    if (poll.ReplyPending == 1) {
        f.At = Phase::kReply;
        // PollGroup is one past the group sent; group 0 is the zero byte.
        f.ZeroByte = poll.PollGroup == 1;
        f.Expected = f.ZeroByte ? 0 : ExpectedReplyLength(poll.TxFrame);
        f.Function = poll.TxFrame[1];
        f.DecideBy = now + (f.ZeroByte ? f.Timing.PauseUs : f.Timing.TimeoutUs);
    }
}

LineWait FastPollStep(FastPoll& f, PollState& poll, TankTable& table, SerialPort& port,
                      OperationLog& log, MicroTime now) {
    TakeArrivals(f, port, now);
    for (;;) {
        switch (f.At) {
            case Phase::kReply:
                if (f.LineError || ReplyComplete(f) || f.Have == kRxCapacity || now >= f.DecideBy) {
                    Decide(f, poll, table, port, log, now);
                    continue;
                }
                return ReplyWait(f, now);
            case Phase::kPause:
                if (now < PauseEnd(f)) return {Watching(f), PauseEnd(f)};
                // A last look: bytes just in restart the pause, and what came while the line was
                // not watched is dropped before the next request goes out.
                TakeArrivals(f, port, now);
                if (now < PauseEnd(f)) continue;
                if (!Send(f, poll, table, port, log, now)) f.At = Phase::kIdle;
                continue;
            case Phase::kIdle:
                if (poll.CycleState != kCycleRunning) return {Watching(f), LineWait::kNever};
                // The pacing started the cycle: the same quiet rule as after a reply.
                f.At = Phase::kPause;
                f.PauseCap = now + f.Timing.TimeoutUs;
                continue;
        }
    }
}

}  // namespace conv
