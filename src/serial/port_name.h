// Port names as the operator writes them ("Com1".."Com254", or a device path on Linux) and the
// device path that is opened for each.
#pragma once

#include <optional>
#include <string>

namespace conv {

// Linux: "ComN" (N 1..254) is /dev/ttyS(N-1); a name beginning with "/dev/" is the device itself.
// Windows: the name itself when it has at most 4 characters, else "\\.\" and the name.
// nullopt for a name that cannot be a port (empty, too long, anything else).
std::optional<std::string> DevicePath(const std::string& name);

}  // namespace conv
