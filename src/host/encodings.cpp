#include "host/encodings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace conv {

namespace {

constexpr int32_t kMaxPackedWhole = 0xFFFFF;

}  // namespace

int32_t TruncatedProduct(float x, double k) {
    const double p = static_cast<double>(x) * k;
    if (std::isnan(p)) return 0;
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    if (p <= kLow) return std::numeric_limits<int32_t>::min();
    if (p >= kHigh) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(p);
}

int32_t RoundedTenths(float x, double k) {
    const int32_t v = TruncatedProduct(x, k);
    int32_t q = v / 10;
    if (v - 10 * q >= 5) ++q;
    return q;
}

int32_t ToTenths(float x) {
    const int32_t v = TruncatedProduct(x, kFactorTenths);
    int32_t q = v / 10;
    const int32_t r = v - 10 * q;
    if (r >= 5) ++q;
    if (r <= -5) --q;
    return q;
}

std::array<uint8_t, 3> PackValue14(int32_t tenths) {
    if (tenths < 0) return {0, 0, 0};
    int32_t w = tenths / 10;
    int32_t d = tenths % 10;
    if (w > kMaxPackedWhole) {
        w = kMaxPackedWhole;
        d = 9;
    }
    return {static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>((w >> 8) & 0xFF),
            static_cast<uint8_t>(((w >> 16) & 0x0F) << 4 | d)};
}

uint8_t WholeUnitsByte(int32_t tenths) {
    return static_cast<uint8_t>(std::clamp(tenths / 10, 0, 255));
}

uint8_t HalfDegreeByte(float x) {
    const int32_t v = TruncatedProduct(x, kFactorTenths);
    const int32_t q = v / 100;
    const int32_t hundredths = std::abs(v - 100 * q);
    // |q| <= 21474836, so twice it still fits.
    int32_t halves = 2 * std::abs(q);
    if (hundredths >= 75) {
        halves += 2;
    } else if (hundredths > 25) {
        halves += 1;
    }
    const uint8_t magnitude = static_cast<uint8_t>(std::min(halves, 127));
    return v < 0 ? static_cast<uint8_t>(0x80 | magnitude) : magnitude;
}

}  // namespace conv
