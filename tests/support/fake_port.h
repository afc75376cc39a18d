// A serial port for tests: each ReadAvailable call returns the next scripted result (what the
// peer "sent" during that tick), and every write is recorded.
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
    // The next read returns these bytes (their count), or `result` when it is -1 or 0.
    void QueueRead(Bytes bytes) { reads_.push_back({static_cast<int>(bytes.size()), bytes}); }
    void QueueSilence() { reads_.push_back({0, {}}); }
    void QueueLineError(Bytes bytes = {}) { reads_.push_back({-1, std::move(bytes)}); }

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
    struct Read {
        int result;
        Bytes bytes;
    };
    std::deque<Read> reads_;
    bool open_ = true;  // tests drive the steps without the open dance
};

// "50 03 00 0A" -> bytes, for readable expectations.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);

}  // namespace conv::test
