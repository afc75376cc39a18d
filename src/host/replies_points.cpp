// Point measurements of a level gauge: density probes, temperature points and their heights.
#include <iterator>

#include "host/encodings.h"
#include "host/replies.h"
#include "store/tank_table.h"

namespace conv {

namespace {

using BlockRoutine = void (*)(HostContext&, const TankEntry&);

constexpr BlockRoutine kProbeBlocks[] = {ProcPlot0, ProcPlot1, ProcPlot2, ProcPlot3, ProcPlot4};
constexpr BlockRoutine kTempBlocks[] = {ProcTempVelt0, ProcTempVelt1, ProcTempVelt2};
constexpr BlockRoutine kTempHeightBlocks[] = {ProcKDTVelt0, ProcKDTVelt1, ProcKDTVelt2};

constexpr int kPointsPerBlock = kParamGroupCount;

// The fifth probe has never had a line of its own in the log.
constexpr const char* kProbeTexts[] = {"Передача плотности 1 ", "Передача плотности 2 ",
                                       "Передача плотности 3 ", "Передача плотности 4 ", nullptr};
constexpr const char* kTempTexts[] = {"Передача температуры(1)", "Передача температуры(2)",
                                      "Передача температуры(3)"};
constexpr const char* kTempHeightTexts[] = {"Передача координат температуры(1)",
                                            "Передача координат температуры(2)",
                                            "Передача координат температуры(3)"};

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
    .Types = {TypeRule::Match::Only, kLevelGauge},
    .Groups = static_cast<int>(std::size(kTempHeightBlocks)),
};
constexpr TankChecks kProbeHeightChecks{.Types = {TypeRule::Match::Only, kLevelGauge}};

void RunSelectedBlock(HostContext& ctx, const TankChecks& checks, const BlockRoutine* blocks) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, checks);
    if (tank != nullptr) blocks[ctx.Link.SelectedGroup](ctx, *tank);
}

}  // namespace

void ProcPlotVelt(HostContext& ctx) {
    RunSelectedBlock(ctx, kProbeChecks, kProbeBlocks);
}
void ProcTempVelt(HostContext& ctx) {
    RunSelectedBlock(ctx, kTempChecks, kTempBlocks);
}
void ProcKDT(HostContext& ctx) {
    RunSelectedBlock(ctx, kTempHeightChecks, kTempHeightBlocks);
}

void SendDensityProbe(HostContext& ctx, const TankEntry& tank, int probe) {
    const ValueSlot density = tank.Density.Probe(probe);
    // Tenths of a millimetre: the whole height plus the gauge's signed refinement.
    const int32_t height =
        tank.Probe.ProbeHeight(probe) * 10 + tank.Density.HeightRefinement(probe);
    SendParameterBlock(
        ctx,
        {
            ParamGroup{ProcDPErr(density.FlagsByte), RoundedTenths(density.Value, kFactorDensity)},
            ParamGroup{{}, ToTenths(tank.Probe.ProbeTemp(probe))},
            kAbsentGroup,
            ParamGroup{{}, height},
            kAbsentGroup,
        },
        kProbeTexts[probe - 1]);
}

void SendTempBlock(HostContext& ctx, const TankEntry& tank, int block) {
    ParamGroups groups;
    for (int g = 0; g < kPointsPerBlock; ++g) {
        const int point = kPointsPerBlock * block + g + 1;
        if (point > TempBlock::kPoints) {
            groups[static_cast<size_t>(g)] = kAbsentGroup;
            continue;
        }
        const ValueSlot t = tank.Temp.Point(point);
        groups[static_cast<size_t>(g)] = {ProcDTErr(t.FlagsByte), ToTenths(t.Value)};
    }
    SendParameterBlock(ctx, groups, kTempTexts[block]);
}

void SendTempHeights(HostContext& ctx, const TankEntry& tank, int block) {
    uint16_t heights[kCoordinateCount] = {};
    size_t count = 0;
    for (int point = kPointsPerBlock * block + 1;
         point <= TempBlock::kPoints && count < std::size(heights); ++point) {
        heights[count++] = tank.TempCoords.PointHeight(point);
    }
    SendCoordinateBlock(ctx, std::span(heights, count), kTempHeightTexts[block]);
}

void ProcKDPVelt(HostContext& ctx) {
    const TankEntry* tank = CheckTank(ctx, ctx.Link.SelectedChannel, kProbeHeightChecks);
    if (tank == nullptr) return;
    uint16_t heights[DensityBlock::kProbes];
    for (int k = 1; k <= DensityBlock::kProbes; ++k) heights[k - 1] = tank->Probe.ProbeHeight(k);
    SendCoordinateBlock(ctx, heights, "Передача координат плотности");
}

}  // namespace conv
