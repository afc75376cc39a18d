// The Win32 serial backend on real serial lines. A Windows program cannot make pseudo-terminals,
// so the Linux-side runner (wine_runner.py) makes them, links them into the wine prefix as COM
// ports (Com5 with RTS/CTS, Com6 with XON/XOFF flow control, Com8 missing) and plays their far end
// on request: a request is a line "@@peer ..." on our standard output, its answer comes back on
// standard input. wine's ClearCommError reports no line error flags and a pseudo-terminal has none
// to report, so what a read makes of the flags is left to the unit tests, on the values the
// backend asserts are the API's.
#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <numeric>

#include "core/open_line.h"
#include "log/message_boxes.h"
#include "serial/line_wait.h"
#include "support/fake_port.h"

namespace conv::test {
namespace {

std::string Peer(const std::string& request) {
    std::cout << "@@peer " << request << std::endl;
    std::string reply;
    std::getline(std::cin, reply);
    return reply.substr(0, reply.find_last_not_of('\r') + 1);
}

// The bytes that reached the far end: `count` of them, or fewer after the runner's deadline.
Bytes Receive(const std::string& port, size_t count) {
    const std::string reply = Peer("expect " + port + " " + std::to_string(count));
    return reply.rfind("got", 0) == 0 ? Hex(reply.substr(3)) : Bytes{};
}

struct Boxes : MessageBoxes {
    void Show(const std::string& text, const std::string&) override { shown.push_back(text); }
    bool AskOkCancel(const std::string&, const std::string&) override { return true; }
    std::vector<std::string> shown;
};

class Win32SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("CONV_PTY_PEER")) GTEST_SKIP() << "needs the runner: scripts/test-windows";
        Peer("reset Com5");
        Peer("reset Com6");
    }
    void Send(const std::string& port, const std::string& hex) {
        ASSERT_EQ(Peer("send " + port + " " + hex), "ok");
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

TEST_F(Win32SerialPortTest, ProgramsEachSideAndKeepsTheDriversFlowControl) {
    auto velt = MakeSystemSerialPort();
    ASSERT_TRUE(OpenModbusPort(*port_, "Com5", boxes_));
    ASSERT_TRUE(OpenVeltPort(*velt, "Com6", boxes_));
    // Pseudo-terminals clear the parity-enable bit whatever is asked, so only the odd/even
    // choice can be seen here.
    EXPECT_EQ(Peer("settings Com5"), "baud=19200 cs8=1 cstopb=1 parodd=1 veof=0 crtscts=1 ixon=0");
    EXPECT_EQ(Peer("settings Com6"), "baud=9600 cs8=1 cstopb=1 parodd=0 veof=0 crtscts=0 ixon=1");
}

TEST_F(Win32SerialPortTest, BytesGoOutWholeAndComeInOnceInOrder) {
    // What waited before the open is not taken for an answer.
    Send("Com5", "DEADBEEF");
    ASSERT_TRUE(OpenModbusPort(*port_, "Com5", boxes_));
    EXPECT_EQ(Read(), Bytes{});

    // A block as long as the biggest host reply goes out in one call.
    Bytes block(300);
    std::iota(block.begin(), block.end(), uint8_t{0});
    EXPECT_EQ(port_->Write(block.data(), 300), 300);
    EXPECT_EQ(Receive("Com5", 300), block);

    // Bytes that arrive between two ticks pile up and come out together, once; a read never
    // takes more than its room, and the rest waits for the next, in order.
    Send("Com5", "0405");
    Send("Com5", "06102030405060");
    EXPECT_EQ(Read(4), Hex("04 05 06 10"));
    EXPECT_EQ(Read(), Hex("20 30 40 50 60"));
    EXPECT_EQ(Read(), Bytes{});
}

TEST_F(Win32SerialPortTest, MissingOrClosedPortSendsAndReadsNothing) {
    EXPECT_FALSE(OpenModbusPort(*port_, "Com8", boxes_));
    EXPECT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(ProbePort("Com8"), 1);
    EXPECT_EQ(ProbePort("Com6"), 0);  // and the probe leaves a free port free
    EXPECT_EQ(ProbePort("Com6"), 0);

    const uint8_t byte = 0x55;
    ASSERT_TRUE(OpenModbusPort(*port_, "Com5", boxes_));
    port_->Close();
    EXPECT_EQ(port_->Write(&byte, 1), 0);
    EXPECT_EQ(Read(), Bytes{});
    // A pseudo-terminal cannot hold the parity-enable bit, and on Linux programming it with
    // settings that change nothing else fails with EINVAL, which is what wine meets when the same
    // settings are programmed twice. A serial driver takes them; put the line back to its first
    // settings, as a freshly plugged adapter would be.
    Peer("reset Com5");
    ASSERT_TRUE(OpenModbusPort(*port_, "Com5", boxes_));
    EXPECT_EQ(port_->Write(&byte, 1), 1);
    EXPECT_EQ(Receive("Com5", 1), Bytes{0x55});
}

// A fast line is opened for overlapped I/O with a comm-event wait whose event the loops wait on;
// it reads and writes as a tick line does, and a tick line has no such event. wine ends every
// comm-event wait on a pseudo-terminal at once, cancelled; such a wait would end so again and
// again, so the port gives it up and its loop looks at the line as often as the host tick. The
// runner is wine's, so that is the road this test sees.
TEST_F(Win32SerialPortTest, AFastLineGivesUpACancelledArrivalWait) {
    auto tick = MakeSystemSerialPort();
    ASSERT_TRUE(OpenModbusPort(*tick, "Com5", boxes_));
    EXPECT_EQ(tick->ArrivalHandle(), -1);
    port_->SetArrivalNotification(true);
    ASSERT_TRUE(OpenVeltPort(*port_, "Com6", boxes_));
    ASSERT_NE(port_->ArrivalHandle(), -1);
    const Bytes reply = Hex("00 0A 06 3C 30");
    EXPECT_EQ(port_->Write(reply.data(), 5), 5);
    EXPECT_EQ(Receive("Com6", 5), reply);

    const auto arrival = reinterpret_cast<HANDLE>(port_->ArrivalHandle());
    ASSERT_EQ(WaitForSingleObject(arrival, 2000), WAIT_OBJECT_0);
    port_->RearmArrival();
    EXPECT_EQ(port_->ArrivalHandle(), -1);
    EXPECT_EQ(OnPort({true, LineWait::kNever}, *port_, 0),
              (LineWait{false, kLookWithoutArrivalUs}));
    Send("Com6", "C5D4");
    EXPECT_EQ(Read(), Hex("C5 D4"));
}

}  // namespace
}  // namespace conv::test
