#include "windows/pty_peer.h"

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace conv::test {
namespace peer {
namespace {

std::string Ask(const std::string& request) {
    std::cout << "@@peer " << request << std::endl;
    std::string reply;
    if (!std::getline(std::cin, reply)) return "error no runner";
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    return reply;
}

}  // namespace

bool Available() {
    return std::getenv("CONV_PTY_PEER") != nullptr;
}

void Reset(const std::string& port) {
    Ask("reset " + port);
}

void SetFlowControl(const std::string& port, const std::string& mode) {
    Ask("flow " + port + " " + mode);
}

bool Send(const std::string& port, const Bytes& bytes) {
    return Ask("send " + port + " " + ToHex(bytes)) == "ok";
}

Bytes Receive(const std::string& port, size_t count) {
    const std::string reply = Ask("expect " + port + " " + std::to_string(count));
    if (reply.rfind("got", 0) != 0) return {};
    return Hex(reply.substr(3));
}

std::map<std::string, long> Settings(const std::string& port) {
    std::map<std::string, long> out;
    std::istringstream in(Ask("settings " + port));
    std::string field;
    while (in >> field) {
        const size_t eq = field.find('=');
        if (eq == std::string::npos) continue;
        out[field.substr(0, eq)] = std::strtol(field.c_str() + eq + 1, nullptr, 10);
    }
    return out;
}

}  // namespace peer

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace conv::test
