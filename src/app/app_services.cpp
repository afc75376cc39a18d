#include "app/app_services.h"

#include "settings/settings_file.h"

namespace conv {

std::string AppServices::SettingsPath() const {
    return settingsDir + kSettingsFileName;
}

}  // namespace conv
