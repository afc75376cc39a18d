// The poll cycle tick by tick over a scripted gauge line: what is sent, what is stored, what the
// tank's status becomes and what the left pane shows.
#include <gtest/gtest.h>

#include "modbus/groups.h"
#include "unit/bench.h"

namespace conv::test {
namespace {

// The requests of slave 0x50, their CRCs worked out independently of our routine.
// clang-format off
const Bytes kZeroByte = Hex("00"), kSelect5 = Hex("50 06 00 00 00 05 44 48"),
    kTypeRequest = Hex("50 04 00 00 00 03 BD 8A"), kMainRequest = Hex("50 04 00 03 00 2A 8C 54"),
    kTempRequest = Hex("50 04 00 80 00 21 3C 7B"), kTemp1Request = Hex("50 04 00 A1 00 21 6C 71"),
    kKoordRequest = Hex("50 04 00 C2 00 15 9D B8"), kPlotRequest = Hex("50 04 01 00 00 12 7C 7A"),
    kPlotTempRequest = Hex("50 04 01 18 00 0F 3C 74"), kDDRequest = Hex("50 04 00 00 00 1E 7D 83"),
    kDZORequest = Hex("50 04 00 00 00 12 7D 86");
// clang-format on

Lines Head(const Lines& lines, size_t n) {
    return Lines(lines.begin(), lines.begin() + static_cast<long>(std::min(n, lines.size())));
}

using PollTest = Bench;

// ---- the read requests: what differs from row to row ----

constexpr ValueSlot (MainBlock::*kMainSlots[])() const = {
    &MainBlock::Level,    &MainBlock::Mass,       &MainBlock::Volume, &MainBlock::MeanDensity,
    &MainBlock::MeanTemp, &MainBlock::WaterLevel, &MainBlock::Pap,    &MainBlock::Tap,
    &MainBlock::Ppf,      &MainBlock::Tpf,        &MainBlock::Dpf,    &MainBlock::VolumeMax};

// How the values of a reply lie: a float with its state register, a height in one register, or
// a probe's height followed by its temperature.
enum Kind { kSlots, kHeights, kProbes };

struct ReadRow {
    const char* name;
    int type, group;  // a tank of this type, at the group that sends the request
    Bytes request;
    const char* line;
    int count;  // registers of the reply
    bool replacesAddress, checksCrc;
    int32_t wrongLengthState;  // LinkState after a wrong length with the repeats used up
    Bytes next;                // what follows once the group is done
    Kind kind;
    int values;
    int (*reg)(int k);  // register of value k = 1..values, as the gauge documents it
    float (*read)(const TankEntry&, int k);
};

// clang-format off
const ReadRow kReadRows[] = {
    {"Type", 0, 2, kTypeRequest, "OUT запрос типа ДА", 3, false, false, kLinkFaulty, kMainRequest,
     kSlots, 0, nullptr, nullptr},
    {"Main", 0, 3, kMainRequest, "OUT запрос основных параметров V,H,M,P,T", 42, true, true,
     kLinkSilent, kTempRequest, kSlots, 12, [](int k) { return k <= 11 ? 3 * k : 42; },
     [](const TankEntry& t, int k) { return (t.Main.*kMainSlots[k - 1])().Value; }},
    {"Temp", 0, 4, kTempRequest, "OUT запрос температуры", 33, true, true, kLinkFaulty,
     kTemp1Request, kSlots, 10, [](int k) { return 128 + 3 * k; },
     [](const TankEntry& t, int k) { return t.Temp.Point(k).Value; }},
    {"TempOfAnUnknownType", 9, 3, kTempRequest, "OUT запрос температуры", 33, true, true,
     kLinkFaulty, kTempRequest, kSlots, 10, [](int k) { return 128 + 3 * k; },
     [](const TankEntry& t, int k) { return t.Temp.Point(k).Value; }},
    {"Temp1", 0, 5, kTemp1Request, "OUT запрос температур Т10-Т21", 33, true, true, kLinkFaulty,
     kKoordRequest, kSlots, 11, [](int k) { return 158 + 3 * k; },
     [](const TankEntry& t, int k) { return t.Temp.Point(10 + k).Value; }},
    {"KoordTemp", 0, 6, kKoordRequest, "OUT запрос координат температур", 21, true, true,
     kLinkFaulty, kPlotRequest, kHeights, 21, [](int k) { return 193 + k; },
     [](const TankEntry& t, int k) { return 1.0f * t.TempCoords.PointHeight(k); }},
    {"Plot", 0, 7, kPlotRequest, "OUT запрос плотности", 18, false, true, kLinkFaulty,
     kPlotTempRequest, kSlots, 5, [](int k) { return 256 + 3 * k; },
     [](const TankEntry& t, int k) { return t.Density.Probe(k).Value; }},
    {"PlotTemp", 0, 8, kPlotTempRequest, "OUT запрос плотности", 15, false, true, kLinkFaulty,
     kZeroByte, kProbes, 5, [](int k) { return 277 + 3 * k; },
     [](const TankEntry& t, int k) { return t.Probe.ProbeHeight(k) + t.Probe.ProbeTemp(k); }},
    {"DD", 1, 3, kDDRequest, "OUT запрос DD", 30, false, true, kLinkFaulty, kZeroByte,
     kSlots, 9, [](int k) { return 3 * k; },
     [](const TankEntry& t, int k) { return t.Pressure.Sensor(k).Value; }},
    {"DZO", 2, 3, kDZORequest, "OUT запрос DZO", 18, false, true, kLinkFaulty, kZeroByte,
     kSlots, 5, [](int k) { return 3 * k; },
     [](const TankEntry& t, int k) { return t.Gas.Sensor(k).Value; }},
};
// clang-format on

// Tank 1 is read; tank 2 is configured too, so that a finished tank shows as tank 2's zero byte.
class ReadRows : public Bench, public ::testing::WithParamInterface<ReadRow> {
  protected:
    void SetUp() override { Configure(2, 6); }
    // A reply with value k at its place: 1.5 k with state k; a height of 100 k mm; a probe at
    // 100 k mm with a temperature of 0.25 k °C.
    Bytes Reply(uint8_t address = kSlave) const {
        const ReadRow& r = GetParam();
        const int first = r.request[2] << 8 | r.request[3];  // the request's first register
        Bytes regs(static_cast<size_t>(2 * r.count), 0);
        for (int k = 1; k <= r.values; ++k) {
            const size_t at = static_cast<size_t>(2 * (r.reg(k) - first));
            if (r.kind == kSlots) PutSlot(regs, first, r.reg(k), 1.5f * k, uint16_t(k));
            if (r.kind != kSlots) regs.at(at + 1) = static_cast<uint8_t>(100 * k);
            if (r.kind != kSlots) regs.at(at) = static_cast<uint8_t>(100 * k >> 8);
            if (r.kind == kProbes) FloatToWire(0.25f * k, &regs.at(at + 2));
        }
        return ReadReply(regs, address);
    }
    void ExpectValues(bool stored) {
        const ReadRow& r = GetParam();
        const float per = r.kind == kSlots ? 1.5f : r.kind == kHeights ? 100 : 100.25f;
        for (int k = 1; k <= r.values; ++k)
            EXPECT_EQ(r.read(table.Tank(1), k), stored * per * k) << k;
    }
    // The request sent with no repeat left and `reply` read at the next tick; what that tick sent.
    Bytes Answer(const Bytes& reply, int32_t linkBefore) {
        Configure(1, 5, GetParam().type);
        table.Tank(1).LinkState = linkBefore;
        ResumeAt(1, GetParam().group, -1);
        Left();
        EXPECT_EQ(Poll(), GetParam().request);
        EXPECT_EQ(Left(), (Lines{GetParam().line, Dump(GetParam().request)}));
        gauge.QueueRead(reply);
        return Poll();
    }
};

TEST_P(ReadRows, RequestAndWhatItsReplyDecides) {
    const ReadRow& r = GetParam();
    const TankEntry& tank = table.Tank(1);
    // One byte too many with the repeats used up: the tank's own link state, the poll goes on.
    Bytes longer = Reply();
    longer.push_back(0);
    EXPECT_EQ(Answer(longer, kLinkGood), r.next);
    EXPECT_EQ(tank.LinkState, r.wrongLengthState);
    EXPECT_EQ(Head(Left(), 3), (Lines{"IN ", "Ошибка в принятом буфере", Dump(longer)}));
    ExpectValues(false);
    // Another slave's reply with a CRC of its own: refused where our address is put in first.
    Answer(Reply(0x07), kLinkSilent);
    EXPECT_EQ(tank.LinkState, r.replacesAddress ? kLinkFaulty : kLinkGood);
    ExpectValues(!r.replacesAddress);
    // The two CRC bytes swapped: refused where the CRC is checked.
    Bytes swapped = Reply();
    std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    Answer(swapped, kLinkSilent);
    EXPECT_EQ(tank.LinkState, r.checksCrc ? kLinkFaulty : kLinkGood);
    // A good reply is stored, clears the status, and the poll goes on.
    table.Tank(1) = TankEntry{};
    table.Tank(1).GaugeErrorCode = 0x91;
    EXPECT_EQ(Answer(Reply(), kLinkFaulty), r.next);
    EXPECT_EQ(tank.LinkState, kLinkGood);
    EXPECT_EQ(tank.GaugeErrorCode, 0);
    EXPECT_EQ(Head(Left(), 2), (Lines{"IN ", Dump(Reply())}));
    ExpectValues(true);
}

INSTANTIATE_TEST_SUITE_P(All, ReadRows, ::testing::ValuesIn(kReadRows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what a reply decides on the paths that the requests share ----

enum Arrival { kBytes, kSilence, kLineError };

const std::string kTempLine = "OUT запрос температуры", kTypeLine = "OUT запрос типа ДА";

struct Outcome {
    const char* what;
    int group, budget;  // the request sent to the only tank, with this many repeats left
    Arrival arrival;
    Bytes reply;
    Bytes next;  // what the same tick sends: the request again, the next one, or nothing
    int budgetAfter;
    int32_t link, error, gaugeLink;  // 7: as it was
    Lines lines;
};

Bytes WithBadCrc(Bytes b) {
    b.back() ^= 0x5A;
    return b;
}

// clang-format off
const Outcome kOutcomes[] = {
    {"read, silence", 4, 0, kSilence, {}, kTempRequest, -1, 7, 7, 7,
     {"IN ", kTempLine, Dump(kTempRequest)}},
    {"read, silence, no repeat left", 4, -1, kSilence, {}, {}, -1, kLinkSilent, 7, 7, {"IN "}},
    {"read, line error, no repeat left", 4, -1, kLineError, Hex("50 04"), {}, -1, kLinkFaulty, 7,
     7, {"IN "}},
    {"read, any five bytes are an exception", 4, 3, kBytes, Hex("07 04 0B 12 34"), {}, 3,
     kLinkGood, 0x0B, 7, {"IN ", "5  50 4 b 12 34 "}},
    {"read, wrong length", 4, 0, kBytes, Hex("50 04 02 00"), kTempRequest, -1, 7, 7, 7,
     {"IN ", "4  50 4 2 0 ", kTempLine, Dump(kTempRequest)}},
    {"read, bad CRC", 4, 0, kBytes, WithBadCrc(ReadReply(Bytes(66))), kTempRequest, -1, 7, 7, 7,
     {"IN ", kTempLine, Dump(kTempRequest)}},
    {"type, an exception: the gauge answers", 2, 3, kBytes, Hex("50 84 02 C2 C1"), {}, 3,
     kLinkGood, 2, 1, {"IN ", "5  50 84 2 c2 c1 "}},
    {"select, the echo: one budget for all of a tank's requests", 1, 1, kBytes, kSelect5,
     kTypeRequest, 1, kLinkGood, 0, 1,
     {"IN ", Dump(kSelect5), kTypeLine, Dump(kTypeRequest)}},
    {"select, another length", 1, 3, kBytes, Hex("50"), kTypeRequest, 3, 7, 7, 7,
     {"IN ", "1  50 ", kTypeLine, Dump(kTypeRequest)}},
    {"select, an exception with code 0", 1, 3, kBytes, Hex("50 86 00 01 02"), kTypeRequest, 3,
     7, 7, 7, {"IN ", "5  50 86 0 1 2 ", kTypeLine, Dump(kTypeRequest)}},
    {"select, an exception", 1, 3, kBytes, Hex("50 86 0B 00 00"), {}, 3, kLinkGood, 0x0B, 7,
     {"IN ", "5  50 86 b 0 0 "}},
    {"select, silence", 1, 0, kSilence, {}, kSelect5, -1, 7, 7, 7,
     {"5 - адрес опрашиваемого канала", Dump(kSelect5)}},
    {"select, line error, no repeat left", 1, -1, kLineError, Hex("50 06"), {}, -1, kLinkFaulty,
     7, 0, {}},
};
// clang-format on

TEST_F(PollTest, WhatAReplyDecidesOnTheSharedPaths) {
    for (const Outcome& o : kOutcomes) {
        Configure(64, 5);  // the last tank: a finished tank ends the cycle, its budget shows
        TankEntry& tank = table.Tank(64);
        tank.LinkState = tank.GaugeErrorCode = table.GaugeLinkOk = 7;
        ResumeAt(64, o.group, o.budget);
        Poll();
        Left();
        if (o.arrival == kSilence) gauge.QueueSilence();
        if (o.arrival == kLineError) gauge.QueueLineError(o.reply);
        if (o.arrival == kBytes) gauge.QueueRead(o.reply);
        EXPECT_EQ(Poll(), o.next) << o.what;
        EXPECT_EQ(poll.RetryBudget, o.budgetAfter) << o.what;
        EXPECT_EQ(tank.LinkState, o.link) << o.what;
        EXPECT_EQ(tank.GaugeErrorCode, o.error) << o.what;
        EXPECT_EQ(table.GaugeLinkOk, o.gaugeLink) << o.what;
        EXPECT_EQ(Left(), o.lines) << o.what;
    }
    // The gauge numbers its channels in one byte; the log gives the whole address.
    Configure(1, 300);
    ResumeAt(1, 1);
    EXPECT_EQ(Poll(), Hex("50 06 00 00 00 2C 85 96"));
    EXPECT_EQ(Left(), (Lines{"300 - адрес опрашиваемого канала", "8  50 6 0 0 0 2c 85 96 "}));
}

// More than the room for one read: the port hands out what fits, a wrong length, and keeps the
// rest. A port that claims more than the room it was given is broken.
TEST_F(PollTest, AFloodIsReadARoomfulAtATime) {
    Configure(1, 5);
    ResumeAt(1, 4, -1);
    Poll();
    gauge.QueueRead(Bytes(kRxCapacity + 476, 0xEE));
    EXPECT_EQ(Poll(), kTemp1Request);
    EXPECT_EQ(poll.RxCount, kRxCapacity);
    Poll();
    EXPECT_EQ(poll.RxCount, 476);
    struct OverclaimingPort : FakePort {
        int ReadAvailable(uint8_t*, int capacity) override { return capacity + 1; }
    } liar;
    OprosModBus(poll, table, liar, log);
    EXPECT_EQ(poll.RxCount, -1);
}

// ---- the cycle ----

TEST_F(PollTest, EmptyTableCyclesEndInOneTickEachAtTheSecondPacingTick) {
    table.Tank(5).ZeroByteSkips = 1;  // a tank left out starts afresh when it is polled again
    std::vector<int> finishedAt;
    for (int ms = 100; ms <= 4400; ms += 100) {
        if (ms % 1000 == 0) PacingStep(poll);
        if (ms % 800 != 0) continue;
        EXPECT_EQ(Poll(), Bytes{});
        if (poll.CycleState == kCycleFinished && poll.ReplyPending == 0) finishedAt.push_back(ms);
    }
    EXPECT_EQ(finishedAt, (std::vector<int>{2400, 4000}));
    EXPECT_EQ(table.FirstCycleDone, 1);
    EXPECT_EQ(table.GaugeLinkOk, 0);  // nothing has answered
    EXPECT_EQ(poll.PollChannel, -1);
    EXPECT_EQ(poll.CycleTicks, 2);
    EXPECT_EQ(table.Tank(5).ZeroByteSkips, 0);
    EXPECT_EQ(Left(), Lines{});
}

// The start-up cursor stands on tank 1 with no repeat in hand; every later tank gets three. The
// panel shows the index under the cursor, then the tank number.
TEST_F(PollTest, FirstTankOfTheFirstCycleHasOneRepeatLaterTanksFour) {
    std::vector<int> panel;
    poll.ShowPanel = [&](int n) { panel.push_back(n); };
    Configure(1, 5);
    Configure(2, 5);
    poll.CycleState = kCycleRunning;
    EXPECT_EQ(Poll(), kZeroByte);
    EXPECT_EQ(panel, (std::vector<int>{0, 1}));
    for (const Bytes& request : {kSelect5, kSelect5, kZeroByte, kSelect5, kSelect5, kSelect5,
                                 kSelect5, kSelect5, Bytes{}}) {
        EXPECT_EQ(Poll(), request);
    }
    EXPECT_EQ(table.Tank(1).LinkState, kLinkSilent);
    EXPECT_EQ(table.Tank(2).LinkState, kLinkSilent);
    EXPECT_EQ(table.FirstCycleDone, 1);
    // A reply is still decoded after the cycle has finished.
    ResumeAt(2, 2);
    Poll();
    poll.CycleState = kCycleFinished;
    gauge.QueueRead(ReadReply(Hex("02 00 00 00 00 00")));
    EXPECT_EQ(Poll(), Bytes{});
    EXPECT_EQ(table.Tank(2).TankType(), kGasTank);
    EXPECT_EQ(poll.ReplyPending, 0);
}

// ---- bytes after the single zero byte ----

// The line echoes every zero byte, so no request ever gets through. One skip leaves the tank as
// it was; skipped again in the next cycle it is marked faulty, so that the host stops serving its
// stale values as good, with one line saying why. A line error after the zero byte is no skip:
// the channel select meets it, and the count starts over.
TEST_F(PollTest, TankSkippedAfterTheZeroByteInTwoCyclesInARowIsMarkedFaulty) {
    Configure(3, 5);
    table.FirstCycleDone = 1;
    // A cycle whose zero byte for tank 3 is followed by `afterZero` (a line error: none); the
    // tank's link state and what the left pane was told.
    const auto cycleWith = [&](const std::optional<Bytes>& afterZero) {
        ResumeAt(2, kGroupTankDone);
        EXPECT_EQ(Poll(), kZeroByte);
        Left();
        afterZero ? gauge.QueueRead(*afterZero) : gauge.QueueLineError();
        if (Poll() == kSelect5) gauge.QueueRead(kSelect5);
        Poll();
        return std::pair(table.Tank(3).LinkState, Left());
    };
    const auto told = [](int cycles) {
        return Lines{"Резервуар 3 (адрес канала 5): посторонние байты после нулевого байта " +
                     std::to_string(cycles) + "-й цикл подряд, связь неисправна"};
    };
    EXPECT_EQ(cycleWith(kZeroByte), std::pair(int32_t{kLinkGood}, Lines{}));  // the adapter's echo
    EXPECT_EQ(cycleWith(kZeroByte), std::pair(int32_t{kLinkFaulty}, told(2)));
    EXPECT_EQ(cycleWith(Hex("00 00 00")).second, told(3));  // the count goes on
    EXPECT_EQ(cycleWith(std::nullopt).first, kLinkGood);
    EXPECT_EQ(cycleWith(kZeroByte).first, kLinkGood);
}

// ---- the frames and the store's blocks ----

// A fast line decides a reply once it has the length its request expects.
TEST(Frames, ExpectedReplyLengths) {
    EXPECT_EQ(ExpectedReplyLength(BuildWriteRequest(kSlave, 0, 5)), 8);
    EXPECT_EQ(ExpectedReplyLength(BuildReadRequest(kSlave, 0x80, 0x121)), 5 + 2 * 0x121);
    RequestFrame other = BuildReadRequest(kSlave, 0, 3);
    other[1] = 0x03;
    EXPECT_EQ(ExpectedReplyLength(other), 0);
}

TEST(TankTable, NothingOutsideABlockIsWrittenOrRead) {
    GasBlock gas;
    const Bytes regs(40, 0x11);
    gas.StoreWire(0, regs.data(), 19);  // the block holds registers 0..17
    gas.StoreWire(17, regs.data(), 2);
    gas.StoreWire(-1, regs.data(), 2);
    gas.ConvertFloat(17);
    gas.ConvertHeight(18);
    EXPECT_EQ(gas.Bytes(), (std::array<uint8_t, 36>{}));
    gas.StoreWire(0, regs.data(), 18);
    EXPECT_EQ(gas.Reg(17), 0x1111);
    EXPECT_EQ(gas.Reg(18), 0);
    EXPECT_EQ(gas.Slot(16).State(), 0);
    EXPECT_EQ(gas.Float(17), 0.0f);
    EXPECT_EQ(gas.Height(18), 0);
}

}  // namespace
}  // namespace conv::test
