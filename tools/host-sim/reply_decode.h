// Reading the converter's answers the way a Velt host reads them. This is the host's own view of
// the protocol, written from the reply layouts and deliberately independent of the converter's
// encoders, so that a fault in those encoders shows up here instead of being mirrored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace conv::hostsim {

// Status bytes (byte 0 of every reply).
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusNoTank = 0xFF;
inline constexpr uint8_t kStatusLinkError = 0x04;
inline constexpr uint8_t kStatusNoAnswer14 = 0x06;
inline constexpr uint8_t kStatusNotServed = 0x0C;
inline constexpr uint8_t kStatusRejected = 0xC0;
inline constexpr uint8_t kStatusInitialising = 0xFE;

// What a command's accepted reply looks like.
enum class Layout : uint8_t {
    Ack,          // 0xAn, 0xCn: the status byte alone
    Identity,     // 0x07: fixed five bytes
    LinkCheck,    // 0x10, 0x14: status and one fixed byte
    ConfigTable,  // 0x11, 0xDD: one byte per channel address
    Config20,     // 0xD2
    Config22,     // 0xDC
    MainParams,   // 0xD4
    ProbeBlock,   // 0xD5: one density probe
    TempBlock,    // 0xD6: nine temperature points
    TempCoords,   // 0xD3: heights of nine temperature points
    ProbeCoords,  // 0xD8: heights of the five density probes
    Pressures,    // 0xD7
    GasValues,    // 0xDB
    GasKinds,     // 0xDE
    GasAlarms,    // 0xDF
    Packed14,     // 0x2n, 0x5n, 0x8n, 0xBn: whole units and a tenths digit
    Temps14,      // 0x3n: four half-degree bytes
    Water14,      // 0x4n: whole millimetres in one byte
    Surface14,    // 0x6n: one half-degree byte
    NotServed,    // 0xD0, 0xD1, 0xD9, 0xDA: always 0x0C
    Rejected,     // bytes without a meaning: always 0xC0
};

struct CommandInfo {
    Layout layout;
    size_t length;      // of a reply with status 0x00; 1 where the command has no such reply
    const char* title;  // what the command asks for, for people
};

CommandInfo Describe(uint8_t cmd);
// Length of the whole reply once its status byte is known.
size_t ExpectedLength(uint8_t cmd, uint8_t status);
// Whether the converter may answer `cmd` with this status byte at all.
bool StatusPossible(uint8_t cmd, uint8_t status);
// Name of a status byte other than 0x00; nullptr when it has none.
const char* StatusName(uint8_t status);
// The channel address a 1.4 data command carries, or -1 for every other command.
int Channel14(uint8_t cmd);

enum class Unit : uint8_t { None, Mm, Litre, Kg, KgM3, DegC, Percent, Count, Hex, Code };
const char* MachineUnit(Unit unit);
const char* HumanUnit(Unit unit);

struct Value {
    int group = 0;     // position in the reply: group 1..9, coordinate slot, sensor, address
    std::string name;  // stable identifier: "level", "t10", "probe3_density", "gas2_alarm"
    bool hasStatus = false;
    uint8_t st1 = 0;  // first and second status code of a parameter-block group
    uint8_t st2 = 0;
    int64_t raw = 0;  // the integer as sent
    int divisor = 1;  // raw / divisor is the value in `unit` (1, 2 or 10)
    Unit unit = Unit::None;
    int channel = -1;        // for the configuration tables: the address this byte describes
    bool st2IsKind = false;  // gas sensors: the second code names the sensor kind, not a fault
};

struct Problem {
    const char* code;  // stable: noreply, short, extra, checksum, status, content
    std::string text;
};

struct Reply {
    uint8_t cmd = 0;
    int block = -1;              // group selection the reply was read under; -1 unknown
    std::vector<uint8_t> bytes;  // everything that arrived for this request
    std::vector<Problem> problems;
    std::vector<Value> values;

    bool Answered() const { return !bytes.empty(); }
    uint8_t Status() const { return bytes.empty() ? 0 : bytes[0]; }
    bool WellFormed() const { return Answered() && problems.empty(); }
};

// Checks and decodes everything that arrived for one request. `block` is the group selected with
// 0xAn (-1 when unknown: the block commands are then read as block 0).
Reply DecodeReply(uint8_t cmd, std::span<const uint8_t> bytes, int block);

// Helpers for the value encodings, exposed for their tests.
int64_t UnpackTenths14(uint8_t b1, uint8_t b2, uint8_t b3);  // whole units and digit -> tenths
int HalfDegrees14(uint8_t b);                                // signed half degrees
uint8_t Xor(std::span<const uint8_t> bytes);

// "1234.6", "-0.5", "12": raw / divisor with as many decimals as the divisor needs.
std::string FormatScaled(const Value& v);
// "not fitted", "st 38/00", "kind 2" (gas sensors) or "" when the codes say nothing.
std::string StatusCodesText(const Value& v);
std::string HexBytes(std::span<const uint8_t> bytes, const char* separator = " ");

}  // namespace conv::hostsim
