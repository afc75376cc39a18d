// Arrival notification of the Win32 backend, on the runner's pseudo-terminals (see pty_peer.h):
// the line opened for it, the comm-event wait that wakes a fast line, and the host scheduler
// served through it.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "core/open_line.h"
#include "host/fast_host.h"
#include "log/message_boxes.h"
#include "log/operation_log.h"
#include "store/tank_table.h"
#include "windows/pty_peer.h"

namespace conv::test {
namespace {

class NoBoxes : public MessageBoxes {
  public:
    void Show(const std::string&, const std::string&) override { ADD_FAILURE() << "box"; }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

class ArrivalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!peer::Available()) {
            GTEST_SKIP() << "needs the pseudo-terminal runner: bash scripts/test-windows";
        }
        peer::Reset(kLineA);
        peer::Reset(kLineB);
        port_->SetArrivalNotification(true);
        ASSERT_TRUE(OpenVeltPort(*port_, kLineB, boxes_));
        ASSERT_NE(port_->ArrivalHandle(), -1);
    }
    DWORD WaitArrival(DWORD ms) const {
        return WaitForSingleObject(reinterpret_cast<HANDLE>(port_->ArrivalHandle()), ms);
    }

    std::unique_ptr<SerialPort> port_ = MakeSystemSerialPort();
    NoBoxes boxes_;
};

TEST_F(ArrivalTest, OnlyAFastLineOpensForItAndItsReadsAndWritesAreATickLinesOnes) {
    auto tick = MakeSystemSerialPort();
    ASSERT_TRUE(OpenModbusPort(*tick, kLineA, boxes_));
    EXPECT_EQ(tick->ArrivalHandle(), -1);

    const Bytes reply = Hex("00 0A 06 3C 30");
    EXPECT_EQ(port_->Write(reply.data(), 5), 5);
    EXPECT_EQ(peer::Receive(kLineB, 5), reply);
    ASSERT_TRUE(peer::Send(kLineB, Hex("C5 D4")));
    uint8_t buffer[16];
    ASSERT_EQ(port_->ReadAvailable(buffer, 16), 2);
    EXPECT_EQ(Bytes(buffer, buffer + 2), Hex("C5 D4"));
    EXPECT_EQ(port_->ReadAvailable(buffer, 16), 0);
}

TEST_F(ArrivalTest, SignalledByArrivingBytesOnly) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "wine ends every comm-event wait on a pseudo-terminal at once, cancelled";
    }
    EXPECT_EQ(WaitArrival(200), WAIT_TIMEOUT);
    ASSERT_TRUE(peer::Send(kLineB, Hex("07")));
    ASSERT_EQ(WaitArrival(5000), WAIT_OBJECT_0);
    port_->RearmArrival();
    uint8_t buffer[16];
    EXPECT_EQ(port_->ReadAvailable(buffer, 16), 1);
    EXPECT_EQ(WaitArrival(200), WAIT_TIMEOUT);  // re-armed, nothing new
    ASSERT_TRUE(peer::Send(kLineB, Hex("10")));
    EXPECT_EQ(WaitArrival(5000), WAIT_OBJECT_0);
}

// A wait that ends in an error would end so again at once: the port gives it up rather than
// wake its loop for ever, and the loop looks at the line on its own (OnPort).
TEST_F(ArrivalTest, AWaitEndingInAnErrorIsGivenUp) {
    if (!RunningUnderWine()) GTEST_SKIP() << "a Windows serial driver keeps the wait pending";
    ASSERT_EQ(WaitArrival(2000), WAIT_OBJECT_0);
    port_->RearmArrival();
    EXPECT_EQ(port_->ArrivalHandle(), -1);
    const LineWait w = OnPort({true, LineWait::kNever}, *port_, 1000);
    EXPECT_EQ(w, (LineWait{false, 1000 + kLookWithoutArrivalUs}));
}

// The host scheduler on the real port, woken by the port's event or its own deadlines only.
TEST_F(ArrivalTest, HostCommandAnsweredByTheSchedulerOnThePort) {
    using namespace std::chrono;
    const auto now = [] {
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    };
    TankTable table;
    table.FirstCycleDone = 1;
    HostLink link;
    MemoryPane left, right;
    OperationLog log(left, right);
    FastHost fast;
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(peer::Send(kLineB, Hex("07")));
    for (int wakes = 0; wakes < 50 && port_->IsOpen() && link.RxCount != 1; ++wakes) {
        const MicroTime t = now();
        const LineWait w = OnPort(FastHostStep(fast, link, table, *port_, log, t), *port_, t);
        const MicroTime left = w.Deadline == LineWait::kNever ? 5'000'000 : w.Deadline - t;
        const HANDLE h = w.OnArrival ? reinterpret_cast<HANDLE>(port_->ArrivalHandle()) : never;
        const DWORD ms = static_cast<DWORD>(std::max<MicroTime>(left, 0) / 1000 + 1);
        if (WaitForSingleObject(h, ms) == WAIT_OBJECT_0 && h != never) port_->RearmArrival();
    }
    CloseHandle(never);
    EXPECT_EQ(peer::Receive(kLineB, 5), Hex("00 0A 06 3C 30"));
}

}  // namespace
}  // namespace conv::test
