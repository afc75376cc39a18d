// The poll step against a gauge that answers anything: silence, line errors, raw bytes, good
// replies to whatever was asked, exceptions, echoes, bad CRCs and replies with bytes after them.
// The cycle is driven through at least two whole passes, and after every step the cursor and the
// table must still make sense and no register image may have changed except the decoded tank's,
// by a reply of its own length with a good CRC.
//
// Input: slave address, tank count (1..4), per tank (index, channel address, Configured), then
// one operation byte per tick, each followed by what it needs:
//   op & 7: 0 silence, 1 line error, 2 raw bytes (count, bytes), 3 a good reply to the last
//           request (its registers from the input), 4 an exception (code), 5 the request echoed,
//           6 a good reply with a broken CRC, 7 a good reply followed by stray bytes (count, bytes)
//   op & 0x10: the reply comes from another slave address (its CRC made for that address)
//   op & 0x20: an extra pacing step this tick
#include <array>
#include <cstring>

#include "fuzz_support.h"
#include "log/operation_log.h"
#include "modbus/frame.h"
#include "modbus/poll.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::fuzz {
namespace {

using test::Bytes;

// Enough ticks for two passes even when every configured tank uses all its retries.
constexpr int kTickLimit = 4000;
constexpr int kCyclesWanted = 2;

void AppendCrc(Bytes& frame) {
    const uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

// A reply to `request` (the last frame written) as the gauge would build it.
Bytes GoodReply(const Bytes& request, uint8_t slave, ByteReader& in) {
    if (request.size() != kRequestLength) return {};
    if (request[1] == kFnWriteSingleRegister) {
        Bytes echo(request.begin(), request.end() - kCrcLength);
        echo[0] = slave;
        AppendCrc(echo);
        return echo;
    }
    const int count = request[4] << 8 | request[5];
    Bytes reply{slave, request[1], static_cast<uint8_t>(2 * count)};
    const Bytes regs = in.Bytes(static_cast<size_t>(2 * count));
    reply.insert(reply.end(), regs.begin(), regs.end());
    AppendCrc(reply);
    return reply;
}

// The bytes the gauge "sends" during one tick, from the operation byte and what follows it.
struct TickRead {
    bool lineError = false;
    bool extraPacing = false;
    Bytes bytes;
};

TickRead NextRead(ByteReader& in, const Bytes& lastRequest, uint8_t ourSlave) {
    const uint8_t op = in.Byte();
    const uint8_t slave = (op & 0x10) ? static_cast<uint8_t>(ourSlave ^ 0x5A) : ourSlave;
    TickRead r;
    r.extraPacing = (op & 0x20) != 0;
    switch (op & 7) {
        case 0:
            break;
        case 1:
            r.lineError = true;
            break;
        case 2:
            r.bytes = in.Bytes(in.Byte());
            break;
        case 3:
            r.bytes = GoodReply(lastRequest, slave, in);
            break;
        case 4: {
            const uint8_t fn = lastRequest.size() > 1 ? lastRequest[1] : 0x04;
            r.bytes = {slave, static_cast<uint8_t>(fn | 0x80), in.Byte()};
            AppendCrc(r.bytes);
            break;
        }
        case 5:
            r.bytes = lastRequest;
            break;
        case 6:
            r.bytes = GoodReply(lastRequest, slave, in);
            if (!r.bytes.empty()) r.bytes.back() ^= static_cast<uint8_t>(1 + (op >> 6));
            break;
        case 7: {
            r.bytes = GoodReply(lastRequest, slave, in);
            const Bytes stray = in.Bytes(1 + in.Byte() % 8);
            r.bytes.insert(r.bytes.end(), stray.begin(), stray.end());
            break;
        }
    }
    return r;
}

// The register images of one tank, as raw bytes, with the reply length that may replace each.
struct ImageView {
    const uint8_t* bytes;
    size_t size;
    int replyLength;
    bool crcChecked;
};

template <class Image>
ImageView View(const Image& image, int registersPerReply, bool crc) {
    return {image.Bytes().data(), image.Bytes().size(), ReadReplyLength(registersPerReply), crc};
}

std::array<ImageView, 8> Images(const TankEntry& t) {
    return {{View(t.Type, 3, false), View(t.Main, 42, true), View(t.Temp, 33, true),
             View(t.TempCoords, 21, true), View(t.Density, 18, true), View(t.Probe, 15, true),
             View(t.Pressure, 30, true), View(t.Gas, 18, true)}};
}

bool CrcGood(Bytes frame, uint8_t ourSlave) {
    const int n = static_cast<int>(frame.size());
    if (CrcMatches(frame.data(), n)) return true;
    // Some requests put our address into the reply before the check.
    if (!frame.empty()) frame[0] = ourSlave;
    return CrcMatches(frame.data(), n);
}

void CheckCursor(const PollState& p, const TankTable& t) {
    FUZZ_CHECK(p.PollChannel >= -1 && p.PollChannel <= 63);
    FUZZ_CHECK(p.PollGroup >= 0 && p.PollGroup <= 10);
    FUZZ_CHECK(p.CycleState == kCycleIdle || p.CycleState == kCycleRunning ||
               p.CycleState == kCycleFinished);
    FUZZ_CHECK(p.RetryBudget >= -1);
    FUZZ_CHECK(p.ReplyPending == 0 || p.ReplyPending == 1);
    FUZZ_CHECK(t.GaugeLinkOk == 0 || t.GaugeLinkOk == 1);
    for (const TankEntry& tank : t.Tanks) {
        FUZZ_CHECK(tank.LinkState >= 0 && tank.LinkState <= 2);
    }
}

// The tank whose reply was decoded in this step, against its copy from before the step: an
// image may change only by a reply of the image's length, with a good CRC where the image's
// requests check one.
void CheckDecodedTank(const TankEntry& before, const TankEntry& after, const TickRead& read,
                      uint8_t ourSlave) {
    const auto old = Images(before);
    const auto now = Images(after);
    for (size_t b = 0; b < old.size(); ++b) {
        if (std::memcmp(old[b].bytes, now[b].bytes, old[b].size) == 0) continue;
        FUZZ_CHECK(!read.lineError);
        FUZZ_CHECK(static_cast<int>(read.bytes.size()) == old[b].replyLength);
        FUZZ_CHECK(!old[b].crcChecked || CrcGood(read.bytes, ourSlave));
    }
}

// Every other tank must be as the steps left it: `reference` follows the table only where a
// step was allowed to change it. Comparing all 64 tanks costs more than a step, so this runs
// every few ticks and at the end; a change cannot hide, since nothing would undo it.
void CheckOthersUntouched(const TankTable& reference, const TankTable& table) {
    for (size_t i = 0; i < reference.Tanks.size(); ++i) {
        const TankEntry& r = reference.Tanks[i];
        const TankEntry& t = table.Tanks[i];
        FUZZ_CHECK(r.LinkState == t.LinkState && r.GaugeErrorCode == t.GaugeErrorCode);
        const auto a = Images(r);
        const auto b = Images(t);
        for (size_t k = 0; k < a.size(); ++k) {
            FUZZ_CHECK(std::memcmp(a[k].bytes, b[k].bytes, a[k].size) == 0);
        }
    }
}

constexpr int kFullCheckEvery = 64;

struct World {
    MemoryPane left;
    MemoryPane right;
    OperationLog log{left, right};
    test::FakePort port;
    TankTable table;
    TankTable reference;  // the table as the steps were allowed to leave it
    TankEntry beforeStep;
    PollState poll;
};

}  // namespace
}  // namespace conv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace conv;
    using namespace conv::fuzz;
    ByteReader in(data, size);
    static World* w = new World;  // the tables are large: one allocation for the whole run
    w->left = MemoryPane();
    w->right = MemoryPane();
    w->port = test::FakePort();
    w->table = TankTable{};
    w->poll = PollState{};
    w->log.LogEnabled = 1;

    const uint8_t slave = in.Byte();
    w->table.SlaveAddress = slave;
    const int tanks = 1 + in.Byte() % 4;
    for (int k = 0; k < tanks; ++k) {
        TankEntry& t = w->table.Tanks[in.Byte() % kTankCount];
        t.ChannelAddress = in.Byte();
        t.Configured = in.Byte() % 3;  // 2: not "exactly 1", still polled
    }

    w->reference = w->table;

    int cycles = 0;
    int lastState = w->poll.CycleState;
    test::Bytes lastRequest;
    for (int tick = 0; tick < kTickLimit && (cycles < kCyclesWanted || !in.Empty()); ++tick) {
        const TickRead read = NextRead(in, lastRequest, slave);
        if (read.lineError) {
            w->port.QueueLineError();
        } else if (read.bytes.empty()) {
            w->port.QueueSilence();
        } else {
            w->port.QueueRead(read.bytes);
        }
        const bool readHappened = w->poll.ReplyPending == 1;
        const int decodedTank = w->poll.PollChannel;
        const int32_t firstDone = w->table.FirstCycleDone;
        const bool onTank = decodedTank >= 0 && decodedTank < kTankCount;
        if (onTank) w->beforeStep = w->table.Tanks[static_cast<size_t>(decodedTank)];

        OprosModBus(w->poll, w->table, w->port, w->log);
        if (!readHappened) {
            // Nothing asked, nothing read: drop this tick's bytes so they cannot answer later.
            uint8_t sink[kRxCapacity];
            w->port.ReadAvailable(sink, kRxCapacity);
        }

        if (lastState != kCycleFinished && w->poll.CycleState == kCycleFinished) ++cycles;
        CheckCursor(w->poll, w->table);
        if (readHappened && onTank) {
            const auto i = static_cast<size_t>(decodedTank);
            CheckDecodedTank(w->beforeStep, w->table.Tanks[i], read, slave);
            w->reference.Tanks[i] = w->table.Tanks[i];
        }
        if (tick % kFullCheckEvery == 0) CheckOthersUntouched(w->reference, w->table);
        FUZZ_CHECK(w->table.FirstCycleDone >= firstDone);
        if (firstDone == 1) FUZZ_CHECK(w->table.FirstCycleDone == 1);

        for (auto& frame : w->port.TakeWrites()) {
            FUZZ_CHECK(frame.size() == 1 || frame.size() == kRequestLength);
            if (frame.size() == kRequestLength) {
                FUZZ_CHECK(CrcMatches(frame.data(), kRequestLength));
                FUZZ_CHECK(frame[0] == slave);
            }
            lastRequest = frame;
        }

        // Timer3 runs four times for five Timer1 ticks.
        if (tick % 5 != 4) PacingStep(w->poll);
        if (read.extraPacing) PacingStep(w->poll);
        CheckCursor(w->poll, w->table);
        lastState = w->poll.CycleState;
    }
    CheckOthersUntouched(w->reference, w->table);
    FUZZ_CHECK(cycles >= kCyclesWanted);
    FUZZ_CHECK(w->table.FirstCycleDone == 1);
    return 0;
}
