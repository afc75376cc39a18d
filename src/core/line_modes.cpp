#include "core/line_modes.h"

#include "core/converter.h"

namespace conv {

void PrepareModbusLine(Converter& c) {
    c.ModbusPort->SetArrivalNotification(c.State.ModbusFast == 1);
    c.FastModbus.Timing = FastPollTiming::FromMs(c.State.ModbusTimeoutMs, c.State.ModbusPauseMs);
}

void PrepareVeltLine(Converter& c) {
    c.VeltPort->SetArrivalNotification(c.State.VeltFast == 1);
}

void RestartModbusLine(Converter& c, MicroTime now) {
    FastPollRestart(c.FastModbus, c.Poll, now);
}

void RestartVeltLine(Converter& c, MicroTime /*now*/) {
    FastHostRestart(c.FastVelt);
}

LineWait ModbusFastStep(Converter& c, MicroTime now) {
    return FastPollStep(c.FastModbus, c.Poll, c.Table, *c.ModbusPort, c.Log, now);
}

LineWait VeltFastStep(Converter& c, MicroTime now) {
    return FastHostStep(c.FastVelt, c.Host, c.Table, *c.VeltPort, c.Log, now);
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
