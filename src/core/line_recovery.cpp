#include "core/line_recovery.h"

#include "core/converter.h"

namespace conv {
namespace {

void Notice(Converter& c, Side side, const std::string& text) {
    if (side == Side::kModbus) {
        c.Log.NoticeModbus(text);
    } else {
        c.Log.NoticeVelt(text);
    }
}

}  // namespace

std::optional<SteadyTime> TendLine(Converter& c, Side side, SteadyTime now) {
    LineRecovery& r = c.Recovery(side);
    SerialPort& port = c.Port(side);
    const std::string& name = c.PortName(side);
    if (!r.Lost) {
        if (!port.IsOpen() || !port.DeviceGone()) return std::nullopt;
        port.Close();
        r.Lost = true;
        r.NextOpen = now + kReopenInterval;
        Notice(c, side,
               "Порт " + name + " потерян: устройство отключено. Повторное открытие каждые " +
                   std::to_string(kReopenInterval.count()) + " с");
        return r.NextOpen;
    }
    if (now < r.NextOpen) return r.NextOpen;
    const LineSettings& line = c.Settings(side);
    if (!port.Open(name, line.rxQueue, line.txQueue, line.baud, line.dataBits, line.stopCode,
                   line.parityCode)) {
        r.NextOpen = now + kReopenInterval;
        return r.NextOpen;
    }
    r.Lost = false;
    Notice(c, side, "Порт " + name + " снова открыт");
    return std::nullopt;
}

void ForgetLoss(Converter& c, Side side) {
    c.Recovery(side) = LineRecovery{};
}

}  // namespace conv
