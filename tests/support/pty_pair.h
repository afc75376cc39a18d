// A pseudo-terminal pair for tests that talk to the real serial backend: the test holds the
// master side, the port under test opens the slave side by its path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace conv::test {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    void WriteMaster(const std::vector<uint8_t>& bytes);
    // Waits up to `timeoutMs` for `count` bytes on the master side.
    std::vector<uint8_t> ReadMaster(size_t count, int timeoutMs);
    void CloseMaster();

  private:
    int master_ = -1;
    int slaveKeep_ = -1;  // keeps the slave side alive until the port under test opens it
    std::string slavePath_;
};

}  // namespace conv::test
