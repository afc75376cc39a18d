#include "modbus/frame.h"

#include <gtest/gtest.h>

#include "support/fake_port.h"

namespace conv {
namespace {

using test::Bytes;
using test::Hex;

Bytes Frame(const RequestFrame& f) {
    return Bytes(f.begin(), f.end());
}

uint16_t CrcOf(const Bytes& b) {
    return Crc16(b.data(), static_cast<int>(b.size()));
}

// Frames published with their CRCs (low byte first on the wire), so the expectations do not come
// from our own routine: the read-holding-registers example that every MODBUS tool shows, and the
// examples of the MODBUS over serial line guide and the application protocol.
TEST(Crc16, PublishedFrames) {
    EXPECT_EQ(CrcOf(Hex("01 03 00 00 00 0A")), 0xCDC5);  // sent as C5 CD
    EXPECT_EQ(CrcOf(Hex("11 03 00 6B 00 03")), 0x8776);  // sent as 76 87
    EXPECT_EQ(CrcOf(Hex("01 04 00 00 00 01")), 0xCA31);  // sent as 31 CA
    EXPECT_EQ(CrcOf(Hex("11 06 00 01 00 03")), 0x9B9A);  // sent as 9A 9B
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Requests, LayoutAndCrcLowByteFirst) {
    EXPECT_EQ(Frame(BuildReadRequest(0x01, 0, 1)), Hex("01 04 00 00 00 01 31 CA"));
    EXPECT_EQ(Frame(BuildWriteRequest(0x11, 1, 3)), Hex("11 06 00 01 00 03 9A 9B"));
    // Main parameters of slave 0x50: register 3, 42 registers.
    EXPECT_EQ(Frame(BuildReadRequest(0x50, 3, 42)), Hex("50 04 00 03 00 2A 8C 54"));
    // Registers above 255 travel high byte first.
    EXPECT_EQ(Frame(BuildReadRequest(0x50, 280, 15)), Hex("50 04 01 18 00 0F 3C 74"));
}

TEST(Replies, CrcCheckUsesTheLastTwoBytesLowFirst) {
    const Bytes good = Hex("11 03 00 6B 00 03 76 87");
    EXPECT_TRUE(CrcMatches(good.data(), static_cast<int>(good.size())));

    const Bytes swapped = Hex("11 03 00 6B 00 03 87 76");
    EXPECT_FALSE(CrcMatches(swapped.data(), static_cast<int>(swapped.size())));

    Bytes otherAddress = good;
    otherAddress[0] = 0x12;
    EXPECT_FALSE(CrcMatches(otherAddress.data(), static_cast<int>(otherAddress.size())));

    // Too short to carry a CRC at all.
    const Bytes one = Hex("FF");
    EXPECT_FALSE(CrcMatches(one.data(), 1));
    EXPECT_FALSE(CrcMatches(one.data(), 0));
}

}  // namespace
}  // namespace conv
