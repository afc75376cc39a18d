// The poll cycle in fast mode on a virtual line and clock, driven as the programs drive it: when
// replies are decided and requests sent, and that the decoders see what they would have seen on
// Timer1's ticks for the same bytes.
#include "modbus/fast_poll.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "core/converter.h"
#include "core/line_modes.h"
#include "modbus/frame.h"
#include "support/gauge_values.h"
#include "support/unpluggable_port.h"

namespace conv::test {
namespace {

constexpr MicroTime kMs = 1000;
constexpr MicroTime kChar = 625;  // a byte at 19200 8O2

const Bytes kException = WithCrc({0x50, 0x84, 2});

// A good gauge echoes a write and answers a read with registers counting up; the zero byte, never.
Bytes Good(const Bytes& request) {
    if (request.size() < 8) return {};
    if (request[1] == kFnWriteSingleRegister) return request;
    Bytes r{request[0], request[1], static_cast<uint8_t>(2 * request[5])};
    for (int i = 1; i <= 2 * request[5]; ++i) r.push_back(static_cast<uint8_t>(i));
    return WithCrc(r);
}
Bytes Short(Bytes g) {
    g.pop_back();
    return g;
}

struct Piece {
    MicroTime after;  // from the request
    Bytes bytes;
    bool lineError = false;
};
using Pieces = std::vector<Piece>;
using How = std::function<Pieces(Bytes good)>;

// As a gauge on a real line sends: a byte every character time, from 20 ms after the request.
Pieces Paced(const Bytes& bytes) {
    Pieces p;
    for (size_t k = 0; k < bytes.size(); ++k)
        p.push_back({20 * kMs + MicroTime(k + 1) * kChar, {bytes[k]}});
    return p;
}
Pieces Whole(const Bytes& bytes) {
    return {{20 * kMs, bytes}};
}
How Fixed(Pieces p) {
    return [=](Bytes) { return p; };
}
// The good reply, then a stray byte 30 ms after the request, and again every 10 ms for `more`.
How ThenStray(MicroTime more) {
    return [=](Bytes g) {
        Pieces p = Whole(g);
        for (MicroTime t = 30 * kMs; t <= 30 * kMs + more; t += 10 * kMs) p.push_back({t, {0xFF}});
        return p;
    };
}
// The first `n` bytes 20 ms after the request, the rest `rest` after it.
How Split(long n, MicroTime rest) {
    return [=](Bytes g) {
        return Pieces{{20 * kMs, Bytes(g.begin(), g.begin() + n)},
                      {rest, Bytes(g.begin() + n, g.end())}};
    };
}

// The answer to a request: `how` on the good reply for the first `times` requests that `to`
// names (zero byte, channel select, type, main parameters), `normal` otherwise.
enum class To { kZero, kSelect, kType, kMain, kOther };
struct Gauge {
    To to = To::kZero;
    How how = nullptr;
    int times = 1000;
    Pieces (*normal)(const Bytes&) = Paced;

    Pieces operator()(const Bytes& r, int nth) const {
        const To kind = r.size() == 1                    ? To::kZero
                        : r[1] == kFnWriteSingleRegister ? To::kSelect
                        : r[3] == 3                      ? To::kMain
                        : r[2] == 0 && r[3] == 0         ? To::kType
                                                         : To::kOther;
        return how && kind == to && nth <= times ? how(Good(r)) : normal(Good(r));
    }
};

using Sent = std::vector<MicroTime>;
using Decided = std::vector<std::pair<MicroTime, int>>;  // when, and the RxCount it got

struct Case {
    const char* name;
    Gauge gauge;
    Sent sentAt = {};      // of the first requests in fast mode, zero byte included
    Decided decided = {};  // the first decisions in fast mode
    bool likeTick = true;  // the same bytes in the same order reach the line on the ticks
    MicroTime away = 0;    // the gauge line's device unplugged from here
    MicroTime back = 0;    // until here
};

struct Traffic {
    std::vector<Bytes> writes;
    Sent sentAt;
    Decided decided;
    std::vector<Bytes> frames;  // the RxFrame of each decision
    std::vector<std::string> lines;
    int steps = 0;  // of the fast line: each a wake-up of the program
};

// Tanks 1 and 2 on channels 5 and 6, polled from its first request to the end of the cycle, on the
// ticks or as a program steps a fast line; the gauge answers on one line, so a piece waits behind
// those sent before it. What arrives while the port is closed is lost.
Traffic Drive(const Case& c, bool fast) {
    Traffic t;
    MemoryPane left, right;
    Converter conv(left, right, std::make_unique<UnpluggablePort>(), std::make_unique<FakePort>());
    auto& port = static_cast<UnpluggablePort&>(*conv.ModbusPort);
    PollState& poll = conv.Poll;
    conv.State.ModbusFast = fast;
    conv.State.ModbusPortName = "Com5";
    conv.Table.SlaveAddress = 0x50;
    ConfigureTank(conv.Table, 1, 5);
    ConfigureTank(conv.Table, 2, 6);
    poll.CycleState = kCycleRunning;
    poll.PollChannel = -1;
    poll.PollGroup = kGroupTankDone;
    PrepareLine(conv, Side::kModbus);
    RestartLine(conv, Side::kModbus, 0);
    std::multimap<MicroTime, Piece> due;
    std::map<Bytes, int> sent;
    for (MicroTime now = 0;
         (poll.CycleState != kCycleFinished || poll.ReplyPending == 1) && now < 3'600'000 * kMs;) {
        port.present = now < c.away || now >= c.back;
        for (auto it = due.begin(); it != due.end() && it->first <= now; it = due.erase(it)) {
            if (!port.IsOpen()) continue;
            it->second.lineError ? port.QueueLineError(it->second.bytes)
                                 : port.Arrive(it->second.bytes);
        }
        poll.RxCount = -2;  // no read gives it: a step that leaves it decided nothing
        LineWait w{false, now + 800 * kMs};
        if (fast) {
            w = FastLineStep(conv, Side::kModbus, now);
            ++t.steps;
        } else if (now > 0) {
            OprosModBus(poll, conv.Table, port, conv.Log);
        }
        if (poll.RxCount != -2) {
            t.decided.emplace_back(now, poll.RxCount);
            t.frames.emplace_back(poll.RxFrame.begin(),
                                  poll.RxFrame.begin() + std::max(poll.RxCount, 0));
        }
        for (Bytes& r : port.TakeWrites()) {
            MicroTime free = due.empty() ? 0 : due.rbegin()->first;
            for (Piece& p : c.gauge(r, ++sent[r]))
                due.emplace(free = std::max(now + p.after, free), p);
            t.writes.push_back(r);
            t.sentAt.push_back(now);
        }
        now = std::min(w.Deadline,
                       w.OnArrival && !due.empty() ? due.begin()->first : LineWait::kNever);
    }
    t.lines = left.Lines();
    return t;
}

template <typename T>
T First(const T& all, size_t n) {
    return T(all.begin(), all.begin() + std::min(n, all.size()));
}

class FastPollRoad : public ::testing::TestWithParam<Case> {};

TEST_P(FastPollRoad, DecidedWhenDueOnWhatTheTickWouldSee) {
    const Case& c = GetParam();
    const Traffic fast = Drive(c, true);
    EXPECT_EQ(First(fast.sentAt, c.sentAt.size()), c.sentAt);
    EXPECT_EQ(First(fast.decided, c.decided.size()), c.decided);
    if (!c.likeTick) return;
    const Traffic tick = Drive(c, false);
    EXPECT_EQ(fast.writes, tick.writes);
    ASSERT_EQ(fast.decided.size(), tick.decided.size());
    for (size_t i = 0; i < fast.decided.size(); ++i)
        EXPECT_EQ(fast.decided[i].second, tick.decided[i].second) << i;
    EXPECT_EQ(fast.frames, tick.frames);
    EXPECT_EQ(fast.lines, tick.lines);
}

// Unless a case says otherwise the gauge answers at the line's rate 20 ms after each request; the
// timeout is 800 ms, the pause 20 ms. The zero byte at 0 is decided after the pause and the select
// follows at once.
INSTANTIATE_TEST_SUITE_P(
    Cases, FastPollRoad,
    ::testing::Values(Case{"CompleteReplyBeforeTheTimeout",
                           {To::kZero, nullptr, 0, Whole},
                           Sent{0, 20 * kMs, 60 * kMs, 100 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {80 * kMs, 11}}},
                      Case{"ShortReplyAtTheTimeout",
                           {To::kType, [](Bytes g) { return Whole(Short(g)); }, 2, Whole},
                           Sent{0, 20 * kMs, 60 * kMs, 880 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {860 * kMs, 10}}},
                      Case{"SplitReplyWaitsForItsRest",
                           {To::kType, Split(5, 30 * kMs), 1, Whole},
                           Sent{0, 20 * kMs, 60 * kMs, 110 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {90 * kMs, 11}}},
                      Case{"SplitMainRestAfterTheTimeout", {To::kMain, Split(40, 1200 * kMs), 1}},
                      Case{"ExceptionDecidedEarly",
                           {To::kType, Fixed(Paced(kException)), 1, Whole},
                           Sent{0, 20 * kMs, 60 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {80 * kMs + 5 * kChar, 5}}},
                      Case{"PauseRestartsOnBytesThatJoinTheNextReply",
                           {To::kSelect, ThenStray(0), 1, Whole},
                           Sent{0, 20 * kMs, 70 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {90 * kMs, 12}},
                           false},
                      Case{"PauseNeverBeyondTheTimeout",
                           {To::kSelect, ThenStray(2000 * kMs), 1, Whole},
                           Sent{0, 20 * kMs, 840 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}},
                           false},
                      Case{"ZeroByteDecidedAfterThePauseOnWhatCame",
                           {To::kZero, Fixed({{5 * kMs, {0xFF}}})},
                           Sent{0},
                           Decided{{20 * kMs, 1}}},
                      // More than the buffer holds, after the first bytes of a reply: it is
                      // filled to the last byte and decided, the rest read with the next reply.
                      Case{"FloodFillsTheBufferAndNoMore",
                           {To::kType,
                            [](Bytes g) {
                                return Pieces{{20 * kMs, Bytes(g.begin(), g.begin() + 5)},
                                              {30 * kMs, Bytes(kRxCapacity + 100, 0x55)}};
                            },
                            1, Whole},
                           Sent{0, 20 * kMs, 60 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {90 * kMs, kRxCapacity}},
                           false},
                      // A line error is decided at once; what comes after it, before the next
                      // request, is not read with its reply.
                      Case{"BytesAfterALineErrorAreDropped",
                           {To::kSelect, Fixed({{5 * kMs, {0x50}, true}, {100 * kMs, {0xFF}}}), 1,
                            Whole},
                           Sent{0, 20 * kMs, 825 * kMs},
                           Decided{{20 * kMs, 0}, {25 * kMs, -1}, {845 * kMs, 8}},
                           false},
                      Case{"SilentChannel",
                           {To::kZero, nullptr, 0, [](const Bytes&) { return Pieces{}; }}},
                      // Unplugged before the type request: the look before it finds the device
                      // gone, and the port opens again 5 s later, at 5.06 s, while tank 2's select,
                      // sent to the closed port at 4.94 s, awaits its reply. As after any open it
                      // gets its whole timeout, and goes out again after the pause.
                      Case{"PortBackWhileARequestAwaits",
                           {To::kZero, nullptr, 0, Whole},
                           Sent{0, 20 * kMs, 5'880 * kMs},
                           Decided{{20 * kMs, 0}, {40 * kMs, 8}, {840 * kMs, -1}},
                           false,
                           50 * kMs,
                           1'000 * kMs}),
    [](const auto& info) { return std::string(info.param.name); });

// No waking per byte: a reply at the line's rate wakes the program at its first byte, when it may
// be a whole exception reply, when it can be complete, and at the end of the pause.
TEST(FastPoll, AnExchangeWakesTheLineAtMostFourTimes) {
    const Traffic t = Drive(Case{"GoodPacedReplies", {}}, true);
    EXPECT_LE(t.steps, 4 * static_cast<int>(t.writes.size()));
}

}  // namespace
}  // namespace conv::test
