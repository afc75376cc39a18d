// A side whose device vanishes and comes back, on fake ports and a virtual clock, on ticks and in
// fast mode alike: the port is closed at the loss and tried every 5 s until it opens, with one
// line at the loss and one at the return in the side's pane, whatever the log flag; the side
// meanwhile keeps its outcome rules.
#include <gtest/gtest.h>

#include "core/converter.h"
#include "core/line_modes.h"
#include "support/unpluggable_port.h"

namespace conv {
namespace {

using std::chrono::seconds;
using test::UnpluggablePort;
using Lines = std::vector<std::string>;

struct SideCase {
    Side side;
    const char* name;
    int baud;
    bool fast;
};

class LineRecoveryTest : public ::testing::TestWithParam<SideCase> {
  protected:
    LineRecoveryTest()
        : conv(panes[0], panes[1], std::make_unique<UnpluggablePort>(),
               std::make_unique<UnpluggablePort>()) {
        conv.State.ModbusPortName = "Com5";
        conv.State.VeltPortName = "/dev/ttyUSB1";
        conv.Table.Tank(1).Configured = 1;
        conv.Table.FirstCycleDone = 1;
        (side() == Side::kModbus ? conv.State.ModbusFast : conv.State.VeltFast) = GetParam().fast;
        PrepareLine(conv, side());
        due_ = AsMicros(t0);
        RestartLine(conv, side(), due_);
    }
    Side side() const { return GetParam().side; }
    UnpluggablePort& Port() { return static_cast<UnpluggablePort&>(conv.Port(side())); }
    const Lines& Pane(bool own = true) { return panes[(side() == Side::kModbus) != own].Lines(); }
    // Time passing to `now` on the side (a poll cycle over tank 1 again and again; a host that
    // keeps asking): one tick and the tending after it, or the fast side stepped at each deadline
    // it asks for. When the side waits for its port to return.
    std::optional<SteadyTime> Tick(SteadyTime now) {
        if (side() == Side::kModbus) conv.Poll.CycleState = kCycleRunning;
        if (side() == Side::kVelt && Port().IsOpen()) Port().Arrive({0x07});
        if (!GetParam().fast) {
            if (side() == Side::kModbus) {
                OprosModBus(conv.Poll, conv.Table, *conv.ModbusPort, conv.Log);
            } else {
                OprosVelt(conv.Host, conv.Table, *conv.VeltPort, conv.Log);
            }
            return TendLine(conv, side(), now);
        }
        const MicroTime end = AsMicros(now);
        for (MicroTime t = std::min(due_, end);; t = std::min(due_, end)) {
            const LineWait w = FastLineStep(conv, side(), t);
            due_ = std::max(w.Deadline, t + 1);
            if (conv.Recovery(side()).Lost) {
                EXPECT_FALSE(w.OnArrival);
                EXPECT_LE(w.Deadline, AsMicros(conv.Recovery(side()).NextOpen));
            }
            if (t == end) break;
        }
        if (!conv.Recovery(side()).Lost) return std::nullopt;
        return conv.Recovery(side()).NextOpen;
    }

    MemoryPane panes[2];  // the log flag stays 0: these lines are told all the same
    Converter conv;
    const SteadyTime t0{seconds(1000)};
    MicroTime due_ = 0;
};

TEST_P(LineRecoveryTest, LostPortIsTriedEveryFiveSecondsWithOneLineEachWay) {
    const std::string name = conv.PortName(side());
    EXPECT_EQ(Tick(t0), std::nullopt);
    Port().present = false;
    EXPECT_EQ(Tick(t0), t0 + seconds(5));
    EXPECT_FALSE(Port().IsOpen());
    Port().TakeWrites();  // what went out before the loss was seen
    // Before its time no attempt, at its time one attempt, and never a line.
    for (int ms = 1000; ms < 15000; ms += 500) {
        EXPECT_EQ(Tick(t0 + std::chrono::milliseconds(ms)), t0 + seconds(5 * (ms / 5000 + 1)))
            << ms;
    }
    EXPECT_EQ(Port().opens, 2);
    // Meanwhile the side keeps its rules on a closed port: nothing goes out, and the tank being
    // polled fails its retries as one whose gauge does not answer.
    EXPECT_TRUE(Port().TakeWrites().empty());
    EXPECT_EQ(conv.Table.Tank(1).LinkState, side() == Side::kModbus ? kLinkSilent : kLinkGood);

    Port().present = true;
    EXPECT_EQ(Tick(t0 + seconds(15)), std::nullopt);
    EXPECT_EQ(Port().openedName, name);
    EXPECT_EQ(Port().baud, GetParam().baud);
    const std::string lost = " потерян: устройство отключено. Повторное открытие каждые 5 с";
    EXPECT_EQ(Pane(), (Lines{"", "Порт " + name + lost, "Порт " + name + " снова открыт"}));
    EXPECT_EQ(Pane(false), Lines{""});
    Tick(t0 + seconds(16));
    Tick(t0 + seconds(17));
    EXPECT_FALSE(Port().TakeWrites().empty());  // the side speaks again
    EXPECT_EQ(Port().opens, 3);                 // and its port is not opened again and again
}

INSTANTIATE_TEST_SUITE_P(BothSides, LineRecoveryTest,
                         ::testing::Values(SideCase{Side::kModbus, "Modbus", 19200, false},
                                           SideCase{Side::kVelt, "Velt", 9600, false},
                                           SideCase{Side::kModbus, "ModbusFast", 19200, true},
                                           SideCase{Side::kVelt, "VeltFast", 9600, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace conv
