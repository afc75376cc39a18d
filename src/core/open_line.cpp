#include "core/open_line.h"

#include "log/message_boxes.h"

namespace conv {

bool OpenLine(SerialPort& port, const std::string& name, const LineSettings& line,
              MessageBoxes& boxes) {
    const bool ok = port.Open(name, line.rxQueue, line.txQueue, line.baud, line.dataBits,
                              line.stopCode, line.parityCode);
    if (!ok) boxes.Show(line.errorText, kPortErrorCaption);
    return ok;
}

}  // namespace conv
