#include "framer.h"

#include "wire.h"

namespace conv::gauge_sim {

namespace {

// A garbled head is held while a good frame may still follow; past this it is given up even
// without a pause on the line.
constexpr size_t kMaxHeld = 256;

bool FrameAt(const std::vector<uint8_t>& buffer, size_t at) {
    return at + Framer::kRequestLength <= buffer.size() &&
           CrcMatches(std::span(buffer).subspan(at, Framer::kRequestLength));
}

}  // namespace

std::vector<FrameEvent> Framer::Push(std::span<const uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    std::vector<FrameEvent> events;
    auto take = [&](FrameEvent::Type type, size_t count) {
        events.push_back({type, {buffer_.begin(), buffer_.begin() + count}});
        buffer_.erase(buffer_.begin(), buffer_.begin() + count);
    };
    while (!buffer_.empty()) {
        // No request starts with 0x00 (the broadcast address), so a zero at the head is always
        // the converter's lone prefix byte.
        if (buffer_[0] == 0x00) {
            take(FrameEvent::Type::kZero, 1);
        } else if (buffer_.size() < kRequestLength) {
            break;
        } else if (FrameAt(buffer_, 0)) {
            take(FrameEvent::Type::kFrame, kRequestLength);
        } else {
            // Resynchronise on the next good frame; without one, wait for more bytes or a pause.
            size_t next = 1;
            while (next + kRequestLength <= buffer_.size() && !FrameAt(buffer_, next)) ++next;
            if (FrameAt(buffer_, next)) {
                take(FrameEvent::Type::kJunk, next);
            } else if (buffer_.size() > kMaxHeld) {
                take(FrameEvent::Type::kJunk, buffer_.size() - (kRequestLength - 1));
            } else {
                break;
            }
        }
    }
    return events;
}

std::vector<FrameEvent> Framer::Flush() {
    std::vector<FrameEvent> events;
    if (!buffer_.empty()) events.push_back({FrameEvent::Type::kJunk, std::move(buffer_)});
    buffer_.clear();
    return events;
}

}  // namespace conv::gauge_sim
