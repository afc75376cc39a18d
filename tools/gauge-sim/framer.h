// Cuts the byte stream from the converter into requests. Every request the converter sends is
// eight bytes with a CRC; besides them it sends a lone 0x00 before each tank, which must be
// swallowed without an answer and without confusing the next frame.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace conv::gauge_sim {

struct FrameEvent {
    enum class Type {
        kZero,   // the single zero byte
        kFrame,  // eight bytes whose CRC is right
        kJunk,   // bytes that cannot be (part of) a request; dropped
    };
    Type type;
    std::vector<uint8_t> bytes;
};

class Framer {
  public:
    static constexpr size_t kRequestLength = 8;

    // Takes the bytes just received and returns what they complete.
    std::vector<FrameEvent> Push(std::span<const uint8_t> bytes);
    // The line has been silent for a while: a partial frame will not be completed.
    std::vector<FrameEvent> Flush();
    bool Pending() const { return !buffer_.empty(); }

  private:
    std::vector<uint8_t> buffer_;
};

}  // namespace conv::gauge_sim
