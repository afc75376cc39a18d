// Point measurements of a level gauge: density probes, temperature points and their heights.
#include <iterator>

#include "host/encodings.h"
#include "host/replies.h"
#include "store/tank_table.h"

namespace conv {

namespace {

constexpr int kPointsPerBlock = kParamGroupCount;

// One block of a command that sends several, picked by SelectedGroup: the number it is sent with
// (a density probe 1..5, or a block of temperature points 0..2) and its line in the log.
struct BlockRow {
    int Number;
    const char* Text;  // nullptr: no line
};

// The fifth probe has never had a line of its own in the log.
constexpr BlockRow kProbeBlocks[] = {
    {1, "Передача плотности 1 "},
    {2, "Передача плотности 2 "},
    {3, "Передача плотности 3 "},
    {4, "Передача плотности 4 "},
    {5, nullptr},
};
constexpr BlockRow kTempBlocks[] = {
    {0, "Передача температуры(1)"},
    {1, "Передача температуры(2)"},
    {2, "Передача температуры(3)"},
};
constexpr BlockRow kTempHeightBlocks[] = {
    {0, "Передача координат температуры(1)"},
    {1, "Передача координат температуры(2)"},
    {2, "Передача координат температуры(3)"},
};

constexpr TankChecks kProbeChecks{
    .NoTankDumped = false,
    .Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge, .Reply = kStatusNotServed},
    .Groups = static_cast<int>(std::size(kProbeBlocks)),
};
constexpr TankChecks kTempChecks{
    .NoTankDumped = false,
    .Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge, .Dumped = false},
    .Groups = static_cast<int>(std::size(kTempBlocks)),
};
// Heights are set up, not measured: a silent gauge leaves the last ones valid.
constexpr TankChecks kTempHeightChecks{
    .SilentIsFault = false,
    .Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge},
    .Groups = static_cast<int>(std::size(kTempHeightBlocks)),
};
constexpr TankChecks kProbeHeightChecks{
    .Types = {.How = TypeRule::Match::Only, .Type = kLevelGauge}};

void SendDensityProbe(HostContext& ctx, const TankEntry& tank, const BlockRow& row) {
    const int probe = row.Number;
    const ValueSlot density = tank.Density.Probe(probe);
    SendParameterBlock(
        ctx,
        {
            ParamGroup{ProcDPErr(density.FlagsByte), RoundedTenths(density.Value, kFactorDensity)},
            ParamGroup{{}, ToTenths(tank.Probe.ProbeTemp(probe))},
            kAbsentGroup,
            ParamGroup{{}, tank.ProbeHeightTenths(probe)},
            kAbsentGroup,
        },
        row.Text);
}

void SendTempBlock(HostContext& ctx, const TankEntry& tank, const BlockRow& row) {
    ParamGroups groups;
    for (int g = 0; g < kPointsPerBlock; ++g) {
        const int point = kPointsPerBlock * row.Number + g + 1;
        if (point > TempBlock::kPoints) {
            groups[static_cast<size_t>(g)] = kAbsentGroup;
            continue;
        }
        const ValueSlot t = tank.Temp.Point(point);
        groups[static_cast<size_t>(g)] = {ProcDTErr(t.FlagsByte), ToTenths(t.Value)};
    }
    SendParameterBlock(ctx, groups, row.Text);
}

void SendTempHeights(HostContext& ctx, const TankEntry& tank, const BlockRow& row) {
    uint16_t heights[kCoordinateCount] = {};
    size_t count = 0;
    for (int point = kPointsPerBlock * row.Number + 1;
         point <= TempCoordsBlock::kPoints && count < std::size(heights); ++point) {
        heights[count++] = tank.TempCoords.PointHeight(point);
    }
    SendCoordinateBlock(ctx, std::span(heights, count), row.Text);
}

void RunSelectedBlock(HostContext& ctx, const TankChecks& checks, const BlockRow* rows,
                      void (*send)(HostContext&, const TankEntry&, const BlockRow&)) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, checks);
    if (tank != nullptr) send(ctx, *tank, rows[ctx.Link.SelectedGroup]);
}

}  // namespace

void ProcPlotVelt(HostContext& ctx) {
    RunSelectedBlock(ctx, kProbeChecks, kProbeBlocks, SendDensityProbe);
}
void ProcTempVelt(HostContext& ctx) {
    RunSelectedBlock(ctx, kTempChecks, kTempBlocks, SendTempBlock);
}
void ProcKDT(HostContext& ctx) {
    RunSelectedBlock(ctx, kTempHeightChecks, kTempHeightBlocks, SendTempHeights);
}

void ProcKDPVelt(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kProbeHeightChecks);
    if (tank == nullptr) return;
    uint16_t heights[ProbeBlock::kProbes];
    for (int k = 1; k <= ProbeBlock::kProbes; ++k) heights[k - 1] = tank->Probe.ProbeHeight(k);
    SendCoordinateBlock(ctx, heights, "Передача координат плотности");
}

}  // namespace conv
