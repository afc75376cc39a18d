// MODBUS RTU framing as the poll uses it: the CRC, the two request layouts and the shape of a read
// reply. Pure functions only; sending, checking and logging live with the request groups.
#pragma once

#include <array>
#include <cstdint>

namespace conv {

inline constexpr uint8_t kFnReadInputRegisters = 0x04;
inline constexpr uint8_t kFnWriteSingleRegister = 0x06;

inline constexpr int kRequestLength = 8;
// Address, function code and byte count precede the registers of a read reply.
inline constexpr int kReplyHeaderLength = 3;
inline constexpr int kCrcLength = 2;
// The gauge's exception replies are five bytes long; nothing else it sends is.
inline constexpr int kExceptionReplyLength = 5;
inline constexpr int kExceptionCodeIndex = 2;

using RequestFrame = std::array<uint8_t, kRequestLength>;

// CRC-16 of the MODBUS serial line (reflected polynomial 0xA001, start 0xFFFF, no final XOR).
// Sent low byte first.
uint16_t Crc16(const uint8_t* data, int length);

// True when the last two bytes of `frame` are the CRC of the bytes before them, low byte first.
bool CrcMatches(const uint8_t* frame, int length);

// Read input registers: slave, 0x04, register, count, CRC.
RequestFrame BuildReadRequest(uint8_t slave, uint16_t reg, uint16_t count);
// Write single register: slave, 0x06, register, value, CRC.
RequestFrame BuildWriteRequest(uint8_t slave, uint16_t reg, uint16_t value);

// Length of a good reply to a read of `count` registers.
constexpr int ReadReplyLength(int count) {
    return kReplyHeaderLength + 2 * count + kCrcLength;
}

// Length of the reply that completes `request`: the echo of a write, the registers of a read
// (0 for any other function).
int ExpectedReplyLength(const RequestFrame& request);

// True when the `length` bytes of `reply` are a whole exception reply to a request of function
// `function`: five bytes, the function code with its high bit set, a good CRC. A five-byte reply
// counts as an exception whatever it holds; this is the stricter test for deciding one before
// the rest of a longer reply could have come.
bool IsExceptionReply(const uint8_t* reply, int length, uint8_t function);

}  // namespace conv
