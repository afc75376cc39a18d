#include "reply_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace conv::hostsim {
namespace {

constexpr size_t kParamBlock = 56;
constexpr size_t kCoordBlock = 20;
constexpr size_t kConfigTable = 18;
constexpr int kTempPoints = 21;
constexpr int kProbes = 5;
constexpr int kGasSensors = 5;

// Status bytes a command may get besides 0x00. 0xC0 (two bytes in one tick) and 0xFE (the
// converter has not finished its first pass over the gauge) can come for any request.
std::string_view ErrorStatuses(Layout layout) {
    switch (layout) {
        case Layout::Ack:
        case Layout::Identity:
        case Layout::ConfigTable:
            return "";
        case Layout::LinkCheck:
            return "\x04";
        case Layout::ProbeBlock:
        case Layout::TempBlock:
        case Layout::TempCoords:
            return "\xFF\x04\x0C";
        case Layout::Packed14:
        case Layout::Temps14:
        case Layout::Water14:
        case Layout::Surface14:
            return "\xFF\x04\x06";
        case Layout::NotServed:
            return "\x0C";
        case Layout::Rejected:
            return "";
        default:
            return "\xFF\x04";
    }
}

// Commands whose only answer is an error byte: a 0x00 from them is malformed.
bool HasAcceptedReply(Layout layout) {
    return layout != Layout::NotServed && layout != Layout::Rejected;
}

CommandInfo DescribeD(uint8_t n) {
    switch (n) {
        case 0x2:
            return {Layout::Config20, 6, "channel configuration 2.0"};
        case 0x3:
            return {Layout::TempCoords, kCoordBlock, "temperature point heights"};
        case 0x4:
            return {Layout::MainParams, kParamBlock, "main parameters"};
        case 0x5:
            return {Layout::ProbeBlock, kParamBlock, "density probe"};
        case 0x6:
            return {Layout::TempBlock, kParamBlock, "temperature points"};
        case 0x7:
            return {Layout::Pressures, kParamBlock, "pressures"};
        case 0x8:
            return {Layout::ProbeCoords, kCoordBlock, "density probe heights"};
        case 0xB:
            return {Layout::GasValues, kParamBlock, "gas sensor values"};
        case 0xC:
            return {Layout::Config22, 10, "channel configuration 2.2"};
        case 0xD:
            return {Layout::ConfigTable, kConfigTable, "system configuration"};
        case 0xE:
            return {Layout::GasKinds, kCoordBlock, "gas sensor kinds"};
        case 0xF:
            return {Layout::GasAlarms, kParamBlock, "gas sensor alarms"};
        default:
            return {Layout::NotServed, 1, "unserved sub-command"};
    }
}

int32_t Int32At(std::span<const uint8_t> b, size_t at) {
    const uint32_t u = uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
                       uint32_t{b[at + 3]} << 24;
    return static_cast<int32_t>(u);
}

uint16_t U16At(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

size_t GroupOffset(int group) {
    return 1 + 6 * static_cast<size_t>(group - 1);
}

std::string Numbered(const char* prefix, int n, const char* suffix = "") {
    return prefix + std::to_string(n) + suffix;
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", v & 0xFFu);
    return buf;
}

// Builds the values of one reply body (status 0x00, length and checksum already checked).
class BodyReader {
  public:
    BodyReader(Reply& reply, std::span<const uint8_t> body) : r_(reply), b_(body) {}

    void Group(int g, std::string name, Unit unit, int divisor) {
        const size_t o = GroupOffset(g);
        Value v;
        v.group = g;
        v.name = std::move(name);
        v.hasStatus = true;
        v.st1 = b_[o];
        v.st2 = b_[o + 1];
        v.raw = Int32At(b_, o + 2);
        v.divisor = divisor;
        v.unit = unit;
        r_.values.push_back(std::move(v));
    }

    void Plain(int position, std::string name, int64_t raw, Unit unit, int divisor = 1) {
        Value v;
        v.group = position;
        v.name = std::move(name);
        v.raw = raw;
        v.divisor = divisor;
        v.unit = unit;
        r_.values.push_back(std::move(v));
    }

    // Groups that the layout fixes: first status `st1`, second 0, value 0.
    void ExpectEmptyGroups(int from, int to, uint8_t st1) {
        for (int g = from; g <= to; ++g) {
            const size_t o = GroupOffset(g);
            if (b_[o] != st1 || b_[o + 1] != 0 || Int32At(b_, o + 2) != 0) {
                Fault("group " + std::to_string(g) + " should be " + Hex2(st1) + "/00 and 0");
            }
        }
    }

    void ExpectBytes(size_t from, std::span<const uint8_t> expected) {
        for (size_t i = 0; i < expected.size(); ++i) {
            if (b_[from + i] != expected[i]) {
                Fault("byte " + std::to_string(from + i) + " is " + Hex2(b_[from + i]) +
                      ", the layout fixes " + Hex2(expected[i]));
                return;
            }
        }
    }

    void ExpectZero(size_t from, size_t to) {
        for (size_t i = from; i <= to; ++i) {
            if (b_[i] != 0) {
                Fault("byte " + std::to_string(i) + " is " + Hex2(b_[i]) + ", the layout fixes 00");
                return;
            }
        }
    }

    void Fault(std::string text) { r_.problems.push_back({"content", std::move(text)}); }

    uint8_t operator[](size_t i) const { return b_[i]; }
    std::span<const uint8_t> Body() const { return b_; }

  private:
    Reply& r_;
    std::span<const uint8_t> b_;
};

void ReadMainParams(BodyReader& in) {
    struct Row {
        const char* name;
        Unit unit;
    };
    static constexpr Row kRows[] = {{"level", Unit::Mm},     {"volume", Unit::Litre},
                                    {"water", Unit::Mm},     {"temp", Unit::DegC},
                                    {"density", Unit::KgM3}, {"mass", Unit::Kg}};
    int g = 1;
    for (const Row& row : kRows) in.Group(g++, row.name, row.unit, 10);
    in.ExpectEmptyGroups(7, 9, 0);
}

void ReadProbeBlock(BodyReader& in, int block) {
    if (block > kProbes - 1) {
        in.Fault("data for density probe " + std::to_string(block + 1) + ", which cannot exist");
        return;
    }
    const int k = block + 1;
    in.Group(1, Numbered("probe", k, "_density"), Unit::KgM3, 10);
    in.Group(2, Numbered("probe", k, "_temp"), Unit::DegC, 10);
    // The height in tenths of a millimetre fills the whole group value, signed: the gauge's
    // refinement may take a probe at height 0 below it, and 6553.6 mm does not fit 16 bits.
    in.Plain(4, Numbered("probe", k, "_height"), Int32At(in.Body(), GroupOffset(4) + 2), Unit::Mm,
             10);
    in.ExpectEmptyGroups(3, 3, 1);
    in.ExpectZero(GroupOffset(4), GroupOffset(4) + 1);
    in.ExpectEmptyGroups(5, 5, 1);
    in.ExpectEmptyGroups(6, 9, 0);
}

// Temperature blocks of nine points: T1..T9, T10..T18, T19..T21.
int PointsInBlock(int block) {
    const int first = 9 * block + 1;
    if (first > kTempPoints) return 0;
    return std::min(9, kTempPoints - first + 1);
}

void ReadTempBlock(BodyReader& in, int block) {
    const int points = PointsInBlock(block);
    if (points == 0) {
        in.Fault("data for temperature block " + std::to_string(block) + ", which cannot exist");
        return;
    }
    for (int g = 1; g <= points; ++g) {
        in.Group(g, Numbered("t", 9 * block + g), Unit::DegC, 10);
    }
    if (points < 9) in.ExpectEmptyGroups(points + 1, 9, 1);
}

void ReadTempCoords(BodyReader& in, int block) {
    const int points = PointsInBlock(block);
    if (points == 0) {
        in.Fault("heights for temperature block " + std::to_string(block) + ", which cannot exist");
        return;
    }
    for (int i = 1; i <= points; ++i) {
        const size_t at = 1 + 2 * static_cast<size_t>(i - 1);
        in.Plain(i, Numbered("t", 9 * block + i, "_height"), U16At(in.Body(), at), Unit::Mm);
    }
    if (points < 9) in.ExpectZero(1 + 2 * static_cast<size_t>(points), 18);
}

void ReadProbeCoords(BodyReader& in) {
    for (int k = 1; k <= kProbes; ++k) {
        const size_t at = 1 + 2 * static_cast<size_t>(k - 1);
        in.Plain(k, Numbered("probe", k, "_coord"), U16At(in.Body(), at), Unit::Mm);
    }
    in.ExpectZero(11, 18);
}

void ReadPressures(BodyReader& in) {
    // Tenths of the unit the gauge delivers; for a level gauge group 1 is its single pressure.
    for (int g = 1; g <= 9; ++g) in.Group(g, Numbered("p", g), Unit::None, 10);
}

void ReadGas(BodyReader& in, Reply& r, bool alarms) {
    for (int k = 1; k <= kGasSensors; ++k) {
        if (alarms) {
            in.Group(k, Numbered("gas", k, "_alarm"), Unit::Code, 1);
        } else {
            in.Group(k, Numbered("gas", k), Unit::Percent, 10);
        }
        r.values.back().st2IsKind = true;
    }
    in.ExpectEmptyGroups(kGasSensors + 1, 9, 1);
}

void ReadGasKinds(BodyReader& in) {
    for (int k = 1; k <= kGasSensors; ++k) {
        in.Plain(k, Numbered("gas", k, "_kind"), in[2 * k - 1], Unit::Code);
        in.Plain(k, Numbered("gas", k, "_state"), in[2 * k], Unit::Code);
    }
    static constexpr uint8_t kFiller[] = {0x20, 0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00};
    in.ExpectBytes(11, kFiller);
}

void ReadConfigTable(BodyReader& in, Reply& r) {
    for (int a = 0; a < 16; ++a) {
        in.Plain(a, "cfg", in[1 + a], Unit::Hex);
        r.values.back().channel = a;
    }
}

void ReadConfig(BodyReader& in, bool v22) {
    if (v22) {
        in.Plain(1, "flags", in[1] | in[2] << 8, Unit::Hex);
        in.Plain(3, "temp_hdr", in[3], Unit::Count);
        in.Plain(4, "dens", in[4], Unit::Count);
        in.Plain(5, "press", in[5], Unit::Count);
        in.Plain(6, "gas", in[6], Unit::Count);
        in.ExpectZero(7, 8);
    } else {
        in.Plain(1, "flags", in[1], Unit::Hex);
        in.Plain(2, "temp_hdr", in[2], Unit::Count);
        in.Plain(3, "dens", in[3], Unit::Count);
        in.Plain(4, "press", in[4], Unit::Count);
    }
}

void ReadPacked14(BodyReader& in, uint8_t cmd) {
    struct Quantity {
        uint8_t high;
        const char* name;
        Unit unit;
    };
    static constexpr Quantity kQuantities[] = {{0x20, "level", Unit::Mm},
                                               {0x50, "density", Unit::KgM3},
                                               {0x80, "volume", Unit::Litre},
                                               {0xB0, "mass", Unit::Kg}};
    if ((in[3] & 0x0F) > 9) in.Fault("tenths digit " + std::to_string(in[3] & 0x0F) + " above 9");
    for (const Quantity& q : kQuantities) {
        if ((cmd & 0xF0) == q.high) {
            in.Plain(1, q.name, UnpackTenths14(in[1], in[2], in[3]), q.unit, 10);
        }
    }
}

void ReadTemps14(BodyReader& in) {
    static constexpr const char* kNames[] = {"t1", "t2", "t3", "mean_temp"};
    for (int i = 0; i < 4; ++i) in.Plain(i + 1, kNames[i], HalfDegrees14(in[1 + i]), Unit::DegC, 2);
}

void ReadFixed(BodyReader& in, uint8_t cmd) {
    static constexpr uint8_t kIdentity[] = {0x00, 0x0A, 0x06, 0x3C, 0x30};
    static constexpr uint8_t kLink10[] = {0x00, 0x55};
    static constexpr uint8_t kLink14[] = {0x00, 0xE0};
    if (cmd == 0x07) in.ExpectBytes(0, kIdentity);
    if (cmd == 0x10) in.ExpectBytes(0, kLink10);
    if (cmd == 0x14) in.ExpectBytes(0, kLink14);
}

void ReadBody(Reply& r, std::span<const uint8_t> body) {
    BodyReader in(r, body);
    const int block = r.block < 0 ? 0 : r.block;
    switch (Describe(r.cmd).layout) {
        case Layout::Identity:
        case Layout::LinkCheck:
            ReadFixed(in, r.cmd);
            break;
        case Layout::ConfigTable:
            ReadConfigTable(in, r);
            break;
        case Layout::Config20:
            ReadConfig(in, false);
            break;
        case Layout::Config22:
            ReadConfig(in, true);
            break;
        case Layout::MainParams:
            ReadMainParams(in);
            break;
        case Layout::ProbeBlock:
            ReadProbeBlock(in, block);
            break;
        case Layout::TempBlock:
            ReadTempBlock(in, block);
            break;
        case Layout::TempCoords:
            ReadTempCoords(in, block);
            break;
        case Layout::ProbeCoords:
            ReadProbeCoords(in);
            break;
        case Layout::Pressures:
            ReadPressures(in);
            break;
        case Layout::GasValues:
            ReadGas(in, r, false);
            break;
        case Layout::GasAlarms:
            ReadGas(in, r, true);
            break;
        case Layout::GasKinds:
            ReadGasKinds(in);
            break;
        case Layout::Packed14:
            ReadPacked14(in, r.cmd);
            break;
        case Layout::Temps14:
            ReadTemps14(in);
            break;
        case Layout::Water14:
            in.Plain(1, "water", in[1], Unit::Mm);
            break;
        case Layout::Surface14:
            in.Plain(1, "surface_temp", HalfDegrees14(in[1]), Unit::DegC, 2);
            break;
        case Layout::Ack:
        case Layout::NotServed:
        case Layout::Rejected:
            break;
    }
}

}  // namespace

CommandInfo Describe(uint8_t cmd) {
    const uint8_t n = cmd & 0x0F;
    switch (cmd >> 4) {
        case 0xA:
            return {Layout::Ack, 1, "group select"};
        case 0xC:
            return {Layout::Ack, 1, "channel select"};
        case 0xD:
            return DescribeD(n);
        case 0x2:
            return {Layout::Packed14, 5, "level 1.4"};
        case 0x3:
            return {Layout::Temps14, 6, "temperatures 1.4"};
        case 0x4:
            return {Layout::Water14, 2, "water level 1.4"};
        case 0x5:
            return {Layout::Packed14, 5, "density 1.4"};
        case 0x6:
            return {Layout::Surface14, 2, "surface temperature 1.4"};
        case 0x8:
            return {Layout::Packed14, 5, "volume 1.4"};
        case 0xB:
            return {Layout::Packed14, 5, "mass 1.4"};
        default:
            break;
    }
    switch (cmd) {
        case 0x07:
            return {Layout::Identity, 5, "identity"};
        case 0x10:
        case 0x14:
            return {Layout::LinkCheck, 2, "gauge link check"};
        case 0x11:
            return {Layout::ConfigTable, kConfigTable, "system configuration 1.4"};
        default:
            return {Layout::Rejected, 1, "no meaning"};
    }
}

size_t ExpectedLength(uint8_t cmd, uint8_t status) {
    return status == kStatusOk ? Describe(cmd).length : 1;
}

bool StatusPossible(uint8_t cmd, uint8_t status) {
    const Layout layout = Describe(cmd).layout;
    if (status == kStatusOk) return HasAcceptedReply(layout);
    if (status == kStatusRejected || status == kStatusInitialising) return true;
    return ErrorStatuses(layout).find(static_cast<char>(status)) != std::string_view::npos;
}

const char* StatusName(uint8_t status) {
    switch (status) {
        case kStatusNoTank:
            return "no tank";
        case kStatusLinkError:
            return "link error";
        case kStatusNoAnswer14:
            return "no gauge answer";
        case kStatusNotServed:
            return "not served";
        case kStatusRejected:
            return "rejected";
        case kStatusInitialising:
            return "initialising";
        default:
            return nullptr;
    }
}

int Channel14(uint8_t cmd) {
    switch (Describe(cmd).layout) {
        case Layout::Packed14:
        case Layout::Temps14:
        case Layout::Water14:
        case Layout::Surface14:
            return cmd & 0x0F;
        default:
            return -1;
    }
}

const char* MachineUnit(Unit unit) {
    switch (unit) {
        case Unit::Mm:
            return "mm";
        case Unit::Litre:
            return "l";
        case Unit::Kg:
            return "kg";
        case Unit::KgM3:
            return "kg/m3";
        case Unit::DegC:
            return "degC";
        case Unit::Percent:
            return "%";
        default:
            return "-";
    }
}

const char* HumanUnit(Unit unit) {
    switch (unit) {
        case Unit::KgM3:
            return "kg/m³";
        case Unit::DegC:
            return "°C";
        case Unit::Mm:
        case Unit::Litre:
        case Unit::Kg:
        case Unit::Percent:
            return MachineUnit(unit);
        default:
            return "";
    }
}

Reply DecodeReply(uint8_t cmd, std::span<const uint8_t> bytes, int block) {
    Reply r;
    r.cmd = cmd;
    r.block = block;
    r.bytes.assign(bytes.begin(), bytes.end());
    if (bytes.empty()) {
        r.problems.push_back({"noreply", "no reply"});
        return r;
    }
    const uint8_t status = bytes[0];
    if (!StatusPossible(cmd, status)) {
        r.problems.push_back({"status", "status " + Hex2(status) + " is not an answer to " +
                                            Hex2(cmd) + " (" + Describe(cmd).title + ")"});
    }
    const size_t want = ExpectedLength(cmd, status);
    if (bytes.size() < want) {
        r.problems.push_back({"short", "short reply: " + std::to_string(bytes.size()) + " of " +
                                           std::to_string(want) + " bytes"});
        return r;
    }
    if (bytes.size() > want) {
        r.problems.push_back(
            {"extra", std::to_string(bytes.size() - want) + " byte(s) after the reply"});
    }
    if (status != kStatusOk || !HasAcceptedReply(Describe(cmd).layout)) return r;
    const auto body = bytes.first(want);
    if (want > 2) {
        const uint8_t expected = Xor(body.first(want - 1));
        if (expected != body[want - 1]) {
            r.problems.push_back({"checksum", "checksum " + Hex2(body[want - 1]) +
                                                  ", the bytes before it give " + Hex2(expected)});
            return r;  // values from a corrupted block would only mislead
        }
    }
    ReadBody(r, body);
    return r;
}

int64_t UnpackTenths14(uint8_t b1, uint8_t b2, uint8_t b3) {
    const int64_t whole = b1 | b2 << 8 | (b3 >> 4) << 16;
    return whole * 10 + (b3 & 0x0F);
}

int HalfDegrees14(uint8_t b) {
    const int magnitude = b & 0x7F;
    return (b & 0x80) ? -magnitude : magnitude;
}

uint8_t Xor(std::span<const uint8_t> bytes) {
    uint8_t x = 0;
    for (uint8_t b : bytes) x ^= b;
    return x;
}

std::string FormatScaled(const Value& v) {
    if (v.unit == Unit::Hex) {
        char buf[16];
        std::snprintf(buf, sizeof buf, v.raw > 0xFF ? "0x%04llx" : "0x%02llx",
                      static_cast<unsigned long long>(v.raw));
        return buf;
    }
    const int64_t magnitude = std::llabs(v.raw);
    std::string s = v.raw < 0 ? "-" : "";
    s += std::to_string(magnitude / v.divisor);
    if (v.divisor > 1) s += "." + std::to_string(magnitude % v.divisor * 10 / v.divisor);
    return s;
}

std::string StatusCodesText(const Value& v) {
    if (!v.hasStatus) return "";
    if (v.st2IsKind) {
        std::string s = v.st1 == 1 ? "not fitted, " : v.st1 ? "st " + Hex2(v.st1) + ", " : "";
        return s + "kind " + std::to_string(v.st2);
    }
    if (v.st1 == 0 && v.st2 == 0) return "";
    if (v.st1 == 1 && v.st2 == 0) return "not fitted";
    return "st " + Hex2(v.st1) + "/" + Hex2(v.st2);
}

std::string HexBytes(std::span<const uint8_t> bytes, const char* separator) {
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += separator;
        s += Hex2(bytes[i]);
    }
    return s;
}

}  // namespace conv::hostsim
