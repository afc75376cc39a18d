#include <gtest/gtest.h>

#include "host_bench.h"

namespace conv {
namespace {

using test::Bytes;
using test::Group;
using test::Hex;
using test::Main;
using Lines = std::vector<std::string>;

class SensorReplies : public test::HostBench {
  protected:
    SensorReplies() {
        Tank(1).OnChannel(4);
        Ask(0xC4);
        NewLines();
    }
};

TEST_F(SensorReplies, PressureSensorsWithTheirFaultCodes) {
    Tank(1).Kind(1);
    for (int k = 1; k <= 9; ++k) Tank(1).Pressure(k, static_cast<float>(k), 0);
    const std::pair<uint16_t, uint8_t> cases[] = {{0x0040, 1}, {0x0084, 0x0B}, {0x0085, 0}};
    for (auto [state, code] : cases) {
        Tank(1).Pressure(3, 3.0f, state);
        std::vector<Group> groups;
        for (int k = 1; k <= 9; ++k) groups.emplace_back(k == 3 ? code : 0, 0, 10 * k);
        EXPECT_EQ(Ask(0xD7), test::ParamBlock(groups)) << state;
    }
    EXPECT_EQ(NewLines()[1], "Передача давления");
}

TEST_F(SensorReplies, PressureOfOtherTankTypes) {
    Tank(1).Value(Main::Dpf, 12.34f, 0x0088);
    EXPECT_EQ(Ask(0xD7), test::ParamBlock({{0x0C, 0, 123},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0},
                                           {1, 0, 0}}));
    Tank(1).Kind(3);
    EXPECT_EQ(Ask(0xD7), Bytes(56, 0x00));
    Tank(1).Kind(2);
    NewLines();
    EXPECT_EQ(Ask(0xD7), Hex("FF"));
    EXPECT_EQ(NewLines(), (Lines{"1  d7 ", "1  ff "}));
}

TEST_F(SensorReplies, GasSensorValuesKindsAndAlarms) {
    Tank(1)
        .Kind(2)
        .Gas(1, 1.0f, 0x1A00)
        .Gas(2, 12.34f, 0x0000)
        .Gas(3, 3.0f, 0x0082)
        .Gas(4, 4.0f, 0x0040)
        .Gas(5, 5.0f, 0x2200);
    const Group absent{1, 0, 0};
    EXPECT_EQ(Ask(0xDB), test::ParamBlock({{0, 2, 10},
                                           {0, 2, 123},
                                           {0x38, 2, 30},
                                           {1, 2, 40},
                                           {0, 1, 50},
                                           absent,
                                           absent,
                                           absent,
                                           absent}));
    EXPECT_EQ(NewLines()[1], "Передача параметров ДЗО");
    EXPECT_EQ(Ask(0xDF), test::ParamBlock({{0, 2, 1},
                                           {0, 2, 0},
                                           {0x38, 2, 0},
                                           {1, 2, 0},
                                           {0, 1, 2},
                                           absent,
                                           absent,
                                           absent,
                                           absent}));
    EXPECT_EQ(NewLines()[1], "Передача сигнализации ДЗО");
    // Sensor 1's kind reads 1 here (three low bits) but 2 above (four low bits).
    EXPECT_EQ(Ask(0xDE), Hex("00 01 00 02 00 02 32 02 01 01 00 20 00 20 00 20 00 20 00 31"));
    EXPECT_EQ(NewLines(), (Lines{"1  de ", "Передача ДЗО",
                                 "20  0 1 0 2 0 2 32 2 1 1 0 20 0 20 0 20 0 20 0 31 "}));
}

TEST_F(SensorReplies, GasRepliesServeOnlyGasTanks) {
    for (int type : {0, 1, 3}) {
        Tank(1).Kind(type);
        EXPECT_EQ(AskAll({0xDB, 0xDE, 0xDF}), Hex("FF FF FF")) << type;
    }
    EXPECT_EQ(NewLines().back(), "1  ff ");
}

}  // namespace
}  // namespace conv
