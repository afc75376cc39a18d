// A serial port for tests. Like a real one it has a receive queue: bytes that arrive wait there
// until a read takes them, a read takes every waiting byte up to the reader's room, and whatever
// did not fit stays for the next read. Every write is recorded.
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
    void QueueRead(Bytes bytes) { reads_.push_back({false, std::move(bytes)}); }
    // Nothing arrives before the next read; it still takes what already waits.
    void QueueSilence() { QueueRead({}); }
    // The next read reports a line error (-1); it takes these bytes and what waits all the same.
    void QueueLineError(Bytes bytes = {}) { reads_.push_back({true, std::move(bytes)}); }
    // Bytes in the receive queue that no read has taken yet.
    size_t Waiting() const { return waiting_.size(); }

    bool Open(const std::string& name, int rxQueue, int txQueue, int baud, int dataBits,
              int stopCode, int parityCode) override {
        openedName = name;
        openedWith = {rxQueue, txQueue, baud, dataBits, stopCode, parityCode};
        return open_ = !failOpen;
    }
    int Write(const uint8_t* data, int count) override;
    int ReadAvailable(uint8_t* buffer, int capacity) override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }

    // Writes since the last call, then forgets them.
    std::vector<Bytes> TakeWrites();

    bool failOpen = false;
    std::string openedName;
    std::vector<int> openedWith;  // the settings of the last Open, in its order
    std::vector<Bytes> writes;

  private:
    struct Read {
        bool lineError;
        Bytes bytes;
    };
    std::deque<Read> reads_;
    std::deque<uint8_t> waiting_;
    bool open_ = true;  // tests drive the steps without the open dance
};

// "50 03 00 0A" -> bytes, for readable expectations, and back.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);

}  // namespace conv::test
