// Each side runs either on its timer's ticks (the default: Timer1 800 ms, Timer2 55 ms) or in fast
// mode, where the side's scheduler is woken by arriving bytes and its own deadlines. What every
// program that drives the lines (the window, the service) does alike.
#pragma once

#include <string>

#include "core/line_recovery.h"
#include "serial/line_wait.h"

namespace conv {

struct Converter;
struct ProgramState;

bool IsFast(const Converter& c, Side side);

// The schedulers' clock and the reopen times' clock are one: steady_clock, counted in
// microseconds from its epoch.
inline MicroTime AsMicros(SteadyTime t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}
inline SteadyTime AsSteady(MicroTime t) {
    return SteadyTime(
        std::chrono::duration_cast<SteadyTime::duration>(std::chrono::microseconds(t)));
}

// Before a side's line is opened: its port is to notify arrivals in fast mode only (a tick line
// opens exactly as it always has), and the MODBUS scheduler takes the configured times.
void PrepareLine(Converter& c, Side side);

// After a side's line was opened in fast mode: its scheduler starts afresh.
void RestartLine(Converter& c, Side side, MicroTime now);

// One step of a side in fast mode, with its port tended as a tick line's is after each tick: a
// device that has gone is closed, and while it is away the port is tried again every
// kReopenInterval (a deadline of the returned wait); the scheduler goes on meanwhile, on a closed
// port that reads and sends nothing, so the poll cycle's outcome rules apply as on the tick. When
// the port opens again its scheduler starts afresh, and the loop finds a new ArrivalHandle().
// `now` is AsMicros() of the loop's steady_clock time.
LineWait FastLineStep(Converter& c, Side side, MicroTime now);

// The mode of each side as the main window shows it, after the side's caption.
std::string ModbusModeText(const ProgramState& s);
std::string VeltModeText(const ProgramState& s);

}  // namespace conv
