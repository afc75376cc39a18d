// Arrival notification of the Win32 backend, on the runner's pseudo-terminals (see pty_peer.h):
// the line opened for it and the comm-event wait that wakes a fast line.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/open_line.h"
#include "serial/line_wait.h"
#include "support/scripted_ui.h"
#include "windows/pty_peer.h"

namespace conv::test {
namespace {

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
    int Read() { return port_->ReadAvailable(buffer_, sizeof buffer_); }

    std::unique_ptr<SerialPort> port_ = MakeSystemSerialPort();
    RecordingBoxes boxes_;
    uint8_t buffer_[16];
};

TEST_F(ArrivalTest, OnlyAFastLineOpensForItAndItReadsAndWritesAsATickLineDoes) {
    auto tick = MakeSystemSerialPort();
    ASSERT_TRUE(OpenModbusPort(*tick, kLineA, boxes_));
    EXPECT_EQ(tick->ArrivalHandle(), -1);

    const Bytes reply = Hex("00 0A 06 3C 30");
    EXPECT_EQ(port_->Write(reply.data(), 5), 5);
    EXPECT_EQ(peer::Receive(kLineB, 5), reply);
    ASSERT_TRUE(peer::Send(kLineB, Hex("C5 D4")));
    ASSERT_EQ(Read(), 2);
    EXPECT_EQ(Bytes(buffer_, buffer_ + 2), Hex("C5 D4"));
    EXPECT_EQ(Read(), 0);
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ArrivalTest, SignalledByArrivingBytesOnly) {
    if (RunningUnderWine()) {
        // wine ends every comm-event wait on a pseudo-terminal at once, cancelled. Such a wait
        // would end so again and again: the port gives it up, and its loop looks at the line
        // on its own as often as the host tick.
        ASSERT_EQ(WaitArrival(2000), WAIT_OBJECT_0);
        port_->RearmArrival();
        EXPECT_EQ(port_->ArrivalHandle(), -1);
        EXPECT_EQ(OnPort({true, LineWait::kNever}, *port_, 0),
                  (LineWait{false, kLookWithoutArrivalUs}));
        return;
    }
    EXPECT_EQ(WaitArrival(200), WAIT_TIMEOUT);
    ASSERT_TRUE(peer::Send(kLineB, Hex("07")));
    ASSERT_EQ(WaitArrival(5000), WAIT_OBJECT_0);
    port_->RearmArrival();
    EXPECT_EQ(Read(), 1);
    EXPECT_EQ(WaitArrival(200), WAIT_TIMEOUT);  // re-armed, nothing new
    ASSERT_TRUE(peer::Send(kLineB, Hex("10")));
    EXPECT_EQ(WaitArrival(5000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace conv::test
