#include "host/encodings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "support/fake_port.h"

namespace conv {
namespace {

using test::Bytes;

Bytes Packed(int32_t tenths) {
    const auto p = PackValue14(tenths);
    return {p.begin(), p.end()};
}

TEST(RoundedTenths, RoundsTheLastDigitUpFromFiveAndTruncatesNegatives) {
    EXPECT_EQ(RoundedTenths(12.345f, kFactorTenths), 123);  // 1234 after truncation
    EXPECT_EQ(RoundedTenths(1234.56f, kFactorTenths), 12346);
    EXPECT_EQ(RoundedTenths(12.3f, kFactorTenths), 123);
    EXPECT_EQ(RoundedTenths(-0.07f, kFactorTenths), 0);
    EXPECT_EQ(RoundedTenths(-1.26f, kFactorTenths), -12);
    EXPECT_EQ(RoundedTenths(0.85f, kFactorDensity), 8500);
    EXPECT_EQ(RoundedTenths(0.8512f, kFactorDensity), 8512);
}

TEST(ToTenths, RoundsHalfAwayFromZero) {
    EXPECT_EQ(ToTenths(0.07f), 1);
    EXPECT_EQ(ToTenths(-0.07f), -1);
    EXPECT_EQ(ToTenths(-5.25f), -53);
    EXPECT_EQ(ToTenths(15.27f), 153);
    EXPECT_EQ(ToTenths(-0.04f), 0);
}

TEST(HalfDegreeByte, NearestHalfDegreeWithSignBit) {
    // Hundredths up to a quarter round down, from three quarters up; in between is the half.
    const std::pair<float, uint8_t> cases[] = {
        {20.24f, 40},
        {20.25f, 40},
        {20.26f, 41},
        {20.74f, 41},
        {20.75f, 42},
        {-20.25f, 0x80 + 40},
        {-20.26f, 0xA9},
        {-20.7f, 0x80 + 41},
        {-20.75f, 0x80 + 42},
        {-0.3f, 0x81},
        {0.2f, 0x00},
        {0.25f, 0x00},
        {-0.25f, 0x80},
        {63.5f, 127},
        // Beyond 63.5 °C the magnitude stops at 127 instead of running into the sign bit.
        {70.0f, 0x7F},
        {-70.0f, 0xFF},
    };
    for (const auto& [celsius, byte] : cases) {
        EXPECT_EQ(HalfDegreeByte(celsius), byte) << celsius << " °C";
    }
}

TEST(PackValue14, WholeUnitsInTwentyBitsAndTheTenthsDigit) {
    EXPECT_EQ(Packed(123456), test::Hex("39 30 06"));
    EXPECT_EQ(Packed(6543215), test::Hex("F1 FB 95"));
    EXPECT_EQ(Packed(8512), test::Hex("53 03 02"));
    EXPECT_EQ(Packed(0xFFFFF * 10 + 3), test::Hex("FF FF F3"));
    // One more whole unit no longer fits: held at the top instead of wrapping to 0.
    EXPECT_EQ(Packed(0x100000 * 10), test::Hex("FF FF F9"));
    EXPECT_EQ(Packed(-1), test::Hex("00 00 00"));
    EXPECT_EQ(Packed(-123456), test::Hex("00 00 00"));
}

TEST(WholeUnitsByte, HeldWithinOneByte) {
    EXPECT_EQ(WholeUnitsByte(123), 12);
    EXPECT_EQ(WholeUnitsByte(2559), 255);
    EXPECT_EQ(WholeUnitsByte(3004), 255);  // 300.4 mm, not 300 & 0xFF = 44
    EXPECT_EQ(WholeUnitsByte(-3000), 0);
}

TEST(Encodings, NonFiniteAndHugeFloatsStayDefined) {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    for (float x : {kNan, -kNan}) {
        EXPECT_EQ(RoundedTenths(x, kFactorDensity), 0);
        EXPECT_EQ(ToTenths(x), 0);
        EXPECT_EQ(HalfDegreeByte(x), 0);
    }
    for (float x : {kInf, 1e30f, std::numeric_limits<float>::max()}) {
        EXPECT_EQ(TruncatedProduct(x, kFactorTenths), std::numeric_limits<int32_t>::max());
        EXPECT_EQ(RoundedTenths(x, kFactorTenths), 214748365);
        EXPECT_EQ(ToTenths(-x), -214748365);
        EXPECT_EQ(HalfDegreeByte(x), 0x7F);
        EXPECT_EQ(HalfDegreeByte(-x), 0xFF);
        EXPECT_EQ(Packed(RoundedTenths(x, kFactorTenths)), test::Hex("FF FF F9"));
        EXPECT_EQ(Packed(RoundedTenths(-x, kFactorTenths)), test::Hex("00 00 00"));
    }
}

}  // namespace
}  // namespace conv
