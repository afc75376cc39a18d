#include <gtest/gtest.h>

#include "host/host_link.h"
#include "poll_fixture.h"

namespace conv::test {
namespace {

using Lines = std::vector<std::string>;

// ---- pacing and the first cycle ----

TEST(Pacing, FirstStartAtSecondTickThenResetAndRestartAfterAFinishedCycle) {
    PollState poll;
    PacingStep(poll);
    EXPECT_EQ(poll.CycleState, kCycleIdle);
    PacingStep(poll);
    EXPECT_EQ(poll.CycleState, kCycleRunning);
    PacingStep(poll);  // keeps counting while running; nothing else changes
    EXPECT_EQ(poll.CycleState, kCycleRunning);
    EXPECT_EQ(poll.CycleTicks, 3);

    poll.CycleState = kCycleFinished;
    poll.PollChannel = 17;
    PacingStep(poll);
    EXPECT_EQ(poll.CycleState, kCycleIdle);
    EXPECT_EQ(poll.CycleTicks, 1);
    EXPECT_EQ(poll.PollChannel, -1);
    PacingStep(poll);
    EXPECT_EQ(poll.CycleState, kCycleRunning);
}

TEST_F(PollTest, EmptyTableFirstCycleEndsInOneTickAfterTheSecondPacingTick) {
    // Both timers from start-up on a virtual clock: Timer1 every 800 ms, Timer3 every 1000 ms.
    int doneAt = -1;
    for (int ms = 100; ms <= 5000 && doneAt < 0; ms += 100) {
        if (ms % 1000 == 0) PacingStep(poll);
        if (ms % 800 == 0) {
            Tick();
            if (table.FirstCycleDone == 1) doneAt = ms;
        }
    }
    EXPECT_EQ(doneAt, 2400);
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(poll.CycleState, kCycleFinished);
    EXPECT_EQ(poll.PollChannel, -1);
    EXPECT_EQ(poll.PollGroup, kGroupTankDone);
    EXPECT_EQ(poll.ReplyPending, 0);
    ASSERT_FALSE(panel.empty());
    EXPECT_EQ(panel.back(), 63);  // the last index, until the next cycle starts
    EXPECT_EQ(NewLines(), Lines{});

    // A finished cycle stays finished until the pacing step resets it.
    Tick();
    EXPECT_EQ(poll.CycleState, kCycleFinished);
}

TEST_F(PollTest, PanelShowsIndexThenTankNumber) {
    Configure(2, 6);
    poll.CycleState = kCycleRunning;  // fresh cursor: index 0, group 0
    Tick();
    EXPECT_EQ(panel, (std::vector<int>{0, 1, 0, 2}));
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 1);
}

TEST_F(PollTest, FirstTankOfFirstCycleHasOneRepeatLaterTanksFour) {
    Configure(1, 5);
    Configure(2, 5);
    poll.CycleState = kCycleRunning;  // start-up cursor: tank index 0 with RetryBudget 0

    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Tick();  // silence
        EXPECT_EQ(Sent(), kSelect5);
    }
    Tick();  // silent again: tank 1 is given up, tank 2 begins
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 1);
    EXPECT_EQ(poll.RetryBudget, 3);
}

TEST_F(PollTest, LaterCyclesStartTheFirstTankWithAFullBudget) {
    Configure(1, 5);
    poll.CycleState = kCycleFinished;
    PacingStep(poll);
    PacingStep(poll);
    ASSERT_EQ(poll.CycleState, kCycleRunning);
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 0);
    EXPECT_EQ(poll.RetryBudget, 3);
    EXPECT_EQ(panel, (std::vector<int>{-1, 1}));
}

TEST_F(PollTest, PendingReplyIsDecodedEvenWhenTheCycleIsNotRunning) {
    Configure(64, 5);
    poll.CycleState = kCycleFinished;
    poll.PollChannel = 63;
    poll.PollGroup = 3;  // the type request was sent
    poll.ReplyPending = 1;
    port.QueueRead(ReadReply(Hex("02 00 00 00 00 00")));
    Tick();
    EXPECT_EQ(table.Tank(64).TankType(), 2);
    EXPECT_EQ(poll.ReplyPending, 0);
    EXPECT_TRUE(NothingSent());
}

// ---- a tank that does not answer ----

TEST_F(PollTest, SilentTankGetsOneZeroByteAndFiveChannelSelects) {
    Configure(3, 5);
    table.GaugeLinkOk = 1;
    StartAt(3);

    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    for (int attempt = 0; attempt < 5; ++attempt) {
        Tick();
        EXPECT_EQ(Sent(), kSelect5) << "attempt " << attempt;
    }
    EXPECT_EQ(poll.RetryBudget, -1);  // four repeats spent: 3, 2, 1, 0
    EXPECT_EQ(table.Tank(3).LinkState, kLinkGood);

    Tick();
    EXPECT_EQ(table.Tank(3).LinkState, kLinkSilent);
    EXPECT_EQ(table.GaugeLinkOk, 0);
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(poll.CycleState, kCycleFinished);  // no tank after it

    // Only the requests were logged; silence leaves no line.
    const Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 10u);
    for (size_t i = 0; i < lines.size(); i += 2) {
        EXPECT_EQ(lines[i], "5 - адрес опрашиваемого канала");
        EXPECT_EQ(lines[i + 1], "8  50 6 0 0 0 5 44 48 ");
    }
}

TEST_F(PollTest, DeadLineIsReportedByTheChannelSelectNotSkipped) {
    Configure(3, 5);
    table.GaugeLinkOk = 1;
    StartAt(3);

    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    // A line error after the zero byte goes on to the channel select, whose retries report it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port.QueueLineError();
        Tick();
        EXPECT_EQ(Sent(), kSelect5) << "attempt " << attempt;
    }
    port.QueueLineError();
    Tick();
    EXPECT_EQ(table.Tank(3).LinkState, kLinkFaulty);
    EXPECT_EQ(table.GaugeLinkOk, 0);
    EXPECT_TRUE(NothingSent());
}

TEST_F(PollTest, AnyByteAfterTheZeroByteSkipsTheTankUntouched) {
    Configure(1, 5);
    Configure(2, 6);
    table.Tank(1).LinkState = kLinkSilent;
    StartAt(1);
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    NewLines();

    port.QueueRead(Hex("55"));
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);  // already tank 2's
    EXPECT_EQ(poll.PollChannel, 1);
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(NewLines(), Lines{});
}

// The line echoes every zero byte, so no request ever gets through. One skip leaves the tank as it
// was; skipped again in the next cycle it is marked faulty, so that the host stops serving its
// stale values as good, with one line saying why; the zero byte passing clean starts over.
TEST_F(PollTest, TankSkippedAfterTheZeroByteInTwoCyclesInARowIsMarkedFaulty) {
    Configure(3, 5);
    HostLink host;
    FakePort hostLine;
    const auto hostAsks = [&](uint8_t command) {
        hostLine.QueueRead({command});
        OprosVelt(host, table, hostLine, log);
        const std::vector<Bytes> w = hostLine.TakeWrites();
        return w.empty() ? Bytes{} : w.back();
    };
    const auto cycleWith = [&](const Bytes& afterZero) {
        StartAt(3);
        Tick();
        EXPECT_EQ(Sent(), kZeroByte);
        NewLines();
        port.QueueRead(afterZero);
        Tick();
    };
    const auto lineFor = [](int cycles) {
        return "Резервуар 3 (адрес канала 5): посторонние байты после нулевого байта " +
               std::to_string(cycles) + "-й цикл подряд, связь неисправна";
    };

    cycleWith(kZeroByte);  // the adapter's echo
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(table.Tank(3).LinkState, kLinkGood);
    EXPECT_EQ(NewLines(), Lines{});
    ASSERT_EQ(table.FirstCycleDone, 1);
    EXPECT_EQ(hostAsks(0xC5), Hex("00"));
    EXPECT_EQ(hostAsks(0xD4).size(), 56u);  // still served as good after a single skip

    cycleWith(kZeroByte);
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(table.Tank(3).LinkState, kLinkFaulty);
    EXPECT_EQ(NewLines(), Lines{lineFor(2)});
    EXPECT_EQ(hostAsks(0xD4), Hex("04"));
    EXPECT_EQ(hostAsks(0x25), Hex("06"));  // protocol 1.4: level of channel 5

    cycleWith(Hex("00 00 00"));
    EXPECT_EQ(table.Tank(3).LinkState, kLinkFaulty);
    EXPECT_EQ(NewLines(), Lines{lineFor(3)});

    // Silence after the zero byte: the channel select goes out and its echo reads the tank again.
    StartAt(3);
    Tick();
    port.QueueSilence();
    Tick();
    EXPECT_EQ(Sent(), kSelect5);
    port.QueueRead(kSelect5);
    Tick();
    EXPECT_EQ(table.Tank(3).LinkState, kLinkGood);

    // The count started over: one skip is a single skip again.
    cycleWith(kZeroByte);
    EXPECT_EQ(table.Tank(3).LinkState, kLinkGood);
    EXPECT_EQ(NewLines(), Lines{});
}

// ---- the channel select ----

class ChannelSelect : public PollTest {
  protected:
    // Tank 1 on `channel`, the channel select just sent with `budget` repeats left.
    void SelectSent(int channel, int budget = 3) {
        Configure(1, channel);
        ResumeAt(1, 1, budget);
        Tick();
        selectFrame = Sent();
    }
    Bytes selectFrame;
};

TEST_F(ChannelSelect, CarriesTheLowByteAndLogsTheWholeAddress) {
    SelectSent(300);
    EXPECT_EQ(selectFrame, Hex("50 06 00 00 00 2C 85 96"));
    EXPECT_EQ(NewLines(), (Lines{"300 - адрес опрашиваемого канала", "8  50 6 0 0 0 2c 85 96 "}));
}

TEST_F(ChannelSelect, EchoMarksTheLinkGoodAndTheTypeRequestFollows) {
    table.Tank(1).LinkState = kLinkFaulty;
    table.Tank(1).GaugeErrorCode = 9;
    SelectSent(5);
    NewLines();

    port.QueueRead(kSelect5);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_EQ(table.Tank(1).GaugeErrorCode, 0);
    EXPECT_EQ(table.GaugeLinkOk, 1);
    EXPECT_EQ(Sent(), kTypeRequest);
    EXPECT_EQ(NewLines(), (Lines{"IN ", "8  50 6 0 0 0 5 44 48 ", "OUT запрос типа ДА",
                                 "8  50 4 0 0 0 3 bd 8a "}));
}

TEST_F(ChannelSelect, OtherLengthsAreLoggedAndChangeNothing) {
    for (const Bytes& reply : {Hex("50 06 00 00 00 05 44 48 00"), Hex("50 86 00 01 02")}) {
        SCOPED_TRACE(ToHex(reply));
        table.Tank(1).LinkState = kLinkSilent;
        table.GaugeLinkOk = 0;
        SelectSent(5);
        NewLines();

        port.QueueRead(reply);
        Tick();
        EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
        EXPECT_EQ(table.Tank(1).GaugeErrorCode, 0);
        EXPECT_EQ(table.GaugeLinkOk, 0);
        EXPECT_EQ(poll.RetryBudget, 3);
        EXPECT_EQ(Sent(), kTypeRequest);
        const Lines lines = NewLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "IN ");
        EXPECT_EQ(lines[1].substr(0, 3), std::to_string(reply.size()) + "  ");
    }
}

TEST_F(ChannelSelect, ExceptionEndsTheTankWithItsCode) {
    Configure(2, 6);
    table.Tank(1).LinkState = kLinkFaulty;
    SelectSent(5, -1);
    NewLines();

    port.QueueRead(Hex("50 86 0B 00 00"));
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_EQ(table.Tank(1).GaugeErrorCode, 0x0B);
    EXPECT_EQ(Sent(), kZeroByte);  // tank 2
    EXPECT_EQ(NewLines(), (Lines{"IN ", "5  50 86 b 0 0 "}));
}

TEST_F(ChannelSelect, LineErrorRepeatsThenGivesUp) {
    table.GaugeLinkOk = 1;
    SelectSent(5, 0);
    NewLines();

    port.QueueLineError(Hex("50 06"));
    Tick();
    EXPECT_EQ(Sent(), kSelect5);
    EXPECT_EQ(poll.RetryBudget, -1);
    EXPECT_EQ(table.GaugeLinkOk, 1);

    port.QueueLineError();
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    EXPECT_EQ(table.GaugeLinkOk, 0);
    EXPECT_TRUE(NothingSent());
    // One request logged (the repeat); the failures themselves leave no line.
    EXPECT_EQ(NewLines().size(), 2u);
}

// ---- the road of a level gauge ----

TEST_F(PollTest, LevelGaugeGetsNineRequestsThenTheNextTank) {
    Configure(3, 5);
    Configure(4, 6);
    StartAt(3);
    const std::vector<std::pair<Bytes, Bytes>> exchanges = {
        {kZeroByte, {}},
        {kSelect5, kSelect5},
        {kTypeRequest, Hex("50 04 06 00 00 00 07 00 00 20 C1")},
        {kMainRequest, ReadReply(Pattern(42))},
        {kTempRequest, ReadReply(Pattern(33))},
        {kTemp1Request, ReadReply(Pattern(33))},
        {kKoordRequest, ReadReply(Pattern(21))},
        {kPlotRequest, ReadReply(Pattern(18))},
        {kPlotTempRequest, ReadReply(Pattern(15))},
    };
    for (const auto& [request, reply] : exchanges) {
        Tick();
        EXPECT_EQ(Sent(), request);
        if (!reply.empty()) port.QueueRead(reply);
    }
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 3);
    EXPECT_EQ(table.Tank(3).LinkState, kLinkGood);
    EXPECT_EQ(table.Tank(3).ConfigWord(), 0x0007);
}

TEST_F(PollTest, TypeReplyIsLoggedAndTheMainRequestFollows) {
    Configure(1, 5);
    ResumeAt(1, 2, 3);
    Tick();
    EXPECT_EQ(Sent(), kTypeRequest);
    NewLines();

    port.QueueRead(Hex("50 04 06 00 00 00 07 00 00 20 C1"));
    Tick();
    EXPECT_EQ(Sent(), kMainRequest);
    EXPECT_EQ(NewLines(),
              (Lines{"IN ", "11  50 4 6 0 0 0 7 0 0 20 c1 ",
                     "OUT запрос основных параметров V,H,M,P,T", "8  50 4 0 3 0 2a 8c 54 "}));
}

}  // namespace
}  // namespace conv::test
