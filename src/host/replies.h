// The reply routines of the host protocol, one per command (and one per block where a command
// serves several blocks). OprosVelt picks them; each one checks its tank and sends exactly one
// reply.
#pragma once

#include <cstdint>

#include "host/reply.h"

namespace conv {

struct TankEntry;
struct MainBlock;

// ---- Configuration and main parameters ----

// Channel flags byte of a level gauge, gathered from the scattered bits of its ConfigWord.
uint8_t ChannelFlags(uint16_t configWord);

void ProcConfigSystem(HostContext& ctx);  // 0xDD
void ProcConfig14(HostContext& ctx);      // 0x11
void ProcConfig20(HostContext& ctx);      // 0xD2
void ProcConfig22(HostContext& ctx);      // 0xDC
void ProcOSVelt(HostContext& ctx);        // 0xD4

// ---- Density probes, temperature points and their heights ----

void ProcPlotVelt(HostContext& ctx);  // 0xD5, probe SelectedGroup + 1
void ProcTempVelt(HostContext& ctx);  // 0xD6, block SelectedGroup
void ProcKDT(HostContext& ctx);       // 0xD3, block SelectedGroup
void ProcKDPVelt(HostContext& ctx);   // 0xD8

// Density probe k = 1..5 and temperature block b = 0..2 of a tank that passed the checks.
void SendDensityProbe(HostContext& ctx, const TankEntry& tank, int probe);
void SendTempBlock(HostContext& ctx, const TankEntry& tank, int block);
void SendTempHeights(HostContext& ctx, const TankEntry& tank, int block);

inline void ProcPlot0(HostContext& c, const TankEntry& t) {
    SendDensityProbe(c, t, 1);
}
inline void ProcPlot1(HostContext& c, const TankEntry& t) {
    SendDensityProbe(c, t, 2);
}
inline void ProcPlot2(HostContext& c, const TankEntry& t) {
    SendDensityProbe(c, t, 3);
}
inline void ProcPlot3(HostContext& c, const TankEntry& t) {
    SendDensityProbe(c, t, 4);
}
inline void ProcPlot4(HostContext& c, const TankEntry& t) {
    SendDensityProbe(c, t, 5);
}
inline void ProcTempVelt0(HostContext& c, const TankEntry& t) {
    SendTempBlock(c, t, 0);
}
inline void ProcTempVelt1(HostContext& c, const TankEntry& t) {
    SendTempBlock(c, t, 1);
}
inline void ProcTempVelt2(HostContext& c, const TankEntry& t) {
    SendTempBlock(c, t, 2);
}
inline void ProcKDTVelt0(HostContext& c, const TankEntry& t) {
    SendTempHeights(c, t, 0);
}
inline void ProcKDTVelt1(HostContext& c, const TankEntry& t) {
    SendTempHeights(c, t, 1);
}
inline void ProcKDTVelt2(HostContext& c, const TankEntry& t) {
    SendTempHeights(c, t, 2);
}

// ---- Pressure and gas sensors ----

void ProcDDVelt(HostContext& ctx);       // 0xD7
void ProcDZOVelt(HostContext& ctx);      // 0xDB
void ProcDZOTipVelt(HostContext& ctx);   // 0xDE
void ProcDZOSignVelt(HostContext& ctx);  // 0xDF

// ---- Protocol 1.4: one quantity of channel address n per request ----

void ProcLevel14(HostContext& ctx, int channel);    // 0x2n
void ProcTemp14(HostContext& ctx, int channel);     // 0x3n
void ProcLevelPV14(HostContext& ctx, int channel);  // 0x4n
void ProcPlot14(HostContext& ctx, int channel);     // 0x5n
void ProcTempV14(HostContext& ctx, int channel);    // 0x6n
void ProcVol14(HostContext& ctx, int channel);      // 0x8n
void ProcMas14(HostContext& ctx, int channel);      // 0xBn

}  // namespace conv
