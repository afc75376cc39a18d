// The host step against any table the MODBUS side could have filled (any bytes in any register
// image, any type, error code and link state) and any traffic on the host line. Every tick's
// answer is checked against the reply shapes the host reads, written down here independently of
// the reply routines: one write per tick that brought bytes, a lone status byte that the command
// may give, or an accepted reply of its command's length whose XOR checksum is right.
//
// Input: flags (FirstCycleDone, GaugeLinkOk), a tank count, per tank its configuration, status
// and (when its fill flag is set) the raw bytes of all its register images; then one control byte
// per tick: c & 3 = 0 nothing arrives, 1 line error, 2 one byte, 3 a burst of 2..9 bytes.
#include <array>
#include <optional>

#include "fuzz_support.h"
#include "host/host_link.h"
#include "log/operation_log.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::fuzz {
namespace {

using test::Bytes;

constexpr int kTickLimit = 512;

// What an accepted reply to a command looks like, as the host reads it.
struct Shape {
    size_t length;        // of the reply with status 0x00; 0 = the command has none
    bool checksum;        // last byte = XOR of the ones before
    const char* singles;  // one-byte answers the command may give
    size_t singleCount;
};

constexpr Shape Make(size_t length, const char* singles, size_t count) {
    return {length, length > 2, singles, count};
}

Shape ShapeOf(uint8_t cmd) {
    static constexpr char kData2x[] = "\xFF\x04\x0C";
    static constexpr char kData14[] = "\xFF\x04\x06";
    static constexpr char kGauge[] = "\x04";
    static constexpr char kOk[] = "\x00";
    static constexpr char kNotServed[] = "\x0C";
    static constexpr char kRejected[] = "\xC0";
    const int high = cmd >> 4;
    switch (high) {
        case 0xA:
        case 0xC:
            return Make(0, kOk, 1);
        case 0x2:
        case 0x5:
        case 0x8:
        case 0xB:
            return Make(5, kData14, 3);
        case 0x3:
            return Make(6, kData14, 3);
        case 0x4:
        case 0x6:
            return Make(2, kData14, 3);
        case 0xD:
            switch (cmd & 0x0F) {
                case 0x2:
                    return Make(6, kData2x, 3);
                case 0xC:
                    return Make(10, kData2x, 3);
                case 0x3:
                case 0x8:
                case 0xE:
                    return Make(20, kData2x, 3);
                case 0x4:
                case 0x5:
                case 0x6:
                case 0x7:
                case 0xB:
                case 0xF:
                    return Make(56, kData2x, 3);
                case 0xD:
                    return Make(18, kData2x, 0);
                default:
                    return Make(0, kNotServed, 1);
            }
        default:
            break;
    }
    switch (cmd) {
        case 0x07:
            return Make(5, kOk, 0);
        case 0x10:
        case 0x14:
            return Make(2, kGauge, 1);
        case 0x11:
            return Make(18, kOk, 0);
        default:
            return Make(0, kRejected, 1);
    }
}

// The channel address a data command asks about, if it asks about one.
std::optional<int> AskedChannel(uint8_t cmd, int selected) {
    switch (cmd >> 4) {
        case 0x2:
        case 0x3:
        case 0x4:
        case 0x5:
        case 0x6:
        case 0x8:
        case 0xB:
            return cmd & 0x0F;
        case 0xD: {
            const int sub = cmd & 0x0F;
            const bool lookup = sub >= 2 && sub <= 0xF && sub != 9 && sub != 0xA && sub != 0xD;
            return lookup ? std::optional<int>(selected) : std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

bool AnyTankOn(const TankTable& t, int channel) {
    for (const TankEntry& e : t.Tanks) {
        if (e.Configured == 1 && e.ChannelAddress == channel) return true;
    }
    return false;
}

void CheckReply(uint8_t cmd, const Bytes& reply, const TankTable& table, int selectedBefore) {
    FUZZ_CHECK(!reply.empty());
    if (table.FirstCycleDone == 0) {
        FUZZ_CHECK(reply == Bytes{0xFE});
        return;
    }
    const Shape shape = ShapeOf(cmd);
    if (reply.size() == 1) {
        bool allowed = false;
        for (size_t i = 0; i < shape.singleCount; ++i) {
            allowed = allowed || reply[0] == static_cast<uint8_t>(shape.singles[i]);
        }
        FUZZ_CHECK(allowed);
    } else {
        FUZZ_CHECK(reply[0] == 0x00);
        FUZZ_CHECK(reply.size() == shape.length);
        if (shape.checksum) {
            uint8_t x = 0;
            for (size_t i = 0; i + 1 < reply.size(); ++i) x ^= reply[i];
            FUZZ_CHECK(reply.back() == x);
        }
    }
    if (const auto ch = AskedChannel(cmd, selectedBefore); ch && !AnyTankOn(table, *ch)) {
        FUZZ_CHECK(reply == Bytes{0xFF});
    }
    if (cmd == 0x10)
        FUZZ_CHECK(table.GaugeLinkOk == 1 ? reply == Bytes({0x00, 0x55}) : reply == Bytes{0x04});
    if (cmd == 0x07) FUZZ_CHECK(reply == Bytes({0x00, 0x0A, 0x06, 0x3C, 0x30}));
}

template <class Image>
void Fill(Image& image, ByteReader& in) {
    const Bytes wire = in.Bytes(Image::kBytes);
    image.StoreWire(Image::kFirstReg, wire.data(), Image::kCount);
}

void FillTable(TankTable& t, ByteReader& in) {
    const uint8_t flags = in.Byte();
    t.FirstCycleDone = (flags & 7) != 0 ? 1 : 0;
    t.GaugeLinkOk = (flags >> 3) & 1;
    const int tanks = in.Byte() % 8;
    static constexpr int32_t kErrors[] = {0, 0, 0, 0, 0x84, 0x96, 0x9C, 0x01};
    for (int k = 0; k < tanks; ++k) {
        TankEntry& e = t.Tanks[in.Byte() % kTankCount];
        e.ChannelAddress = in.Byte() % 20;  // addresses above 15 stay out of the tables
        const uint8_t status = in.Byte();
        e.Configured = status % 3;
        e.LinkState = (status >> 2) % 3;
        e.GaugeErrorCode = kErrors[(status >> 4) & 7];
        if (status & 0x80) {
            Fill(e.Type, in);
            Fill(e.Main, in);
            Fill(e.Temp, in);
            Fill(e.TempCoords, in);
            Fill(e.Density, in);
            Fill(e.Probe, in);
            Fill(e.Pressure, in);
            Fill(e.Gas, in);
        }
        // The type is what most replies turn on: make 0, 1 and 2 common.
        const uint8_t typeBytes[2] = {static_cast<uint8_t>(in.Byte() % 4), e.Type.LowByte(0)};
        e.Type.StoreWire(0, typeBytes, 1);
    }
}

struct World {
    MemoryPane left;
    MemoryPane right;
    OperationLog log{left, right};
    test::FakePort port;
    TankTable table;
    HostLink link;
};

}  // namespace
}  // namespace conv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace conv;
    using namespace conv::fuzz;
    ByteReader in(data, size);
    static World* w = new World;  // the table is large: one allocation for the whole run
    w->left = MemoryPane();
    w->right = MemoryPane();
    w->port = test::FakePort();
    w->table = TankTable{};
    w->link = HostLink{};
    w->log.LogEnabled = 1;
    FillTable(w->table, in);

    for (int tick = 0; tick < kTickLimit && !in.Empty(); ++tick) {
        const uint8_t c = in.Byte();
        Bytes chunk;
        switch (c & 3) {
            case 0:
                w->port.QueueSilence();
                break;
            case 1:
                w->port.QueueLineError();
                break;
            case 2:
                chunk = in.Bytes(1);
                break;
            case 3:
                chunk = in.Bytes(2 + (c >> 2) % 8);
                break;
        }
        if (!chunk.empty()) w->port.QueueRead(chunk);
        const int selected = w->link.SelectedChannel;

        OprosVelt(w->link, w->table, w->port, w->log);

        const auto writes = w->port.TakeWrites();
        FUZZ_CHECK(w->link.SelectedChannel >= 0 && w->link.SelectedChannel <= 15);
        FUZZ_CHECK(w->link.SelectedGroup >= 0 && w->link.SelectedGroup <= 15);
        if (chunk.empty()) {
            FUZZ_CHECK(writes.empty());
            continue;
        }
        FUZZ_CHECK(writes.size() == 1);
        if (chunk.size() > 1) {
            FUZZ_CHECK(writes[0] == Bytes{0xC0});
            continue;
        }
        CheckReply(chunk[0], writes[0], w->table, selected);
        const int high = chunk[0] >> 4;
        if (w->table.FirstCycleDone == 1 &&
            (high == 0xC || high == 0x2 || high == 0x3 || high == 0x4 || high == 0x5 ||
             high == 0x6 || high == 0x8 || high == 0xB)) {
            FUZZ_CHECK(w->link.SelectedChannel == (chunk[0] & 0x0F));
        }
        if (w->table.FirstCycleDone == 1 && high == 0xA) {
            FUZZ_CHECK(w->link.SelectedGroup == (chunk[0] & 0x0F));
        }
    }
    return 0;
}
