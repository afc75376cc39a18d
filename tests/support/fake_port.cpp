#include "support/fake_port.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace conv::test {

int FakePort::ReadAvailable(uint8_t* buffer, int capacity) {
    if (!open_) return 0;
    Outcome outcome = Outcome::kBytes;
    if (!reads_.empty()) {
        outcome = reads_.front().outcome;
        Arrive(reads_.front().bytes);
        reads_.pop_front();
    }
    const size_t n = std::min(waiting_.size(), static_cast<size_t>(std::max(capacity, 0)));
    std::copy_n(waiting_.begin(), n, buffer);
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    return outcome == Outcome::kLineError ? -1 : static_cast<int>(n);
}

std::vector<Bytes> FakePort::TakeWrites() {
    std::vector<Bytes> w;
    w.swap(writes);
    return w;
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
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) s += ' ';
        s += buf;
    }
    return s;
}

}  // namespace conv::test
