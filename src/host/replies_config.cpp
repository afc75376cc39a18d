// Configuration tables and replies, and the main parameters of a level gauge.
#include <optional>

#include "host/encodings.h"
#include "host/replies.h"
#include "store/tank_table.h"

namespace conv {

namespace {

// Set in the configuration bytes of a tank whose gauge reported no error.
constexpr uint8_t kOnline = 0x80;
// The configuration bytes of protocol 1.4 mark every served tank with this bit.
constexpr uint8_t kServed14 = 0x40;
// The only ConfigWord bit a pressure-sensor tank passes on (bit 10 -> flags bit 3).
constexpr uint16_t kPressureConfigBit = 1u << 10;
constexpr uint8_t kPressureFlag = 0x08;

struct FlagBit {
    int ConfigBit;
    uint8_t Flag;
};
constexpr FlagBit kChannelFlagBits[] = {{6, 0x01},  {3, 0x02}, {7, 0x04},
                                        {10, 0x08}, {9, 0x10}, {0, 0x20}};

uint8_t OnlineBit(const TankEntry& tank) {
    return tank.GaugeErrorCode == 0 ? kOnline : 0;
}

uint8_t PressureFlags(uint16_t configWord) {
    return (configWord & kPressureConfigBit) ? kPressureFlag : 0;
}

// Type code, marked online; other types keep what an earlier tank on the address wrote.
std::optional<uint8_t> SystemCode(const TankEntry& tank) {
    const int type = tank.TankType();
    if (type < kLevelGauge || type > kGasTank) return std::nullopt;
    return static_cast<uint8_t>(type | OnlineBit(tank));
}

std::optional<uint8_t> Code14(const TankEntry& tank) {
    switch (tank.TankType()) {
        case kLevelGauge:
            return static_cast<uint8_t>(ChannelFlags(tank.ConfigWord()) | kServed14 |
                                        OnlineBit(tank));
        case kPressureTank:
        case kGasTank:
            return static_cast<uint8_t>(kServed14 | OnlineBit(tank));
        default:
            return std::nullopt;
    }
}

// Every configured tank with an address 0..15 in ascending TankNumber, so that the
// higher-numbered of two tanks on one address is the one described.
ConfigTable BuildConfigTable(const TankTable& table,
                             std::optional<uint8_t> (*code)(const TankEntry&)) {
    ConfigTable out{};
    for (const TankEntry& tank : table.Tanks) {
        if (!tank.IsConfigured() || tank.ChannelAddress < 0 ||
            tank.ChannelAddress >= kChannelCount) {
            continue;
        }
        if (const auto c = code(tank)) out[static_cast<size_t>(tank.ChannelAddress)] = *c;
    }
    return out;
}

// What the 2.0 and 2.2 configurations say about a level gauge beyond its flags.
struct LevelGaugeConfig {
    uint8_t TempHeader;
    uint8_t DensityProbes;
    uint8_t PressureFitted;
};

LevelGaugeConfig LevelGaugeConfigOf(const TankEntry& tank) {
    const uint8_t density = tank.Density.HeaderByte();
    return {tank.Temp.HeaderByte(), static_cast<uint8_t>((density & 0x80) ? 1 : density & 0x0F),
            static_cast<uint8_t>((tank.Main.Dpf().FlagsByte & kFlagNotFitted) ? 0 : 1)};
}

// No type check: every tank type has a configuration.
constexpr TankChecks kConfigChecks{.NoTankDumped = false, .Types = {}};
constexpr TankChecks kMainChecks{.Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge}};

constexpr int kConfig20Length = 6;
constexpr int kConfig22Length = 10;

ParamGroup Measured(ValueSlot slot, double factor) {
    return {{ProcDZOErr(slot.State()), 0}, RoundedTenths(slot.Value, factor)};
}

}  // namespace

uint8_t ChannelFlags(uint16_t configWord) {
    uint8_t flags = 0;
    for (const FlagBit& b : kChannelFlagBits) {
        if (configWord & (1u << b.ConfigBit)) flags |= b.Flag;
    }
    return flags;
}

void ProcConfigSystem(HostContext& ctx) {
    SendConfigTable(ctx, BuildConfigTable(ctx.Table, SystemCode), "Передача конфигурации");
}

void ProcConfig14(HostContext& ctx) {
    SendConfigTable(ctx, BuildConfigTable(ctx.Table, Code14), "Передача конфигурации 1.4");
}

void ProcConfig20(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kConfigChecks);
    if (tank == nullptr) return;
    uint8_t* r = ctx.ClearReply(kConfigReplyClear);
    r[0] = kStatusOk;
    switch (tank->TankType()) {
        case kLevelGauge: {
            const LevelGaugeConfig lg = LevelGaugeConfigOf(*tank);
            r[1] = ChannelFlags(tank->ConfigWord()) | kOnline;
            r[2] = lg.TempHeader;
            r[3] = lg.DensityProbes;
            r[4] = lg.PressureFitted;
            break;
        }
        case kPressureTank:
            r[1] = kOnline | PressureFlags(tank->ConfigWord());
            r[4] = static_cast<uint8_t>(ProcCountDD(tank->Pressure));
            break;
        case kGasTank:
            r[1] = kOnline;
            break;
        default:
            break;
    }
    ctx.SendWithChecksum(kConfig20Length, "Передача конфигурации 2.0");
}

void ProcConfig22(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kConfigChecks);
    if (tank == nullptr) return;
    uint8_t* r = ctx.ClearReply(kConfigReplyClear);
    r[0] = kStatusOk;
    uint16_t flags = 0;
    switch (tank->TankType()) {
        case kLevelGauge: {
            const LevelGaugeConfig lg = LevelGaugeConfigOf(*tank);
            flags = ChannelFlags(tank->ConfigWord()) | kOnline;
            r[3] = lg.TempHeader;
            r[4] = lg.DensityProbes;
            r[5] = lg.PressureFitted;
            break;
        }
        case kPressureTank:
            flags = kOnline | PressureFlags(tank->ConfigWord());
            r[5] = static_cast<uint8_t>(ProcCountDD(tank->Pressure));
            break;
        case kGasTank:
            flags = 0x100 | kOnline;
            r[6] = static_cast<uint8_t>(ProcCountDZO(tank->Gas));
            break;
        default:
            break;
    }
    PutLe16(r + 1, flags);
    ctx.SendWithChecksum(kConfig22Length, "Передача конфигурации 2.2");
}

void ProcOSVelt(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kMainChecks);
    if (tank == nullptr) return;
    const MainBlock& m = tank->Main;
    SendParameterBlock(ctx,
                       {
                           Measured(m.Level(), kFactorTenths),
                           Measured(m.Volume(), kFactorTenths),
                           {ProcHvErr(m.WaterLevel().FlagsByte),
                            RoundedTenths(m.WaterLevel().Value, kFactorTenths)},
                           {{ProcDZOErr(m.MeanTemp().State()), 0}, ToTenths(m.MeanTemp().Value)},
                           Measured(m.MeanDensity(), kFactorDensity),
                           Measured(m.Mass(), kFactorTenths),
                       },
                       "Передача основных параметров");
}

}  // namespace conv
