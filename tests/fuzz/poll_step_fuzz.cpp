// The poll step against a gauge that answers anything: silence, line errors, raw bytes, good
// replies to whatever was asked, exceptions, echoes, bad CRCs and replies with bytes after them.
// The cycle is driven through at least two whole passes; after every step the cursor must make
// sense, every request must be well framed for our slave, and no register image may have changed
// except the decoded tank's, by a reply of its own length with a good CRC.
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
#include "modbus/frame.h"
#include "modbus/poll.h"
#include "support/gauge_values.h"

namespace conv::fuzz {
namespace {

using test::Bytes;

// What the gauge sends in one tick, for the operation byte `op`.
Bytes GaugeSends(ByteReader& in, uint8_t op, const Bytes& last, uint8_t ourSlave) {
    const int kind = op & 7;
    const uint8_t slave = (op & 0x10) ? static_cast<uint8_t>(ourSlave ^ 0x5A) : ourSlave;
    const uint8_t fn = last.size() > 1 ? last[1] : kFnReadInputRegisters;
    if (kind == 2) return in.Bytes(in.Byte());
    if (kind == 4) return test::WithCrc({slave, static_cast<uint8_t>(fn | 0x80), in.Byte()});
    if (kind == 5) return last;
    if (kind < 3 || last.size() != kRequestLength) return {};
    // A good reply to the last request: the write echoed, or the registers read.
    const int count = last[4] << 8 | last[5];
    Bytes reply(last.begin(), last.end() - kCrcLength);
    if (fn != kFnWriteSingleRegister) {
        reply = in.Bytes(static_cast<size_t>(2 * count));
        reply.insert(reply.begin(), {0, fn, static_cast<uint8_t>(2 * count)});
    }
    reply[0] = slave;
    reply = test::WithCrc(reply);
    if (kind == 6) reply.back() ^= static_cast<uint8_t>(1 + (op >> 6));
    const Bytes stray = kind == 7 ? in.Bytes(1 + in.Byte() % 8) : Bytes{};
    reply.insert(reply.end(), stray.begin(), stray.end());
    return reply;
}

// A tank's register images, and the register counts of the reads that fill them.
constexpr int kRegisters[8] = {3, 42, 33, 21, 18, 15, 30, 18};
std::array<std::span<const uint8_t>, 8> Images(const TankEntry& t) {
    return {t.Type.Bytes(),    t.Main.Bytes(),  t.Temp.Bytes(),     t.TempCoords.Bytes(),
            t.Density.Bytes(), t.Probe.Bytes(), t.Pressure.Bytes(), t.Gas.Bytes()};
}

// A tank against its copy from before: an image may change only by `reply`, read in this step
// (nullptr: no read), of the image's length, with a good CRC (some requests put our address into
// the reply before the check; the type read checks none).
void CheckImages(const TankEntry& before, const TankEntry& after, Bytes* reply, uint8_t ourSlave) {
    FUZZ_CHECK(reply || before.LinkState == after.LinkState);
    const auto old = Images(before);
    const auto now = Images(after);
    for (size_t k = 0; k < old.size(); ++k) {
        if (std::ranges::equal(old[k], now[k])) continue;
        FUZZ_CHECK(reply && reply->size() == size_t(ReadReplyLength(kRegisters[k])));
        const bool crcGood = CrcMatches(reply->data(), static_cast<int>(reply->size()));
        (*reply)[0] = ourSlave;
        FUZZ_CHECK(k == 0 || crcGood || CrcMatches(reply->data(), static_cast<int>(reply->size())));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in{data, size};
    auto& w = Bench<PollState>::Fresh();
    const uint8_t slave = in.Byte();
    w.table.SlaveAddress = slave;
    for (int k = 1 + in.Byte() % 4; k > 0; --k) {
        TankEntry& t = w.table.Tanks[in.Byte() % kTankCount];
        t.ChannelAddress = in.Byte();
        t.Configured = in.Byte() % 3;  // 2: not "exactly 1", still polled
    }
    static TankTable& allowed = *new TankTable;  // as the steps were allowed to leave it
    allowed = w.table;

    // Enough ticks for two passes even when every configured tank uses all its retries.
    int cycles = 0;
    Bytes last;
    for (int tick = 0; tick < 4000 && (cycles < 2 || !in.Empty()); ++tick) {
        const uint8_t op = in.Byte();
        const Bytes sent = GaugeSends(in, op, last, slave);
        (op & 7) == 1 ? w.port.QueueLineError() : w.port.QueueRead(sent);
        const bool reads = w.state.ReplyPending == 1;
        const int tank = w.state.PollChannel;
        const bool wasFinished = w.state.CycleState == kCycleFinished;

        OprosModBus(w.state, w.table, w.port, w.log);
        if (!reads) {
            // Nothing asked, nothing read: drop this tick's bytes so they cannot answer later.
            uint8_t sink[kRxCapacity];
            w.port.ReadAvailable(sink, kRxCapacity);
        }
        cycles += !wasFinished && w.state.CycleState == kCycleFinished;
        FUZZ_CHECK(w.state.PollChannel >= -1 && w.state.PollChannel < kTankCount);
        FUZZ_CHECK(w.state.PollGroup >= 0 && w.state.PollGroup <= kGroupTankDone);
        if (reads && tank >= 0) {
            const auto i = static_cast<size_t>(tank);
            Bytes got = (op & 7) == 1 ? Bytes{} : sent;  // a line error reads nothing
            CheckImages(allowed.Tanks[i], w.table.Tanks[i], &got, slave);
            allowed.Tanks[i] = w.table.Tanks[i];
        }
        // Every other tank is as the steps left it. Comparing all 64 costs more than a step, so
        // it runs every few ticks; a change cannot hide, since nothing would undo it.
        for (size_t i = 0; tick % 64 == 0 && i < allowed.Tanks.size(); ++i) {
            CheckImages(allowed.Tanks[i], w.table.Tanks[i], nullptr, 0);
        }
        for (const Bytes& frame : w.port.TakeWrites()) {
            FUZZ_CHECK(frame.size() == 1 || (frame.size() == kRequestLength && frame[0] == slave &&
                                             CrcMatches(frame.data(), kRequestLength)));
            last = frame;
        }
        // Timer3 runs four times for five Timer1 ticks.
        if (tick % 5 != 4) PacingStep(w.state);
        if (op & 0x20) PacingStep(w.state);
    }
    FUZZ_CHECK(cycles >= 2 && w.table.FirstCycleDone == 1);
    return 0;
}

}  // namespace conv::fuzz
