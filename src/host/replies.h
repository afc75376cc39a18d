// The reply routines of the host protocol, one per command (and one per block where a command
// serves several blocks). OprosVelt picks them; each one checks its tank and sends exactly one
// reply.
#pragma once

#include <cstdint>

#include "host/reply.h"

namespace conv {

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
