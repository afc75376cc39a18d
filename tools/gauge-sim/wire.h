// Byte-level helpers of the simulator: its own CRC and float packing, deliberately independent
// of the converter's code so that a shared mistake cannot hide on both ends of a test.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace conv::gauge_sim {

// CRC-16 of the MODBUS serial line (init 0xFFFF, reflected polynomial 0xA001, no final XOR).
uint16_t Crc16(std::span<const uint8_t> bytes);

// Appends the CRC of `frame`, low byte first, as it travels on the line.
void AppendCrc(std::vector<uint8_t>& frame);

// True when the last two bytes are the CRC of the others.
bool CrcMatches(std::span<const uint8_t> frame);

// An IEEE-754 single as two input registers: the less significant 16 bits go into the lower
// register. Each register later travels high byte first.
std::array<uint16_t, 2> PackFloat(float value);

// "50 06 00 00": lower-case, two digits a byte, blank-separated.
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace conv::gauge_sim
