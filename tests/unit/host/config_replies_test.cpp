#include <gtest/gtest.h>

#include "host_bench.h"

namespace conv {
namespace {

using test::Bytes;
using test::Hex;
using test::Main;
using Lines = std::vector<std::string>;

class ConfigReplies : public test::HostBench {
  protected:
    // The configuration table with these channel bytes, and its checksum.
    static Bytes Table(std::initializer_list<std::pair<int, uint8_t>> channels) {
        Bytes t(18, 0);
        for (auto [address, code] : channels) t[static_cast<size_t>(1 + address)] = code;
        t[17] = test::Xor(Bytes(t.begin(), t.begin() + 17));
        return t;
    }
};

TEST_F(ConfigReplies, EmptySystem) {
    const Bytes empty = Hex("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Ask(0xDD), empty);
    EXPECT_EQ(NewLines(), (Lines{"1  dd ", "Передача конфигурации",
                                 "18  0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "}));
    EXPECT_EQ(Ask(0x11), empty);
    EXPECT_EQ(NewLines()[1], "Передача конфигурации 1.4");
}

TEST_F(ConfigReplies, SystemAndOneFourTablesMarkTypeAndGaugeErrors) {
    Tank(1).OnChannel(3).Kind(0, 0x0000);
    Tank(2).OnChannel(15).Kind(1, 0xFFFF);
    Tank(3).OnChannel(0).Kind(2).GaugeError(0x91);
    Tank(4).OnChannel(7).Kind(0, 0x0601);
    Tank(5).OnChannel(16).Kind(0);  // beyond the table
    Tank(6).OnChannel(9).Kind(5);   // unknown type: nothing to say
    EXPECT_EQ(Ask(0xDD), Table({{3, 0x80}, {15, 0x81}, {0, 0x02}, {7, 0x80}}));
    EXPECT_EQ(Ask(0x11), Table({{3, 0xC0}, {15, 0xC0}, {0, 0x40}, {7, 0xF8}}));
    Tank(1).GaugeError(0x84);
    EXPECT_EQ(Ask(0xDD)[4], 0x00);
    EXPECT_EQ(Ask(0x11)[4], 0x40);
}

TEST_F(ConfigReplies, SharedAddressTablesDescribeTheHigherTankRepliesTheLower) {
    Tank(2).OnChannel(5).Kind(0).Value(Main::Level, 1.0f);
    Tank(7).OnChannel(5).Kind(1);
    Tank(8).OnChannel(5).Kind(3);  // leaves tank 7's byte in place
    EXPECT_EQ(Ask(0xDD)[6], 0x81);
    EXPECT_EQ(Ask(0x11)[6], 0xC0);
    Ask(0xC5);
    EXPECT_EQ(Ask(0xD2)[1], 0x80);  // tank 2, a level gauge
    EXPECT_EQ(Ask(0xDC).size(), 10u);
    EXPECT_EQ(Ask(0xD4).size(), 56u);
}

TEST_F(ConfigReplies, TwoZeroAndTwoTwoOfEachTankType) {
    Ask(0xC1);
    Tank(1).OnChannel(1).Kind(1, 0x0000);
    for (int k = 1; k <= 9; ++k) Tank(1).Pressure(k, 0.0f, k == 4 ? 0x0040 : 0);
    EXPECT_EQ(Ask(0xD2), Hex("00 80 00 00 08 88"));
    EXPECT_EQ(NewLines().back(), "6  0 80 0 0 8 88 ");
    Tank(1).Kind(1, 0x0400);
    EXPECT_EQ(Ask(0xDC), Hex("00 88 00 00 00 08 00 00 00 80"));

    Tank(1).Kind(2);
    EXPECT_EQ(Ask(0xDC), Hex("00 80 01 00 00 00 05 00 00 84"));
    EXPECT_EQ(Ask(0xD2), Hex("00 80 00 00 00 80"));

    Tank(1).Kind(0, 0x0601).TempHeader(0x15).DensityHeader(0x05).Value(Main::Dpf, 0, 0x0040);
    EXPECT_EQ(Ask(0xD2), Hex("00 B8 15 05 00 A8"));
    Tank(1).DensityHeader(0x83).Value(Main::Dpf, 0, 0x0000);
    EXPECT_EQ(Ask(0xDC), Hex("00 B8 00 15 01 01 00 00 00 AD"));
    EXPECT_EQ(NewLines().back(), "10  0 b8 0 15 1 1 0 0 0 ad ");

    Tank(1).Kind(4);
    EXPECT_EQ(AskAll({0xD2, 0xDC}), Hex("00 00 00 00 00 00  00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(ConfigReplies, MainParametersExample) {
    Tank(1)
        .OnChannel(3)
        .Value(Main::Level, 1234.56f)
        .Value(Main::Volume, 5000.0f)
        .Value(Main::WaterLevel, 12.3f)
        .Value(Main::MeanTemp, 15.27f)
        .Value(Main::MeanDensity, 0.8512f)
        .Value(Main::Mass, 4256.0f);
    EXPECT_EQ(AskAll({0xC3, 0xD4}),
              Hex("00  00"
                  " 00 00 3A 30 00 00  00 00 50 C3 00 00  00 00 7B 00 00 00"
                  " 00 00 99 00 00 00  00 00 40 21 00 00  00 00 40 A6 00 00"
                  " 00 00 00 00 00 00  00 00 00 00 00 00  00 00 00 00 00 00  FC"));
    const Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "1  d4 ");
    EXPECT_EQ(lines[4], "Передача основных параметров");
    EXPECT_EQ(lines[5].substr(0, 20), "56  0 0 0 3a 30 0 0 ");
}

TEST_F(ConfigReplies, MainParametersCarryStatusCodesNextToTheValues) {
    Tank(1)
        .OnChannel(0)
        .Value(Main::Level, 1234.56f, 0x0040)
        .Value(Main::Volume, 1.0f, 0x0002)
        .Value(Main::WaterLevel, 12.3f, 0x0001)
        .Value(Main::MeanTemp, -5.25f, 0x0008)
        .Value(Main::MeanDensity, 0.85f, 0x0080)
        .Value(Main::Mass, -0.07f, 0x0004);
    EXPECT_EQ(Ask(0xD4), test::ParamBlock({{1, 0, 12346},
                                           {0x38, 0, 10},
                                           {0, 0x4D, 123},
                                           {0x32, 0, -53},
                                           {0x32, 0, 8500},
                                           {0x32, 0, 0}}));
    Tank(1).Kind(1);
    EXPECT_EQ(Ask(0xD4), Hex("FF"));
}

}  // namespace
}  // namespace conv
