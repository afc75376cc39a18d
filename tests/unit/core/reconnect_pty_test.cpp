// A lost line over pseudo-terminals, as an unplugged adapter behind a stable name looks: the far
// end closes, a new terminal appears under the same link, and the port opened by the link's name
// is found gone, closed, and opened again on the new terminal at its time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "core/converter.h"
#include "core/line_recovery.h"
#include "support/pty_pair.h"

namespace conv {
namespace {

TEST(LineRecoveryOverPty, FarEndClosesAndComesBackUnderTheSameLink) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("conv-gauge-" + std::to_string(getpid()));
    auto first = std::make_unique<test::PtyPair>();
    fs::create_symlink(first->SlavePath(), link);
    MemoryPane left, right;
    Converter c(left, right, MakeSystemSerialPort(), MakeSystemSerialPort());
    c.State.ModbusPortName = link.string();
    ASSERT_TRUE(c.ModbusPort->Open(link.string(), 1024, 1024, 19200, 8, kTwoStopBits, kParityOdd));
    uint8_t buf[16];
    EXPECT_EQ(c.ModbusPort->ReadAvailable(buf, sizeof buf), 0);
    const SteadyTime t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(TendLine(c, Side::kModbus, t0), std::nullopt);  // an idle line is no loss

    first.reset();  // the far end closes, as an unplugged adapter's driver does
    EXPECT_EQ(c.ModbusPort->ReadAvailable(buf, sizeof buf), -1);
    EXPECT_TRUE(c.ModbusPort->DeviceGone());
    EXPECT_EQ(TendLine(c, Side::kModbus, t0), t0 + kReopenInterval);
    EXPECT_FALSE(c.ModbusPort->IsOpen());

    test::PtyPair second;
    fs::remove(link);
    fs::create_symlink(second.SlavePath(), link);
    EXPECT_EQ(TendLine(c, Side::kModbus, t0 + kReopenInterval), std::nullopt);
    ASSERT_TRUE(c.ModbusPort->IsOpen());
    const uint8_t request[] = {0x50, 0x04};
    EXPECT_EQ(c.ModbusPort->Write(request, 2), 2);
    EXPECT_EQ(second.ReadMaster(2, 5000), std::vector<uint8_t>(request, request + 2));
    fs::remove(link);
    EXPECT_EQ(left.Lines().size(), 3u);  // the initial empty line, the loss, the return
}

}  // namespace
}  // namespace conv
