// What only the Win32 code has, under wine: the serial backend on real serial lines, and the
// settings file beside the platform's own profile functions.
//
// A Windows program cannot make pseudo-terminals, so the Linux-side runner (wine_runner.py) makes
// them, links them into the wine prefix as COM ports (Com5 with RTS/CTS, Com6 with XON/XOFF flow
// control, Com8 missing) and plays their far end on request: a request is a line "@@peer ..." on
// our standard output, its answer comes back on standard input. wine's ClearCommError reports no
// line error flags and a pseudo-terminal has none to report, so what a read makes of the flags is
// left to the unit tests, on the values the backend asserts are the API's.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <iostream>

#include "core/open_line.h"
#include "log/message_boxes.h"
#include "serial/serial_port.h"
#include "settings/keys.h"
#include "settings/settings_file.h"
#include "support/fake_port.h"

namespace conv::test {
namespace {

std::string Peer(const std::string& request) {
    std::cout << "@@peer " << request << std::endl;
    std::string reply;
    std::getline(std::cin, reply);
    return reply.substr(0, reply.find_last_not_of('\r') + 1);
}

struct Boxes : MessageBoxes {
    void Show(const std::string&, const std::string&) override {}
    bool AskOkCancel(const std::string&, const std::string&) override { return true; }
};

class Win32SerialPortTest : public ::testing::Test {
  protected:
    // Each test starts from the lines' first settings: a pseudo-terminal keeps no parity-enable
    // bit, so programming the same settings twice fails there (EINVAL), where a serial driver
    // takes them.
    void SetUp() override {
        if (!std::getenv("CONV_PTY_PEER")) GTEST_SKIP() << "needs the runner: scripts/test-windows";
        Peer("reset Com5");
        Peer("reset Com6");
    }
    // What one read gives, at most `capacity` bytes; {0xEE} for a line error.
    Bytes Read(int capacity = 1024) {
        Bytes buffer(1024);
        const int n = port_->ReadAvailable(buffer.data(), capacity);
        return n < 0 ? Bytes{0xEE} : Bytes(buffer.begin(), buffer.begin() + n);
    }

    std::unique_ptr<SerialPort> port_ = MakeSystemSerialPort();
    Boxes boxes_;
};

// That a missing port fails to open the road shows with its box; the probe of the port settings
// window shares the open. wine does not hold a tty to the exclusive open asked for, so that a
// probe or a close that left its handle open cannot be seen here. A real port queues nothing
// while it is closed, so what a pseudo-terminal keeps from before the open is not looked at.
TEST_F(Win32SerialPortTest, ProbesAndProgramsEachSideAndCarriesBytesWholeInOrder) {
    EXPECT_EQ(ProbePort("Com8"), 1);
    EXPECT_EQ(ProbePort("Com6"), 0);
    auto velt = MakeSystemSerialPort();
    ASSERT_TRUE(OpenModbusPort(*port_, "Com5", boxes_));
    ASSERT_TRUE(OpenVeltPort(*velt, "Com6", boxes_));
    EXPECT_EQ(port_->ArrivalHandle(), -1);  // a tick line has no arrival event to wait on
    // Pseudo-terminals clear the parity-enable bit whatever is asked, so only the odd/even
    // choice can be seen here; the flow control is the driver's, kept.
    EXPECT_EQ(Peer("settings Com5"), "baud=19200 cs8=1 cstopb=1 parodd=1 veof=0 crtscts=1 ixon=0");
    EXPECT_EQ(Peer("settings Com6"), "baud=9600 cs8=1 cstopb=1 parodd=0 veof=0 crtscts=0 ixon=1");

    // Bytes that arrive between two ticks pile up and come out together; a read never takes
    // more than its room, and the rest waits for the next, in order. That each comes out once
    // the road shows, where a byte read twice would be a wrong reply.
    ASSERT_EQ(Peer("send Com5 0405"), "ok");
    ASSERT_EQ(Peer("send Com5 06102030405060"), "ok");
    EXPECT_EQ(Read(4), Hex("04 05 06 10"));
    EXPECT_EQ(Read(), Hex("20 30 40 50 60"));
}

// A fast line is opened for overlapped I/O with a comm-event wait whose event the loops wait on
// (its bytes on the host line are the road's). wine ends every comm-event wait on a
// pseudo-terminal at once, cancelled; such a wait would end so again and again, so the port gives
// it up and its loop looks at the line as often as the host tick. The runner is wine's, so that is
// the road this test sees.
TEST_F(Win32SerialPortTest, AFastLineGivesUpACancelledArrivalWait) {
    port_->SetArrivalNotification(true);
    ASSERT_TRUE(OpenVeltPort(*port_, "Com6", boxes_));
    const auto arrival = reinterpret_cast<HANDLE>(port_->ArrivalHandle());
    ASSERT_EQ(WaitForSingleObject(arrival, 2000), WAIT_OBJECT_0);
    port_->RearmArrival();
    EXPECT_EQ(port_->ArrivalHandle(), -1);
    ASSERT_EQ(Peer("send Com6 C5D4"), "ok");  // and the line still reads, now on the tick
    EXPECT_EQ(Read(), Hex("C5 D4"));
}

// The settings file's one Win32 path the unit tests under wine do not meet: a file another program
// holds open is there but cannot be read, and the operator is told so. Its creation, replacement,
// read-only attribute and a folder in its place are theirs; its bytes beside the executable
// whatever the working folder are the window program's road.
TEST(WindowsSettingsFileTest, AFileHeldOpenElsewhereIsUnreadable) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string path = std::string(temp) + kSettingsFileName;
    SettingsFile f(path);
    ASSERT_TRUE(f.WriteString(ini::kFlag, ini::kLog, "1"));
    const HANDLE held =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(f.State(), FileState::kUnreadable);
    EXPECT_EQ(f.LastError(), path + ": доступ запрещён");
    CloseHandle(held);
}

}  // namespace
}  // namespace conv::test
