// Polling the converter the way a host walks its channel addresses: the configuration table
// first, then every configured channel with the requests its kind of channel serves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host_session.h"

namespace conv::hostsim {

enum class Flavour { V20, V22, V14 };
const char* FlavourName(Flavour f);

// The requests for one channel, in the order they are sent. The 2.x plans start with the channel
// select; a group select (0xAn) precedes the block requests that read under it.
std::vector<uint8_t> ChannelPlan(int channel, int type, Flavour flavour);

// Channel addresses the configuration table names (a non-zero byte), or `forced` when given.
std::vector<int> ChannelsToPoll(const std::vector<uint8_t>& configBytes,
                                const std::vector<int>& forced);

struct Cell {
    uint8_t cmd = 0;  // the request that brought the value
    Value value;
};

struct ChannelView {
    int channel = 0;
    int cfg = -1;  // its byte of the configuration table; -1 when the table was not read
    std::vector<Cell> cells;
    std::vector<std::string> notes;  // error answers and skipped requests
};

struct PassView {
    long pass = 0;
    Flavour flavour = Flavour::V20;
    bool complete = false;
    std::string when;  // wall-clock time the pass ended
    std::vector<ChannelView> channels;
    std::vector<std::string> problems;  // malformed replies and missing replies of this pass
    Counters counts;                    // since the start
};

std::string RenderTable(const PassView& view);

class Poller {
  public:
    using ExchangeSink = std::function<void(const Exchange&)>;
    using KeepGoing = std::function<bool()>;

    Poller(HostSession& session, Flavour flavour, std::vector<int> forcedChannels,
           ExchangeSink sink)
        : session_(session),
          flavour_(flavour),
          forced_(std::move(forcedChannels)),
          sink_(std::move(sink)) {}

    // One full pass; stops early (complete = false) as soon as `keepGoing` says so.
    PassView RunPass(long passNumber, const KeepGoing& keepGoing);

  private:
    Exchange Ask(uint8_t cmd, ChannelView* into, PassView& view);
    void PollChannel(ChannelView& cv, const KeepGoing& keepGoing, PassView& view, bool& stopped);

    HostSession& session_;
    Flavour flavour_;
    std::vector<int> forced_;
    ExchangeSink sink_;
};

}  // namespace conv::hostsim
