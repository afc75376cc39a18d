#include "core/line_modes.h"

#include <algorithm>

#include "core/converter.h"

namespace conv {

bool IsFast(const Converter& c, Side side) {
    return (side == Side::kModbus ? c.State.ModbusFast : c.State.VeltFast) == 1;
}

void PrepareLine(Converter& c, Side side) {
    c.Port(side).SetArrivalNotification(IsFast(c, side));
    if (side == Side::kModbus) {
        c.FastModbus.Timing =
            FastPollTiming::FromMs(c.State.ModbusTimeoutMs, c.State.ModbusPauseMs);
    }
}

void RestartLine(Converter& c, Side side, MicroTime now) {
    if (side == Side::kModbus) {
        FastPollRestart(c.FastModbus, c.Poll, now);
    } else {
        FastHostRestart(c.FastVelt);
    }
}

LineWait FastLineStep(Converter& c, Side side, MicroTime now) {
    const SteadyTime at = AsSteady(now);
    if (c.Recovery(side).Lost) {
        TendLine(c, side, at);
        if (!c.Recovery(side).Lost) RestartLine(c, side, now);
    }
    LineWait wait = side == Side::kModbus
                        ? FastPollStep(c.FastModbus, c.Poll, c.Table, *c.ModbusPort, c.Log, now)
                        : FastHostStep(c.FastVelt, c.Host, c.Table, *c.VeltPort, c.Log, now);
    if (const std::optional<SteadyTime> reopen = TendLine(c, side, at)) {
        // Nothing arrives on a closed port; its next attempt to open is one more deadline.
        wait.OnArrival = false;
        wait.Deadline = std::min(wait.Deadline, AsMicros(*reopen));
    }
    return wait;
}

std::string ModbusModeText(const ProgramState& s) {
    if (s.ModbusFast != 1) return "такт 800 мс";
    return "быстрый: ожидание " + std::to_string(s.ModbusTimeoutMs) + " мс, пауза " +
           std::to_string(s.ModbusPauseMs) + " мс";
}

std::string VeltModeText(const ProgramState& s) {
    return s.VeltFast == 1 ? "быстрый ответ" : "такт 55 мс";
}

}  // namespace conv
