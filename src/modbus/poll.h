// The MODBUS master's poll cycle: one request in flight, one poll step per Timer1 tick (decode the
// reply to the previous request, then send the next), and a pacing step per Timer3 tick that
// restarts a finished cycle.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "modbus/frame.h"

namespace conv {

struct TankEntry;
struct TankTable;
class SerialPort;
class OperationLog;

// CycleState values.
enum : int32_t { kCycleIdle = 0, kCycleRunning = 1, kCycleFinished = 3 };

// Room for one read of the MODBUS line; the port is never asked for more.
inline constexpr int kRxCapacity = 1024;
// Repeats a tank may spend on all of its requests together.
inline constexpr int32_t kRetriesPerTank = 3;

// PollGroup values with a meaning of their own.
inline constexpr int32_t kLastGroup = 8;       // the last group of a level gauge
inline constexpr int32_t kGroupTankDone = 10;  // this tank is finished for the cycle

struct PollState {
    // Fields of the main window that the cycle owns.
    int32_t ReplyPending = 0;
    int32_t CycleState = kCycleIdle;
    int32_t CycleTicks = 0;

    // Poll cursor: nobody outside the MODBUS side reads it.
    int32_t PollChannel = 0;  // index of the tank being polled, -1 = none
    int32_t PollGroup = 0;    // group to send next, 0..8; 9 after the last; 10 = tank done
    int32_t RetryBudget = 0;  // repeats left for the tank being polled
    int32_t RxCount = 0;      // last read: -1 line error, 0 nothing, n bytes
    RequestFrame TxFrame{};
    std::array<uint8_t, kRxCapacity> RxFrame{};

    // sPanel5: the poll step shows the number it is working on here (may be empty). It is given
    // the tank index first and then, once the cursor has settled, the tank number.
    std::function<void(int)> ShowPanel;
};

// What one poll step works on.
struct PollContext {
    PollState& Poll;
    TankTable& Table;
    SerialPort& Port;
    OperationLog& Log;

    // The tank under the cursor; only valid while PollChannel is an index of the table.
    TankEntry& Tank() const;
    bool CursorOnTank() const;
    // Low byte of the configured slave address: the first byte of every request.
    uint8_t SlaveByte() const;
};

// One poll step (Timer1): AnalizRead of a pending reply (ReadReply, then DecideReply), then
// SendNextRequest. A line in fast mode calls the halves itself (fast_poll.h).
void OprosModBus(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log);

// Reads every byte waiting on the port into RxFrame; RxCount := the count, or -1.
void ReadReply(PollState& poll, SerialPort& port);
// Hands RxFrame/RxCount to the decoder of the group that was sent; PollGroup is one past it.
void DecideReply(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log);

// What SendNextRequest put on the line.
enum class PollSent { kNothing, kZeroByte, kRequest };
// While the cycle runs: moves the cursor to the next request, sends it (the zero byte, or the
// request in TxFrame) and marks its reply pending. Nothing when the cycle is not running, or when
// this call ended it.
PollSent SendNextRequest(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log);
// The pacing step (Timer3).
void PacingStep(PollState& poll);

}  // namespace conv
