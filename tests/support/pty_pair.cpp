#ifndef _WIN32
#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace conv::test {

PtyPair::PtyPair() {
    int m = -1, s = -1;
    char name[256] = {};
    if (openpty(&m, &s, name, nullptr, nullptr) != 0) return;
    termios tio{};
    tcgetattr(m, &tio);
    cfmakeraw(&tio);
    tcsetattr(m, TCSANOW, &tio);
    master_ = m;
    slaveKeep_ = s;
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slaveKeep_ >= 0) close(slaveKeep_);
}

void PtyPair::WriteMaster(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t buf[1024];
        const ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace conv::test
#endif
