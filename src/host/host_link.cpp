#include "host/host_link.h"

#include <algorithm>
#include <span>

#include "host/replies.h"
#include "log/operation_log.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

namespace {

// Commands are looked up by one half of the request byte; the other half is their parameter.
template <typename Fn>
struct CommandRow {
    int Key;
    Fn Reply;
};

template <typename Fn, size_t N>
Fn FindCommand(const CommandRow<Fn> (&rows)[N], int key) {
    for (const CommandRow<Fn>& row : rows) {
        if (row.Key == key) return row.Reply;
    }
    return nullptr;
}

// 0xDn by n; the sub-commands missing here are not served.
constexpr CommandRow<void (*)(HostContext&)> kSubCommands[] = {
    {0x2, ProcConfig20}, {0x3, ProcKDT},          {0x4, ProcOSVelt},     {0x5, ProcPlotVelt},
    {0x6, ProcTempVelt}, {0x7, ProcDDVelt},       {0x8, ProcKDPVelt},    {0xB, ProcDZOVelt},
    {0xC, ProcConfig22}, {0xD, ProcConfigSystem}, {0xE, ProcDZOTipVelt}, {0xF, ProcDZOSignVelt},
};

// Protocol 1.4 data commands by their high half; the low half is the channel address.
constexpr CommandRow<void (*)(HostContext&, int)> kCommands14[] = {
    {0x2, ProcLevel14}, {0x3, ProcTemp14}, {0x4, ProcLevelPV14}, {0x5, ProcPlot14},
    {0x6, ProcTempV14}, {0x8, ProcVol14},  {0xB, ProcMas14},
};

// The identification reply: the last byte is the XOR of the others.
constexpr uint8_t kIdentification[] = {0x00, 0x0A, 0x06, 0x3C, 0x30};

void SendFixed(HostContext& ctx, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), ctx.Link.Reply.begin());
    ctx.Send(static_cast<int>(bytes.size()));
}

// Link tests: the answer says whether the gauge system is answering us.
void SendLinkTest(HostContext& ctx, uint8_t okByte) {
    if (ctx.Table.GaugeLinkOk == 1) {
        const uint8_t reply[] = {kStatusOk, okByte};
        SendFixed(ctx, reply);
    } else {
        ctx.SendStatus(kStatusGaugeFault);
    }
}

void Recognise(HostContext& ctx, uint8_t b) {
    const int high = b >> 4;
    const int n = b & 0x0F;
    if (high == 0xA) {
        ctx.Link.SelectedGroup = n;
        ctx.SendStatus(kStatusOk, "Группа установлена");
        return;
    }
    if (high == 0xC) {
        ctx.Link.SelectedChannel = n;
        ctx.SendStatus(kStatusOk, "Канал установлена");
        return;
    }
    if (high == 0xD) {
        if (const auto reply = FindCommand(kSubCommands, n)) {
            reply(ctx);
        } else {
            ctx.SendStatus(kStatusNotServed);
        }
        return;
    }
    switch (b) {
        case 0x07:
            SendFixed(ctx, kIdentification);
            return;
        case 0x10:
            SendLinkTest(ctx, 0x55);
            return;
        case 0x14:
            SendLinkTest(ctx, 0xE0);
            return;
        case 0x11:
            ProcConfig14(ctx);
            return;
        default:
            break;
    }
    if (const auto reply = FindCommand(kCommands14, high)) {
        // A 1.4 data command also selects its channel for the 2.x commands that follow.
        ctx.Link.SelectedChannel = n;
        reply(ctx, n);
        return;
    }
    ctx.SendStatus(kStatusRejected);
}

}  // namespace

void OprosVelt(HostLink& link, const TankTable& table, SerialPort& port, OperationLog& log) {
    link.RxCount = port.ReadAvailable(link.RxBuffer.data(), static_cast<int>(link.RxBuffer.size()));
    ServeVelt(link, table, port, log);
}

void ServeVelt(HostLink& link, const TankTable& table, SerialPort& port, OperationLog& log) {
    HostContext ctx{link, table, port, log};
    if (link.RxCount < 0) {
        log.LogVelt("Ошибка связи");
        return;
    }
    if (link.RxCount == 0) return;
    // Requests are single bytes; two in one tick (or one burst) cannot be told apart, so neither
    // is served.
    if (link.RxCount >= 2) {
        ctx.SendStatus(kStatusRejected);
        return;
    }
    log.DumpVelt(link.RxBuffer.data(), 1);
    if (table.FirstCycleDone == 0) {
        ctx.SendStatus(kStatusInitialising, "Идет инициализация");
        return;
    }
    Recognise(ctx, link.RxBuffer[0]);
}

}  // namespace conv
