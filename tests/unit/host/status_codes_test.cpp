#include "host/status_codes.h"

#include <gtest/gtest.h>

#include "host/replies.h"
#include "host_bench.h"

namespace conv {
namespace {

TEST(ProcChanErr, HardErrorsAreNoDataTheRestGaugeFault) {
    for (int code : {0x84, 0x96, 0x9C}) EXPECT_EQ(ProcChanErr(code), 0xFF) << code;
    for (int code : {0x01, 0x02, 0x91, 0x85, 0x9B}) EXPECT_EQ(ProcChanErr(code), 0x04) << code;
}

TEST(ProcDZOErr, FirstSetBitInItsOrderDecides) {
    EXPECT_EQ(ProcDZOErr(0x0042), 0x01);  // not fitted outranks the fault
    EXPECT_EQ(ProcDZOErr(0x0082), 0x38);
    EXPECT_EQ(ProcDZOErr(0x0081), 0x32);
    EXPECT_EQ(ProcDZOErr(0x000C), 0x32);
    EXPECT_EQ(ProcDZOErr(0x0001), 0x4D);
    EXPECT_EQ(ProcDZOErr(0xFF30), 0x00);  // the high byte and bits 0x30 are not looked at
}

TEST(StatusPairs, WaterLevelDensityProbeAndTemperaturePoint) {
    struct Row {
        uint8_t flags;
        StatusPair hv, dp, dt;
    };
    const Row rows[] = {
        {0x48, {1, 0}, {1, 0}, {1, 0}},          {0x83, {0x38, 0}, {0x38, 0}, {0x38, 0}},
        {0x8D, {0x32, 0}, {0x32, 0}, {0x32, 0}}, {0x0D, {0, 0x4D}, {0, 0x4E}, {0, 0x49}},
        {0x05, {0, 0x4D}, {0, 0x4E}, {0, 0x4C}}, {0x01, {0, 0x4D}, {0, 0x49}, {0, 0}},
        {0x08, {0, 0}, {0, 0}, {0, 0x49}},       {0x30, {0, 0}, {0, 0}, {0, 0}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ProcHvErr(r.flags), r.hv) << int{r.flags};
        EXPECT_EQ(ProcDPErr(r.flags), r.dp) << int{r.flags};
        EXPECT_EQ(ProcDTErr(r.flags), r.dt) << int{r.flags};
    }
}

TEST(ProcDZOState, KindFromFourLowBitsAlarmFromBits0x30) {
    EXPECT_EQ(ProcDZOState(0x1A00), (StatusPair{2, 1}));
    EXPECT_EQ(ProcDZOState(0x0200), (StatusPair{1, 0}));
    EXPECT_EQ(ProcDZOState(0x22FF), (StatusPair{1, 2}));
    EXPECT_EQ(ProcDZOState(0x3000), (StatusPair{2, 2}));
}

TEST(ProcDDErrVelt, FlagsThenWholePatterns) {
    // 0x8F carries 0x02, so the fault bit answers before the pattern is looked at.
    const std::pair<uint8_t, uint8_t> rows[] = {
        {0x40, 0x01}, {0x42, 0x01}, {0x82, 0x38}, {0x80, 0x32}, {0x8F, 0x38}, {0x84, 0x0B},
        {0x88, 0x0C}, {0x8C, 0x0D}, {0x85, 0x00}, {0x04, 0x00}, {0xB4, 0x0B}, {0x00, 0x00},
    };
    for (auto [flags, code] : rows) EXPECT_EQ(ProcDDErrVelt(flags), code) << int{flags};
}

TEST(ChannelFlags, ScatteredConfigWordBits) {
    EXPECT_EQ(ChannelFlags(0x0601), 0x38);  // bits 10, 9 and 0
    EXPECT_EQ(ChannelFlags(0x00C8), 0x07);  // bits 7, 6 and 3
    EXPECT_EQ(ChannelFlags(0xF936), 0x00);  // none of the six bits
}

TEST(SensorCounts, OnlyFittedSensorsCount) {
    TankTable table;
    test::TankWriter(table, 1).Pressure(2, 1.0f, 0x0040).Pressure(9, 1.0f, 0xFF40).Gas(5, 0, 0x40);
    EXPECT_EQ(ProcCountDD(table.Tank(1).Pressure), 7);
    EXPECT_EQ(ProcCountDZO(table.Tank(1).Gas), 4);
}

}  // namespace
}  // namespace conv
