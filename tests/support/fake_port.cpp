#include "support/fake_port.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <utility>

namespace conv::test {

int FakePort::Write(const uint8_t* data, int count) {
    if (!open_) return 0;
    writes.emplace_back(data, data + count);
    return count;
}

int FakePort::ReadAvailable(uint8_t* buffer, int capacity) {
    if (!open_) return 0;
    bool lineError = false;
    if (!reads_.empty()) {
        lineError = reads_.front().lineError;
        Arrive(reads_.front().bytes);
        reads_.pop_front();
    }
    const size_t n = std::min(waiting_.size(), static_cast<size_t>(std::max(capacity, 0)));
    std::copy_n(waiting_.begin(), n, buffer);
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    return lineError ? -1 : static_cast<int>(n);
}

std::vector<Bytes> FakePort::TakeWrites() {
    return std::exchange(writes, {});
}

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

std::string ToHex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b);
        s += buf;
    }
    return s;
}

}  // namespace conv::test
