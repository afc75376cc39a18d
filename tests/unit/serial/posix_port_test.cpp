// The POSIX serial backend over pseudo-terminals of our own: the test holds the master side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "serial/port_name.h"
#include "serial/serial_port.h"
#include "support/fake_port.h"
#include "support/pty_pair.h"

namespace conv::test {
namespace {

std::unique_ptr<SerialPort> OpenOn(const std::string& path) {
    auto port = MakeSystemSerialPort();
    if (!port->Open(path, 1024, 1024, 19200, 8, kTwoStopBits, kParityOdd)) return nullptr;
    return port;
}

// Reads with room for `capacity` bytes until `want` bytes came, while `wait` finds more waiting.
Bytes ReadUntil(SerialPort& port, int capacity, size_t want, const std::function<bool()>& wait) {
    Bytes got;
    uint8_t buf[1024];
    while (got.size() < want && wait()) {
        const int n = port.ReadAvailable(buf, capacity);
        if (n <= 0) break;
        EXPECT_LE(n, capacity);
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

TEST(PortNames, ComNamesAndAnyDevicePathTheSystemAllows) {
    const std::string longest = "/dev/" + std::string(PATH_MAX - 6, 'x');
    // clang-format off
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"Com1", "/dev/ttyS0"}, {"COM12", "/dev/ttyS11"}, {"cOm254", "/dev/ttyS253"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {longest, longest}, {longest + "x", {}}, {"", {}},
        {"Com", {}}, {"Com0", {}}, {"Com255", {}}, {"Com1x", {}}, {"Com+1", {}}, {"Com-1", {}},
        {"Xom1", {}}, {"Cxm1", {}}, {"Cox1", {}}, {"ttyS0", {}}, {std::string("/dev/tty\0S0", 11), {}}};
    // clang-format on
    for (const auto& [name, path] : rows)
        EXPECT_TRUE(DevicePath(name) == path) << name.substr(0, 20);
}

// A USB adapter by its stable name, often longer than 80 characters, opens through its link. One
// program at a time holds a port; what is not a terminal is no port.
TEST(PosixSerialPort, ThroughALongStableNameOneHolderAtATime) {
    PtyPair pty;
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("conv-by-id-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / ("usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
                                     "d2a4c8e0b35fe91187e3f1c4a9b2d6e0-if00-port0"))
                                 .string();
    fs::create_symlink(pty.SlavePath(), link);
    EXPECT_EQ(ProbePort(link), 0);
    auto port = OpenOn(link);
    ASSERT_TRUE(port);
    fs::remove_all(dir);
    const Bytes request = Hex("50 06 00 00 00 05 44 48");
    EXPECT_EQ(port->Write(request.data(), 8), 8);
    EXPECT_EQ(pty.ReadMaster(8, 5000), request);
    // What arrives waits in the port until a read takes it, and a read takes no more than its
    // room: the fake port of the poll tests keeps its queue the same way.
    const Bytes reply = Hex("50 04 06 00 00 00 07 00 00 20 C1");
    pty.WriteMaster(reply);
    EXPECT_EQ(ReadUntil(*port, 4, reply.size(), [&] { return pty.WaitForSlave(5000); }), reply);
    EXPECT_FALSE(OpenOn(pty.SlavePath()));
    EXPECT_EQ(ProbePort(pty.SlavePath()), 1);
    port->Close();  // and lets it go for the next open, as after a lost device
    EXPECT_EQ(ProbePort(pty.SlavePath()), 0);
    EXPECT_TRUE(port->Open(pty.SlavePath(), 1024, 1024, 9600, 8, kTwoStopBits, kParityEven));
    for (const char* bad : {"/dev/conv-no-such-port", "/dev/null"}) EXPECT_EQ(ProbePort(bad), 1);
}

}  // namespace
}  // namespace conv::test
