// --check-config: the settings file read as the service's start-up would read it, without creating
// or changing it and without opening a port, so that a file can be checked on a box whose
// service is running (and before telling it to read the file again).
#pragma once

#include <string>
#include <vector>

namespace conv::service {

struct ConfigReport {
    std::vector<std::string> settings;  // what the service would run with, one line each
    std::vector<std::string> problems;  // values it would not take as written, one line each
};

ConfigReport CheckConfig(const std::string& path);

}  // namespace conv::service
