#include "host/reply.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "log/operation_log.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

namespace {

constexpr int kParamBlockLength = 56;
constexpr int kParamGroupLength = 6;
constexpr int kCoordinateBlockLength = 20;
constexpr int kConfigTableLength = 18;

}  // namespace

uint8_t* HostContext::ClearReply(int count) {
    std::fill_n(Link.Reply.begin(), count, uint8_t{0});
    return Link.Reply.data();
}

void HostContext::Send(int length, const char* text, bool dumped) {
    // A failed write is not repeated: the host asks again.
    Port.Write(Link.Reply.data(), length);
    if (text != nullptr) Log.LogVelt(text);
    if (dumped) Log.DumpVelt(Link.Reply.data(), length);
}

void HostContext::SendWithChecksum(int length, const char* text) {
    Link.Reply[static_cast<size_t>(length - 1)] =
        XorChecksum(std::span(Link.Reply.data(), static_cast<size_t>(length - 1)));
    Send(length, text);
}

void HostContext::SendStatus(uint8_t status, const char* text, bool dumped) {
    Link.Reply[0] = status;
    Send(1, text, dumped);
}

uint8_t XorChecksum(std::span<const uint8_t> bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), uint8_t{0}, std::bit_xor<uint8_t>());
}

void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (8 * i));
}

void SendParameterBlock(HostContext& ctx, const ParamGroups& groups, const char* text) {
    uint8_t* reply = ctx.ClearReply(kDataReplyClear);
    reply[0] = kStatusOk;
    uint8_t* at = reply + 1;
    for (const ParamGroup& g : groups) {
        at[0] = g.Status.First;
        at[1] = g.Status.Second;
        PutLe32(at + 2, g.Value);
        at += kParamGroupLength;
    }
    ctx.SendWithChecksum(kParamBlockLength, text);
}

void SendCoordinateBlock(HostContext& ctx, std::span<const uint16_t> values, const char* text) {
    uint8_t* reply = ctx.ClearReply(kDataReplyClear);
    reply[0] = kStatusOk;
    const size_t n = std::min(values.size(), static_cast<size_t>(kCoordinateCount));
    for (size_t i = 0; i < n; ++i) PutLe16(reply + 1 + 2 * i, values[i]);
    ctx.SendWithChecksum(kCoordinateBlockLength, text);
}

void SendConfigTable(HostContext& ctx, const ConfigTable& table, const char* text) {
    uint8_t* reply = ctx.ClearReply(kConfigReplyClear);
    reply[0] = kStatusOk;
    std::copy(table.begin(), table.end(), reply + 1);
    ctx.SendWithChecksum(kConfigTableLength, text);
}

bool TypeRule::Serves(int tankType) const {
    switch (How) {
        case Match::Only:
            return tankType == Type;
        case Match::AllBut:
            return tankType != Type;
        case Match::Any:
            break;
    }
    return true;
}

const TankEntry* CheckTank(HostContext& ctx, int channel, const TankChecks& checks) {
    const TankEntry* tank = ctx.Table.FindByChannel(channel);
    if (tank == nullptr) {
        ctx.SendStatus(kStatusNoData, nullptr, checks.NoTankDumped);
        return nullptr;
    }
    if (tank->LinkState == kLinkFaulty ||
        (checks.SilentIsFault && tank->LinkState == kLinkSilent)) {
        ctx.SendStatus(checks.LinkFaultReply);
        return nullptr;
    }
    if (tank->GaugeErrorCode != 0) {
        ctx.SendStatus(checks.MapGaugeError ? ProcChanErr(tank->GaugeErrorCode) : kStatusNoData);
        return nullptr;
    }
    if (!checks.Types.Serves(tank->TankType())) {
        ctx.SendStatus(checks.Types.Reply, nullptr, checks.Types.Dumped);
        return nullptr;
    }
    const int group = ctx.Link.SelectedGroup;
    if (checks.Groups > 0 && (group < 0 || group >= checks.Groups)) {
        ctx.SendStatus(kStatusNotServed);
        return nullptr;
    }
    return tank;
}

}  // namespace conv
