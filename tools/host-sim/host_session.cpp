#include "host_session.h"

#include <algorithm>

namespace conv::hostsim {

int SelectionAfter(const Reply& reply, int before, int target) {
    if (!reply.Answered()) return -1;
    const uint8_t s = reply.Status();
    return (s == kStatusRejected || s == kStatusInitialising) ? before : target;
}

Exchange HostSession::Transact(uint8_t cmd) {
    using std::chrono::milliseconds;
    Exchange ex;
    if (sentBefore_) {
        int gap = timing_.gapMs;
        if (timing_.jitterMs > 0) {
            gap += std::uniform_int_distribution<int>(0, timing_.jitterMs)(jitter_);
        }
        line_.ReadUntil(ex.strayBefore, SIZE_MAX, lastSend_ + milliseconds(gap));
    }
    const auto late = line_.Drain();
    ex.strayBefore.insert(ex.strayBefore.end(), late.begin(), late.end());
    line_.DropUnread();

    const uint8_t request[1] = {cmd};
    lastSend_ = Clock::now();
    sentBefore_ = true;
    ex.writeFailed = line_.Write(request) == 0;
    line_.WaitSent();
    const auto sent = Clock::now();

    std::vector<uint8_t> bytes;
    const auto deadline = lastSend_ + milliseconds(timing_.timeoutMs);
    line_.ReadUntil(bytes, 1, deadline);
    if (!bytes.empty()) {
        ex.latencyMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        line_.ReadUntil(bytes, ExpectedLength(cmd, bytes[0]), deadline);
        line_.ReadUntil(bytes, SIZE_MAX, Clock::now() + milliseconds(timing_.settleMs));
    }

    const bool selectsChannel = (cmd >> 4) == 0xC || Channel14(cmd) >= 0;
    ex.channel = selectsChannel ? cmd & 0x0F : channel_;
    const int block = (cmd >> 4) == 0xA ? cmd & 0x0F : block_;
    ex.reply = DecodeReply(cmd, bytes, block);
    ex.interrupted = StopRequested();
    Track(ex);
    return ex;
}

void HostSession::Track(const Exchange& ex) {
    const Reply& r = ex.reply;
    const int n = r.cmd & 0x0F;
    if ((r.cmd >> 4) == 0xC || Channel14(r.cmd) >= 0) channel_ = SelectionAfter(r, channel_, n);
    if ((r.cmd >> 4) == 0xA) block_ = SelectionAfter(r, block_, n);

    ++counts_.requests;
    if (ex.interrupted) return;
    if (ex.latencyMs >= 0) latencies_.push_back(ex.latencyMs);
    if (!r.Answered()) ++counts_.timeouts;
    if (r.Answered() && !r.WellFormed()) ++counts_.malformed;
    if (!ex.strayBefore.empty()) ++counts_.strays;
}

}  // namespace conv::hostsim
