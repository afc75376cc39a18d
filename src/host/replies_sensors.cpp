// Pressure sensors and gas-contamination sensors.
#include "host/encodings.h"
#include "host/replies.h"
#include "store/tank_table.h"

namespace conv {

namespace {

constexpr TankChecks kPressureChecks{.Types = {.How = TypeRule::Match::AllBut, .Type = kGasTank}};
constexpr TankChecks kGasChecks{.Types = {.How = TypeRule::Match::Only, .Type = kGasTank}};

// The sensor-kind pair of 0xDE carries these in place of sensors 6..9.
constexpr uint16_t kNoSensorKind = 0x0020;

const TankEntry* GasTank(HostContext& ctx) {
    return CheckTank(ctx, ctx.Link.SelectedChannel, kGasChecks);
}

ParamGroup Pressure(ValueSlot slot) {
    return {{ProcDDErrVelt(slot.State()), 0}, RoundedTenths(slot.Value, kFactorTenths)};
}

// Gas sensors fill groups 1..5; the rest say "no sensor".
template <typename ValueOf>
ParamGroups GasGroups(const GasBlock& gas, ValueOf value) {
    ParamGroups groups;
    groups.fill(kAbsentGroup);
    for (int k = 1; k <= GasBlock::kSensors; ++k) {
        const ValueSlot s = gas.Sensor(k);
        groups[static_cast<size_t>(k - 1)] = {
            {ProcDZOErr(s.State()), ProcDZOState(s.State()).First}, value(s)};
    }
    return groups;
}

// The kind test looks at three bits of the high byte where ProcDZOState looks at four, and the
// state test puts 0x80 before 0x02 where ProcDZOErr does the opposite; both are kept as the host
// has always received them.
uint8_t GasKind(const ValueSlot& s) {
    return (s.StateFirstByte & 0x07) == 2 ? 1 : 2;
}
uint8_t GasState(const ValueSlot& s) {
    if (s.FlagsByte & kFlagNotFitted) return 0x01;
    if (s.FlagsByte & 0x80) return 0x32;
    if (s.FlagsByte & 0x02) return 0x38;
    return 0;
}

}  // namespace

void ProcDDVelt(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kPressureChecks);
    if (tank == nullptr) return;
    ParamGroups groups{};
    if (tank->TankType() == kPressureTank) {
        for (int k = 1; k <= PressureBlock::kSensors; ++k) {
            groups[static_cast<size_t>(k - 1)] = Pressure(tank->Pressure.Sensor(k));
        }
    } else if (tank->TankType() == kLevelGauge) {
        groups.fill(kAbsentGroup);
        groups[0] = Pressure(tank->Main.Dpf());
    }
    SendParameterBlock(ctx, groups, "Передача давления");
}

void ProcDZOVelt(HostContext& ctx) {
    const TankEntry* tank = GasTank(ctx);
    if (tank == nullptr) return;
    SendParameterBlock(
        ctx,
        GasGroups(tank->Gas,
                  [](const ValueSlot& s) { return RoundedTenths(s.Value, kFactorTenths); }),
        "Передача параметров ДЗО");
}

void ProcDZOSignVelt(HostContext& ctx) {
    const TankEntry* tank = GasTank(ctx);
    if (tank == nullptr) return;
    SendParameterBlock(
        ctx,
        GasGroups(tank->Gas,
                  [](const ValueSlot& s) { return int32_t{ProcDZOState(s.State()).Second}; }),
        "Передача сигнализации ДЗО");
}

void ProcDZOTipVelt(HostContext& ctx) {
    const TankEntry* tank = GasTank(ctx);
    if (tank == nullptr) return;
    // Kind and state of a sensor travel as one little-endian pair.
    uint16_t pairs[kCoordinateCount];
    for (int k = 1; k <= GasBlock::kSensors; ++k) {
        const ValueSlot s = tank->Gas.Sensor(k);
        pairs[k - 1] = static_cast<uint16_t>(GasKind(s) | GasState(s) << 8);
    }
    for (int i = GasBlock::kSensors; i < kCoordinateCount; ++i) pairs[i] = kNoSensorKind;
    SendCoordinateBlock(ctx, pairs, "Передача ДЗО");
}

}  // namespace conv
