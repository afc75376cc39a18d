#include "modbus/groups.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "log/operation_log.h"
#include "modbus/frame.h"
#include "serial/serial_port.h"
#include "store/tank_table.h"

namespace conv {

namespace {

// The register image a read reply fills.
enum class Block { kType, kMain, kTemp, kTempCoords, kDensity, kProbe, kPressure, kGas };

// Registers First, First + Step, ... (N of them).
struct RegRun {
    int First = 0;
    int Step = 1;
    int N = 0;
};

struct ReadRow {
    ReadRequest Id;
    uint16_t Register;
    uint16_t Count;
    // The reply's address byte is overwritten with ours before anything else, so that a reply
    // from another slave fails the CRC test instead of being stored.
    bool ReplaceAddress;
    bool CheckCrc;
    const char* Text;
    Block Target;
    std::array<RegRun, 2> Floats;
    RegRun Heights;
    // LinkState once the retries are used up on replies of the wrong length.
    int32_t WrongLengthState;
    // Pressure and gas tanks have no groups after this one.
    bool EndsTank;
};

using enum ReadRequest;

// clang-format off
constexpr std::array<ReadRow, 9> kRows{{
    // request  register count  address  crc  request line                              block
    //     floats converted             heights      wrong length  ends tank
    {kType,         0,  3, false, false, "OUT запрос типа ДА",                       Block::kType,
        {},                             {},          kLinkFaulty, false},
    {kMain,         3, 42, true,  true,  "OUT запрос основных параметров V,H,M,P,T", Block::kMain,
        {{{3, 3, 11}, {42, 3, 1}}},     {},          kLinkSilent, false},
    {kTemp,       128, 33, true,  true,  "OUT запрос температуры",                   Block::kTemp,
        {{{131, 3, 10}}},               {},          kLinkFaulty, false},
    {kTemp1,      161, 33, true,  true,  "OUT запрос температур Т10-Т21",            Block::kTemp,
        {{{161, 3, 11}}},               {},          kLinkFaulty, false},
    {kKoordTemp,  194, 21, true,  true,  "OUT запрос координат температур",          Block::kTempCoords,
        {},                             {194, 1, 21}, kLinkFaulty, false},
    {kPlot,       256, 18, false, true,  "OUT запрос плотности",                     Block::kDensity,
        {{{259, 3, 5}}},                {},          kLinkFaulty, false},
    {kPlotTemp,   280, 15, false, true,  "OUT запрос плотности",                     Block::kProbe,
        {{{281, 3, 5}}},                {280, 3, 5}, kLinkFaulty, false},
    {kDD,           0, 30, false, true,  "OUT запрос DD",                            Block::kPressure,
        {{{3, 3, 9}}},                  {},          kLinkFaulty, true},
    {kDZO,          0, 18, false, true,  "OUT запрос DZO",                           Block::kGas,
        {{{3, 3, 5}}},                  {},          kLinkFaulty, true},
}};
// clang-format on

// ---- compile-time check of the table against the store's blocks ----

struct RegSpan {
    int First;
    int Count;
};

template <class Image>
constexpr RegSpan SpanOf() {
    return {Image::kFirstReg, Image::kCount};
}

constexpr RegSpan BlockSpan(Block b) {
    switch (b) {
        case Block::kType:
            return SpanOf<TypeBlock>();
        case Block::kMain:
            return SpanOf<MainBlock>();
        case Block::kTemp:
            return SpanOf<TempBlock>();
        case Block::kTempCoords:
            return SpanOf<TempCoordsBlock>();
        case Block::kDensity:
            return SpanOf<DensityBlock>();
        case Block::kProbe:
            return SpanOf<ProbeBlock>();
        case Block::kPressure:
            return SpanOf<PressureBlock>();
        case Block::kGas:
            return SpanOf<GasBlock>();
    }
    return {0, 0};
}

constexpr bool RowFits(const ReadRow& row) {
    const RegSpan block = BlockSpan(row.Target);
    if (row.Register < block.First || row.Register + row.Count > block.First + block.Count) {
        return false;
    }
    const auto inReply = [&](int reg, int n) {
        return reg >= row.Register && reg + n <= row.Register + row.Count;
    };
    for (const RegRun& run : row.Floats) {
        for (int k = 0; k < run.N; ++k) {
            if (!inReply(run.First + k * run.Step, 2)) return false;
        }
    }
    for (int k = 0; k < row.Heights.N; ++k) {
        if (!inReply(row.Heights.First + k * row.Heights.Step, 1)) return false;
    }
    return ReadReplyLength(row.Count) <= kRxCapacity;
}

constexpr bool RowsInOrder() {
    for (size_t i = 0; i < kRows.size(); ++i) {
        if (kRows[i].Id != static_cast<ReadRequest>(i)) return false;
    }
    return true;
}

static_assert(RowsInOrder());
static_assert(std::all_of(kRows.begin(), kRows.end(), RowFits));

const ReadRow& RowOf(ReadRequest request) {
    return kRows[static_cast<size_t>(request)];
}

// ---- storing ----

template <class Image>
void StoreInto(Image& block, const ReadRow& row, const uint8_t* registers) {
    block.StoreWire(row.Register, registers, row.Count);
    for (const RegRun& run : row.Floats) {
        for (int k = 0; k < run.N; ++k) block.ConvertFloat(run.First + k * run.Step);
    }
    for (int k = 0; k < row.Heights.N; ++k) {
        block.ConvertHeight(row.Heights.First + k * row.Heights.Step);
    }
}

void StoreReply(TankEntry& tank, const ReadRow& row, const uint8_t* registers) {
    switch (row.Target) {
        case Block::kType:
            StoreInto(tank.Type, row, registers);
            break;
        case Block::kMain:
            StoreInto(tank.Main, row, registers);
            break;
        case Block::kTemp:
            StoreInto(tank.Temp, row, registers);
            break;
        case Block::kTempCoords:
            StoreInto(tank.TempCoords, row, registers);
            break;
        case Block::kDensity:
            StoreInto(tank.Density, row, registers);
            break;
        case Block::kProbe:
            StoreInto(tank.Probe, row, registers);
            break;
        case Block::kPressure:
            StoreInto(tank.Pressure, row, registers);
            break;
        case Block::kGas:
            StoreInto(tank.Gas, row, registers);
            break;
    }
}

// ---- sending ----

void SendFrame(PollContext& c, const RequestFrame& frame, const std::string& text) {
    PollState& p = c.Poll;
    p.TxFrame = frame;
    c.Port.Write(p.TxFrame.data(), kRequestLength);
    c.Log.LogModbus(text);
    c.Log.DumpModbus(p.TxFrame.data(), kRequestLength);
}

// ---- outcome rules shared by the decoders ----

// The retry budget belongs to the tank: every repeat of any of its requests spends it.
bool BudgetLeft(const PollState& p) {
    return p.RetryBudget >= 0;
}

void Repeat(PollState& p) {
    --p.RetryBudget;
    --p.PollGroup;  // the next poll step sends the same request again
}

void DumpReply(PollContext& c) {
    c.Log.DumpModbus(c.Poll.RxFrame.data(), c.Poll.RxCount);
}

enum class NoReply { kNotThisCase, kRepeated, kGaveUp };

// Line error (-1) or silence (0): repeat, or give the tank up for this cycle.
NoReply HandleNoReply(PollContext& c) {
    PollState& p = c.Poll;
    if (p.RxCount > 0) return NoReply::kNotThisCase;
    if (BudgetLeft(p)) {
        Repeat(p);
        return NoReply::kRepeated;
    }
    c.Tank().LinkState = p.RxCount < 0 ? kLinkFaulty : kLinkSilent;
    p.PollGroup = kGroupTankDone;
    return NoReply::kGaveUp;
}

// The gauge refused the request: it is there, so the link is good, but this tank is done.
void TakeException(PollContext& c, uint8_t code) {
    TankEntry& tank = c.Tank();
    tank.LinkState = kLinkGood;
    tank.GaugeErrorCode = code;
    c.Poll.PollGroup = kGroupTankDone;
}

}  // namespace

// ---- the read family ----

void SendRead(PollContext& c, ReadRequest request) {
    const ReadRow& row = RowOf(request);
    SendFrame(c, BuildReadRequest(c.SlaveByte(), row.Register, row.Count), row.Text);
}

void DecodeRead(PollContext& c, ReadRequest request) {
    const ReadRow& row = RowOf(request);
    PollState& p = c.Poll;
    TankEntry& tank = c.Tank();
    uint8_t* rx = p.RxFrame.data();

    if (row.ReplaceAddress && p.RxCount > 0) rx[0] = c.SlaveByte();
    c.Log.LogModbus(kInLine);

    if (HandleNoReply(c) != NoReply::kNotThisCase) return;
    if (p.RxCount == kExceptionReplyLength) {
        TakeException(c, rx[kExceptionCodeIndex]);
        DumpReply(c);
        return;
    }

    const auto giveUp = [&](int32_t linkState) {
        tank.LinkState = linkState;
        if (row.EndsTank) p.PollGroup = kGroupTankDone;
    };

    if (p.RxCount != ReadReplyLength(row.Count)) {
        if (BudgetLeft(p)) {
            Repeat(p);
        } else {
            c.Log.LogModbus(kBadBufferLine);
            giveUp(row.WrongLengthState);
        }
        DumpReply(c);
        return;
    }

    if (row.CheckCrc && !CrcMatches(rx, p.RxCount)) {
        if (BudgetLeft(p)) {
            Repeat(p);
        } else {
            giveUp(kLinkFaulty);
        }
        return;
    }

    tank.LinkState = kLinkGood;
    tank.GaugeErrorCode = 0;
    StoreReply(tank, row, rx + kReplyHeaderLength);
    if (row.EndsTank) p.PollGroup = kGroupTankDone;
    DumpReply(c);
}

// ---- groups 0 and 1 ----

void ProcZero(PollContext& c) {
    c.Poll.TxFrame[0] = 0x00;
    c.Port.Write(c.Poll.TxFrame.data(), 1);
}

namespace {

// A tank skipped after the zero byte in this many cycles in a row is marked faulty.
constexpr int32_t kZeroByteSkipsFaulty = 2;

// "Резервуар 3 (адрес канала 5): посторонние байты после нулевого байта 2-й цикл подряд, связь
// неисправна"
std::string ZeroByteSkipLine(int tankNumber, int32_t channelAddress, int32_t cycles) {
    return "Резервуар " + std::to_string(tankNumber) + " (адрес канала " +
           std::to_string(channelAddress) + "): посторонние байты после нулевого байта " +
           std::to_string(cycles) + "-й цикл подряд, связь неисправна";
}

}  // namespace

void ProcZeroIn(PollContext& c) {
    TankEntry& tank = c.Tank();
    // A line error is not skipped over here: the channel select meets it with its retries and
    // reports it in LinkState and GaugeLinkOk, where a skip would leave a dead line's tanks
    // showing their last good state for ever.
    if (c.Poll.RxCount <= 0) {
        tank.ZeroByteSkips = 0;
        return;
    }
    // Bytes after the zero byte mean someone else is talking on the line: leave this tank for the
    // next cycle, as it is. When that happens again in the next cycle it is no passing talk but a
    // line the tank cannot be read on (an adapter echoing what it sends, a gauge answering the
    // zero byte): no request is ever sent, so its values are stale, and the host must hear that.
    c.Poll.PollGroup = kGroupTankDone;
    if (tank.ZeroByteSkips < INT32_MAX) ++tank.ZeroByteSkips;
    if (tank.ZeroByteSkips >= kZeroByteSkipsFaulty) {
        tank.LinkState = kLinkFaulty;
        c.Log.LogModbus(
            ZeroByteSkipLine(c.Poll.PollChannel + 1, tank.ChannelAddress, tank.ZeroByteSkips));
    }
}

void ProcCanal(PollContext& c) {
    const int32_t address = c.Tank().ChannelAddress;
    // The gauge numbers its channels in one byte.
    const auto channel = static_cast<uint8_t>(address);
    SendFrame(c, BuildWriteRequest(c.SlaveByte(), 0, channel),
              std::to_string(address) + kChannelLineSuffix);
}

void ProcCanalIn(PollContext& c) {
    PollState& p = c.Poll;
    TankEntry& tank = c.Tank();
    const uint8_t* rx = p.RxFrame.data();

    if (HandleNoReply(c) == NoReply::kGaveUp) c.Table.GaugeLinkOk = 0;
    if (p.RxCount <= 0) return;

    if (p.RxCount == kRequestLength) {  // the echo; its content is not looked at
        tank.LinkState = kLinkGood;
        tank.GaugeErrorCode = 0;
        c.Table.GaugeLinkOk = 1;
    }
    if (p.RxCount == kExceptionReplyLength && rx[kExceptionCodeIndex] != 0) {
        TakeException(c, rx[kExceptionCodeIndex]);
    }
    c.Log.LogModbus(kInLine);
    DumpReply(c);
}

// ---- the named members of the read family ----

void ProcType(PollContext& c) {
    SendRead(c, kType);
}
void ProcTypeIn(PollContext& c) {
    DecodeRead(c, kType);
}
void ProcOS(PollContext& c) {
    SendRead(c, kMain);
}
void ProcOSIn(PollContext& c) {
    DecodeRead(c, kMain);
}
void ProcTemp(PollContext& c) {
    SendRead(c, kTemp);
}
void ProcTempIn(PollContext& c) {
    DecodeRead(c, kTemp);
}
void ProcTemp1(PollContext& c) {
    SendRead(c, kTemp1);
}
void ProcTemp1In(PollContext& c) {
    DecodeRead(c, kTemp1);
}
void ProcKoordTemp(PollContext& c) {
    SendRead(c, kKoordTemp);
}
void ProcKoordTempIn(PollContext& c) {
    DecodeRead(c, kKoordTemp);
}
void ProcPlot(PollContext& c) {
    SendRead(c, kPlot);
}
void ProcPlotIn(PollContext& c) {
    DecodeRead(c, kPlot);
}
void ProcPlotTemp(PollContext& c) {
    SendRead(c, kPlotTemp);
}
void ProcPlotTempIn(PollContext& c) {
    DecodeRead(c, kPlotTemp);
}
void ProcDD(PollContext& c) {
    SendRead(c, kDD);
}
void ProcDDIn(PollContext& c) {
    DecodeRead(c, kDD);
}
void ProcDZO(PollContext& c) {
    SendRead(c, kDZO);
}
void ProcDZOIn(PollContext& c) {
    DecodeRead(c, kDZO);
}

}  // namespace conv
