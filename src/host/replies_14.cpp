// Protocol 1.4: one quantity of one channel address per request, in short fixed layouts.
#include <algorithm>

#include "host/encodings.h"
#include "host/replies.h"
#include "store/tank_table.h"

namespace conv {

namespace {

enum class Layout14 {
    Packed,        // 00, packed value, checksum
    WholeByte,     // 00, whole units in one byte
    Temperatures,  // 00, T1, T2, T3, mean, checksum (half-degree bytes)
    HalfDegree,    // 00, one half-degree byte
};

struct Row14 {
    // The value whose state decides the answer; sent itself except by Temperatures.
    ValueSlot (MainBlock::*Slot)() const;
    double Factor;  // of the packed and whole-unit layouts; temperatures have their own rounding
    Layout14 Layout;
    const char* Text;
    const char* ErrorText;
};

constexpr Row14 kLevel{&MainBlock::Level, kFactorTenths, Layout14::Packed, "Передача уровня",
                       "Передача ошибки по H"};
constexpr Row14 kVolume{&MainBlock::Volume, kFactorTenths, Layout14::Packed, "Передача объема",
                        "Передача ошибки по объему"};
constexpr Row14 kMass{&MainBlock::Mass, kFactorTenths, Layout14::Packed, "Передача массы",
                      "Передача ошибки по массе"};
constexpr Row14 kDensity{&MainBlock::MeanDensity, kFactorDensity, Layout14::Packed,
                         "Передача плотности", "Передача ошибки по P"};
constexpr Row14 kWaterLevel{&MainBlock::WaterLevel, kFactorTenths, Layout14::WholeByte,
                            "Передача подтоварной воды", "Передача ошибки по Hv"};
constexpr Row14 kTemperatures{&MainBlock::MeanTemp, 0, Layout14::Temperatures,
                              "Передача температуры", "Передача ошибки по T"};
constexpr Row14 kSurfaceTemp{&MainBlock::Tap, 0, Layout14::HalfDegree,
                             "Передача поверхностной температуры", "Передача ошибки по Tp"};

// A 1.4 host tells a silent gauge (0x06) from a faulty one, and knows no finer gauge errors.
constexpr TankChecks kChecks14{
    .NoTankDumped = false,
    .LinkFaultReply = kStatusNoAnswer14,
    .MapGaugeError = false,
    .Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge},
};

// Fills the reply after its status byte and sends it; the short replies of two bytes carry no
// checksum.
void Send14(HostContext& ctx, const TankEntry& tank, const ValueSlot& value, const Row14& row) {
    uint8_t* r = ctx.Link.Reply.data();
    switch (row.Layout) {
        case Layout14::Packed: {
            const auto packed = PackValue14(RoundedTenths(value.Value, row.Factor));
            std::copy(packed.begin(), packed.end(), r + 1);
            ctx.SendWithChecksum(5, row.Text);
            break;
        }
        case Layout14::WholeByte:
            r[1] = WholeUnitsByte(RoundedTenths(value.Value, row.Factor));
            ctx.Send(2, row.Text);
            break;
        case Layout14::Temperatures:
            // Only the mean temperature's state is looked at; the points go as stored.
            for (int k = 1; k <= 3; ++k) r[k] = HalfDegreeByte(tank.Temp.Point(k).Value);
            r[4] = HalfDegreeByte(value.Value);
            ctx.SendWithChecksum(6, row.Text);
            break;
        case Layout14::HalfDegree:
            r[1] = HalfDegreeByte(value.Value);
            ctx.Send(2, row.Text);
            break;
    }
}

void Reply14(HostContext& ctx, int channel, const Row14& row) {
    const TankEntry* tank = CheckTank(ctx, channel, kChecks14);
    if (tank == nullptr) return;
    uint8_t* r = ctx.ClearReply(kDataReplyClear);
    r[0] = kStatusOk;
    const ValueSlot value = (tank->Main.*row.Slot)();
    const uint8_t code = ProcDZOErr(value.State());
    if (code != 0) {
        ctx.SendStatus(code == 0x01 ? kStatusNoData : kStatusGaugeFault, row.ErrorText);
        return;
    }
    Send14(ctx, *tank, value, row);
}

}  // namespace

void ProcLevel14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kLevel);
}
void ProcTemp14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kTemperatures);
}
void ProcLevelPV14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kWaterLevel);
}
void ProcPlot14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kDensity);
}
void ProcTempV14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kSurfaceTemp);
}
void ProcVol14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kVolume);
}
void ProcMas14(HostContext& ctx, int channel) {
    Reply14(ctx, channel, kMass);
}

}  // namespace conv
