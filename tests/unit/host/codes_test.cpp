// The pure parts of the host side: how the gauge's state registers become status codes, and how
// its floats become the host's integers and packed bytes.
#include <gtest/gtest.h>

#include <limits>

#include "host/encodings.h"
#include "host/replies.h"
#include "host/reply.h"
#include "host/status_codes.h"

namespace conv {
namespace {

TEST(StatusCodes, TheFirstBitSetInEachMappersOrderDecides) {
    for (int code : {0x84, 0x96, 0x9C}) EXPECT_EQ(ProcChanErr(code), 0xFF) << code;
    for (int code : {0x01, 0x83, 0x85, 0x91, 0x9B, 0x9D}) EXPECT_EQ(ProcChanErr(code), 4) << code;
    // The flags of a state register, and what each mapper makes of them: a value, the water
    // level, a density probe, a temperature point, a pressure sensor.
    // clang-format off
    const struct { uint8_t flags, value; StatusPair hv, dp, dt; uint8_t dd; } rows[] = {
        {0x42, 0x01, {1, 0}, {1, 0}, {1, 0}, 0x01},
        {0x83, 0x38, {0x38, 0}, {0x38, 0}, {0x38, 0}, 0x38},
        {0x8F, 0x38, {0x38, 0}, {0x38, 0}, {0x38, 0}, 0x38},  // the fault bit before the pattern
        {0x80, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0x32},
        {0x84, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0x0B},
        {0xB4, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0x0B},
        {0x88, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0x0C},
        {0x8C, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0x0D},
        {0x8D, 0x32, {0x32, 0}, {0x32, 0}, {0x32, 0}, 0},
        {0x0D, 0x32, {0, 0x4D}, {0, 0x4E}, {0, 0x49}, 0},
        {0x05, 0x32, {0, 0x4D}, {0, 0x4E}, {0, 0x4C}, 0},
        {0x01, 0x4D, {0, 0x4D}, {0, 0x49}, {0, 0}, 0},
        {0x08, 0x32, {0, 0}, {0, 0}, {0, 0x49}, 0},
        {0x30, 0, {0, 0}, {0, 0}, {0, 0}, 0}};
    // clang-format on
    for (const auto& r : rows) {
        EXPECT_EQ(ProcDZOErr(0xFF00 | r.flags), r.value) << int{r.flags};  // not the high byte
        EXPECT_EQ(ProcHvErr(r.flags), r.hv) << int{r.flags};
        EXPECT_EQ(ProcDPErr(r.flags), r.dp) << int{r.flags};
        EXPECT_EQ(ProcDTErr(r.flags), r.dt) << int{r.flags};
        EXPECT_EQ(ProcDDErrVelt(0xFF00 | r.flags), r.dd) << int{r.flags};
    }
    // A gas sensor's kind from the four low bits of the high byte, its alarm from bits 0x30.
    EXPECT_EQ(ProcDZOState(0x1300), (StatusPair{2, 1}));
    EXPECT_EQ(ProcDZOState(0x02FF), (StatusPair{1, 0}));
    EXPECT_EQ(ProcDZOState(0x2200), (StatusPair{1, 2}));
    EXPECT_EQ(ProcDZOState(0x3000), (StatusPair{2, 2}));
    // A level gauge's channel flags, gathered from six scattered bits of its ConfigWord.
    const std::pair<int, uint8_t> bits[] = {{6, 1}, {3, 2}, {7, 4}, {10, 8}, {9, 0x10}, {0, 0x20}};
    for (auto [bit, flag] : bits) EXPECT_EQ(ChannelFlags(uint16_t(1u << bit)), flag) << bit;
    EXPECT_EQ(ChannelFlags(0xF936), 0x00);  // none of the six
}

TEST(Encodings, TenthsHalfDegreesAndPackedValues) {
    // Non-negative quantities: the last digit of the truncated product rounds up from 5; a
    // negative product is only truncated. Temperatures round half away from zero.
    // clang-format off
    const struct { float x; int32_t rounded, temperature; } tenths[] = {
        {12.345f, 123, 123}, {1.25f, 13, 13}, {1234.56f, 12346, 12346}, {0.07f, 1, 1},
        {-0.07f, 0, -1}, {-1.26f, -12, -13}, {-5.25f, -52, -53}, {-0.04f, 0, 0}};
    // clang-format on
    for (const auto& r : tenths) {
        EXPECT_EQ(RoundedTenths(r.x, kFactorTenths), r.rounded) << r.x;
        EXPECT_EQ(ToTenths(r.x), r.temperature) << r.x;
    }
    EXPECT_EQ(RoundedTenths(0.8512f, kFactorDensity), 8512);
    EXPECT_EQ(RoundedTenths(0.85f, kFactorDensity), 8500);
    // Hundredths up to a quarter round down, from three quarters up; in between is the half.
    // Beyond 63.5 °C the magnitude stops at 127 instead of running into the sign bit.
    // clang-format off
    const std::pair<float, uint8_t> halves[] = {
        {20.24f, 40}, {20.25f, 40}, {20.26f, 41}, {20.74f, 41}, {20.75f, 42}, {-20.25f, 0xA8},
        {-20.26f, 0xA9}, {-20.75f, 0xAA}, {-0.3f, 0x81}, {0.25f, 0}, {-0.25f, 0x80},
        {63.5f, 127}, {70.0f, 0x7F}, {-70.0f, 0xFF}};
    // One more whole unit than 20 bits hold is held at the top instead of wrapping to 0.
    const std::pair<int32_t, std::array<uint8_t, 3>> packed[] = {
        {123456, {0x39, 0x30, 0x06}}, {6543215, {0xF1, 0xFB, 0x95}},
        {0xFFFFF * 10 + 3, {0xFF, 0xFF, 0xF3}}, {0x100000 * 10, {0xFF, 0xFF, 0xF9}},
        {0, {0, 0, 0}}, {-1, {0, 0, 0}}};
    // clang-format on
    for (auto [celsius, byte] : halves) EXPECT_EQ(HalfDegreeByte(celsius), byte) << celsius;
    for (const auto& [t, bytes] : packed) EXPECT_EQ(PackValue14(t), bytes) << t;
    for (auto [t, byte] : {std::pair{123, 12}, {2559, 255}, {2560, 255}, {3004, 255}, {-30, 0}}) {
        EXPECT_EQ(WholeUnitsByte(t), byte) << t;
    }
    // A value of a parameter block fills its four bytes, low first, and not the byte after them.
    std::array<uint8_t, 5> le{};
    PutLe32(le.data(), -2);
    EXPECT_EQ(le, (std::array<uint8_t, 5>{0xFE, 0xFF, 0xFF, 0xFF, 0}));
}

TEST(Encodings, NonFiniteAndHugeFloatsStayDefined) {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    for (float x : {kNan, -kNan}) {
        EXPECT_EQ(RoundedTenths(x, kFactorDensity), 0);
        EXPECT_EQ(ToTenths(x), 0);
        EXPECT_EQ(HalfDegreeByte(x), 0);
    }
    for (float x : {std::numeric_limits<float>::infinity(), 1e30f}) {
        EXPECT_EQ(TruncatedProduct(x, kFactorTenths), std::numeric_limits<int32_t>::max());
        EXPECT_EQ(TruncatedProduct(-x, kFactorTenths), std::numeric_limits<int32_t>::min());
        EXPECT_EQ(RoundedTenths(x, kFactorTenths), 214748365);
        EXPECT_EQ(ToTenths(-x), -214748365);
        EXPECT_EQ(HalfDegreeByte(x), 0x7F);
        EXPECT_EQ(HalfDegreeByte(-x), 0xFF);
    }
}

}  // namespace
}  // namespace conv
