#include "host/host_link.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "app/operation_log.h"
#include "host/replies.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

namespace {

using Routine = void (*)(HostContext&);
using Routine14 = void (*)(HostContext&, int);

// Sub-commands of 0xDn; the gaps are not served.
constexpr Routine kSubCommands[16] = {
    nullptr,      nullptr,          ProcConfig20,   ProcKDT,         ProcOSVelt, ProcPlotVelt,
    ProcTempVelt, ProcDDVelt,       ProcKDPVelt,    nullptr,         nullptr,    ProcDZOVelt,
    ProcConfig22, ProcConfigSystem, ProcDZOTipVelt, ProcDZOSignVelt,
};

struct Command14 {
    int High;
    Routine14 Reply;
};
constexpr Command14 kCommands14[] = {
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
        if (const Routine r = kSubCommands[n]) {
            r(ctx);
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
    const auto* c = std::find_if(std::begin(kCommands14), std::end(kCommands14),
                                 [high](const Command14& c) { return c.High == high; });
    if (c != std::end(kCommands14)) {
        // A 1.4 data command also selects its channel for the 2.x commands that follow.
        ctx.Link.SelectedChannel = n;
        c->Reply(ctx, n);
        return;
    }
    ctx.SendStatus(kStatusRejected);
}

}  // namespace

void OprosVelt(HostLink& link, const TankTable& table, SerialPort& port, OperationLog& log) {
    HostContext ctx{link, table, port, log};
    link.RxCount = port.ReadAvailable(link.RxBuffer.data(), static_cast<int>(link.RxBuffer.size()));
    if (link.RxCount < 0) {
        log.LogVelt("Ошибка связи");
        return;
    }
    if (link.RxCount == 0) return;
    // Requests are single bytes; two in one tick cannot be told apart, so neither is served.
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
