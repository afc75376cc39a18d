#include "support/fake_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace conv::test {

int FakePort::ReadAvailable(uint8_t* buffer, int capacity) {
    if (!open_ || reads_.empty()) return 0;
    Read r = std::move(reads_.front());
    reads_.pop_front();
    const int n = std::min<int>(static_cast<int>(r.bytes.size()), capacity);
    if (n > 0) std::memcpy(buffer, r.bytes.data(), static_cast<size_t>(n));
    return r.result < 0 ? -1 : n;
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
