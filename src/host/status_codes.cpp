#include "host/status_codes.h"

#include <span>

#include "store/tank_table.h"

namespace conv {

namespace {

struct CodeRow {
    uint8_t Bit;
    uint8_t Code;
};

struct PairRow {
    uint8_t Bit;
    StatusPair Pair;
};

// "Not fitted" outranks a sensor fault, which outranks the quantity-specific warnings.
constexpr CodeRow kValueCodes[] = {{0x40, 0x01}, {0x02, 0x38}, {0x80, 0x32},
                                   {0x08, 0x32}, {0x04, 0x32}, {0x01, 0x4D}};

constexpr PairRow kWaterLevelPairs[] = {
    {0x40, {0x01, 0}}, {0x02, {0x38, 0}}, {0x80, {0x32, 0}}, {0x01, {0, 0x4D}}};
constexpr PairRow kDensityProbePairs[] = {
    {0x40, {0x01, 0}}, {0x02, {0x38, 0}}, {0x80, {0x32, 0}}, {0x04, {0, 0x4E}}, {0x01, {0, 0x49}}};
constexpr PairRow kTempPointPairs[] = {
    {0x40, {0x01, 0}}, {0x02, {0x38, 0}}, {0x80, {0x32, 0}}, {0x08, {0, 0x49}}, {0x04, {0, 0x4C}}};

struct PatternRow {
    uint8_t Pattern;
    uint8_t Code;
};

// Pressure faults are told apart by the whole pattern of bits 0x80 and 0x0F.
constexpr PatternRow kPressurePatterns[] = {
    {0x80, 0x32}, {0x8F, 0x32}, {0x84, 0x0B}, {0x88, 0x0C}, {0x8C, 0x0D}};

uint8_t FirstCode(uint8_t flags, std::span<const CodeRow> rows) {
    for (const CodeRow& row : rows) {
        if (flags & row.Bit) return row.Code;
    }
    return 0;
}

StatusPair FirstPair(uint8_t flags, std::span<const PairRow> rows) {
    for (const PairRow& row : rows) {
        if (flags & row.Bit) return row.Pair;
    }
    return {};
}

uint8_t FlagsOf(uint16_t state) {
    return static_cast<uint8_t>(state & 0xFF);
}

template <typename Block>
int CountFitted(const Block& block) {
    int n = 0;
    for (int k = 1; k <= Block::kSensors; ++k) {
        if (!(block.Sensor(k).FlagsByte & kFlagNotFitted)) ++n;
    }
    return n;
}

}  // namespace

uint8_t ProcChanErr(int32_t gaugeErrorCode) {
    switch (gaugeErrorCode) {
        case 0x84:
        case 0x96:
        case 0x9C:
            return kStatusNoData;
        default:
            return kStatusGaugeFault;
    }
}

uint8_t ProcDZOErr(uint16_t state) {
    return FirstCode(FlagsOf(state), kValueCodes);
}
StatusPair ProcHvErr(uint8_t flags) {
    return FirstPair(flags, kWaterLevelPairs);
}
StatusPair ProcDPErr(uint8_t flags) {
    return FirstPair(flags, kDensityProbePairs);
}
StatusPair ProcDTErr(uint8_t flags) {
    return FirstPair(flags, kTempPointPairs);
}

StatusPair ProcDZOState(uint16_t state) {
    const uint8_t h = static_cast<uint8_t>(state >> 8);
    const uint8_t kind = (h & 0x0F) == 2 ? 1 : 2;
    const uint8_t alarm = (h & 0x30) == 0x00 ? 0 : (h & 0x30) == 0x10 ? 1 : 2;
    return {kind, alarm};
}

uint8_t ProcDDErrVelt(uint16_t state) {
    const uint8_t f = FlagsOf(state);
    if (f & 0x40) return 0x01;
    if (f & 0x02) return 0x38;
    for (const PatternRow& row : kPressurePatterns) {
        if ((f & 0x8F) == row.Pattern) return row.Code;
    }
    return 0;
}

int ProcCountDD(const PressureBlock& pressure) {
    return CountFitted(pressure);
}
int ProcCountDZO(const GasBlock& gas) {
    return CountFitted(gas);
}

}  // namespace conv
