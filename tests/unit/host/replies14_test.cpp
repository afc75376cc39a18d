#include <gtest/gtest.h>

#include <limits>

#include "host_bench.h"

namespace conv {
namespace {

using test::Bytes;
using test::Hex;
using test::Main;
using Lines = std::vector<std::string>;

class Replies14 : public test::HostBench {
  protected:
    Replies14() { Tank(3).OnChannel(5); }
};

TEST_F(Replies14, PackedValues) {
    Tank(3)
        .Value(Main::Level, 12345.6f)
        .Value(Main::Volume, 654321.5f)
        .Value(Main::MeanDensity, 0.8512f)
        .Value(Main::Mass, 4256.04f);
    EXPECT_EQ(Ask(0x25), Hex("00 39 30 06 0F"));
    EXPECT_EQ(NewLines(), (Lines{"1  25 ", "Передача уровня", "5  0 39 30 6 f "}));
    EXPECT_EQ(Ask(0x85), Hex("00 F1 FB 95 9F"));
    EXPECT_EQ(NewLines()[1], "Передача объема");
    EXPECT_EQ(Ask(0x55), Hex("00 53 03 02 52"));
    EXPECT_EQ(NewLines()[1], "Передача плотности");
    EXPECT_EQ(Ask(0xB5), Hex("00 A0 10 00 B0"));  // 4256.0
    EXPECT_EQ(NewLines()[1], "Передача массы");
}

TEST_F(Replies14, PackedValuesOutOfRangeAreHeldNotWrapped) {
    Tank(3)
        .Value(Main::Level, -12.5f)
        .Value(Main::Volume, 2.0e6f)
        .Value(Main::Mass, std::numeric_limits<float>::quiet_NaN())
        .Value(Main::MeanDensity, std::numeric_limits<float>::infinity());
    EXPECT_EQ(Ask(0x25), Hex("00 00 00 00 00"));
    EXPECT_EQ(Ask(0x85), Hex("00 FF FF F9 F9"));
    EXPECT_EQ(Ask(0xB5), Hex("00 00 00 00 00"));
    EXPECT_EQ(Ask(0x55), Hex("00 FF FF F9 F9"));
}

TEST_F(Replies14, WaterLevelInWholeMillimetres) {
    Tank(3).Value(Main::WaterLevel, 12.3f);
    EXPECT_EQ(Ask(0x45), Hex("00 0C"));
    EXPECT_EQ(NewLines(), (Lines{"1  45 ", "Передача подтоварной воды", "2  0 c "}));
    Tank(3).Value(Main::WaterLevel, 300.4f);
    EXPECT_EQ(Ask(0x45), Hex("00 FF"));  // held at 255, not 300 & 0xFF
}

TEST_F(Replies14, TemperaturesInHalfDegrees) {
    Tank(3)
        .Point(1, 20.24f)
        .Point(2, 20.26f, 0x0040)  // only the mean temperature's state counts
        .Point(3, 20.75f)
        .Value(Main::MeanTemp, -20.7f)
        .Value(Main::Tap, -0.3f);
    EXPECT_EQ(Ask(0x35), Hex("00 28 29 2A A9 82"));
    EXPECT_EQ(NewLines()[1], "Передача температуры");
    EXPECT_EQ(Ask(0x65), Hex("00 81"));
    EXPECT_EQ(NewLines(), (Lines{"1  65 ", "Передача поверхностной температуры", "2  0 81 "}));
    Tank(3).Value(Main::Tap, 70.0f);
    EXPECT_EQ(Ask(0x65), Hex("00 7F"));  // not 0x8C, which would read as -6 °C
}

TEST_F(Replies14, ValueStatusDecidesBetweenValueAndError) {
    Tank(3).Value(Main::Level, 1.0f, 0x0040);
    EXPECT_EQ(Ask(0x25), Hex("FF"));
    EXPECT_EQ(NewLines(), (Lines{"1  25 ", "Передача ошибки по H", "1  ff "}));
    Tank(3).Value(Main::Level, 1.0f, 0x0001);
    EXPECT_EQ(Ask(0x25), Hex("04"));
    const std::pair<Main, const char*> errors[] = {
        {Main::Volume, "Передача ошибки по объему"}, {Main::Mass, "Передача ошибки по массе"},
        {Main::MeanDensity, "Передача ошибки по P"}, {Main::WaterLevel, "Передача ошибки по Hv"},
        {Main::MeanTemp, "Передача ошибки по T"},    {Main::Tap, "Передача ошибки по Tp"},
    };
    const uint8_t commands[] = {0x85, 0xB5, 0x55, 0x45, 0x35, 0x65};
    for (size_t i = 0; i < std::size(errors); ++i) {
        Tank(3).Value(errors[i].first, 1.0f, 0x0002);
        NewLines();
        EXPECT_EQ(Ask(commands[i]), Hex("04"));
        EXPECT_EQ(NewLines()[1], errors[i].second);
    }
}

TEST_F(Replies14, TankChecksOfTheOlderProtocol) {
    const uint8_t commands[] = {0x25, 0x35, 0x45, 0x55, 0x65, 0x85, 0xB5};
    Tank(3).Link(kLinkSilent);
    for (uint8_t c : commands) EXPECT_EQ(Ask(c), Hex("06")) << int{c};
    Tank(3).Link(kLinkFaulty);
    for (uint8_t c : commands) EXPECT_EQ(Ask(c), Hex("06")) << int{c};
    Tank(3).Link(kLinkGood).GaugeError(0x91);
    for (uint8_t c : commands) EXPECT_EQ(Ask(c), Hex("FF")) << int{c};
    Tank(3).GaugeError(0).Kind(2);
    NewLines();
    for (uint8_t c : commands) EXPECT_EQ(Ask(c), Hex("FF")) << int{c};
    EXPECT_EQ(NewLines().size(), 2 * std::size(commands));  // request and reply dumps, no text
}

}  // namespace
}  // namespace conv
