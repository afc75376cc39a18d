// A host line under test: a tank table filled through the store's wire interface, a fake port
// that delivers one request per tick, and the right log pane.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "host/host_link.h"
#include "log/operation_log.h"
#include "store/tank_table.h"
#include "support/fake_port.h"

namespace conv::test {

// First register of each main-parameter value, as the gauge lays them out.
enum class Main : int {
    Level = 3,
    Mass = 6,
    Volume = 9,
    MeanDensity = 12,
    MeanTemp = 15,
    WaterLevel = 18,
    Tap = 24,
    Dpf = 33,
};

// Fills one tank entry the way the poll cycle would store the gauge's replies.
class TankWriter {
  public:
    TankWriter(TankTable& table, int tankNumber) : tank_(table.Tank(tankNumber)) {}

    TankWriter& OnChannel(int address);
    TankWriter& Kind(int tankType, uint16_t configWord = 0);
    TankWriter& Link(int32_t linkState);
    TankWriter& GaugeError(int32_t code);
    TankWriter& Value(Main field, float value, uint16_t state = 0);
    TankWriter& Point(int k, float celsius, uint16_t state = 0);
    TankWriter& PointHeight(int k, uint16_t mm);
    TankWriter& Density(int probe, float gcm3, uint16_t state = 0);
    TankWriter& ProbeMount(int probe, uint16_t mm, float celsius);
    TankWriter& Pressure(int k, float value, uint16_t state = 0);
    TankWriter& Gas(int k, float percent, uint16_t state = 0);
    TankWriter& TempHeader(uint8_t first);
    TankWriter& DensityHeader(uint8_t first);

  private:
    TankEntry& tank_;
};

class HostBench : public ::testing::Test {
  protected:
    HostBench() {
        table.FirstCycleDone = 1;
        table.GaugeLinkOk = 1;
        log.LogEnabled = 1;
    }

    TankWriter Tank(int number) { return TankWriter(table, number); }

    // One tick with one request byte; the single reply written in it.
    Bytes Ask(uint8_t request);
    // Several ticks; the replies concatenated.
    Bytes AskAll(std::initializer_list<uint8_t> requests);
    // One tick with whatever the port delivers; every write of it.
    std::vector<Bytes> Tick();
    // Right-pane lines added since the last call.
    std::vector<std::string> NewLines();

    TankTable table;
    HostLink link;
    FakePort port;
    MemoryPane modbusPane;
    MemoryPane veltPane;
    OperationLog log{modbusPane, veltPane};

  private:
    size_t linesSeen_ = 1;  // the pane starts with one empty line
};

// "first status, second status, value" of one parameter-block group.
using Group = std::tuple<uint8_t, uint8_t, int32_t>;
// The 56-byte parameter block around up to nine groups (the rest zero) with its checksum.
Bytes ParamBlock(const std::vector<Group>& groups);
uint8_t Xor(const Bytes& bytes);

}  // namespace conv::test
