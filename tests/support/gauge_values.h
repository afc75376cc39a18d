// Values put into the tank table as the gauge sends them, for the tests of what the poll stores
// and of what the host and the viewer make of it.
#pragma once

#include <cstdint>
#include <vector>

#include "modbus/frame.h"
#include "store/tank_table.h"

namespace conv::test {

// A frame with its CRC after it, less significant byte first.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
    frame.insert(frame.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

// A value as the gauge sends it into `regs` (the registers from `firstReg` on): the float at
// `reg`, less significant half first, then its state register.
inline void PutSlot(std::vector<uint8_t>& regs, int firstReg, int reg, float value,
                    uint16_t state = 0) {
    uint8_t* at = &regs.at(static_cast<size_t>(2 * (reg - firstReg)));
    FloatToWire(value, at);
    at[4] = static_cast<uint8_t>(state >> 8);
    at[5] = static_cast<uint8_t>(state);
}

// The same straight into a block of the table, as the poll stores it.
template <class Block>
void PutSlot(Block& block, int reg, float value, uint16_t state = 0) {
    std::vector<uint8_t> regs(6);
    PutSlot(regs, reg, reg, value, state);
    block.StoreWire(reg, regs.data(), 3);
    block.ConvertFloat(reg);
}
template <class Block>
void PutHeight(Block& block, int reg, uint16_t mm) {
    const uint8_t wire[2] = {static_cast<uint8_t>(mm >> 8), static_cast<uint8_t>(mm)};
    block.StoreWire(reg, wire, 1);
    block.ConvertHeight(reg);
}

// A density probe's height and its temperature after it, which has no state register of its own.
template <class Block>
void PutProbe(Block& block, int reg, uint16_t mm, float celsius) {
    std::vector<uint8_t> regs(8);
    PutSlot(regs, reg, reg + 1, celsius);
    regs[0] = static_cast<uint8_t>(mm >> 8);
    regs[1] = static_cast<uint8_t>(mm);
    block.StoreWire(reg, regs.data(), 3);
    block.ConvertHeight(reg);
    block.ConvertFloat(reg + 1);
}

// Tank `number` polled on `channel`, its type block as the gauge's type reply leaves it.
inline TankEntry& ConfigureTank(TankTable& table, int number, int channel, int type = kLevelGauge,
                                uint16_t configWord = 0) {
    TankEntry& t = table.Tank(number);
    t.Configured = 1;
    t.ChannelAddress = channel;
    const uint8_t wire[6] = {uint8_t(type), 0, uint8_t(configWord >> 8), uint8_t(configWord)};
    t.Type.StoreWire(0, wire, 3);
    return t;
}

}  // namespace conv::test
