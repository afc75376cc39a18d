#include "modbus/poll.h"

#include "modbus/groups.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

TankEntry& PollContext::Tank() const {
    return Table.Tanks[static_cast<size_t>(Poll.PollChannel)];
}

bool PollContext::CursorOnTank() const {
    return Poll.PollChannel >= 0 && Poll.PollChannel < kTankCount;
}

uint8_t PollContext::SlaveByte() const {
    return static_cast<uint8_t>(Table.SlaveAddress);
}

namespace {

void ShowPanel(const PollState& poll, int number) {
    if (poll.ShowPanel) poll.ShowPanel(number);
}

// Group 3 depends on what the gauge said the channel is; a type we do not know still gets its
// temperatures read.
void SendGroup3(PollContext& c) {
    switch (c.Tank().TankType()) {
        case kLevelGauge:
            ProcOS(c);
            break;
        case kPressureTank:
            ProcDD(c);
            break;
        case kGasTank:
            ProcDZO(c);
            break;
        default:
            ProcTemp(c);
            break;
    }
}

void DecodeGroup3(PollContext& c) {
    switch (c.Tank().TankType()) {
        case kLevelGauge:
            ProcOSIn(c);
            break;
        case kPressureTank:
            ProcDDIn(c);
            break;
        case kGasTank:
            ProcDZOIn(c);
            break;
        default:
            ProcTempIn(c);
            break;
    }
}

void SendGroup(PollContext& c) {
    switch (c.Poll.PollGroup) {
        case 0:
            ProcZero(c);
            break;
        case 1:
            ProcCanal(c);
            break;
        case 2:
            ProcType(c);
            break;
        case 3:
            SendGroup3(c);
            break;
        case 4:
            ProcTemp(c);
            break;
        case 5:
            ProcTemp1(c);
            break;
        case 6:
            ProcKoordTemp(c);
            break;
        case 7:
            ProcPlot(c);
            break;
        case 8:
            ProcPlotTemp(c);
            break;
        default:
            break;
    }
}

}  // namespace

void ReadReply(PollState& poll, SerialPort& port) {
    const int got = port.ReadAvailable(poll.RxFrame.data(), kRxCapacity);
    // A port that claims more than the room it was given is as broken as one reporting an error.
    poll.RxCount = got < 0 || got > kRxCapacity ? -1 : got;
}

// Whatever the gauge sent since the last request goes to the decoder of the group that was sent.
void DecideReply(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log) {
    PollContext c{poll, table, port, log};
    PollState& p = poll;
    if (!c.CursorOnTank()) {
        p.PollGroup = kGroupTankDone;
        return;
    }
    // PollGroup is one past the group that was sent.
    switch (p.PollGroup) {
        case 1:
            ProcZeroIn(c);
            break;
        case 2:
            ProcCanalIn(c);
            break;
        case 3:
            ProcTypeIn(c);
            // Getting as far as the type step means the channel select went through, whatever the
            // type reply turned out to be.
            c.Table.GaugeLinkOk = 1;
            break;
        case 4:
            DecodeGroup3(c);
            break;
        case 5:
            ProcTempIn(c);
            break;
        case 6:
            ProcTemp1In(c);
            break;
        case 7:
            ProcKoordTempIn(c);
            break;
        case 8:
            ProcPlotIn(c);
            break;
        case 9:
            ProcPlotTempIn(c);
            break;
        default:
            p.PollGroup = kGroupTankDone;
            break;
    }
}

PollSent SendNextRequest(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log) {
    PollContext c{poll, table, port, log};
    if (poll.CycleState != kCycleRunning) return PollSent::kNothing;

    for (;;) {
        ShowPanel(poll, poll.PollChannel);
        if (poll.PollGroup > kLastGroup || !c.CursorOnTank()) {
            const int32_t next = poll.PollChannel < 0 ? 0 : poll.PollChannel + 1;
            if (next >= kTankCount) {
                poll.PollChannel = -1;
                poll.PollGroup = kGroupTankDone;
                poll.CycleState = kCycleFinished;
                table.FirstCycleDone = 1;
                return PollSent::kNothing;
            }
            poll.PollChannel = next;
            poll.PollGroup = 0;
            poll.RetryBudget = kRetriesPerTank;
        }
        ShowPanel(poll, poll.PollChannel + 1);
        // Unconfigured entries are passed over within the same tick; one configured again later
        // starts a fresh count of skipped cycles.
        if (c.Tank().Configured == 0) {
            c.Tank().ZeroByteSkips = 0;
            poll.PollGroup = kGroupTankDone;
            continue;
        }
        SendGroup(c);
        break;
    }
    const PollSent sent = poll.PollGroup == 0 ? PollSent::kZeroByte : PollSent::kRequest;
    ++poll.PollGroup;
    poll.ReplyPending = 1;
    return sent;
}

namespace {

void AnalizRead(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log) {
    ReadReply(poll, port);
    DecideReply(poll, table, port, log);
}

}  // namespace

void OprosModBus(PollState& poll, TankTable& table, SerialPort& port, OperationLog& log) {
    if (poll.ReplyPending == 1) {
        AnalizRead(poll, table, port, log);
        poll.ReplyPending = 0;
    }
    SendNextRequest(poll, table, port, log);
}

void PacingStep(PollState& poll) {
    if (poll.CycleState == kCycleFinished) {
        poll.CycleTicks = 0;
        poll.CycleState = kCycleIdle;
        poll.PollChannel = -1;
    }
    ++poll.CycleTicks;
    if (poll.CycleTicks >= 2 && poll.CycleState == kCycleIdle) poll.CycleState = kCycleRunning;
}

}  // namespace conv
