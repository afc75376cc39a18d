#include "serial/port_name.h"

#include <charconv>

#include "serial/serial_port.h"

namespace conv {

std::optional<std::string> DevicePath(const std::string& name) {
    if (name.empty() || name.size() > kMaxPortNameLength) return std::nullopt;
    if (name.find('\0') != std::string::npos) return std::nullopt;
#ifdef _WIN32
    if (name.size() <= 4) return name;
    return "\\\\.\\" + name;
#else
    // A USB adapter's stable name lies under /dev/serial/by-id; a pseudo-terminal or a link made
    // by a udev rule may lie anywhere.
    if (name.front() == '/') return name;
    const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    if (name.size() < 4 || lower(name[0]) != 'c' || lower(name[1]) != 'o' ||
        lower(name[2]) != 'm') {
        return std::nullopt;
    }
    const std::string digits = name.substr(3);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    int n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 1 || n > 254) {
        return std::nullopt;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

}  // namespace conv
