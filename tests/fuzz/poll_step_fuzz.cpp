// The poll step against a gauge that answers anything: silence, line errors, raw bytes, good
// replies to whatever was asked, exceptions, echoes, bad CRCs and replies with bytes after them.
// The cycle is driven through at least two whole passes, and after every step the cursor and the
// table must still make sense, every request must be well framed for our slave, and no register
// image may have changed except the decoded tank's, by a reply of its own length with a good CRC.
//
// Input: slave address, tank count (1..4), per tank (index, channel address, Configured), then
// one operation byte per tick, each followed by what it needs:
//   op & 7: 0 silence, 1 line error, 2 raw bytes (count, bytes), 3 a good reply to the last
//           request (its registers from the input), 4 an exception (code), 5 the request echoed,
//           6 a good reply with a broken CRC, 7 a good reply followed by stray bytes (count, bytes)
//   op & 0x10: the reply comes from another slave address (its CRC made for that address)
//   op & 0x20: an extra pacing step this tick
#include <algorithm>
#include <array>
#include <span>

#include "fuzz_support.h"
#include "log/operation_log.h"
#include "modbus/frame.h"
#include "modbus/poll.h"
#include "store/tank_table.h"
#include "support/gauge_values.h"

namespace conv::fuzz {
namespace {

using test::Bytes;
using test::WithCrc;

// What the gauge "sends" during one tick, from the operation byte and what follows it.
struct TickRead {
    bool lineError = false;
    bool extraPacing = false;
    Bytes bytes;
};

TickRead NextRead(ByteReader& in, const Bytes& last, uint8_t ourSlave) {
    const uint8_t op = in.Byte();
    const int kind = op & 7;
    const uint8_t slave = (op & 0x10) ? static_cast<uint8_t>(ourSlave ^ 0x5A) : ourSlave;
    TickRead r{kind == 1, (op & 0x20) != 0, {}};
    if (kind == 2) r.bytes = in.Bytes(in.Byte());
    if (kind == 4)
        r.bytes = WithCrc({slave, uint8_t((last.size() > 1 ? last[1] : 4) | 0x80), in.Byte()});
    if (kind == 5) r.bytes = last;
    if ((kind == 3 || kind == 6 || kind == 7) && last.size() == kRequestLength) {
        // A good reply to the last request: the write echoed, or the registers read.
        const int count = last[4] << 8 | last[5];
        const bool write = last[1] == kFnWriteSingleRegister;
        Bytes reply = write ? Bytes(last.begin(), last.end() - kCrcLength)
                            : Bytes{0, last[1], static_cast<uint8_t>(2 * count)};
        reply[0] = slave;
        const Bytes regs = write ? Bytes{} : in.Bytes(static_cast<size_t>(2 * count));
        reply.insert(reply.end(), regs.begin(), regs.end());
        r.bytes = WithCrc(reply);
    }
    if (kind == 6 && !r.bytes.empty()) r.bytes.back() ^= static_cast<uint8_t>(1 + (op >> 6));
    if (kind == 7) {
        const Bytes stray = in.Bytes(1 + in.Byte() % 8);
        r.bytes.insert(r.bytes.end(), stray.begin(), stray.end());
    }
    return r;
}

// A tank's register images as raw bytes, each with the length of the reply that may replace it
// and whether its requests check a CRC.
struct ImageView {
    std::span<const uint8_t> bytes;
    int replyLength;
    bool crcChecked;
};

std::array<ImageView, 8> Images(const TankEntry& t) {
    const auto view = [](const auto& image, int registers, bool crc) {
        return ImageView{image.Bytes(), ReadReplyLength(registers), crc};
    };
    return {view(t.Type, 3, false),       view(t.Main, 42, true),    view(t.Temp, 33, true),
            view(t.TempCoords, 21, true), view(t.Density, 18, true), view(t.Probe, 15, true),
            view(t.Pressure, 30, true),   view(t.Gas, 18, true)};
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
    for (const TankEntry& tank : t.Tanks) FUZZ_CHECK(tank.LinkState >= 0 && tank.LinkState <= 2);
}

// A tank against its copy from before: an image may change only by a reply read in this step, of
// the image's length, with a good CRC where the image's requests check one.
void CheckImages(const TankEntry& before, const TankEntry& after, const TickRead* read,
                 uint8_t ourSlave) {
    FUZZ_CHECK(read || (before.LinkState == after.LinkState &&
                        before.GaugeErrorCode == after.GaugeErrorCode));
    const auto old = Images(before);
    const auto now = Images(after);
    for (size_t k = 0; k < old.size(); ++k) {
        if (std::ranges::equal(old[k].bytes, now[k].bytes)) continue;
        FUZZ_CHECK(read && !read->lineError);
        FUZZ_CHECK(static_cast<int>(read->bytes.size()) == old[k].replyLength);
        FUZZ_CHECK(!old[k].crcChecked || CrcGood(read->bytes, ourSlave));
    }
}

// Every other tank must be as the steps left it: `reference` follows the table only where a step
// was allowed to change it. Comparing all 64 tanks costs more than a step, so this runs every few
// ticks and at the end; a change cannot hide, since nothing would undo it.
void CheckOthersUntouched(const TankTable& reference, const TankTable& table) {
    for (size_t i = 0; i < reference.Tanks.size(); ++i) {
        CheckImages(reference.Tanks[i], table.Tanks[i], nullptr, 0);
    }
}

struct World : Bench {
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
    static World* w = new World;
    w->Reset();
    w->table = TankTable{};
    w->poll = PollState{};

    const uint8_t slave = in.Byte();
    w->table.SlaveAddress = slave;
    const int tanks = 1 + in.Byte() % 4;
    for (int k = 0; k < tanks; ++k) {
        TankEntry& t = w->table.Tanks[in.Byte() % kTankCount];
        t.ChannelAddress = in.Byte();
        t.Configured = in.Byte() % 3;  // 2: not "exactly 1", still polled
    }
    w->reference = w->table;

    // Enough ticks for two passes even when every configured tank uses all its retries.
    int cycles = 0;
    test::Bytes lastRequest;
    for (int tick = 0; tick < 4000 && (cycles < 2 || !in.Empty()); ++tick) {
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
        const int lastState = w->poll.CycleState;
        const bool onTank = decodedTank >= 0 && decodedTank < kTankCount;
        if (onTank) w->beforeStep = w->table.Tanks[static_cast<size_t>(decodedTank)];

        OprosModBus(w->poll, w->table, w->port, w->log);
        if (!readHappened) {
            // Nothing asked, nothing read: drop this tick's bytes so they cannot answer later.
            uint8_t sink[kRxCapacity];
            w->port.ReadAvailable(sink, kRxCapacity);
        }

        cycles += lastState != kCycleFinished && w->poll.CycleState == kCycleFinished;
        CheckCursor(w->poll, w->table);
        if (readHappened && onTank) {
            const auto i = static_cast<size_t>(decodedTank);
            CheckImages(w->beforeStep, w->table.Tanks[i], &read, slave);
            w->reference.Tanks[i] = w->table.Tanks[i];
        }
        if (tick % 64 == 0) CheckOthersUntouched(w->reference, w->table);
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
    }
    CheckOthersUntouched(w->reference, w->table);
    FUZZ_CHECK(cycles >= 2);
    FUZZ_CHECK(w->table.FirstCycleDone == 1);
    return 0;
}
