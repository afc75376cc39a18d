// Rough traffic for soak tests: single requests, several command bytes in one write, two writes
// closer together than a service tick, and bytes that mean nothing, at random moments. Lone
// requests sent after a quiet line are checked like any other reply; the rest is only logged,
// since how a burst falls into the converter's ticks decides what it answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host_session.h"

namespace conv::hostsim {

struct SoakOptions {
    bool garbageOnly = false;
    double seconds = 0;  // 0: until stopped
    uint32_t seed = 0;
};

struct SoakSummary {
    long actions = 0;
    long judged = 0;
    long bad = 0;
    long noReply = 0;
    long bytesOut = 0;
    long bytesIn = 0;
};

SoakSummary RunSoak(HostSession& session, const SoakOptions& options,
                    const std::function<void(const std::string&)>& log);

// Every byte the converter gives a meaning to (0xD0, 0xD1, 0xD9 and 0xDA included: they have a
// defined answer).
const std::vector<uint8_t>& MeaningfulCommands();

}  // namespace conv::hostsim
