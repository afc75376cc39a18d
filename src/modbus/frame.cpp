#include "modbus/frame.h"

namespace conv {

uint16_t Crc16(const uint8_t* data, int length) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1) != 0;
            crc >>= 1;
            if (carry) crc ^= 0xA001;
        }
    }
    return crc;
}

bool CrcMatches(const uint8_t* frame, int length) {
    if (length < kCrcLength) return false;
    const uint16_t crc = Crc16(frame, length - kCrcLength);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

namespace {

RequestFrame Build(uint8_t slave, uint8_t function, uint16_t reg, uint16_t word) {
    RequestFrame f{slave,
                   function,
                   static_cast<uint8_t>(reg >> 8),
                   static_cast<uint8_t>(reg),
                   static_cast<uint8_t>(word >> 8),
                   static_cast<uint8_t>(word),
                   0,
                   0};
    const uint16_t crc = Crc16(f.data(), kRequestLength - kCrcLength);
    f[6] = static_cast<uint8_t>(crc);
    f[7] = static_cast<uint8_t>(crc >> 8);
    return f;
}

}  // namespace

RequestFrame BuildReadRequest(uint8_t slave, uint16_t reg, uint16_t count) {
    return Build(slave, kFnReadInputRegisters, reg, count);
}

RequestFrame BuildWriteRequest(uint8_t slave, uint16_t reg, uint16_t value) {
    return Build(slave, kFnWriteSingleRegister, reg, value);
}

int ExpectedReplyLength(const RequestFrame& request) {
    switch (request[1]) {
        case kFnWriteSingleRegister:
            return kRequestLength;  // the gauge echoes a write
        case kFnReadInputRegisters:
            return ReadReplyLength(request[4] << 8 | request[5]);
        default:
            return 0;
    }
}

bool IsExceptionReply(const uint8_t* reply, int length, uint8_t function) {
    return length == kExceptionReplyLength && reply[1] == (function | 0x80) &&
           CrcMatches(reply, length);
}

}  // namespace conv
