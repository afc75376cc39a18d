// The cost of one service step of each side and of the MODBUS CRC. Each host command is timed
// as one OprosVelt on a port that hands over that single byte; each decoder as one OprosModBus
// that reads a good reply of its group and sends the next request. The log is on, as it is by
// default, so that formatting the dumps is part of the cost.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_link.h"
#include "log/operation_log.h"
#include "modbus/frame.h"
#include "modbus/poll.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {
namespace {

// A line that delivers the same bytes at every read and forgets what is written to it.
class RepeatPort : public SerialPort {
  public:
    std::vector<uint8_t> bytes;

    bool Open(const std::string&, int, int, int, int, int, int) override { return true; }
    int Write(const uint8_t*, int count) override { return count; }
    int ReadAvailable(uint8_t* buffer, int capacity) override {
        const int n = std::min<int>(capacity, static_cast<int>(bytes.size()));
        std::memcpy(buffer, bytes.data(), static_cast<size_t>(n));
        return n;
    }
    void Close() override {}
    bool IsOpen() const override { return true; }
};

struct Panes {
    MemoryPane left;
    MemoryPane right;
    OperationLog log{left, right};
    Panes() { log.LogEnabled = 1; }
};

void PutSlot(std::vector<uint8_t>& wire, int firstReg, int reg, float value) {
    uint8_t b[4];
    FloatToWire(value, b);
    std::memcpy(wire.data() + 2 * (reg - firstReg), b, 4);
}

// A tank table as the poll leaves it: level gauges on channels 0..5, a pressure tank on 6 and a
// gas tank on 7, every value filled.
TankTable FilledTable() {
    TankTable t;
    t.FirstCycleDone = 1;
    t.GaugeLinkOk = 1;
    for (int ch = 0; ch < 8; ++ch) {
        TankEntry& e = t.Tank(ch + 1);
        e.Configured = 1;
        e.ChannelAddress = ch;
        const uint8_t type[6] = {
            static_cast<uint8_t>(ch == 6 ? 1 : ch == 7 ? 2 : 0), 0, 0x06, 0x01, 0, 0};
        e.Type.StoreWire(0, type, 3);
        std::vector<uint8_t> main(84), temp(132), dens(36), press(60), gas(36);
        for (int reg : MainBlock::kFloatRegs) PutSlot(main, 3, reg, 1234.56f + reg);
        for (int k = 1; k <= 21; ++k) PutSlot(temp, 128, TempBlock::PointReg(k), 10.25f + k);
        temp[4] = 21;
        for (int k = 1; k <= 5; ++k) PutSlot(dens, 256, DensityBlock::ProbeReg(k), 0.81f);
        for (int k = 1; k <= 9; ++k) PutSlot(press, 0, PressureBlock::SensorReg(k), 1.5f * k);
        for (int k = 1; k <= 5; ++k) PutSlot(gas, 0, GasBlock::SensorReg(k), 0.2f * k);
        e.Main.StoreWire(3, main.data(), 42);
        e.Temp.StoreWire(128, temp.data(), 66);
        e.Density.StoreWire(256, dens.data(), 18);
        e.Pressure.StoreWire(0, press.data(), 30);
        e.Gas.StoreWire(0, gas.data(), 18);
        for (int reg : MainBlock::kFloatRegs) e.Main.ConvertFloat(reg);
        for (int k = 1; k <= 21; ++k) e.Temp.ConvertFloat(TempBlock::PointReg(k));
        for (int k = 1; k <= 5; ++k) e.Density.ConvertFloat(DensityBlock::ProbeReg(k));
        for (int k = 1; k <= 9; ++k) e.Pressure.ConvertFloat(PressureBlock::SensorReg(k));
        for (int k = 1; k <= 5; ++k) e.Gas.ConvertFloat(GasBlock::SensorReg(k));
    }
    return t;
}

// ---- host step ----

void HostStep(benchmark::State& state, uint8_t command, int selectedChannel, int selectedGroup) {
    const TankTable table = FilledTable();
    Panes panes;
    RepeatPort port;
    port.bytes = {command};
    HostLink link;
    for (auto _ : state) {
        link.SelectedChannel = selectedChannel;
        link.SelectedGroup = selectedGroup;
        OprosVelt(link, table, port, panes.log);
        benchmark::DoNotOptimize(link.Reply.data());
    }
}

struct HostCase {
    const char* name;
    uint8_t command;
    int channel;  // selected before the step
    int group;
};

// One row per command family; the selection puts each data command on a tank it serves.
constexpr HostCase kHostCases[] = {
    {"07_identification", 0x07, 0, 0},     {"10_link_check", 0x10, 0, 0},
    {"11_config_1.4", 0x11, 0, 0},         {"2n_level_1.4", 0x23, 0, 0},
    {"3n_temps_1.4", 0x33, 0, 0},          {"4n_water_1.4", 0x43, 0, 0},
    {"5n_density_1.4", 0x53, 0, 0},        {"6n_surface_temp_1.4", 0x63, 0, 0},
    {"8n_volume_1.4", 0x83, 0, 0},         {"Bn_mass_1.4", 0xB3, 0, 0},
    {"An_group_select", 0xA2, 0, 0},       {"Cn_channel_select", 0xC3, 0, 0},
    {"D2_config_2.0", 0xD2, 3, 0},         {"D3_point_heights", 0xD3, 3, 1},
    {"D4_main_parameters", 0xD4, 3, 0},    {"D5_density_probe", 0xD5, 3, 2},
    {"D6_temperature_points", 0xD6, 3, 1}, {"D7_pressures", 0xD7, 6, 0},
    {"D8_probe_heights", 0xD8, 3, 0},      {"DB_gas_values", 0xDB, 7, 0},
    {"DC_config_2.2", 0xDC, 3, 0},         {"DD_system_config", 0xDD, 0, 0},
    {"DE_gas_kinds", 0xDE, 7, 0},          {"DF_gas_alarms", 0xDF, 7, 0},
    {"D0_not_served", 0xD0, 0, 0},         {"FF_rejected", 0xFF, 0, 0},
    {"D4_no_tank", 0xD4, 12, 0},
};

// ---- poll step ----

// Registers and count of the read whose reply each decoder takes, and the group that sent it.
struct PollCase {
    const char* name;
    int tankType;
    int sentGroup;
    uint16_t reg;
    uint16_t count;  // 0: the channel select's echo
};

constexpr PollCase kPollCases[] = {
    {"ProcCanalIn_echo", 0, 1, 0, 0},   {"ProcTypeIn", 0, 2, 0, 3},
    {"ProcOSIn_main", 0, 3, 3, 42},     {"ProcTempIn", 0, 4, 128, 33},
    {"ProcTemp1In", 0, 5, 161, 33},     {"ProcKoordTempIn", 0, 6, 194, 21},
    {"ProcPlotIn", 0, 7, 256, 18},      {"ProcPlotTempIn", 0, 8, 280, 15},
    {"ProcDDIn_pressure", 1, 3, 0, 30}, {"ProcDZOIn_gas", 2, 3, 0, 18},
};

std::vector<uint8_t> GoodReply(uint8_t slave, const PollCase& c) {
    std::vector<uint8_t> r;
    if (c.count == 0) {
        const RequestFrame f = BuildWriteRequest(slave, 0, 5);
        return {f.begin(), f.end()};
    }
    r = {slave, kFnReadInputRegisters, static_cast<uint8_t>(2 * c.count)};
    for (int i = 0; i < 2 * c.count; ++i) r.push_back(static_cast<uint8_t>(0x41 + i % 7));
    const uint16_t crc = Crc16(r.data(), static_cast<int>(r.size()));
    r.push_back(static_cast<uint8_t>(crc & 0xFF));
    r.push_back(static_cast<uint8_t>(crc >> 8));
    return r;
}

void PollStep(benchmark::State& state, PollCase c) {
    TankTable table = FilledTable();
    table.SlaveAddress = 0x50;
    TankEntry& tank = table.Tank(1);
    const uint8_t type[2] = {static_cast<uint8_t>(c.tankType), 0};
    tank.Type.StoreWire(0, type, 1);
    Panes panes;
    RepeatPort port;
    port.bytes = GoodReply(0x50, c);
    PollState poll;
    for (auto _ : state) {
        // The cursor as it stands when the reply to group `sentGroup` is due.
        poll.ReplyPending = 1;
        poll.CycleState = kCycleRunning;
        poll.PollChannel = 0;
        poll.PollGroup = c.sentGroup + 1;
        poll.RetryBudget = kRetriesPerTank;
        OprosModBus(poll, table, port, panes.log);
        benchmark::DoNotOptimize(tank.Main.Bytes().data());
    }
}

// ---- CRC ----

void CrcOfMainReply(benchmark::State& state) {
    std::vector<uint8_t> reply(87);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 37 + 11);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc16(reply.data(), static_cast<int>(reply.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 87);
}

int Register() {
    for (const HostCase& c : kHostCases) {
        benchmark::RegisterBenchmark((std::string("HostStep/") + c.name).c_str(), HostStep,
                                     c.command, c.channel, c.group);
    }
    for (const PollCase& c : kPollCases) {
        benchmark::RegisterBenchmark((std::string("PollStep/") + c.name).c_str(), PollStep, c);
    }
    benchmark::RegisterBenchmark("Crc16/87_byte_reply", CrcOfMainReply);
    return 0;
}

const int kRegistered = Register();

}  // namespace
}  // namespace conv
