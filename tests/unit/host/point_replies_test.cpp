#include <gtest/gtest.h>

#include "host_bench.h"

namespace conv {
namespace {

using test::Bytes;
using test::Hex;
using Lines = std::vector<std::string>;

class PointReplies : public test::HostBench {
  protected:
    PointReplies() {
        Tank(1).OnChannel(2);
        Ask(0xC2);
    }
    // Selects the block, then asks; the answer to the command.
    Bytes AskBlock(uint8_t selectGroup, uint8_t command) {
        Ask(selectGroup);
        NewLines();
        return Ask(command);
    }
};

TEST_F(PointReplies, DensityProbeWithItsTemperatureAndRefinedHeight) {
    Tank(1).Density(3, 0.8512f, 0x0304).ProbeMount(3, 1500, 15.27f);
    EXPECT_EQ(
        AskBlock(0xA2, 0xD5),
        test::ParamBlock({{0, 0x4E, 8512}, {0, 0, 153}, {1, 0, 0}, {0, 0, 15003}, {1, 0, 0}}));
    const Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1  d5 ");
    EXPECT_EQ(lines[1], "Передача плотности 3 ");
    EXPECT_EQ(lines[2].substr(0, 30), "56  0 0 4e 40 21 0 0 0 0 99 0 ");

    Tank(1).Density(1, 1.0f, 0xFE40).ProbeMount(1, 1500, -0.07f);
    EXPECT_EQ(AskBlock(0xA0, 0xD5),
              test::ParamBlock({{1, 0, 10000}, {0, 0, -1}, {1, 0, 0}, {0, 0, 14998}, {1, 0, 0}}));
}

TEST_F(PointReplies, FifthProbeSendsItsWholeHeightAndHasNoTextLine) {
    Tank(1).ProbeMount(5, 7000, 0.0f);
    const Bytes reply = AskBlock(0xA4, 0xD5);
    ASSERT_EQ(reply.size(), 56u);
    EXPECT_EQ(Bytes(reply.begin() + 19, reply.begin() + 25), Hex("00 00 70 11 01 00"));  // 70000
    EXPECT_EQ(NewLines().size(), 2u);  // request and reply dumps only
}

TEST_F(PointReplies, GroupsBeyondTheBlocksAreNotServed) {
    EXPECT_EQ(AskBlock(0xA5, 0xD5), Hex("0C"));
    EXPECT_EQ(AskBlock(0xA3, 0xD6), Hex("0C"));
    EXPECT_EQ(AskBlock(0xA3, 0xD3), Hex("0C"));
    EXPECT_EQ(NewLines(), (Lines{"1  d3 ", "1  c "}));
    EXPECT_EQ(AskBlock(0xA4, 0xD5).size(), 56u);
    EXPECT_EQ(AskBlock(0xA2, 0xD6).size(), 56u);
    EXPECT_EQ(AskBlock(0xA2, 0xD3).size(), 20u);
    EXPECT_EQ(AskBlock(0xAF, 0xD8).size(), 20u);  // one block only: the group does not matter
}

TEST_F(PointReplies, OtherTankTypesAreRefusedEachInItsOwnWay) {
    Tank(1).Kind(1);
    EXPECT_EQ(AskBlock(0xA0, 0xD5), Hex("0C"));
    EXPECT_EQ(NewLines(), (Lines{"1  d5 ", "1  c "}));
    EXPECT_EQ(Ask(0xD6), Hex("FF"));
    EXPECT_EQ(NewLines(), (Lines{"1  d6 "}));
    for (uint8_t command : {0xD3, 0xD8}) {
        EXPECT_EQ(Ask(command), Hex("FF"));
        EXPECT_EQ(NewLines().size(), 2u);
    }
}

TEST_F(PointReplies, TemperatureBlocksOfNinePoints) {
    for (int k = 1; k <= 21; ++k) Tank(1).Point(k, static_cast<float>(k), 0);
    Tank(1).Point(10, -5.25f, 0x0004).Point(19, 19.0f, 0x0048).Point(20, 20.04f, 0x0008);
    EXPECT_EQ(AskBlock(0xA2, 0xD6), test::ParamBlock({{1, 0, 190},
                                                      {0, 0x49, 200},
                                                      {0, 0, 210},
                                                      {1, 0, 0},
                                                      {1, 0, 0},
                                                      {1, 0, 0},
                                                      {1, 0, 0},
                                                      {1, 0, 0},
                                                      {1, 0, 0}}));
    EXPECT_EQ(NewLines()[1], "Передача температуры(3)");
    const Bytes block1 = AskBlock(0xA1, 0xD6);
    EXPECT_EQ(block1, test::ParamBlock({{0, 0x4C, -53},
                                        {0, 0, 110},
                                        {0, 0, 120},
                                        {0, 0, 130},
                                        {0, 0, 140},
                                        {0, 0, 150},
                                        {0, 0, 160},
                                        {0, 0, 170},
                                        {0, 0, 180}}));
    EXPECT_EQ(NewLines()[1], "Передача температуры(2)");
}

TEST_F(PointReplies, CoordinateBlocks) {
    for (int k = 1; k <= 21; ++k) Tank(1).PointHeight(k, static_cast<uint16_t>(100 * k));
    for (int k = 1; k <= 5; ++k) Tank(1).ProbeMount(k, static_cast<uint16_t>(1000 * k), 0.0f);
    EXPECT_EQ(AskBlock(0xA2, 0xD3),
              Hex("00 6C 07 D0 07 34 08 00 00 00 00 00 00 00 00 00 00 00 00 80"));
    EXPECT_EQ(NewLines(), (Lines{"1  d3 ", "Передача координат температуры(3)",
                                 "20  0 6c 7 d0 7 34 8 0 0 0 0 0 0 0 0 0 0 0 0 80 "}));
    EXPECT_EQ(AskBlock(0xA0, 0xD3),
              Hex("00 64 00 C8 00 2C 01 90 01 F4 01 58 02 BC 02 20 03 84 03 A5"));
    EXPECT_EQ(NewLines()[1], "Передача координат температуры(1)");
    EXPECT_EQ(Ask(0xD8), Hex("00 E8 03 D0 07 B8 0B A0 0F 88 13 00 00 00 00 00 00 00 00 BB"));
    EXPECT_EQ(NewLines()[1], "Передача координат плотности");
}

TEST_F(PointReplies, SilentGaugeStillGivesTemperaturePointHeights) {
    Tank(1).PointHeight(1, 300).Link(kLinkSilent);
    EXPECT_EQ(AskBlock(0xA0, 0xD3)[1], 0x2C);
    for (uint8_t command : {0xD5, 0xD6, 0xD8}) EXPECT_EQ(Ask(command), Hex("04"));
}

}  // namespace
}  // namespace conv
