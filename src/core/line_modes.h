// Each side runs either on its timer's ticks (the default: Timer1 800 ms, Timer2 55 ms) or in fast
// mode, where the side's scheduler is woken by arriving bytes and its own deadlines. What every
// program that drives the lines (the window, the Windows console driver, a service) does alike.
#pragma once

#include <string>

#include "serial/line_wait.h"

namespace conv {

struct Converter;
struct ProgramState;

// Before a side's line is opened: its port is to notify arrivals in fast mode only (a tick line
// opens exactly as it always has), and the MODBUS scheduler takes the configured times.
void PrepareModbusLine(Converter& c);
void PrepareVeltLine(Converter& c);

// After a side's line was opened in fast mode: its scheduler starts afresh.
void RestartModbusLine(Converter& c, MicroTime now);
void RestartVeltLine(Converter& c, MicroTime now);

// One scheduler step of a side in fast mode (FastPollStep, FastHostStep on the converter's parts).
LineWait ModbusFastStep(Converter& c, MicroTime now);
LineWait VeltFastStep(Converter& c, MicroTime now);

// The mode of each side as the main window shows it, after the side's caption.
std::string ModbusModeText(const ProgramState& s);
std::string VeltModeText(const ProgramState& s);

}  // namespace conv
