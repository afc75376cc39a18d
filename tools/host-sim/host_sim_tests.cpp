// The host simulator's own reading of the replies, checked against worked examples of the host
// protocol. The simulator is the yardstick for the converter, so its decoder is tested on its own:
// what it accepts, what it refuses, and what it reads out of what it accepts where the whole-road
// runs, which read the main parameters, probes, points, pressures and gas values, do not look.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <tuple>
#include <vector>

#include "reply_decode.h"
#include "report.h"  // HumanValue

namespace conv::hostsim {
namespace {

using Bytes = std::vector<uint8_t>;

// Hex bytes; "x" appends the XOR checksum of the bytes before it; "[G]" repeats the group G
// until the reply holds the 55 bytes of a parameter block without its checksum.
Bytes Wire(const std::string& notation) {
    Bytes out, group;
    Bytes* into = &out;
    for (size_t i = 0; i < notation.size(); ++i) {
        if (notation[i] == '[') into = &group;
        if (notation[i] == ']') {
            while (out.size() < 55) out.insert(out.end(), group.begin(), group.end());
            into = &out;
        }
        if (notation[i] == 'x') out.push_back(Xor(out));
        if (std::isxdigit(static_cast<unsigned char>(notation[i])))
            into->push_back(static_cast<uint8_t>(std::stoi(notation.substr(i++, 2), nullptr, 16)));
    }
    return out;
}

// What a host reads in a reply: its problem codes, then its values as the text mode shows them.
std::string Reading(const Reply& r) {
    std::string s;
    for (const Problem& p : r.problems) s += std::string(s.empty() ? "" : ",") + p.code;
    for (const Value& v : r.values) s += (s.empty() ? "" : "; ") + HumanValue(v);
    return s;
}

// A density probe of 0xD5 with its height in group 4; what the host reads in it, which the
// whole-road runs show, is not repeated here.
const std::string kProbe =
    "00 000000000000 000000000000 010000000000 00009b3a0000 010000000000 [000000000000] x";

// Command, the group selected before (-1: unknown), the reply, and a part of what Reading() gives
// (empty: nothing read, nothing refused).
const std::tuple<uint8_t, int, std::string, std::string> kCases[] = {
    // Damaged replies are reported and not read; a whole reply with bytes after it still is.
    {0xD4, -1, "00 [000000000000] 01", "checksum"},
    {0xD4, -1, "00 000000", "short"},
    {0xD4, -1, "00 [000000000000] x c0", "extra; level 0.0 mm"},
    // Fixed replies must match exactly, checksum right or not.
    {0x07, -1, "00 0a 06 3c 30", ""},
    {0x07, -1, "00 0a 07 3c x", "content"},
    // A 2.2 channel's configuration (the system table is the smoke's polls' part).
    {0xDC, 3, "00 80 01 00 00 00 05 00 00 x", "flags 0x0180; temp_hdr 0; dens 0; press 0; gas 5"},
    {0xDC, 3, "00 80 01 00 00 00 05 01 00 x", "content"},
    // Density probes: groups 3 and 5 are the empty (1, 0, 0) and the height group's codes are
    // fixed, so a block shifted by one group is caught; there is no sixth probe.
    {0xD5, 2,
     "00 000000000000 000000000000 010000000000 00019b3a0000 010000000000 [000000000000] x",
     "content"},
    {0xD5, 5, kProbe, "content"},
    // Temperature points: nine a block, three in the last; the rest of the last block is fixed.
    {0xD6, 3, "00 0000c8000000 [010000000000] x", "content"},
    {0xD3, 2, "00 e8 03 d0 07 b8 0b 010000000000000000000000 x", "content"},
    {0xD8, -1, "00 dc 05 00 00 58 1b 00 00 00 00 0000000000000000 x",
     "probe1_coord 1500 mm; probe2_coord 0 mm; probe3_coord 7000 mm"},
    // Gas sensors: a kind and a state byte each.
    {0xDE, -1, "00 01 00 02 32 02 38 02 01 02 00 20 00 20 00 20 00 20 00 x",
     "gas1_kind 1; gas1_state 0; gas2_kind 2; gas2_state 50"},
    {0xDE, -1, "00 01 00 02 32 02 38 02 01 02 00 20 00 20 00 20 00 00 00 x", "content"},
    // 1.4: whole units and a tenths digit (0..9 only) in 20 + 4 bits, half degrees.
    {0x2F, -1, "00 ff ff f9 x", "level 1048575.9 mm"},
    {0x5A, -1, "00 53 03 02 x", "density 851.2 kg/m³"},
    {0xB0, -1, "00 01 00 0a x", "content"},
    {0x31, -1, "00 28 29 a9 81 x", "t1 20.0 °C; t2 20.5 °C; t3 -20.5 °C; mean_temp -0.5 °C"},
};

TEST(Decoder, ReadsWhatTheHostReadsAndRefusesWhatItMustNot) {
    for (const auto& [cmd, block, reply, part] : kCases) {
        const std::string reading = Reading(DecodeReply(cmd, Wire(reply), block));
        EXPECT_TRUE(part.empty() ? reading.empty() : reading.find(part) != reading.npos)
            << std::hex << int(cmd) << " " << reply << ": " << reading;
    }
}

}  // namespace
}  // namespace conv::hostsim
