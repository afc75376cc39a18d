#include <gtest/gtest.h>

#include "poll_fixture.h"

namespace conv::test {
namespace {

using Lines = std::vector<std::string>;

// One read request of the poll, and what the outcome rules need to know about it.
struct GroupCase {
    const char* name;
    int tankType;
    int group;  // the group that sends it
    Bytes request;
    int registers;
    bool replacesAddress;
    int32_t wrongLengthState;  // after a wrong length with the retries used up
    Bytes next;                // what follows once the group is finished
};

void PrintTo(const GroupCase& c, std::ostream* os) {
    *os << c.name;
}

// Tank 1 is under test; tank 2 is configured too, so a finished tank shows as tank 2's zero byte.
class ReadGroup : public PollTest, public ::testing::WithParamInterface<GroupCase> {
  protected:
    void SetUp() override {
        Configure(1, 5);
        Configure(2, 6);
        SetType(1, static_cast<uint8_t>(GetParam().tankType));
    }
    void RequestSent(int budget) {
        ResumeAt(1, GetParam().group, budget);
        Tick();
        ASSERT_EQ(Sent(), GetParam().request);
        NewLines();
    }
    Bytes GoodReply() const { return ReadReply(Pattern(GetParam().registers)); }
    // The dump of a reply as logged: the address byte is ours in the rows that replace it.
    std::string DumpOf(Bytes reply) const {
        if (GetParam().replacesAddress) reply[0] = kSlave;
        return FormatDump(reply.data(), static_cast<int>(reply.size()));
    }
};

TEST_P(ReadGroup, LineErrorAndSilenceRepeatWhileBudgetIsLeft) {
    for (int silent = 0; silent < 2; ++silent) {
        table.Tank(1).LinkState = kLinkGood;
        RequestSent(0);
        if (silent) {
            port.QueueSilence();
        } else {
            port.QueueLineError();
        }
        Tick();
        EXPECT_EQ(Sent(), GetParam().request);
        EXPECT_EQ(poll.RetryBudget, -1);
        EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
        const Lines lines = NewLines();
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0], "IN ");
        EXPECT_EQ(lines.size(), 3u);  // then the repeated request and its dump
    }
}

TEST_P(ReadGroup, LineErrorAndSilenceWithBudgetUsedUpEndTheTank) {
    RequestSent(-1);
    port.QueueLineError();
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 1);
    EXPECT_EQ(NewLines(), Lines{"IN "});

    RequestSent(-1);
    port.QueueSilence();
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(NewLines(), Lines{"IN "});
}

TEST_P(ReadGroup, AnyFiveByteReplyIsAnExceptionThatEndsTheTankWithoutUsingTheBudget) {
    table.Tank(1).LinkState = kLinkFaulty;
    RequestSent(3);
    const Bytes reply = Hex("07 04 0B 12 34");  // other address, no exception bit
    port.QueueRead(reply);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_EQ(table.Tank(1).GaugeErrorCode, 0x0B);
    EXPECT_EQ(poll.RetryBudget, 3);
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(NewLines(), (Lines{"IN ", DumpOf(reply)}));
}

TEST_P(ReadGroup, WrongLengthIsRepeatedWhileBudgetIsLeft) {
    RequestSent(0);
    Bytes reply = GoodReply();
    reply.pop_back();
    port.QueueRead(reply);
    Tick();
    EXPECT_EQ(Sent(), GetParam().request);
    EXPECT_EQ(poll.RetryBudget, -1);
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    const Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "IN ");
    EXPECT_EQ(lines[1], DumpOf(reply));
}

TEST_P(ReadGroup, WrongLengthWithBudgetUsedUpIsLoggedAndThePollGoesOn) {
    RequestSent(-1);
    Bytes reply = GoodReply();
    reply.push_back(0);
    port.QueueRead(reply);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, GetParam().wrongLengthState);
    EXPECT_EQ(Sent(), GetParam().next);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "IN ");
    EXPECT_EQ(lines[1], "Ошибка в принятом буфере");
    EXPECT_EQ(lines[2], DumpOf(reply));
}

TEST_P(ReadGroup, BadCrcIsRepeatedWhileBudgetIsLeftThenMarksTheLinkFaulty) {
    RequestSent(0);
    port.QueueRead(WithBadCrc(GoodReply()));
    Tick();
    EXPECT_EQ(Sent(), GetParam().request);
    EXPECT_EQ(poll.RetryBudget, -1);
    EXPECT_EQ(NewLines().front(), "IN ");

    // Swapped CRC bytes are a mismatch too.
    Bytes swapped = GoodReply();
    std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    port.QueueRead(swapped);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    EXPECT_EQ(Sent(), GetParam().next);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "IN ");
    if (GetParam().next != kZeroByte) {
        EXPECT_EQ(lines.size(), 3u);  // the next request only
    }
}

TEST_P(ReadGroup, GoodReplyClearsTheStatusAndThePollGoesOn) {
    table.Tank(1).LinkState = kLinkFaulty;
    table.Tank(1).GaugeErrorCode = 0x91;
    RequestSent(-1);
    const Bytes reply = GoodReply();
    port.QueueRead(reply);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_EQ(table.Tank(1).GaugeErrorCode, 0);
    EXPECT_EQ(Sent(), GetParam().next);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "IN ");
    EXPECT_EQ(lines[1], DumpOf(reply));
}

TEST_P(ReadGroup, ReplyCutByTheTickIsRepeatedAndSoIsTheNextOneThatBringsItsTail) {
    table.Tank(1).LinkState = kLinkSilent;
    RequestSent(3);
    const Bytes reply = GoodReply();
    const auto cut = reply.begin() + static_cast<long>(reply.size() / 2);
    const Bytes head(reply.begin(), cut);
    const Bytes tail(cut, reply.end());

    port.Arrive(head);
    Tick();  // the tick came before the rest: a reply of the wrong length
    EXPECT_EQ(Sent(), GetParam().request);
    EXPECT_EQ(poll.RxCount, static_cast<int>(head.size()));
    // The rest comes after the tick, and the answer to the repeat behind it: one read takes both.
    port.Arrive(tail);
    port.Arrive(reply);
    Tick();
    EXPECT_EQ(Sent(), GetParam().request);
    EXPECT_EQ(poll.RxCount, static_cast<int>(tail.size() + reply.size()));
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(poll.RetryBudget, 1);

    port.Arrive(reply);
    Tick();
    EXPECT_EQ(Sent(), GetParam().next);
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_EQ(port.Waiting(), 0u);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[1], DumpOf(head));
    const std::string joined = std::to_string(tail.size() + reply.size()) + "  ";
    EXPECT_EQ(lines[5].substr(0, joined.size()), joined);
    EXPECT_EQ(lines[9], DumpOf(reply));
}

INSTANTIATE_TEST_SUITE_P(
    AllReads, ReadGroup,
    ::testing::Values(
        GroupCase{"Main", 0, 3, kMainRequest, 42, true, kLinkSilent, kTempRequest},
        GroupCase{"Temp", 0, 4, kTempRequest, 33, true, kLinkFaulty, kTemp1Request},
        GroupCase{"TempAsGroup3", 9, 3, kTempRequest, 33, true, kLinkFaulty, kTempRequest},
        GroupCase{"Temp1", 0, 5, kTemp1Request, 33, true, kLinkFaulty, kKoordRequest},
        GroupCase{"KoordTemp", 0, 6, kKoordRequest, 21, true, kLinkFaulty, kPlotRequest},
        GroupCase{"Plot", 0, 7, kPlotRequest, 18, false, kLinkFaulty, kPlotTempRequest},
        GroupCase{"PlotTemp", 0, 8, kPlotTempRequest, 15, false, kLinkFaulty, kZeroByte},
        GroupCase{"DD", 1, 3, kDDRequest, 30, false, kLinkFaulty, kZeroByte},
        GroupCase{"DZO", 2, 3, kDZORequest, 18, false, kLinkFaulty, kZeroByte}),
    [](const ::testing::TestParamInfo<GroupCase>& info) { return std::string(info.param.name); });

// ---- the type request ----

TEST_F(PollTest, TypeReplyIsStoredWithoutACrcTest) {
    Configure(1, 5);
    ResumeAt(1, 2, 3);
    Tick();
    port.QueueRead(Hex("50 04 06 01 00 06 01 AA BB 00 00"));  // CRC bytes are rubbish
    Tick();
    EXPECT_EQ(table.Tank(1).TankType(), 1);
    EXPECT_EQ(table.Tank(1).ConfigWord(), 0x0601);
    EXPECT_EQ(table.Tank(1).Type.Reg(2), 0xAABB);
    EXPECT_EQ(Sent(), kDDRequest);  // group 3 chosen by the new type
}

TEST_F(PollTest, TypeExceptionKeepsTheTypeButStillSetsTheGaugeLink) {
    Configure(1, 5);
    SetType(1, 2);
    table.GaugeLinkOk = 0;
    ResumeAt(1, 2, 3);
    Tick();
    port.QueueRead(Hex("50 84 02 C2 C1"));
    Tick();
    EXPECT_EQ(table.Tank(1).GaugeErrorCode, 2);
    EXPECT_EQ(table.Tank(1).TankType(), 2);
    EXPECT_EQ(table.GaugeLinkOk, 1);
    EXPECT_EQ(poll.CycleState, kCycleFinished);  // tank done, and it was the only one
}

TEST_F(PollTest, TwoBadTypeRepliesThenAGoodOneLeaveOneRepeatForTheRest) {
    Configure(1, 5);
    StartAt(1);
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    Tick();
    EXPECT_EQ(Sent(), kSelect5);
    port.QueueRead(kSelect5);
    Tick();
    EXPECT_EQ(Sent(), kTypeRequest);
    port.QueueRead(Hex("50 04 06 00"));
    Tick();
    port.QueueRead(Hex("50 04 06 00 00 00 07 00 00 20 C1 00"));
    Tick();
    port.QueueRead(Hex("50 04 06 00 00 00 07 00 00 20 C1"));
    Tick();
    EXPECT_EQ(Sent(), kMainRequest);
    EXPECT_EQ(poll.RetryBudget, 1);
}

TEST_F(PollTest, TypeOfWrongLengthWithBudgetUsedUpKeepsThePreviousType) {
    Configure(1, 5);
    SetType(1, 1);
    ResumeAt(1, 2, -1);
    Tick();
    NewLines();
    port.QueueRead(Hex("50 04 06 00 00 00 07 00 00 20"));
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    EXPECT_EQ(table.Tank(1).TankType(), 1);
    EXPECT_EQ(table.GaugeLinkOk, 1);
    EXPECT_EQ(Sent(), kDDRequest);
    const Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "Ошибка в принятом буфере");
    EXPECT_EQ(lines[2], "10  50 4 6 0 0 0 7 0 0 20 ");
    EXPECT_EQ(lines[3], "OUT запрос DD");
}

// ---- type-driven group 3 ----

TEST_F(PollTest, GroupThreeFollowsTheTankType) {
    const std::pair<int, Bytes> cases[] = {{0, kMainRequest},
                                           {1, kDDRequest},
                                           {2, kDZORequest},
                                           {3, kTempRequest},
                                           {255, kTempRequest}};
    for (const auto& [type, request] : cases) {
        SCOPED_TRACE(type);
        Configure(1, 5);
        SetType(1, static_cast<uint8_t>(type));
        ResumeAt(1, 3, 3);
        Tick();
        EXPECT_EQ(Sent(), request);
    }
}

TEST_F(PollTest, PressureTankGetsFourRequestsThenTheNextTank) {
    Configure(1, 5);
    Configure(2, 6);
    SetType(1, 1);
    StartAt(1);
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    Tick();
    EXPECT_EQ(Sent(), kSelect5);
    port.QueueRead(kSelect5);
    Tick();
    EXPECT_EQ(Sent(), kTypeRequest);
    port.QueueRead(Hex("50 04 06 01 00 00 00 00 00 00 00"));
    Tick();
    EXPECT_EQ(Sent(), kDDRequest);
    port.QueueRead(ReadReply(Pattern(30)));
    Tick();
    EXPECT_EQ(Sent(), kZeroByte);
    EXPECT_EQ(poll.PollChannel, 1);
}

TEST_F(PollTest, TwoWrongLengthGasRepliesAreRepeatedAsGasRequests) {
    Configure(1, 5);
    SetType(1, 2);
    ResumeAt(1, 3, 3);
    Tick();
    for (int i = 0; i < 2; ++i) {
        port.QueueRead(ReadReply(Pattern(17)));
        Tick();
        EXPECT_EQ(Sent(), kDZORequest);
    }
    EXPECT_EQ(poll.RetryBudget, 1);
}

// ---- storing ----

TEST_F(PollTest, MainParametersAreStoredWithFloatsConverted) {
    Configure(1, 5);
    ResumeAt(1, 3, 3);
    Tick();

    Bytes regs = Pattern(42);                      // registers 3..44
    const Bytes level = Hex("00 00 41 20 00 40");  // 10.0, state 0x0040
    std::copy(level.begin(), level.end(), regs.begin());
    FloatToWire(-12.5f, &regs[2 * (15 - 3)]);           // MeanTemp
    FloatToWire(50000.0f, &regs[2 * (42 - 3)]);         // VolumeMax
    const Bytes text = Hex("41 42 31 00 39 39 07 2A");  // "AB1", index 7, version 42
    std::copy(text.begin(), text.end(), regs.begin() + 2 * (36 - 3));
    // From another address but with the CRC of ours: taken as ours.
    Bytes reply = ReadReply(regs);
    reply[0] = 0x07;
    port.QueueRead(reply);
    Tick();

    const MainBlock& main = table.Tank(1).Main;
    EXPECT_FLOAT_EQ(main.Level().Value, 10.0f);
    EXPECT_EQ(main.Level().FlagsByte, 0x40);
    EXPECT_EQ(main.Level().State(), 0x0040);
    EXPECT_FLOAT_EQ(main.MeanTemp().Value, -12.5f);
    EXPECT_FLOAT_EQ(main.VolumeMax().Value, 50000.0f);
    EXPECT_EQ(main.SoftwareNumber(), "AB1");
    EXPECT_EQ(main.ProductIndex(), 7);
    EXPECT_EQ(main.SoftwareVersion(), 42);
    EXPECT_EQ(main.Reg(40), static_cast<uint16_t>(regs[74] << 8 | regs[75]));  // raw
    EXPECT_EQ(main.Mass().State(), static_cast<uint16_t>(regs[10] << 8 | regs[11]));
    EXPECT_EQ(main.Mass().Value, WireToFloat(&regs[6]));
    EXPECT_EQ(NewLines()[3].substr(0, 7), "89  50 ");
}

TEST_F(PollTest, MainReplyOfEightyEightBytesKeepsTheOldBlock) {
    Configure(1, 5);
    ResumeAt(1, 3, 3);
    Tick();
    Bytes regs(84, 0);
    FloatToWire(1234.0f, regs.data());
    port.QueueRead(ReadReply(regs));
    Tick();
    ASSERT_FLOAT_EQ(table.Tank(1).Main.Level().Value, 1234.0f);
    const auto before = table.Tank(1).Main.Bytes();

    ResumeAt(1, 3, -1);
    Tick();
    Bytes shortReply = ReadReply(Pattern(42));
    shortReply.pop_back();
    port.QueueRead(shortReply);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(table.Tank(1).Main.Bytes(), before);
    EXPECT_EQ(Sent(), kTempRequest);
}

TEST_F(PollTest, MainReplyWithItsOwnAddressCrcFromAnotherSlaveIsRefused) {
    Configure(1, 5);
    ResumeAt(1, 3, -1);
    Tick();
    port.QueueRead(ReadReply(Pattern(42), 0x07));
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    for (uint8_t b : table.Tank(1).Main.Bytes()) EXPECT_EQ(b, 0);
}

TEST_F(PollTest, SecondTemperatureRequestTouchesOnlyT11ToT21) {
    Configure(1, 5);
    TankEntry& tank = table.Tank(1);

    Bytes first = Pattern(33, 0x80);  // header 128..130, then T1..T10
    for (int k = 1; k <= 10; ++k)
        FloatToWire(1.5f * k, &first[static_cast<size_t>(6 + 6 * (k - 1))]);
    ResumeAt(1, 4, 3);
    Tick();
    port.QueueRead(ReadReply(first));
    Tick();
    Bytes heights(42, 0);
    heights[0] = 0x01;
    heights[1] = 0x2C;
    ResumeAt(1, 6, 3);
    Tick();
    port.QueueRead(ReadReply(heights));
    Tick();
    const auto headerBefore = tank.Temp.Reg(128);
    ASSERT_FLOAT_EQ(tank.Temp.Point(10).Value, 15.0f);

    Bytes second(66, 0);
    for (int k = 11; k <= 21; ++k) {
        FloatToWire(-0.25f * k, &second[static_cast<size_t>(6 * (k - 11))]);
        second[static_cast<size_t>(6 * (k - 11) + 5)] = 0x40;
    }
    ResumeAt(1, 5, 3);
    Tick();
    EXPECT_EQ(Sent(), kTemp1Request);
    port.QueueRead(ReadReply(second));
    Tick();

    for (int k = 1; k <= 10; ++k) EXPECT_FLOAT_EQ(tank.Temp.Point(k).Value, 1.5f * k) << k;
    for (int k = 11; k <= 21; ++k) {
        EXPECT_FLOAT_EQ(tank.Temp.Point(k).Value, -0.25f * k) << k;
        EXPECT_EQ(tank.Temp.Point(k).FlagsByte, 0x40) << k;
    }
    EXPECT_EQ(tank.Temp.Reg(128), headerBefore);
    EXPECT_EQ(tank.Temp.HeaderByte(), first[4]);
    EXPECT_EQ(tank.TempCoords.PointHeight(1), 300);
}

TEST_F(PollTest, FirstTemperatureRequestLeavesT11ToT21AsTheyWere) {
    Configure(1, 5);
    TankEntry& tank = table.Tank(1);
    Bytes second(66, 0);
    for (int k = 11; k <= 21; ++k) {
        FloatToWire(-0.25f * k, &second[static_cast<size_t>(6 * (k - 11))]);
        second[static_cast<size_t>(6 * (k - 11) + 5)] = 0x08;
    }
    ResumeAt(1, 5, 3);
    Tick();
    port.QueueRead(ReadReply(second));
    Tick();
    ASSERT_FLOAT_EQ(tank.Temp.Point(21).Value, -5.25f);
    const auto secondHalf = [&tank] {
        return Bytes(tank.Temp.Bytes().begin() + 2 * (161 - 128), tank.Temp.Bytes().end());
    };
    const Bytes before = secondHalf();

    // The first request, as its own group and as group 3 of a tank of no known type.
    for (const auto& [type, group] : {std::pair{0, 4}, std::pair{7, 3}}) {
        SCOPED_TRACE(group);
        SetType(1, static_cast<uint8_t>(type));
        Bytes first = Pattern(33, static_cast<uint8_t>(0x80 + group));
        for (int k = 1; k <= 10; ++k)
            FloatToWire(1.5f * k + group, &first[static_cast<size_t>(6 + 6 * (k - 1))]);
        ResumeAt(1, group, 3);
        Tick();
        EXPECT_EQ(Sent(), kTempRequest);
        port.QueueRead(ReadReply(first));
        Tick();
        for (int k = 1; k <= 10; ++k) EXPECT_FLOAT_EQ(tank.Temp.Point(k).Value, 1.5f * k + group);
        EXPECT_EQ(tank.Temp.HeaderByte(), first[4]);
        EXPECT_EQ(secondHalf(), before);
    }
}

TEST_F(PollTest, TemperatureHeightsBecomeNativeMillimetres) {
    Configure(1, 5);
    Bytes regs(42, 0);
    regs[0] = 0x01;
    regs[1] = 0x2C;  // point 1: 300 mm
    regs[40] = 0x0B;
    regs[41] = 0xB8;  // point 21: 3000 mm
    ResumeAt(1, 6, 3);
    Tick();
    port.QueueRead(ReadReply(regs));
    Tick();
    EXPECT_EQ(table.Tank(1).TempCoords.PointHeight(1), 300);
    EXPECT_EQ(table.Tank(1).TempCoords.PointHeight(2), 0);
    EXPECT_EQ(table.Tank(1).TempCoords.PointHeight(21), 3000);
}

TEST_F(PollTest, DensityFromAnotherSlaveIsStoredButHeightsFromItAreRefused) {
    Configure(1, 5);
    Bytes density = Pattern(18, 0x10);
    FloatToWire(0.8125f, &density[6]);  // ДП1
    const Bytes plotReply = ReadReply(density, 0x07);
    ResumeAt(1, 7, -1);
    Tick();
    NewLines();
    port.QueueRead(plotReply);
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkGood);
    EXPECT_FLOAT_EQ(table.Tank(1).Density.Probe(1).Value, 0.8125f);
    EXPECT_EQ(table.Tank(1).Density.HeaderByte(), density[4]);
    EXPECT_EQ(NewLines()[1].substr(0, 7), "41  7 4");  // the address as received

    Bytes heights(42, 0);
    heights[1] = 0x64;
    ResumeAt(1, 6, -1);
    Tick();
    port.QueueRead(ReadReply(heights, 0x07));
    Tick();
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    EXPECT_EQ(table.Tank(1).TempCoords.PointHeight(1), 0);
}

TEST_F(PollTest, ProbeHeightsAndTemperaturesAreConverted) {
    Configure(1, 5);
    Bytes regs(30, 0);
    for (int k = 1; k <= 5; ++k) {
        const size_t at = static_cast<size_t>(6 * (k - 1));
        regs[at] = static_cast<uint8_t>(k);  // height k * 256 mm
        FloatToWire(k + 0.25f, &regs[at + 2]);
    }
    ResumeAt(1, 8, 3);
    Tick();
    port.QueueRead(ReadReply(regs));
    Tick();
    for (int k = 1; k <= 5; ++k) {
        EXPECT_EQ(table.Tank(1).Probe.ProbeHeight(k), 256 * k) << k;
        EXPECT_FLOAT_EQ(table.Tank(1).Probe.ProbeTemp(k), k + 0.25f) << k;
    }
}

TEST_F(PollTest, PressureAndGasSensorsAreConverted) {
    Configure(1, 5);
    Bytes pressure = Pattern(30, 0x20);
    for (int k = 1; k <= 9; ++k) FloatToWire(100.0f * k, &pressure[static_cast<size_t>(6 * k)]);
    SetType(1, 1);
    ResumeAt(1, 3, 3);
    Tick();
    port.QueueRead(ReadReply(pressure));
    Tick();
    for (int k = 1; k <= 9; ++k) {
        EXPECT_FLOAT_EQ(table.Tank(1).Pressure.Sensor(k).Value, 100.0f * k) << k;
        EXPECT_EQ(table.Tank(1).Pressure.Sensor(k).FlagsByte,
                  pressure[static_cast<size_t>(6 * k + 5)]);
    }
    EXPECT_EQ(table.Tank(1).Pressure.Reg(0), 0x2021);  // header as received

    Bytes gas = Pattern(18, 0x30);
    for (int k = 1; k <= 5; ++k) FloatToWire(2.5f * k, &gas[static_cast<size_t>(6 * k)]);
    SetType(1, 2);
    ResumeAt(1, 3, 3);
    Tick();
    port.QueueRead(ReadReply(gas));
    Tick();
    for (int k = 1; k <= 5; ++k) EXPECT_FLOAT_EQ(table.Tank(1).Gas.Sensor(k).Value, 2.5f * k) << k;
}

// ---- hostile input ----

TEST_F(PollTest, AFullBufferIsJustAWrongLength) {
    Configure(1, 5);
    ResumeAt(1, 4, -1);
    Tick();
    NewLines();
    port.QueueRead(Bytes(1500, 0xEE));  // more than the buffer holds: the port gives 1024
    Tick();
    EXPECT_EQ(poll.RxCount, 1024);
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Ошибка в принятом буфере");
    EXPECT_EQ(lines[2].substr(0, 9), "1024  50 ");
    EXPECT_EQ(Sent(), kTemp1Request);
    // The bytes the buffer had no room for stay queued and are read as the next reply.
    Tick();
    EXPECT_EQ(poll.RxCount, 1500 - 1024);
    EXPECT_EQ(port.Waiting(), 0u);
}

// A port that claims more bytes than it was given room for.
class OverclaimingPort : public FakePort {
  public:
    int ReadAvailable(uint8_t*, int capacity) override { return capacity + 100; }
};

TEST(PollRobustness, ACountBeyondTheBufferIsALineError) {
    MemoryPane left, right;
    OperationLog log(left, right);
    TankTable table;
    PollState poll;
    OverclaimingPort port;
    table.Tank(1).Configured = 1;
    poll.CycleState = kCycleRunning;
    poll.PollGroup = 4;
    poll.RetryBudget = -1;
    OprosModBus(poll, table, port, log);
    OprosModBus(poll, table, port, log);
    EXPECT_EQ(poll.RxCount, -1);
    EXPECT_EQ(table.Tank(1).LinkState, kLinkFaulty);
}

}  // namespace
}  // namespace conv::test
