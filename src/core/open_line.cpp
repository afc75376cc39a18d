#include "core/open_line.h"

#include "core/converter.h"
#include "core/line_modes.h"
#include "log/message_boxes.h"

namespace conv {

bool OpenLine(SerialPort& port, const std::string& name, const LineSettings& line,
              MessageBoxes& boxes) {
    const bool ok = port.Open(name, line.rxQueue, line.txQueue, line.baud, line.dataBits,
                              line.stopCode, line.parityCode);
    if (!ok) boxes.Show(line.errorText, kPortErrorCaption);
    return ok;
}

void StartLine(Converter& c, Side side, MessageBoxes& boxes) {
    const LineSettings& line = Converter::Settings(side);
    const std::string& name = c.PortName(side);
    PrepareLine(c, side);
    OpenLine(c.Port(side), name, line, boxes);
    if (side == Side::kModbus) {
        c.Log.LogModbus("MODBUS - " + name);
        c.Log.LogModbus(line.logLine);
    } else {
        c.Log.LogVelt("VELT - " + name);
        c.Log.LogVelt(line.logLine);
    }
}

}  // namespace conv
