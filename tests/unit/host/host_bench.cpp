#include "host_bench.h"

#include "host/host_link.h"

namespace conv::test {

namespace {

// A value slot as it arrives: float low word first, then the state register high byte first.
template <typename Block>
void StoreSlot(Block& block, int reg, float value, uint16_t state) {
    uint8_t wire[6];
    FloatToWire(value, wire);
    wire[4] = static_cast<uint8_t>(state >> 8);
    wire[5] = static_cast<uint8_t>(state);
    block.StoreWire(reg, wire, 3);
    block.ConvertFloat(reg);
}

template <typename Block>
void StoreHeight(Block& block, int reg, uint16_t mm) {
    const uint8_t wire[2] = {static_cast<uint8_t>(mm >> 8), static_cast<uint8_t>(mm)};
    block.StoreWire(reg, wire, 1);
    block.ConvertHeight(reg);
}

}  // namespace

TankWriter& TankWriter::OnChannel(int address) {
    tank_.Configured = 1;
    tank_.ChannelAddress = address;
    return *this;
}

TankWriter& TankWriter::Kind(int tankType, uint16_t configWord) {
    const uint8_t wire[6] = {
        static_cast<uint8_t>(tankType),   0, static_cast<uint8_t>(configWord >> 8),
        static_cast<uint8_t>(configWord), 0, 0};
    tank_.Type.StoreWire(0, wire, 3);
    return *this;
}

TankWriter& TankWriter::Link(int32_t linkState) {
    tank_.LinkState = linkState;
    return *this;
}

TankWriter& TankWriter::GaugeError(int32_t code) {
    tank_.GaugeErrorCode = code;
    return *this;
}

TankWriter& TankWriter::Value(Main field, float value, uint16_t state) {
    StoreSlot(tank_.Main, static_cast<int>(field), value, state);
    return *this;
}

TankWriter& TankWriter::Point(int k, float celsius, uint16_t state) {
    StoreSlot(tank_.Temp, TempBlock::PointReg(k), celsius, state);
    return *this;
}

TankWriter& TankWriter::PointHeight(int k, uint16_t mm) {
    StoreHeight(tank_.TempCoords, 193 + k, mm);
    return *this;
}

TankWriter& TankWriter::Density(int probe, float gcm3, uint16_t state) {
    StoreSlot(tank_.Density, DensityBlock::ProbeReg(probe), gcm3, state);
    return *this;
}

TankWriter& TankWriter::ProbeMount(int probe, uint16_t mm, float celsius) {
    const int reg = ProbeBlock::HeightReg(probe);
    StoreHeight(tank_.Probe, reg, mm);
    uint8_t wire[4];
    FloatToWire(celsius, wire);
    tank_.Probe.StoreWire(reg + 1, wire, 2);
    tank_.Probe.ConvertFloat(reg + 1);
    return *this;
}

TankWriter& TankWriter::Pressure(int k, float value, uint16_t state) {
    StoreSlot(tank_.Pressure, PressureBlock::SensorReg(k), value, state);
    return *this;
}

TankWriter& TankWriter::Gas(int k, float percent, uint16_t state) {
    StoreSlot(tank_.Gas, GasBlock::SensorReg(k), percent, state);
    return *this;
}

TankWriter& TankWriter::TempHeader(uint8_t first) {
    const uint8_t wire[2] = {first, 0};
    tank_.Temp.StoreWire(130, wire, 1);
    return *this;
}

TankWriter& TankWriter::DensityHeader(uint8_t first) {
    const uint8_t wire[2] = {first, 0};
    tank_.Density.StoreWire(258, wire, 1);
    return *this;
}

std::vector<Bytes> HostBench::Tick() {
    OprosVelt(link, table, port, log);
    return port.TakeWrites();
}

Bytes HostBench::Ask(uint8_t request) {
    port.QueueRead({request});
    const std::vector<Bytes> writes = Tick();
    EXPECT_EQ(writes.size(), 1u) << "request " << ToHex({request});
    return writes.empty() ? Bytes{} : writes.front();
}

Bytes HostBench::AskAll(std::initializer_list<uint8_t> requests) {
    Bytes all;
    for (uint8_t r : requests) {
        const Bytes reply = Ask(r);
        all.insert(all.end(), reply.begin(), reply.end());
    }
    return all;
}

std::vector<std::string> HostBench::NewLines() {
    const auto& lines = veltPane.Lines();
    std::vector<std::string> out(lines.begin() + static_cast<long>(linesSeen_), lines.end());
    linesSeen_ = lines.size();
    return out;
}

uint8_t Xor(const Bytes& bytes) {
    uint8_t x = 0;
    for (uint8_t b : bytes) x ^= b;
    return x;
}

Bytes ParamBlock(const std::vector<Group>& groups) {
    Bytes block{0x00};
    for (size_t g = 0; g < 9; ++g) {
        const auto [first, second, value] = g < groups.size() ? groups[g] : Group{};
        block.push_back(first);
        block.push_back(second);
        for (int i = 0; i < 4; ++i)
            block.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
    }
    block.push_back(Xor(block));
    return block;
}

}  // namespace conv::test
