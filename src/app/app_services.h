// What the windows get from the outside world: message boxes, the modal showing of dialogs, the
// folder of the settings file and the serial ports. The program passes the real ones; the GUI
// tests pass their own, so that every box and dialog can be answered without a modal loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "log/message_boxes.h"
#include "serial/serial_port.h"

class QDialog;

namespace conv {

class DialogRunner {
  public:
    virtual ~DialogRunner() = default;
    // Shows the dialog modally and returns when it has closed.
    virtual void Run(QDialog& dialog) = 0;
};

struct AppServices {
    MessageBoxes* boxes = nullptr;
    DialogRunner* dialogs = nullptr;
    std::string settingsDir;  // ends with the path separator
    std::function<std::unique_ptr<SerialPort>()> makePort = MakeSystemSerialPort;
    std::function<int(const std::string&)> probePort = ProbePort;

    std::string SettingsPath() const;
};

}  // namespace conv
