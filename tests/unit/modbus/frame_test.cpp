#include "modbus/frame.h"

#include <gtest/gtest.h>

#include "support/fake_port.h"

namespace conv::test {
namespace {

// Frames published with their CRCs (low byte first on the wire), so that the expectations do not
// come from our own routine: the read-holding-registers example every MODBUS tool shows, and the
// examples of the MODBUS over serial line guide and of the application protocol.
TEST(Frame, RequestsWithTheirCrcLowByteFirst) {
    const auto frame = [](const RequestFrame& f) { return Bytes(f.begin(), f.end()); };
    EXPECT_EQ(frame(BuildReadRequest(0x01, 0, 1)), Hex("01 04 00 00 00 01 31 CA"));
    EXPECT_EQ(frame(BuildWriteRequest(0x11, 1, 3)), Hex("11 06 00 01 00 03 9A 9B"));
    EXPECT_EQ(frame(BuildReadRequest(0x50, 280, 15)), Hex("50 04 01 18 00 0F 3C 74"));
    EXPECT_EQ(Crc16(Hex("01 03 00 00 00 0A").data(), 6), 0xCDC5);
    EXPECT_EQ(Crc16(Hex("11 03 00 6B 00 03").data(), 6), 0x8776);
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Frame, TheCrcCheckTakesTheLastTwoBytesLowFirst) {
    const std::pair<Bytes, bool> frames[] = {
        {Hex("11 03 00 6B 00 03 76 87"), true},
        {Hex("11 03 00 6B 00 03 87 76"), false},
        {Hex("12 03 00 6B 00 03 76 87"), false},
        {Hex("FF FF"), true},  // the CRC of nothing
        {Hex("FF"), false},
        {Bytes{}, false},
    };
    for (const auto& [f, good] : frames) {
        EXPECT_EQ(CrcMatches(f.data(), static_cast<int>(f.size())), good) << ToHex(f);
    }
}

}  // namespace
}  // namespace conv::test
