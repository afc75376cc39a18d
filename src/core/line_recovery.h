// A side whose serial device vanishes (an unplugged USB adapter, a pseudo-terminal whose far end
// closed) comes back by itself: its port is closed and opened again every few seconds until it
// opens. The protocol side does not notice: a closed port reads nothing and sends nothing, so the
// poll cycle's outcome rules and the host's silence go on as for a dead line. One line is logged
// at the loss and one at the return, never one per attempt. Driven by the owner's clock, so that
// a window's timers, a service loop and a test's virtual clock can all run it.
#pragma once

#include <chrono>
#include <optional>

namespace conv {

struct Converter;

enum class Side { kModbus, kVelt };

using SteadyTime = std::chrono::steady_clock::time_point;

// How long a lost side waits before each new attempt to open its port.
inline constexpr std::chrono::seconds kReopenInterval{5};

struct LineRecovery {
    bool Lost = false;      // the device went away; the port is closed until it opens again
    SteadyTime NextOpen{};  // when the next attempt is due
};

// Call after every step that used the side's port, and whenever the time it returned has come.
// A port whose device has gone is closed and the loss logged; a lost port whose time has come is
// opened again with the side's settings, and logged when it opens. Returns when it wants to be
// called next (only while the side is lost), or nullopt.
std::optional<SteadyTime> TendLine(Converter& c, Side side, SteadyTime now);

// Drops a loss without a word: for a reconfiguration, which closes and reopens the ports itself.
void ForgetLoss(Converter& c, Side side);

}  // namespace conv
