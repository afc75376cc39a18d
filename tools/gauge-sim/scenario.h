// What the simulated gauge system holds: its slave address, the register image of every channel
// it has, and the faults it is told to commit. Loaded from a hand-written JSON file (README.md).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace conv::gauge_sim {

// Input registers 0..294 of one channel: type block, main block, temperatures and their
// heights, densities and probes (pressure and gas sensors share registers 3.. with the main
// block, which one a channel carries follows from its type).
inline constexpr int kImageRegisters = 295;
using RegisterImage = std::array<uint16_t, kImageRegisters>;

// The requests the converter sends, told apart by function, register and count; the fault
// table names them.
enum class RequestKind {
    kZero,  // the single 0x00 byte sent before a channel select
    kSelect,
    kType,
    kMain,
    kTemp,
    kTemp2,
    kCoords,
    kDensity,
    kProbes,
    kPressure,
    kGas,
    kOther,  // anything else that parses as a request
};

std::string_view KindName(RequestKind kind);
std::optional<RequestKind> KindFromName(std::string_view name);
RequestKind ClassifyRequest(uint8_t function, uint16_t reg, uint16_t countOrValue);

enum class FaultAction { kSilent, kException, kLength, kBadCrc, kSplit, kStray };

struct Fault {
    std::optional<RequestKind> on;  // empty: every request except the zero byte
    FaultAction action = FaultAction::kSilent;
    int after = 0;             // matching requests answered normally before the fault starts
    int every = 1;             // from then on, it hits one matching request in `every`
    std::optional<int> times;  // how many matching requests it hits; empty: all of them
    int code = 4;              // exception code byte
    int delta = -1;            // length: bytes added to (or, negative, cut from) the reply
    bool swapCrc = false;      // badcrc: swap the two CRC bytes instead of corrupting one
    int splitAt = 0;           // split: bytes in the first part, 0 = half of the reply
    int delayMs = 1200;        // split: pause before the rest
    std::vector<uint8_t> bytes{0xFF};  // stray: what follows the normal answer

    // Counts one more matching request and tells whether the fault hits it.
    bool Hits();

  private:
    int seen_ = 0;
};

struct Channel {
    int address = 0;
    RegisterImage image{};
    std::vector<Fault> faults;
};

struct Scenario {
    int slave = 80;
    std::map<int, Channel> channels;  // by channel address
    std::vector<Fault> faults;        // apply whatever channel is selected
};

// Reads and checks a scenario file. Throws std::runtime_error naming the file and the JSON
// path of the first thing it cannot accept.
Scenario LoadScenario(const std::string& path);
// The same from text already read, for reloads and checks; `origin` names it in messages.
Scenario ParseScenario(std::string_view text, const std::string& origin);

// "slave 80, channels 1 2 5": one line for the operator.
std::string Describe(const Scenario& scenario);

}  // namespace conv::gauge_sim
