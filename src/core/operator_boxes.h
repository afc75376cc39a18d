// What several windows (and the service) tell the operator alike: the program's name and version,
// the caption of their boxes and the box of a refused write to the settings file.
#pragma once

namespace conv {

class MessageBoxes;
class SettingsFile;

// Caption of the boxes that the framework would title with the application name.
inline constexpr const char* kAppTitle = "Конвертор";
// The main window's caption, which is also how the service names itself with its version.
inline constexpr const char* kMainCaption = "Конвертор Modbus Torvik+ -> Velt. Версия 00.08";

// The box shown when the platform refuses a write to the settings file.
void ReportWriteError(MessageBoxes& boxes, const SettingsFile& file);

}  // namespace conv
