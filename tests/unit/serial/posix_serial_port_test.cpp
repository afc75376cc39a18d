// The POSIX serial backend over real pseudo-terminal pairs: the test holds the master side.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>

#include "core/open_line.h"
#include "log/message_boxes.h"
#include "serial/port_name.h"
#include "serial/serial_port.h"
#include "support/pty_pair.h"

namespace conv {
namespace {

using test::PtyPair;

std::unique_ptr<SerialPort> OpenOn(const std::string& path) {
    auto port = MakeSystemSerialPort();
    if (!port->Open(path, 1024, 1024, 19200, 8, kTwoStopBits, kParityOdd)) return nullptr;
    return port;
}

// Reads until something arrives, at most for a second: a pseudo-terminal hands bytes over
// asynchronously, so the first read right after the write may still see nothing.
int ReadSoon(SerialPort& port, uint8_t* buf, int cap) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int n = 0;
    while ((n = port.ReadAvailable(buf, cap)) == 0 && std::chrono::steady_clock::now() < deadline) {
    }
    return n;
}

TEST(PortNames, ComNamesAndDevicePaths) {
    EXPECT_EQ(DevicePath("Com1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePath("COM12"), "/dev/ttyS11");
    EXPECT_EQ(DevicePath("Com254"), "/dev/ttyS253");
    EXPECT_EQ(DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    for (const char* bad : {"", "Com0", "Com255", "Com1x", "ttyS0", "LPT1", "Com-1"}) {
        EXPECT_FALSE(DevicePath(bad)) << bad;
    }
    // Any path the system allows, and not one character more.
    const std::string longest = "/dev/" + std::string(PATH_MAX - 1 - 5, 'x');
    EXPECT_TRUE(DevicePath(longest) == longest);  // not printed in full when it fails
    EXPECT_FALSE(DevicePath(longest + "x"));
}

// A USB adapter by its stable name, which is often longer than 80 characters: it opens through
// its link, and the probe finds it.
TEST(PosixSerialPort, LongStableNameOpensThroughItsLink) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    namespace fs = std::filesystem;
    const fs::path byId =
        fs::temp_directory_path() / ("conv-by-id-" + std::to_string(getpid())) / "serial" / "by-id";
    fs::create_directories(byId);
    const std::string link = (byId /
                              "usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
                              "d2a4c8e0b35fe91187e3f1c4a9b2d6e0-if00-port0")
                                 .string();
    fs::create_symlink(pty.SlavePath(), link);
    ASSERT_GT(link.size(), 128u);

    EXPECT_EQ(ProbePort(link), 0);
    auto port = OpenOn(link);
    ASSERT_TRUE(port);
    const uint8_t request[] = {0x50, 0x06, 0x00, 0x00, 0x00, 0x05, 0x44, 0x48};
    EXPECT_EQ(port->Write(request, 8), 8);
    EXPECT_EQ(pty.ReadMaster(8, 2000), std::vector<uint8_t>(request, request + 8));
    port.reset();
    fs::remove_all(byId.parent_path().parent_path());
}

TEST(PosixSerialPort, WrittenBytesArriveAndWaitingBytesAreTakenOnce) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenOn(pty.SlavePath());
    ASSERT_TRUE(port);
    const uint8_t request[] = {0x50, 0x04, 0x00, 0x03, 0x00, 0x2A, 0x5C, 0x5B};
    EXPECT_EQ(port->Write(request, 8), 8);
    EXPECT_EQ(pty.ReadMaster(8, 2000), std::vector<uint8_t>(request, request + 8));

    pty.WriteMaster({1, 2, 3});
    uint8_t buf[1024];
    ASSERT_EQ(ReadSoon(*port, buf, sizeof buf), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(port->ReadAvailable(buf, sizeof buf), 0);
}

TEST(PosixSerialPort, NeverPlacesMoreThanTheBufferHolds) {
    PtyPair pty;
    auto port = OpenOn(pty.SlavePath());
    ASSERT_TRUE(port);
    pty.WriteMaster(std::vector<uint8_t>(10, 0xAA));
    uint8_t buf[8] = {};
    uint8_t guard = 0x55;
    ASSERT_EQ(ReadSoon(*port, buf, 4), 4);
    EXPECT_EQ(guard, 0x55);
    EXPECT_EQ(buf[4], 0);
}

TEST(PosixSerialPort, SecondOpenOfAHeldPortFailsAndProbeReportsIt) {
    PtyPair pty;
    EXPECT_EQ(ProbePort(pty.SlavePath()), 0);
    auto port = OpenOn(pty.SlavePath());
    ASSERT_TRUE(port);
    EXPECT_FALSE(OpenOn(pty.SlavePath()));
    EXPECT_EQ(ProbePort(pty.SlavePath()), 1);
    port->Close();
    EXPECT_EQ(ProbePort(pty.SlavePath()), 0);
}

TEST(PosixSerialPort, ReopensAfterClose) {
    // Pseudo-terminals keep no parity flag; a second open with the same settings must still work
    // (the port setup dialog closes and reopens the lines).
    PtyPair pty;
    auto port = OpenOn(pty.SlavePath());
    ASSERT_TRUE(port);
    port->Close();
    ASSERT_TRUE(port->Open(pty.SlavePath(), 1024, 1024, 19200, 8, kTwoStopBits, kParityOdd));
    ASSERT_TRUE(port->Open(pty.SlavePath(), 1024, 1024, 9600, 8, kTwoStopBits, kParityEven));
    pty.WriteMaster({9});
    uint8_t buf[4];
    EXPECT_EQ(ReadSoon(*port, buf, sizeof buf), 1);
}

TEST(PosixSerialPort, MissingOrUnfitPortFailsAndAClosedPortDoesNothing) {
    EXPECT_FALSE(OpenOn("/dev/conv-no-such-port"));
    EXPECT_FALSE(OpenOn("/dev/null"));  // not a terminal
    EXPECT_FALSE(OpenOn("NoSuchName"));
    EXPECT_EQ(ProbePort("/dev/conv-no-such-port"), 1);
    auto port = MakeSystemSerialPort();
    const uint8_t b = 0;
    uint8_t buf[4];
    EXPECT_EQ(port->Write(&b, 1), 0);
    EXPECT_EQ(port->ReadAvailable(buf, sizeof buf), 0);
}

TEST(PosixSerialPort, OtherSideGoneReadsAsLineErrorWithoutSpinning) {
    PtyPair pty;
    auto port = OpenOn(pty.SlavePath());
    ASSERT_TRUE(port);
    pty.CloseMaster();
    uint8_t buf[64];
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(port->ReadAvailable(buf, sizeof buf), -1);
    getrusage(RUSAGE_SELF, &after);
    // A thousand reads of a dead line are a thousand cheap system calls, never a wait or a loop.
    const auto cpuUs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpuUs(after) - cpuUs(before), 2000000L);
}

class CountingBoxes : public MessageBoxes {
  public:
    void Show(const std::string& text, const std::string& caption) override {
        texts.push_back(text);
        captions.push_back(caption);
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
    std::vector<std::string> texts, captions;
};

TEST(OpenLine, FailureShowsTheSideErrorBoxOnce) {
    CountingBoxes boxes;
    auto port = MakeSystemSerialPort();
    EXPECT_FALSE(OpenModbusPort(*port, "Com" + std::string(100, '9'), boxes));
    EXPECT_FALSE(OpenVeltPort(*port, "/dev/conv-no-such-port", boxes));
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[0], "Ошибка программирования СОМ(MODBUS)");
    EXPECT_EQ(boxes.texts[1], "Ошибка программирования СОМ(VELT)");
    EXPECT_EQ(boxes.captions[0], " OUT ");

    PtyPair pty;
    EXPECT_TRUE(OpenVeltPort(*port, pty.SlavePath(), boxes));
    EXPECT_EQ(boxes.texts.size(), 2u);
}

}  // namespace
}  // namespace conv
