#include "core/viewer_formats.h"

#include <cmath>
#include <cstdio>

namespace conv {
namespace {

// Digits of a non-negative whole number, with a point before the last `places` of them.
std::string PlacePoint(bool negative, std::string digits, int places) {
    if (places > 0 && digits.size() <= static_cast<size_t>(places)) {
        digits.insert(0, static_cast<size_t>(places) + 1 - digits.size(), '0');
    }
    if (places > 0) digits.insert(digits.size() - static_cast<size_t>(places), 1, '.');
    return negative ? "-" + digits : digits;
}

std::string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

}  // namespace

std::string FormatFixed(double value, double scale, int places) {
    const double n = std::trunc(value * scale);
    if (std::isnan(n)) return "NAN";
    if (std::isinf(n)) return n < 0 ? "-INF" : "INF";
    // %.0f of a whole double is exact, also beyond the range of any machine integer.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.0f", std::fabs(n));
    return PlacePoint(n < 0, buf, places);
}

std::string FormatScaledInteger(int64_t n, int places) {
    const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    return PlacePoint(n < 0, std::to_string(magnitude), places);
}

std::string FormatStateHex(const ValueSlot& slot) {
    return Hex(static_cast<unsigned>(slot.FlagsByte) << 8 | slot.StateFirstByte);
}

std::string FormatFlagsHex(uint8_t flags) {
    return Hex(flags);
}

}  // namespace conv
