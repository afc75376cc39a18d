// What every host reply shares: the context a reply routine works in, the reply shapes (parameter
// block, coordinate block, configuration table) with their XOR checksum, and the checks a data
// reply makes on its tank before it answers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "host/host_link.h"
#include "host/status_codes.h"

namespace conv {

struct TankEntry;

// Bytes of the reply buffer cleared before a reply is built: configuration replies clear less
// than the others, and both clear more than any reply sends.
inline constexpr int kConfigReplyClear = 30;
inline constexpr int kDataReplyClear = 60;

// The selection state and reply buffer, the table the replies read, the host line they answer on
// and the log they report to.
struct HostContext {
    HostLink& Link;
    const TankTable& Table;
    SerialPort& Port;
    OperationLog& Log;

    // Zeroes the first `count` bytes of the reply buffer and returns it.
    uint8_t* ClearReply(int count);
    // Write first, then the text line if there is one, then the dump: the order the operator
    // reads in the right pane.
    void Send(int length, const char* text = nullptr, bool dumped = true);
    // Closes the reply with the XOR of the bytes before its last one, then sends it.
    void SendWithChecksum(int length, const char* text);
    // One-byte reply.
    void SendStatus(uint8_t status, const char* text = nullptr, bool dumped = true);
};

uint8_t XorChecksum(std::span<const uint8_t> bytes);
// Host integers travel low byte first.
void PutLe16(uint8_t* at, uint16_t value);
void PutLe32(uint8_t* at, int32_t value);

// One 6-byte group of a parameter block: two status codes and the value they qualify.
struct ParamGroup {
    StatusPair Status;
    int32_t Value = 0;
};
inline constexpr ParamGroup kEmptyGroup{};
// First status 1 tells the host that there is no value behind the group.
inline constexpr ParamGroup kAbsentGroup{{1, 0}, 0};
inline constexpr int kParamGroupCount = 9;
using ParamGroups = std::array<ParamGroup, kParamGroupCount>;

inline constexpr int kCoordinateCount = 9;
inline constexpr int kChannelCount = 16;
using ConfigTable = std::array<uint8_t, kChannelCount>;

// 56 bytes: status 0x00, nine groups, checksum.
void SendParameterBlock(HostContext& ctx, const ParamGroups& groups, const char* text);
// 20 bytes: status 0x00, up to nine 16-bit values (the rest zero), checksum.
void SendCoordinateBlock(HostContext& ctx, std::span<const uint16_t> values, const char* text);
// 18 bytes: status 0x00, one byte per channel address 0..15, checksum.
void SendConfigTable(HostContext& ctx, const ConfigTable& table, const char* text);

// Which tank types a reply serves, and how it answers the others.
struct TypeRule {
    enum class Match { Any, Only, AllBut };
    Match How = Match::Any;
    int Type = 0;
    uint8_t Reply = kStatusNoData;
    bool Dumped = true;

    bool Serves(int tankType) const;
};

// The checks a data reply makes before it answers, in this order: tank found, link state, gauge
// error code, tank type, selected group. The replies differ only in these details.
struct TankChecks {
    bool NoTankDumped = true;
    // false: only a faulty answer (LinkState 1) stops the reply; a silent gauge does not.
    bool SilentIsFault = true;
    uint8_t LinkFaultReply = kStatusGaugeFault;
    // false: every gauge error answers kStatusNoData instead of going through ProcChanErr.
    bool MapGaugeError = true;
    TypeRule Types;
    // Number of blocks selectable with SelectedGroup; 0 = the reply has no blocks.
    int Groups = 0;
};

// The tank that serves `channel`, or nullptr after the one-byte answer that the checks gave.
const TankEntry* CheckTank(HostContext& ctx, int channel, const TankChecks& checks);

}  // namespace conv
