// The bench of the core's unit tests: the tank table, both serial lines as fake ports, both log
// panes, and the two service steps driven one timer tick at a time.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_link.h"
#include "log/operation_log.h"
#include "modbus/frame.h"
#include "modbus/poll.h"
#include "settings/settings_file.h"
#include "store/tank_table.h"
#include "support/fake_port.h"
#include "support/gauge_values.h"

namespace conv::test {

using Lines = std::vector<std::string>;

inline constexpr uint8_t kSlave = 0x50;

// A read reply of slave `address`: function, byte count, the registers, the CRC over all of it.
inline Bytes ReadReply(const Bytes& registers, uint8_t address = kSlave) {
    Bytes r{address, 0x04, static_cast<uint8_t>(registers.size())};
    r.insert(r.end(), registers.begin(), registers.end());
    return WithCrc(r);
}

inline std::string Dump(const Bytes& b) {
    return FormatDump(b.data(), static_cast<int>(b.size()));
}

// A folder of the test's own for a settings file, removed with all in it at the end.
struct ScratchDir {
    ScratchDir() {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~ScratchDir() {
        chmod(path.c_str(), 0644);  // a read-only file cannot be removed on Windows
        std::filesystem::remove_all(dir);
    }
    std::string OnDisk() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Put(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("conv-" + std::to_string(getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string path = (dir / kSettingsFileName).string();
};

class Bench : public ::testing::Test {
  protected:
    Bench() {
        log.LogEnabled = 1;
        table.SlaveAddress = kSlave;
    }

    void Configure(int number, int channel, int type = kLevelGauge, uint16_t configWord = 0) {
        ConfigureTank(table, number, channel, type, configWord);
    }

    // A running cycle whose next tick sends `group` to tank `number` with `budget` repeats left;
    // group kGroupTankDone moves on to the next tank first.
    void ResumeAt(int number, int group, int budget = kRetriesPerTank) {
        poll.CycleState = kCycleRunning;
        poll.PollChannel = number - 1;
        poll.PollGroup = group;
        poll.RetryBudget = budget;
        poll.ReplyPending = 0;
    }
    // One Timer1 tick; what it sent to the gauge (nothing: empty).
    Bytes Poll() {
        gauge.TakeWrites();
        OprosModBus(poll, table, gauge, log);
        return Single(gauge.TakeWrites());
    }
    // One Timer2 tick; what it wrote to the host.
    Bytes Serve() {
        OprosVelt(host, table, hostLine, log);
        return Single(hostLine.TakeWrites());
    }
    Bytes Ask(uint8_t request) {
        hostLine.QueueRead({request});
        return Serve();
    }

    // Pane lines added since the last look.
    Lines Left() { return Fresh(left, leftSeen_); }
    Lines Right() { return Fresh(right, rightSeen_); }

    MemoryPane left, right;
    OperationLog log{left, right};
    TankTable table;
    PollState poll;
    HostLink host;
    FakePort gauge, hostLine;

  private:
    static Bytes Single(const std::vector<Bytes>& writes) {
        EXPECT_LE(writes.size(), 1u);
        return writes.empty() ? Bytes{} : writes.back();
    }
    static Lines Fresh(const MemoryPane& pane, size_t& seen) {
        const Lines& all = pane.Lines();
        Lines out(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
        seen = all.size();
        return out;
    }
    size_t leftSeen_ = 1, rightSeen_ = 1;  // a fresh pane holds one empty line
};

}  // namespace conv::test
