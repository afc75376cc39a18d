// The poll cycle in fast mode on a virtual line and clock: when replies are decided and requests
// sent, and that the decoders see what they would have seen on Timer1's ticks for the same bytes.
#include "modbus/fast_poll.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "log/operation_log.h"
#include "modbus/frame.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::test {
namespace {

constexpr MicroTime kMs = 1000;
constexpr MicroTime kChar = 625;  // a byte at 19200 8O2

Bytes WithCrc(Bytes b) {
    const uint16_t crc = Crc16(b.data(), static_cast<int>(b.size()));
    b.insert(b.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return b;
}

// A good gauge echoes a write and answers a read with registers counting up.
Bytes Good(const Bytes& request) {
    if (request.size() < 8) return {};  // the zero byte
    if (request[1] == kFnWriteSingleRegister) return request;
    Bytes r{request[0], request[1], static_cast<uint8_t>(2 * request[5])};
    for (int i = 1; i <= 2 * request[5]; ++i) r.push_back(static_cast<uint8_t>(i));
    return WithCrc(r);
}
bool Is(const Bytes& request, uint8_t function, uint8_t reg) {
    return request.size() == 8 && request[1] == function && request[3] == reg;
}

struct Piece {
    MicroTime after;  // from the request
    Bytes bytes;
    bool lineError = false;
};
using Pieces = std::vector<Piece>;
// The answer to the `nth` (from 1) sending of a request.
using Gauge = std::function<Pieces(const Bytes& request, int nth)>;

Pieces At(MicroTime after, const Bytes& bytes) {
    return {{after, bytes}};
}
// As a gauge on a real line sends: a byte every character time, from 20 ms after the request.
Pieces Paced(const Bytes& bytes) {
    Pieces p;
    for (size_t k = 0; k < bytes.size(); ++k)
        p.push_back({20 * kMs + MicroTime(k + 1) * kChar, {bytes[k]}});
    return p;
}

struct Traffic {
    std::vector<Bytes> writes;
    std::vector<MicroTime> sentAt;
    std::vector<std::pair<MicroTime, int>> decided;  // when, and the RxCount the decoder got
    std::vector<Bytes> frames;                       // and its RxFrame
    std::vector<std::string> lines;
};

// Tank 1 on channel 5, polled from its first request. The gauge answers on one line, so a piece
// waits behind those sent before it.
class VirtualLine {
  public:
    explicit VirtualLine(Gauge gauge) : gauge_(std::move(gauge)) {
        table.SlaveAddress = 0x50;
        table.Tank(1).Configured = 1;
        table.Tank(1).ChannelAddress = 5;
        poll.CycleState = kCycleRunning;
        poll.PollChannel = -1;
        poll.PollGroup = kGroupTankDone;
    }

    Traffic Fast() {
        FastPoll fast;
        FastPollRestart(fast, poll, 0);
        for (MicroTime now = 0; !Done();) {
            const LineWait w =
                Step(now, [&] { return FastPollStep(fast, poll, table, port, log, now); });
            now = std::min(w.Deadline,
                           w.OnArrival && !due_.empty() ? due_.begin()->first : LineWait::kNever);
        }
        return Finish();
    }

    Traffic Tick() {
        for (MicroTime now = 800 * kMs; !Done(); now += 800 * kMs) {
            Step(now, [&] { return OprosModBus(poll, table, port, log), LineWait{}; });
        }
        return Finish();
    }

    TankTable table;
    PollState poll;

  private:
    bool Done() const { return poll.CycleState == kCycleFinished && poll.ReplyPending == 0; }

    LineWait Step(MicroTime now, const std::function<LineWait()>& step) {
        for (auto it = due_.begin(); it != due_.end() && it->first <= now; it = due_.erase(it)) {
            it->second.lineError ? port.QueueLineError(it->second.bytes)
                                 : port.Arrive(it->second.bytes);
        }
        poll.RxCount = -2;  // no read gives it: a step that leaves it decided nothing
        const LineWait wait = step();
        if (poll.RxCount != -2) {
            run_.decided.emplace_back(now, poll.RxCount);
            run_.frames.emplace_back(poll.RxFrame.begin(),
                                     poll.RxFrame.begin() + std::max(poll.RxCount, 0));
        }
        for (Bytes& w : port.TakeWrites()) {
            MicroTime free = due_.empty() ? 0 : due_.rbegin()->first;
            for (Piece& p : gauge_(w, ++sent_[w]))
                due_.emplace(free = std::max(now + p.after, free), p);
            run_.writes.push_back(w);
            run_.sentAt.push_back(now);
        }
        return wait;
    }

    Traffic Finish() {
        run_.lines = left.Lines();
        return run_;
    }

    Gauge gauge_;
    MemoryPane left, right;
    OperationLog log{left, right};
    FakePort port;
    std::multimap<MicroTime, Piece> due_;
    std::map<Bytes, int> sent_;
    Traffic run_;
};

struct Case {
    const char* name;
    Gauge gauge;
    std::vector<MicroTime> sentAt = {};  // of the first requests, zero byte included
    std::vector<std::pair<MicroTime, int>> decided = {};  // the first decisions
};
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// ---- the same bytes give the same requests, decoder input and log as on the ticks ----

class SameAsTick : public ::testing::TestWithParam<Case> {};

TEST_P(SameAsTick, RequestsDecoderInputAndLog) {
    VirtualLine fastLine(GetParam().gauge), tickLine(GetParam().gauge);
    const Traffic fast = fastLine.Fast(), tick = tickLine.Tick();
    ASSERT_FALSE(fast.frames.empty());
    EXPECT_EQ(fast.writes, tick.writes);
    ASSERT_EQ(fast.decided.size(), tick.decided.size());
    for (size_t i = 0; i < fast.decided.size(); ++i) {
        EXPECT_EQ(fast.decided[i].second, tick.decided[i].second) << i;
    }
    EXPECT_EQ(fast.frames, tick.frames);
    EXPECT_EQ(fast.lines, tick.lines);
    EXPECT_EQ(fastLine.table.Tank(1).LinkState, tickLine.table.Tank(1).LinkState);
}

INSTANTIATE_TEST_SUITE_P(
    Roads, SameAsTick,
    ::testing::Values(Case{"GoodPacedReplies", [](const Bytes& r, int) { return Paced(Good(r)); }},
                      Case{"ExceptionToMain",
                           [](const Bytes& r, int) {
                               return Paced(Is(r, 4, 3) ? WithCrc({0x50, 0x84, 2}) : Good(r));
                           }},
                      Case{"ShortTypeReplyTwice",
                           [](const Bytes& r, int nth) {
                               Bytes g = Good(r);
                               if (Is(r, 4, 0) && nth <= 2) g.pop_back();
                               return Paced(g);
                           }},
                      Case{"SplitMainRestAfterTheTimeout",
                           [](const Bytes& r, int nth) {
                               const Bytes g = Good(r);
                               if (!Is(r, 4, 3) || nth > 1) return Paced(g);
                               return Pieces{{20 * kMs, Bytes(g.begin(), g.begin() + 40)},
                                             {1200 * kMs, Bytes(g.begin() + 40, g.end())}};
                           }},
                      Case{"StrayByteAfterAReply",
                           [](const Bytes& r, int) {
                               Bytes g = Good(r);
                               if (Is(r, 4, 0)) g.push_back(0xFF);
                               return At(20 * kMs, g);
                           }},
                      Case{"ZeroByteAnswered",
                           [](const Bytes& r, int) {
                               return r.size() == 1 ? At(5 * kMs, {0xFF}) : Paced(Good(r));
                           }},
                      Case{"SilentChannel", [](const Bytes&, int) { return Pieces{}; }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- when replies are decided and requests sent ----

class FastTiming : public ::testing::TestWithParam<Case> {};

TEST_P(FastTiming, DecidedAndSentWhenDue) {
    const Traffic run = VirtualLine(GetParam().gauge).Fast();
    const auto first = [](const auto& all, size_t n) {
        return std::vector(all.begin(), all.begin() + std::min(n, all.size()));
    };
    EXPECT_EQ(first(run.sentAt, GetParam().sentAt.size()), GetParam().sentAt);
    EXPECT_EQ(first(run.decided, GetParam().decided.size()), GetParam().decided);
}

// The zero byte at 0 is decided after the 20 ms pause and the select follows at once; answers
// come 20 ms after their request; the timeout is 800 ms.
INSTANTIATE_TEST_SUITE_P(
    Cases, FastTiming,
    ::testing::Values(
        Case{"CompleteReplyBeforeTheTimeout",
             [](const Bytes& r, int) { return At(20 * kMs, Good(r)); },
             {0, 20 * kMs, 60 * kMs, 100 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}, {80 * kMs, 11}}},
        Case{"ShortReplyAtTheTimeout",
             [](const Bytes& r, int) {
                 Bytes g = Good(r);
                 if (Is(r, 4, 0)) g.pop_back();
                 return At(20 * kMs, g);
             },
             {0, 20 * kMs, 60 * kMs, 880 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}, {860 * kMs, 10}}},
        Case{"SplitReplyWaitsForItsRest",
             [](const Bytes& r, int) {
                 const Bytes g = Good(r);
                 if (!Is(r, 4, 0)) return At(20 * kMs, g);
                 return Pieces{{20 * kMs, Bytes(g.begin(), g.begin() + 5)},
                               {30 * kMs, Bytes(g.begin() + 5, g.end())}};
             },
             {0, 20 * kMs, 60 * kMs, 110 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}, {90 * kMs, 11}}},
        Case{"ExceptionDecidedEarly",
             [](const Bytes& r, int) {
                 return Is(r, 4, 0) ? Paced(WithCrc({0x50, 0x84, 2})) : At(20 * kMs, Good(r));
             },
             {0, 20 * kMs, 60 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}, {80 * kMs + 5 * kChar, 5}}},
        Case{"PauseRestartsOnBytesThatJoinTheNextReply",
             [](const Bytes& r, int) {
                 Pieces p = At(20 * kMs, Good(r));
                 if (Is(r, 6, 0)) p.push_back({30 * kMs, {0xFF}});
                 return p;
             },
             {0, 20 * kMs, 70 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}, {90 * kMs, 12}}},
        Case{"PauseNeverBeyondTheTimeout",
             [](const Bytes& r, int) {
                 Pieces p = At(20 * kMs, Good(r));
                 for (MicroTime t = 30 * kMs; Is(r, 6, 0) && t < 2000 * kMs; t += 10 * kMs)
                     p.push_back({t, {0xFF}});
                 return p;
             },
             {0, 20 * kMs, 840 * kMs},
             {{20 * kMs, 0}, {40 * kMs, 8}}},
        Case{"ZeroByteDecidedAfterThePauseOnWhatCame",
             [](const Bytes& r, int) { return r.size() == 1 ? At(5 * kMs, {0xFF}) : Pieces{}; },
             {0},
             {{20 * kMs, 1}}},
        Case{"LineErrorDecidedAtOnceThenAWholeTimeoutUnwatched",
             [](const Bytes& r, int nth) {
                 return Is(r, 6, 0) && nth == 1 ? Pieces{{5 * kMs, {0x50}, true}}
                                                : At(20 * kMs, Good(r));
             },
             {0, 20 * kMs, 825 * kMs},
             {{20 * kMs, 0}, {25 * kMs, -1}, {845 * kMs, 8}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace conv::test
