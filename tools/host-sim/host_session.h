// One request at a time, as a host sends them: a single command byte, its reply read up to the
// length its status byte announces, and a pause before the next request so that two requests
// never reach the converter within one of its 55 ms service ticks (that would be answered 0xC0).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "reply_decode.h"
#include "velt_line.h"

namespace conv::hostsim {

struct Timing {
    int timeoutMs = 500;  // for the whole reply, from the moment the request was written
    int gapMs = 150;      // from one request to the next
    int jitterMs = 0;     // plus up to this much at random, so requests fall at any moment
    int settleMs = 20;    // listening after a complete reply for bytes that should not come
};

struct Exchange {
    Reply reply;
    int channel = -1;                  // channel address the request was served for; -1 unknown
    std::vector<uint8_t> strayBefore;  // arrived between the previous reply and this request
    bool writeFailed = false;          // the line took nothing (pseudo-terminal nobody reads)
    bool interrupted = false;          // a stop signal cut the wait short: nothing to judge
    // From the end of the command byte (on a pseudo-terminal: the end of the write) to the first
    // byte of the reply; negative when no reply came.
    double latencyMs = -1;
};

struct Counters {
    long requests = 0;
    long timeouts = 0;
    long malformed = 0;  // answered, but wrong length, checksum, status or content
    long strays = 0;     // bytes that belonged to no request
};

class HostSession {
  public:
    HostSession(VeltLine& line, Timing timing) : line_(line), timing_(timing) {}

    Exchange Transact(uint8_t cmd);

    // The converter's selection as far as the answers so far tell; -1 when unknown.
    int Channel() const { return channel_; }
    int Block() const { return block_; }
    const Counters& Counts() const { return counts_; }
    // The latency of every answered request so far, in order.
    const std::vector<double>& Latencies() const { return latencies_; }
    const Timing& Times() const { return timing_; }
    VeltLine& Line() { return line_; }

  private:
    void Track(const Exchange& ex);

    VeltLine& line_;
    Timing timing_;
    int channel_ = -1;
    int block_ = -1;
    bool sentBefore_ = false;
    Clock::time_point lastSend_{};
    Counters counts_;
    std::vector<double> latencies_;
    std::minstd_rand jitter_{1};
};

// The selection a reply leaves behind: `before` when the command did not run (0xC0, 0xFE),
// `target` when it ran, -1 when there was no answer to tell.
int SelectionAfter(const Reply& reply, int before, int target);

}  // namespace conv::hostsim
