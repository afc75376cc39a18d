// A serial port for tests. Like a real one it has a receive queue: bytes that arrive wait there
// until a read takes them, a read takes every waiting byte up to the reader's capacity, and
// whatever the reader had no room for stays queued for the next read. Every write is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace conv::test {

using Bytes = std::vector<uint8_t>;

class FakePort : public SerialPort {
  public:
    // These bytes reach the receive queue now, ahead of anything queued for later reads.
    void Arrive(const Bytes& bytes) { waiting_.insert(waiting_.end(), bytes.begin(), bytes.end()); }
    // The next read finds these bytes arrived just before it (after whatever already waits).
    void QueueRead(Bytes bytes) { reads_.push_back({Outcome::kBytes, std::move(bytes)}); }
    // Nothing arrives before the next read; it still takes what already waits.
    void QueueSilence() { reads_.push_back({Outcome::kBytes, {}}); }
    // The next read reports a line error (-1); it takes these bytes and what waits all the same.
    void QueueLineError(Bytes bytes = {}) {
        reads_.push_back({Outcome::kLineError, std::move(bytes)});
    }
    // Bytes in the receive queue that no read has taken yet.
    size_t Waiting() const { return waiting_.size(); }

    bool Open(const std::string& name, int, int, int, int, int, int) override {
        openedName = name;
        open_ = !failOpen;
        return open_;
    }
    int Write(const uint8_t* data, int count) override {
        if (!open_) return 0;
        writes.emplace_back(data, data + count);
        return count;
    }
    int ReadAvailable(uint8_t* buffer, int capacity) override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }

    // Writes since the last call, then forgets them.
    std::vector<Bytes> TakeWrites();

    bool failOpen = false;
    std::string openedName;
    std::vector<Bytes> writes;

  private:
    enum class Outcome { kBytes, kLineError };
    struct Read {
        Outcome outcome;
        Bytes bytes;
    };
    std::deque<Read> reads_;
    std::deque<uint8_t> waiting_;
    bool open_ = true;  // tests drive the steps without the open dance
};

// "50 03 00 0A" -> bytes, for readable expectations.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);

}  // namespace conv::test
