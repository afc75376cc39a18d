#include "wire.h"

#include <bit>
#include <cstdio>
#include <limits>

namespace conv::gauge_sim {

uint16_t Crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = crc & 1;
            crc >>= 1;
            if (carry) crc ^= 0xA001;
        }
    }
    return crc;
}

void AppendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool CrcMatches(std::span<const uint8_t> frame) {
    if (frame.size() < 3) return false;
    const uint16_t crc = Crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

std::array<uint16_t, 2> PackFloat(float value) {
    static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
    const auto bits = std::bit_cast<uint32_t>(value);
    return {static_cast<uint16_t>(bits & 0xFFFF), static_cast<uint16_t>(bits >> 16)};
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02x" : " %02x", bytes[i]);
        out += cell;
    }
    return out;
}

}  // namespace conv::gauge_sim
