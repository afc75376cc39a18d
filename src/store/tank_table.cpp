#include "store/tank_table.h"

#include <cstring>

namespace conv {

float WireToFloat(const uint8_t* b) {
    const uint32_t bits = static_cast<uint32_t>(b[1]) | static_cast<uint32_t>(b[0]) << 8 |
                          static_cast<uint32_t>(b[3]) << 16 | static_cast<uint32_t>(b[2]) << 24;
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void FloatToWire(float value, uint8_t* b) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    b[0] = static_cast<uint8_t>(bits >> 8);
    b[1] = static_cast<uint8_t>(bits);
    b[2] = static_cast<uint8_t>(bits >> 24);
    b[3] = static_cast<uint8_t>(bits >> 16);
}

std::string MainBlock::SoftwareNumber() const {
    std::string s;
    for (int reg = 36; reg <= 38; ++reg) {
        for (uint8_t c : {HighByte(reg), LowByte(reg)}) {
            if (c == 0) return s;
            s.push_back(static_cast<char>(c));
        }
    }
    return s;
}

const TankEntry* TankTable::FindByChannel(int channelAddress) const {
    for (const TankEntry& t : Tanks) {
        if (t.IsConfigured() && t.ChannelAddress == channelAddress) return &t;
    }
    return nullptr;
}

}  // namespace conv
