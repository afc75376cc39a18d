// The host side in fast mode on a virtual clock: a lone command is answered once 3.5 character
// times have passed without another byte, a burst gets one 0xC0, and what is answered is what the
// tick answers for the same bytes.
#include "host/fast_host.h"

#include <gtest/gtest.h>

#include "log/operation_log.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::test {
namespace {

constexpr MicroTime kGap = 4375;  // 3.5 characters at 9600 8E2

struct Arrival {
    MicroTime at;
    Bytes bytes;
    bool lineError = false;
};
using Answer = std::pair<MicroTime, Bytes>;  // what was written, and when

class HostLine {
  public:
    HostLine() {
        log.LogEnabled = 1;
        table.FirstCycleDone = 1;
        table.Tank(1).Configured = 1;
        table.Tank(1).ChannelAddress = 5;
    }

    std::vector<Answer> Fast(std::vector<Arrival> arrivals) {
        std::vector<Answer> out;
        LineWait w{true, LineWait::kNever};
        for (size_t next = 0; next < arrivals.size() || w.Deadline != LineWait::kNever;) {
            const bool arrives =
                next < arrivals.size() && (w.OnArrival || arrivals[next].at >= w.Deadline);
            const MicroTime now = arrives ? std::min(arrivals[next].at, w.Deadline) : w.Deadline;
            for (; next < arrivals.size() && arrivals[next].at <= now; ++next) {
                const Arrival& a = arrivals[next];
                a.lineError ? port.QueueLineError(a.bytes) : port.Arrive(a.bytes);
            }
            w = FastHostStep(fast, link, table, port, log, now);
            for (Bytes& b : port.TakeWrites()) out.push_back({now, b});
        }
        return out;
    }

    // Each group of bytes arrives between two ticks.
    std::vector<Bytes> Tick(const std::vector<Bytes>& groups) {
        for (const Bytes& g : groups) {
            port.Arrive(g);
            OprosVelt(link, table, port, log);
        }
        return port.TakeWrites();
    }

    FastHost fast;
    TankTable table;
    HostLink link;
    MemoryPane left, right;
    OperationLog log{left, right};
    FakePort port;
};

struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<Answer> answers;
    std::vector<std::string> lines = {};  // right pane, when it matters
};

class FastHostTiming : public ::testing::TestWithParam<Case> {};

TEST_P(FastHostTiming, AnsweredWhenTheBurstIsOver) {
    HostLine line;
    EXPECT_EQ(line.Fast(GetParam().arrivals), GetParam().answers);
    if (!GetParam().lines.empty()) {
        EXPECT_EQ(line.right.Lines(), GetParam().lines);
    }
}

const Bytes kIdent = Hex("00 0A 06 3C 30");

INSTANTIATE_TEST_SUITE_P(
    Cases, FastHostTiming,
    ::testing::Values(Case{"LoneByteAnsweredAtOnceAfterTheGap", {{0, {0x07}}}, {{kGap, kIdent}}},
                      Case{"BurstGetsOneC0AndRunsNothing",
                           {{0, {0xC5}}, {2000, {0x07}}, {4000, {0x10}}},
                           {{4000 + kGap, {0xC0}}},
                           {"", "1  c0 "}},
                      Case{"TwoBytesInOneReadAreABurst", {{0, {0xC5, 0x07}}}, {{kGap, {0xC0}}}},
                      Case{"BurstThatFillsTheBufferRefusedAtOnce",
                           {{0, Bytes(HostLink().RxBuffer.size(), 0x07)}},
                           {{0, {0xC0}}}},
                      Case{"BytesOverTheGapApartAreTwoCommands",
                           {{0, {0xC5}}, {kGap + 500, {0x07}}},
                           {{kGap, {0x00}}, {2 * kGap + 500, kIdent}}},
                      Case{"LineErrorReportedAtOnceAndItsBurstLost",
                           {{0, {0xC5}}, {1000, {0x07}, true}, {100'000, {0x07}}},
                           {{100'000 + kGap, kIdent}},
                           {"", "Ошибка связи", "1  7 ", "5  0 a 6 3c 30 "}}),
    [](const auto& info) { return std::string(info.param.name); });

// Bursts far apart are each one tick's read: the answers and the log are the tick's.
TEST(FastHost, ServesWhatTheTickServesForTheSameBytes) {
    const std::vector<Bytes> groups = {{0x07}, {0xC5}, {0xD4}, {0xC3, 0xD4}, {0xA1},
                                       {0xD5}, {0x25}, {0xD2}, {0xFF},       {0xDD}};
    HostLine fast, tick;
    std::vector<Arrival> arrivals;
    for (size_t i = 0; i < groups.size(); ++i)
        arrivals.push_back({MicroTime(i) * 100'000, groups[i]});
    std::vector<Bytes> answered;
    for (const Answer& a : fast.Fast(arrivals)) answered.push_back(a.second);
    EXPECT_EQ(answered, tick.Tick(groups));
    EXPECT_EQ(fast.right.Lines(), tick.right.Lines());
    // A wake-up long after the last burst, with nothing new, serves no empty burst.
    FastHostStep(fast.fast, fast.link, fast.table, fast.port, fast.log, 10'000'000);
    EXPECT_EQ(fast.link.RxCount, 1);
}

}  // namespace
}  // namespace conv::test
