// Port names as the operator writes them ("Com1".."Com254", or a device path on Linux) and the
// device path that is opened for each.
#pragma once

#include <optional>
#include <string>

namespace conv {

// Linux: "ComN" (N 1..254) is /dev/ttyS(N-1); an absolute path is the device itself (opening it
// checks that it is a terminal), through links as well, as long as the system allows a path.
// Windows: the name itself when it has at most 4 characters, else "\\.\" and the name.
// nullopt for a name that cannot be a port (empty, too long, anything else).
std::optional<std::string> DevicePath(const std::string& name);

}  // namespace conv
