// The host step against any table the MODBUS side could have filled (any bytes in any register
// image, any type, error code and link state) and any traffic on the host line. Every tick's
// answer is checked against the reply shapes the host reads, written down here independently of
// the reply routines: one write per tick that brought bytes, 0xC0 for several bytes in one tick,
// 0xFE before the first cycle, a lone status byte that the command may give, or an accepted reply
// of its command's length whose XOR checksum is right; 0xFF for a channel without a tank.
//
// Input: flags (FirstCycleDone, GaugeLinkOk), a tank count, per tank its configuration, status
// and (when its fill flag is set) the raw bytes of all its register images; then one control byte
// per tick: c & 3 = 0 nothing arrives, 1 line error, 2 one byte, 3 a burst of 2..9 bytes.
#include <algorithm>
#include <string_view>

#include "fuzz_support.h"
#include "host/host_link.h"

namespace conv::fuzz {
namespace {

using namespace std::string_view_literals;
using test::Bytes;

// Lengths of the replies with status 0x00: of the 2.x requests 0xD0..0xDF by their low digit, of
// the 1.4 requests by their high digit; 0 where there is none.
constexpr uint8_t kLength2x[16] = {0, 0, 6, 20, 56, 56, 56, 56, 20, 0, 0, 56, 10, 18, 20, 56};
constexpr uint8_t kLength14[16] = {0, 0, 5, 6, 2, 5, 2, 0, 5, 0, 0, 5, 0, 0, 0, 0};

// What the host accepts as the answer to a command: a reply of `length` starting with 0x00 (with
// an XOR checksum when longer than two bytes), or one of the lone status bytes in `singles`; and
// whether the command asks about a channel (a 1.4 one by its low digit, a 2.x one the selected).
struct Shape {
    size_t length;
    std::string_view singles;
    bool asksChannel = false;
};

Shape ShapeOf(uint8_t cmd) {
    const int high = cmd >> 4;
    const int low = cmd & 0x0F;
    if (high == 0xA || high == 0xC) return {0, "\x00"sv};
    if (kLength14[high] != 0) return {kLength14[high], "\xFF\x04\x06"sv, true};
    if (high == 0xD && kLength2x[low] == 0) return {0, "\x0C"sv};
    if (cmd == 0xDD) return {kLength2x[low], ""sv};
    if (high == 0xD) return {kLength2x[low], "\xFF\x04\x0C"sv, true};
    if (cmd == 0x07 || cmd == 0x11) return {cmd == 0x07 ? 5u : 18u, ""sv};
    if (cmd == 0x10 || cmd == 0x14) return {2, "\x04"sv};
    return {0, "\xC0"sv};
}

void CheckReply(uint8_t cmd, const Bytes& reply, const TankTable& table, int selected) {
    if (table.FirstCycleDone == 0) return FUZZ_CHECK(reply == Bytes{0xFE});
    const Shape shape = ShapeOf(cmd);
    if (reply.size() == 1) {
        FUZZ_CHECK(shape.singles.find(static_cast<char>(reply[0])) != std::string_view::npos);
    } else {
        uint8_t x = 0;
        for (size_t i = 0; i + 1 < reply.size(); ++i) x ^= reply[i];
        FUZZ_CHECK(reply[0] == 0x00 && reply.size() == shape.length);
        FUZZ_CHECK(shape.length <= 2 || reply.back() == x);
    }
    const int ch = cmd >> 4 == 0xD ? selected : cmd & 0x0F;
    const bool tankOnIt = std::ranges::any_of(table.Tanks, [&](const TankEntry& e) {
        return e.Configured == 1 && e.ChannelAddress == ch;
    });
    if (shape.asksChannel && !tankOnIt) FUZZ_CHECK(reply == Bytes{0xFF});
}

template <class... Image>
void Fill(ByteReader& in, Image&... images) {
    (images.StoreWire(Image::kFirstReg, in.Bytes(Image::kBytes).data(), Image::kCount), ...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in{data, size};
    auto& w = Bench<HostLink>::Fresh();
    TankTable& t = w.table;
    const uint8_t flags = in.Byte();
    t.FirstCycleDone = (flags & 7) != 0 ? 1 : 0;
    t.GaugeLinkOk = (flags >> 3) & 1;
    static constexpr int32_t kErrors[] = {0, 0, 0, 0, 0x84, 0x96, 0x9C, 0x01};
    for (int k = in.Byte() % 8; k > 0; --k) {
        TankEntry& e = t.Tanks[in.Byte() % kTankCount];
        e.ChannelAddress = in.Byte() % 20;  // addresses above 15 stay out of the tables
        const uint8_t status = in.Byte();
        e.Configured = status % 3;
        e.LinkState = (status >> 2) % 3;
        e.GaugeErrorCode = kErrors[(status >> 4) & 7];
        if (status & 0x80) {
            Fill(in, e.Type, e.Main, e.Temp, e.TempCoords, e.Density, e.Probe, e.Pressure, e.Gas);
        }
        // The type is what most replies turn on: make 0, 1 and 2 common.
        const uint8_t typeBytes[2] = {static_cast<uint8_t>(in.Byte() % 4), e.Type.LowByte(0)};
        e.Type.StoreWire(0, typeBytes, 1);
    }

    for (int tick = 0; tick < 512 && !in.Empty(); ++tick) {
        const uint8_t c = in.Byte();
        const Bytes chunk = in.Bytes((c & 3) == 2 ? 1 : (c & 3) == 3 ? 2 + (c >> 2) % 8 : 0);
        (c & 3) == 1 ? w.port.QueueLineError() : w.port.QueueRead(chunk);
        const int selected = w.state.SelectedChannel;
        OprosVelt(w.state, w.table, w.port, w.log);

        const std::vector<Bytes> writes = w.port.TakeWrites();
        FUZZ_CHECK(writes.size() == (chunk.empty() ? 0u : 1u));
        if (chunk.size() > 1) FUZZ_CHECK(writes[0] == Bytes{0xC0});
        if (chunk.size() != 1) continue;
        CheckReply(chunk[0], writes[0], w.table, selected);
        // Groups past the last a block has are still kept: the host's next command answers them.
        if (w.table.FirstCycleDone == 1 && chunk[0] >> 4 == 0xA) {
            FUZZ_CHECK(w.state.SelectedGroup == (chunk[0] & 0x0F));
        }
    }
    return 0;
}

}  // namespace conv::fuzz
