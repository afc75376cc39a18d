// What several windows tell the operator alike: the caption of their boxes and the box of a
// refused write to the settings file.
#pragma once

namespace conv {

class MessageBoxes;
class SettingsFile;

// Caption of the boxes that the framework would title with the application name.
inline constexpr const char* kAppTitle = "Конвертор";

// The box shown when the platform refuses a write to the settings file.
void ReportWriteError(MessageBoxes& boxes, const SettingsFile& file);

}  // namespace conv
