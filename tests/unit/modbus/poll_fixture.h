// Drives the poll step by step over a scripted port: each Tick() is one Timer1 tick, whatever
// was queued on the port before it is what the gauge sent since the previous tick.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/operation_log.h"
#include "modbus/frame.h"
#include "modbus/groups.h"
#include "modbus/poll.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::test {

inline constexpr uint8_t kSlave = 0x50;

// The requests of slave 0x50, CRCs worked out independently of our routine.
inline const Bytes kZeroByte = Hex("00");
inline const Bytes kSelect5 = Hex("50 06 00 00 00 05 44 48");
inline const Bytes kTypeRequest = Hex("50 04 00 00 00 03 BD 8A");
inline const Bytes kMainRequest = Hex("50 04 00 03 00 2A 8C 54");
inline const Bytes kTempRequest = Hex("50 04 00 80 00 21 3C 7B");
inline const Bytes kTemp1Request = Hex("50 04 00 A1 00 21 6C 71");
inline const Bytes kKoordRequest = Hex("50 04 00 C2 00 15 9D B8");
inline const Bytes kPlotRequest = Hex("50 04 01 00 00 12 7C 7A");
inline const Bytes kPlotTempRequest = Hex("50 04 01 18 00 0F 3C 74");
inline const Bytes kDDRequest = Hex("50 04 00 00 00 1E 7D 83");
inline const Bytes kDZORequest = Hex("50 04 00 00 00 12 7D 86");

// A read reply: address, function, byte count, the register bytes, CRC over all of it.
inline Bytes ReadReply(const Bytes& registers, uint8_t address = kSlave) {
    Bytes r(registers.size() + 3);
    r[0] = address;
    r[1] = 0x04;
    r[2] = static_cast<uint8_t>(registers.size());
    std::copy(registers.begin(), registers.end(), r.begin() + 3);
    const uint16_t crc = Crc16(r.data(), static_cast<int>(r.size()));
    r.push_back(static_cast<uint8_t>(crc));
    r.push_back(static_cast<uint8_t>(crc >> 8));
    return r;
}

// Register bytes counting up from `first`, so a copy to the wrong place shows.
inline Bytes Pattern(int registers, uint8_t first = 1) {
    Bytes b(static_cast<size_t>(2 * registers));
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

inline Bytes WithBadCrc(Bytes reply) {
    reply[reply.size() - 1] ^= 0x5A;
    return reply;
}

class PollTest : public ::testing::Test {
  protected:
    PollTest() {
        log.LogEnabled = 1;
        table.SlaveAddress = kSlave;
        poll.ShowPanel = [this](int n) { panel.push_back(n); };
    }

    // Sent() and NothingSent() look at this tick's writes only.
    void Tick() {
        port.TakeWrites();
        OprosModBus(poll, table, port, log);
    }

    void Configure(int number, int channel) {
        table.Tank(number).Configured = 1;
        table.Tank(number).ChannelAddress = channel;
    }
    void SetType(int number, uint8_t type) {
        const uint8_t regs[6] = {type, 0, 0, 0, 0, 0};
        table.Tank(number).Type.StoreWire(0, regs, 3);
    }

    // A running cycle that moves on to tank `number` at the next tick, as from the tank before.
    void StartAt(int number) {
        poll.CycleState = kCycleRunning;
        poll.PollChannel = number - 2;
        poll.PollGroup = kGroupTankDone;
        poll.ReplyPending = 0;
    }
    // A running cycle whose next tick sends `group` to tank `number` with `budget` repeats left.
    void ResumeAt(int number, int group, int budget) {
        poll.CycleState = kCycleRunning;
        poll.PollChannel = number - 1;
        poll.PollGroup = group;
        poll.RetryBudget = budget;
        poll.ReplyPending = 0;
    }

    // What the last tick wrote: exactly one frame.
    Bytes Sent() {
        std::vector<Bytes> w = port.TakeWrites();
        EXPECT_EQ(w.size(), 1u);
        return w.empty() ? Bytes{} : w.back();
    }
    bool NothingSent() { return port.TakeWrites().empty(); }

    // Left-pane lines added since the last call.
    std::vector<std::string> NewLines() {
        const auto& all = left.Lines();
        std::vector<std::string> out(all.begin() + static_cast<long>(std::min(seen_, all.size())),
                                     all.end());
        seen_ = all.size();
        return out;
    }

    MemoryPane left;
    MemoryPane right;
    OperationLog log{left, right};
    TankTable table;
    PollState poll;
    FakePort port;
    std::vector<int> panel;

  private:
    size_t seen_ = 1;  // a fresh pane holds one empty line
};

}  // namespace conv::test
