// The host line tick by tick: a farm of tanks in the table, one command byte per tick, the reply
// on the line and the right pane.
#include <gtest/gtest.h>

#include <tuple>

#include "unit/bench.h"

namespace conv::test {
namespace {

// "first status, second status, value" of one group of a parameter block.
using Group = std::tuple<uint8_t, uint8_t, int32_t>;
constexpr Group kAbsent{1, 0, 0};

// The 56-byte parameter block: status 0, nine groups (`fill` after the given ones), the XOR of all
// before it.
Bytes ParamBlock(const std::vector<Group>& groups, Group fill = {}) {
    Bytes b{0x00};
    for (size_t g = 0; g < 9; ++g) {
        const auto [first, second, value] = g < groups.size() ? groups[g] : fill;
        b.insert(b.end(), {first, second});
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(uint32_t(value) >> 8 * i));
    }
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    b.push_back(x);
    return b;
}

// A density probe's block: density with its status, temperature, height in tenths of a mm.
Bytes Probe(uint8_t first, uint8_t second, int32_t density, int32_t celsius, int32_t height) {
    return ParamBlock(
        {{first, second, density}, {0, 0, celsius}, kAbsent, {0, 0, height}, kAbsent});
}

class HostTest : public Bench {
  protected:
    HostTest() {
        table.FirstCycleDone = 1;
        table.GaugeLinkOk = 1;
        // Address 5: tank 3, a level gauge with everything measured; tank 9 (pressure) and tank 11
        // (a type we do not know) share the address.
        Configure(3, 5, kLevelGauge, 0x0601);
        TankEntry& lg = table.Tank(3);
        // Level, mass, volume, mean density, mean temperature, water level, surface temperature
        // and pressure, at their registers.
        // clang-format off
        const std::tuple<int, float, uint16_t> main[] = {{3, 1234.56f, 0}, {6, 4256, 0},
            {9, 5000, 0}, {12, 0.8512f, 0}, {15, 15.27f, 0}, {18, 12.3f, 1}, {24, -0.3f, 0},
            {33, 12.34f, 0x88}};
        // Each probe's density with its state, its height and its temperature.
        const std::tuple<float, uint16_t, uint16_t, float> probes[] = {{1.0f, 0xFE40, 1500, -0.07f},
            {0.875f, 0, 2000, 2.5f}, {0.8512f, 0x0304, 1500, 15.27f}, {0.9375f, 1, 3000, 4.0f},
            {0.75f, 0, 7000, 0}};
        // clang-format on
        for (auto [reg, value, state] : main) PutSlot(lg.Main, reg, value, state);
        for (int k = 1; k <= 21; ++k) {
            PutSlot(lg.Temp, 128 + 3 * k, static_cast<float>(k));
            PutHeight(lg.TempCoords, 193 + k, static_cast<uint16_t>(100 * k));
        }
        PutSlot(lg.Temp, 158, -5.25f, 0x0004);  // T10
        PutSlot(lg.Temp, 185, 19.0f, 0x0048);   // T19
        PutSlot(lg.Temp, 188, 20.04f, 0x0008);  // T20
        for (int p = 1; p <= 5; ++p) {
            const auto [density, state, height, celsius] = probes[p - 1];
            PutSlot(lg.Density, 256 + 3 * p, density, state);
            PutProbe(lg.Probe, 277 + 3 * p, height, celsius);
        }
        lg.Temp.StoreWire(130, Hex("15 00").data(), 1);
        lg.Density.StoreWire(258, Hex("05 00").data(), 1);
        Configure(9, 5, kPressureTank);
        Configure(11, 5, 3);
        // Address 6: a pressure tank; sensor 2 is not fitted, sensor 3 reports a fault.
        Configure(4, 6, kPressureTank, 0x0400);
        for (int k = 1; k <= 9; ++k) PutSlot(table.Tank(4).Pressure, 3 * k, 1.5f * k);
        PutSlot(table.Tank(4).Pressure, 6, 3.0f, 0x0040);
        PutSlot(table.Tank(4).Pressure, 9, 4.5f, 0x0084);
        // Address 7: a gas tank; sensor 2 reports a fault of its own (flag 0x02).
        Configure(5, 7, kGasTank);
        const std::pair<float, uint16_t> gas[] = {
            {1.0f, 0x1A00}, {12.34f, 0x0002}, {3.0f, 0x0082}, {4.0f, 0x0040}, {5.0f, 0x2200}};
        for (int k = 1; k <= 5; ++k)
            PutSlot(table.Tank(5).Gas, 3 * k, gas[k - 1].first, gas[k - 1].second);
        Configure(8, 0, kGasTank);  // with a gauge error
        table.Tank(8).GaugeErrorCode = 0x91;
        Configure(7, 9, 4);  // a type we do not know
        // Address 10: a level gauge with more than one density probe and no pressure sensor.
        Configure(10, 10, kLevelGauge, 0x00C8);
        table.Tank(10).Density.StoreWire(258, Hex("83 00").data(), 1);
        PutSlot(table.Tank(10).Main, 33, 0.0f, 0x0040);
        Configure(12, 16);  // beyond the addresses of the host
    }
};

// ---- the replies ----

struct Exchange {
    std::vector<uint8_t> requests;  // the reply to the last one is checked
    Bytes reply;
};

// clang-format off
const Exchange kExchanges[] = {
    {{0x07}, Hex("00 0A 06 3C 30")},
    {{0x10}, Hex("00 55")},
    {{0x14}, Hex("00 E0")},
    {{0xA5}, Hex("00")},
    {{0xCF}, Hex("00")},
    {{0xC5, 0xD4}, ParamBlock({{0, 0, 12346}, {0, 0, 50000}, {0, 0x4D, 123}, {0, 0, 153},
                               {0, 0, 8512}, {0, 0, 42560}})},
    {{0xC5, 0xA0, 0xD5}, Probe(1, 0, 10000, -1, 14998)},
    {{0xC5, 0xA1, 0xD5}, Probe(0, 0, 8750, 25, 20000)},
    {{0xC5, 0xA2, 0xD5}, Probe(0, 0x4E, 8512, 153, 15003)},
    {{0xC5, 0xA3, 0xD5}, Probe(0, 0x49, 9375, 40, 30000)},
    // The fifth probe has never had a line of its own; its height does not fit in 16 bits.
    {{0xC5, 0xA4, 0xD5}, Probe(0, 0, 7500, 0, 70000)},
    {{0xC5, 0xA0, 0xD6}, ParamBlock({{0, 0, 10}, {0, 0, 20}, {0, 0, 30}, {0, 0, 40}, {0, 0, 50},
                                     {0, 0, 60}, {0, 0, 70}, {0, 0, 80}, {0, 0, 90}})},
    {{0xC5, 0xA1, 0xD6}, ParamBlock({{0, 0x4C, -53}, {0, 0, 110}, {0, 0, 120}, {0, 0, 130},
                                     {0, 0, 140}, {0, 0, 150}, {0, 0, 160}, {0, 0, 170},
                                     {0, 0, 180}})},
    {{0xC5, 0xA2, 0xD6}, ParamBlock({{1, 0, 190}, {0, 0x49, 200}, {0, 0, 210}}, kAbsent)},
    {{0xC5, 0xA0, 0xD3}, Hex("00 64 00 C8 00 2C 01 90 01 F4 01 58 02 BC 02 20 03 84 03 A5")},
    {{0xC5, 0xA1, 0xD3}, Hex("00 E8 03 4C 04 B0 04 14 05 78 05 DC 05 40 06 A4 06 08 07 49")},
    {{0xC5, 0xA2, 0xD3}, Hex("00 6C 07 D0 07 34 08 00 00 00 00 00 00 00 00 00 00 00 00 80")},
    {{0xC5, 0xAF, 0xD8}, Hex("00 DC 05 D0 07 DC 05 B8 0B 58 1B 00 00 00 00 00 00 00 00 27")},
    {{0xC5, 0xD7}, ParamBlock({{0x0C, 0, 123}}, kAbsent)},
    {{0xC6, 0xD7}, ParamBlock({{0, 0, 15}, {1, 0, 30}, {0x0B, 0, 45}, {0, 0, 60}, {0, 0, 75},
                               {0, 0, 90}, {0, 0, 105}, {0, 0, 120}, {0, 0, 135}})},
    {{0xC9, 0xD7}, ParamBlock({})},
    {{0xC7, 0xDB}, ParamBlock({{0, 2, 10}, {0x38, 2, 123}, {0x38, 2, 30}, {1, 2, 40}, {0, 1, 50}},
                              kAbsent)},
    {{0xC7, 0xDF}, ParamBlock({{0, 2, 1}, {0x38, 2, 0}, {0x38, 2, 0}, {1, 2, 0}, {0, 1, 2}},
                              kAbsent)},
    // Sensor 1's kind reads 1 here (three low bits) but 2 above (four low bits).
    {{0xC7, 0xDE}, Hex("00 01 00 02 38 02 32 02 01 01 00 20 00 20 00 20 00 20 00 09")},
    {{0xC5, 0xD2}, Hex("00 B8 15 05 01 A9")},
    {{0xCA, 0xD2}, Hex("00 87 00 01 00 86")},
    {{0xC6, 0xD2}, Hex("00 88 00 00 08 80")},
    {{0xC7, 0xD2}, Hex("00 80 00 00 00 80")},
    {{0xC9, 0xD2}, Hex("00 00 00 00 00 00")},
    {{0xC5, 0xDC}, Hex("00 B8 00 15 05 01 00 00 00 A9")},
    {{0xCA, 0xDC}, Hex("00 87 00 00 01 00 00 00 00 86")},
    {{0xC6, 0xDC}, Hex("00 88 00 00 00 08 00 00 00 80")},
    {{0xC7, 0xDC}, Hex("00 80 01 00 00 00 04 00 00 85")},
    {{0xC9, 0xDC}, Hex("00 00 00 00 00 00 00 00 00 00")},
    // Of two tanks on one address the higher-numbered is described; a type we do not know leaves
    // the byte as the tank before it wrote it.
    {{0xDD}, Hex("00 02 00 00 00 00 81 81 82 00 00 80 00 00 00 00 00 00")},
    {{0x11}, Hex("00 40 00 00 00 00 C0 C0 C0 00 00 C7 00 00 00 00 00 47")},
    {{0x25}, Hex("00 D2 04 06 D0")},
    {{0x85}, Hex("00 88 13 00 9B")},
    {{0xB5}, Hex("00 A0 10 00 B0")},
    {{0x55}, Hex("00 53 03 02 52")},
    {{0x35}, Hex("00 02 04 06 1F 1F")},
    {{0x65}, Hex("00 81")},
    {{0x45}, Hex("04")},
};
// clang-format on

TEST_F(HostTest, EachCommandAndItsReply) {
    for (const Exchange& e : kExchanges) {
        SCOPED_TRACE(ToHex(Bytes(e.requests.begin(), e.requests.end())));
        for (size_t i = 0; i + 1 < e.requests.size(); ++i) Ask(e.requests[i]);
        EXPECT_EQ(Ask(e.requests.back()), e.reply);
    }
}

// What the farm does not show of protocol 1.4: not fitted is no data, and only the mean
// temperature's state counts, the points going as stored. (A value beyond its byte is held at
// the top: the encodings' test.)
TEST_F(HostTest, OneFourValuesWithTheirStateAndBeyondTheirBytes) {
    TankEntry& lg = table.Tank(3);
    PutSlot(lg.Main, 3, 1.0f, 0x0040);
    EXPECT_EQ(Ask(0x25), Hex("FF"));
    PutSlot(lg.Main, 18, 12.3f);
    EXPECT_EQ(Ask(0x45), Hex("00 0C"));
    PutSlot(lg.Main, 15, -20.7f);
    PutSlot(lg.Temp, 134, 20.26f, 0x0040);
    EXPECT_EQ(Ask(0x35), Hex("00 02 29 06 A9 84"));
}

// ---- before a command is recognised ----

TEST_F(HostTest, WhatTheLineBringsBeforeACommand) {
    hostLine.QueueSilence();
    EXPECT_EQ(Serve(), Bytes{});
    hostLine.QueueLineError({0xD4});
    EXPECT_EQ(Serve(), Bytes{});
    EXPECT_EQ(Right(), Lines{"Ошибка связи"});
    // Requests are single bytes: two in one tick are refused once and neither runs, also while the
    // first cycle is not done, as in a fresh table.
    for (int32_t done : {1, TankTable{}.FirstCycleDone}) {
        table.FirstCycleDone = done;
        hostLine.QueueRead({0xC5, 0xA3});
        EXPECT_EQ(Serve(), Hex("C0"));
        EXPECT_EQ(Right(), Lines{"1  c0 "});
    }
    EXPECT_EQ(host.SelectedChannel, 0);
    EXPECT_EQ(Ask(0x07), Hex("FE"));
    EXPECT_EQ(Right(), (Lines{"1  7 ", "Идет инициализация", "1  fe "}));

    table.FirstCycleDone = 1;
    for (uint8_t request : {0x00, 0x01, 0x12, 0x15, 0x7F, 0x70, 0x9F, 0xE0, 0xF5, 0xFF}) {
        EXPECT_EQ(Ask(request), Hex("C0")) << int{request};
    }
    for (uint8_t request : {0xD0, 0xD1, 0xD9, 0xDA}) EXPECT_EQ(Ask(request), Hex("0C"));
    table.GaugeLinkOk = 0;
    EXPECT_EQ(Ask(0x10), Hex("04"));
    EXPECT_EQ(Ask(0x14), Hex("04"));
    // A 1.4 data command selects its channel for the block commands that follow.
    for (uint8_t request : {0x25, 0x37, 0x4A, 0x5B, 0x6C, 0x8D, 0xBE}) {
        Ask(request);
        EXPECT_EQ(host.SelectedChannel, request & 0x0F) << int{request};
    }
    EXPECT_EQ(Ask(0xA1), Hex("00"));
    EXPECT_EQ(host.SelectedGroup, 1);
}

// ---- the checks before a data reply ----

// In their order: a tank on the address (the lowest-numbered), its link, its gauge error, its
// type, the selected block. Per command its answer at each check that stops it; 0 = it passes.
struct Checks {
    uint8_t command;
    bool noTankDumped;
    uint8_t faulty, silent, softError;  // a hard gauge error (0x96) is always 0xFF
    int wrongType;                      // -1: every type is served
    uint8_t wrongTypeReply;
    bool wrongTypeDumped;
    int blocks;  // SelectedGroup picks one of these; 0: it is not looked at
};

// clang-format off
const Checks kChecks[] = {
    // command, no tank dumped; faulty, silent, error 0x91; wrong type, its reply, dumped; blocks
    {0xD2, false, 4, 4, 4, -1, 0, false, 0},
    {0xD3, true, 4, 0, 4, kPressureTank, 0xFF, true, 3},  // heights outlive a silent gauge
    {0xD4, true, 4, 4, 4, kPressureTank, 0xFF, true, 0},
    {0xD5, false, 4, 4, 4, kPressureTank, 0x0C, true, 5},
    {0xD6, false, 4, 4, 4, kPressureTank, 0xFF, false, 3},
    {0xD7, true, 4, 4, 4, kGasTank, 0xFF, true, 0},
    {0xD8, true, 4, 4, 4, kPressureTank, 0xFF, true, 0},
    {0xDB, true, 4, 4, 4, kLevelGauge, 0xFF, true, 0},
    {0xDC, false, 4, 4, 4, -1, 0, false, 0},
    {0xDE, true, 4, 4, 4, kLevelGauge, 0xFF, true, 0},
    {0xDF, true, 4, 4, 4, kLevelGauge, 0xFF, true, 0},
};
// clang-format on

TEST_F(HostTest, EachCheckAnswersBeforeTheChecksAfterIt) {
    // Protocol 1.4 tells a gauge that does not answer (0x06) and knows no finer gauge errors.
    std::vector<Checks> checks(std::begin(kChecks), std::end(kChecks));
    for (uint8_t command : {0x20, 0x30, 0x40, 0x50, 0x60, 0x80, 0xB0}) {
        checks.push_back({command, false, 6, 6, 0xFF, kGasTank, 0xFF, true, 0});
    }
    table = TankTable{};
    table.FirstCycleDone = 1;
    Configure(9, 6, kGasTank);  // a higher-numbered tank on the same address is never asked
    table.Tank(9).LinkState = kLinkFaulty;
    table.Tank(2).ChannelAddress = 6;  // not configured
    for (const Checks& c : checks) {
        SCOPED_TRACE(int{c.command});
        const bool is14 = c.command < 0xC0;
        const int served = c.wrongType == kLevelGauge ? kGasTank : kLevelGauge;
        const int wrongType = c.wrongType < 0 ? served : c.wrongType;
        const int badBlock = c.blocks > 0 ? c.blocks : 15;
        // Tank 1 on address 6 in this state, asked about address `asked`: the one-byte answer
        // (0: a longer reply), and whether the answer was dumped.
        using R = std::pair<uint8_t, bool>;
        const auto ask = [&](int32_t link, int32_t error, int type, int block, int asked = 6) {
            Configure(1, 6, type);
            table.Tank(1).LinkState = link;
            table.Tank(1).GaugeErrorCode = error;
            Ask(static_cast<uint8_t>(0xA0 | block));
            Ask(static_cast<uint8_t>(0xC0 | asked));
            Right();
            const Bytes reply = Ask(is14 ? static_cast<uint8_t>(c.command | asked) : c.command);
            return R(reply.size() == 1 ? reply[0] : 0, Right().back() == Dump(reply));
        };
        EXPECT_EQ(ask(kLinkFaulty, 0x96, wrongType, badBlock), R(c.faulty, true));
        EXPECT_EQ(ask(kLinkSilent, 0x96, wrongType, badBlock).first, c.silent ? c.silent : 0xFF);
        EXPECT_EQ(ask(kLinkSilent, 0, wrongType, badBlock).first,
                  c.silent ? c.silent : c.wrongTypeReply);
        EXPECT_EQ(ask(kLinkGood, 0x96, wrongType, badBlock), R(0xFF, true));
        EXPECT_EQ(ask(kLinkGood, 0x91, wrongType, badBlock), R(c.softError, true));
        EXPECT_EQ(ask(kLinkGood, 0, wrongType, badBlock),
                  c.wrongType < 0 ? R(0, true) : R(c.wrongTypeReply, c.wrongTypeDumped));
        if (c.blocks > 0) {
            EXPECT_EQ(ask(kLinkGood, 0, served, c.blocks), R(0x0C, true));
            EXPECT_EQ(ask(kLinkGood, 0, served, c.blocks - 1), R(0, true));
        }
        EXPECT_EQ(ask(kLinkGood, 0, served, 0), R(0, true));
        EXPECT_EQ(ask(kLinkGood, 0, served, 0, 8), R(0xFF, c.noTankDumped));
    }
}
}  // namespace
}  // namespace conv::test
