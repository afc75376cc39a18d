// A pseudo-terminal pair for tests that talk to the real serial backend: the test holds the
// master side, the port under test opens the slave side by its path. POSIX only.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace conv::test {

class PtyPair {
  public:
    PtyPair() {
        char name[256] = {};
        if (openpty(&master_, &slaveKeep_, name, nullptr, nullptr) != 0) return;
        termios tio{};
        tcgetattr(master_, &tio);
        cfmakeraw(&tio);
        tcsetattr(master_, TCSANOW, &tio);
        slavePath_ = name;
    }
    ~PtyPair() {
        if (master_ >= 0) close(master_);
        if (slaveKeep_ >= 0) close(slaveKeep_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }

    void WriteMaster(const std::vector<uint8_t>& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    // What reaches the master side until `count` bytes came or nothing came for `timeoutMs`.
    std::vector<uint8_t> ReadMaster(size_t count, int timeoutMs) {
        std::vector<uint8_t> out;
        pollfd p{master_, POLLIN, 0};
        uint8_t buf[1024];
        while (out.size() < count && poll(&p, 1, timeoutMs) > 0) {
            const ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    // Waits until bytes written on the master side can be read on the slave side.
    bool WaitForSlave(int timeoutMs) {
        pollfd p{slaveKeep_, POLLIN, 0};
        return poll(&p, 1, timeoutMs) > 0;
    }

  private:
    int master_ = -1;
    int slaveKeep_ = -1;  // keeps the slave side alive until the port under test opens it
    std::string slavePath_;
};

}  // namespace conv::test
