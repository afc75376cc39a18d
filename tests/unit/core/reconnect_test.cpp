// A side whose device vanishes and comes back, on fake ports and a virtual clock: the port is
// closed at the loss and tried every 5 s until it opens, with one line at the loss and one at the
// return in the side's pane, whatever the log flag; the side meanwhile keeps its outcome rules.
#include <gtest/gtest.h>

#include <chrono>

#include "core/converter.h"
#include "core/line_recovery.h"
#include "support/unpluggable_port.h"

namespace conv {
namespace {

using std::chrono::seconds;
using test::UnpluggablePort;

struct SideCase {
    Side side;
    const char* name;
    int baud;
    int parity;
};

class LineRecoveryTest : public ::testing::TestWithParam<SideCase> {
  protected:
    LineRecoveryTest()
        : conv(modbusPane, veltPane, std::make_unique<UnpluggablePort>(),
               std::make_unique<UnpluggablePort>()) {
        conv.State.ModbusPortName = "Com5";
        conv.State.VeltPortName = "/dev/ttyUSB1";
        conv.Log.LogEnabled = 0;  // the loss and the return are told all the same
        conv.Table.Tank(1).Configured = 1;
        conv.Poll.CycleState = kCycleRunning;
        conv.Table.FirstCycleDone = 1;
    }
    Side side() const { return GetParam().side; }
    UnpluggablePort& Port() { return static_cast<UnpluggablePort&>(conv.Port(side())); }
    MemoryPane& Pane() { return side() == Side::kModbus ? modbusPane : veltPane; }
    MemoryPane& OtherPane() { return side() == Side::kModbus ? veltPane : modbusPane; }
    // One tick of the side, then the tending the programs do after it.
    std::optional<SteadyTime> Tick(SteadyTime now) {
        if (side() == Side::kModbus) {
            PacingStep(conv.Poll);  // a cycle over tank 1 again and again
            OprosModBus(conv.Poll, conv.Table, *conv.ModbusPort, conv.Log);
        } else {
            if (Port().IsOpen()) Port().Arrive({0x07});  // the host keeps asking
            OprosVelt(conv.Host, conv.Table, *conv.VeltPort, conv.Log);
        }
        return TendLine(conv, side(), now);
    }

    MemoryPane modbusPane, veltPane;
    Converter conv;
    const SteadyTime t0{seconds(1000)};
};

TEST_P(LineRecoveryTest, LostPortIsTriedEveryFiveSecondsWithOneLineEachWay) {
    const std::string lost = "Порт " + conv.PortName(side()) +
                             " потерян: устройство отключено. Повторное открытие " + "каждые 5 с";
    const std::string back = "Порт " + conv.PortName(side()) + " снова открыт";
    EXPECT_EQ(Tick(t0), std::nullopt);
    Port().TakeWrites();

    Port().present = false;
    EXPECT_EQ(Tick(t0), t0 + seconds(5));
    EXPECT_FALSE(Port().IsOpen());
    EXPECT_EQ(Pane().Lines(), (std::vector<std::string>{"", lost}));
    Port().TakeWrites();  // the gauge side's request of that tick, sent before the loss was seen

    // Before its time, no attempt; at each time, one attempt and no line.
    for (int s = 1; s <= 14; ++s) {
        const SteadyTime now = t0 + seconds(s);
        const SteadyTime due = t0 + seconds(s < 5 ? 5 : s < 10 ? 10 : 15);
        EXPECT_EQ(Tick(now), s % 5 == 0 ? now + seconds(5) : due) << s;
        EXPECT_EQ(Tick(now + std::chrono::milliseconds(500)), due) << s;
    }
    EXPECT_EQ(Port().opens, 2);
    EXPECT_EQ(Pane().Lines().size(), 2u);
    // Meanwhile the side follows its rules on a closed port: nothing goes out, and the tank
    // being polled has failed its retries as one whose gauge does not answer.
    EXPECT_TRUE(Port().TakeWrites().empty());
    if (side() == Side::kModbus) {
        EXPECT_EQ(conv.Table.Tank(1).LinkState, 2);
    }

    Port().present = true;
    EXPECT_EQ(TendLine(conv, side(), t0 + seconds(15)), std::nullopt);
    EXPECT_TRUE(Port().IsOpen());
    EXPECT_EQ(Port().openedName, conv.PortName(side()));
    EXPECT_EQ(Port().baud, GetParam().baud);
    EXPECT_EQ(Port().parity, GetParam().parity);
    EXPECT_EQ(Pane().Lines(), (std::vector<std::string>{"", lost, back}));
    EXPECT_EQ(OtherPane().Lines(), std::vector<std::string>{""});
    Tick(t0 + seconds(16));
    Tick(t0 + seconds(17));
    EXPECT_FALSE(Port().TakeWrites().empty());  // the side speaks again
}

TEST_P(LineRecoveryTest, LineErrorOnAPortThatIsThereIsNoLoss) {
    Tick(t0);  // the gauge side reads at its next tick
    Port().QueueLineError();
    EXPECT_EQ(Tick(t0), std::nullopt);
    EXPECT_TRUE(Port().IsOpen());
    EXPECT_EQ(Port().opens, 0);
    EXPECT_EQ(conv.Recovery(side()).Lost, false);
}

TEST_P(LineRecoveryTest, ReconfigurationForgetsALoss) {
    Tick(t0);
    Port().present = false;
    ASSERT_TRUE(Tick(t0));
    ForgetLoss(conv, side());
    EXPECT_EQ(TendLine(conv, side(), t0 + seconds(5)), std::nullopt);
    EXPECT_EQ(Port().opens, 0);  // the reconfiguration opens the port itself
}

INSTANTIATE_TEST_SUITE_P(BothSides, LineRecoveryTest,
                         ::testing::Values(SideCase{Side::kModbus, "Modbus", 19200, kParityOdd},
                                           SideCase{Side::kVelt, "Velt", 9600, kParityEven}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace conv
