// The host's end of the serial line: a real device programmed like the host's port, or a
// pseudo-terminal pair whose other end the converter opens. Every wait is bounded by a deadline,
// so nothing here can hang on a silent or missing peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace conv::hostsim {

using Clock = std::chrono::steady_clock;

// Set from the signal handler; every wait returns early once it is set.
bool StopRequested();
void InstallStopHandlers();

class VeltLine {
  public:
    // A serial device at 9600 baud, 8 data bits, even parity, two stop bits.
    static std::unique_ptr<VeltLine> OpenDevice(const std::string& path, std::string& error);
    // A raw pseudo-terminal pair; the converter is to open PeerPath().
    static std::unique_ptr<VeltLine> CreatePty(std::string& error);

    ~VeltLine();
    VeltLine(const VeltLine&) = delete;
    VeltLine& operator=(const VeltLine&) = delete;

    const std::string& PeerPath() const { return peerPath_; }
    // The device hung up or failed; no further byte will come.
    bool Gone() const { return gone_; }

    // Bytes accepted by the line; short when the line is full (nobody reading) or gone.
    size_t Write(std::span<const uint8_t> bytes);
    // Returns once what was written has left the line (a device's last stop bit); at once on a
    // pseudo-terminal, which hands a write on whole.
    void WaitSent();
    // Appends what arrives to `into` until it holds `want` bytes or `deadline` passes.
    void ReadUntil(std::vector<uint8_t>& into, size_t want, Clock::time_point deadline);
    // What is waiting right now.
    std::vector<uint8_t> Drain();
    // Pseudo-terminal only: forgets bytes written earlier that the converter never read (it had
    // not opened its end yet), so they do not reach it later as one burst.
    void DropUnread();

  private:
    VeltLine(int fd, int peerFd, std::string peerPath)
        : fd_(fd), peerFd_(peerFd), peerPath_(std::move(peerPath)) {}

    int fd_ = -1;
    int peerFd_ = -1;  // our own handle on the converter's end keeps the pair from hanging up
    std::string peerPath_;
    bool gone_ = false;
};

}  // namespace conv::hostsim
