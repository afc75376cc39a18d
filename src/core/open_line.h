// Opening a side's serial line as the operator meets it: with the side's fixed settings, and a box
// naming the side when the port cannot be opened.
#pragma once

#include <string>

#include "core/line_recovery.h"
#include "serial/serial_port.h"

namespace conv {

class MessageBoxes;
struct Converter;

// Caption of the open-failure box: a space on each side.
inline constexpr const char* kPortErrorCaption = " OUT ";

// Opens `port` on `name` with the side's fixed settings; on failure shows the side's error box.
bool OpenLine(SerialPort& port, const std::string& name, const LineSettings& line,
              MessageBoxes& boxes);
inline bool OpenModbusPort(SerialPort& port, const std::string& name, MessageBoxes& boxes) {
    return OpenLine(port, name, kModbusLine, boxes);
}
inline bool OpenVeltPort(SerialPort& port, const std::string& name, MessageBoxes& boxes) {
    return OpenLine(port, name, kVeltLine, boxes);
}

// A side in use as the start-up (and a reconfiguration) brings it up: opens its port for the
// side's mode (core/line_modes.h), with the side's box when that fails, and logs the port's name
// ("MODBUS - Com5") and its line settings. A fast side's scheduler is then restarted by its loop.
void StartLine(Converter& c, Side side, MessageBoxes& boxes);

}  // namespace conv
