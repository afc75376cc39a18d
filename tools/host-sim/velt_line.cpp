#include "velt_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace conv::hostsim {
namespace {

volatile std::sig_atomic_t gStop = 0;

void OnStopSignal(int) {
    gStop = 1;
}

bool MakeRaw(int fd, bool hostLineSettings) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    if (hostLineSettings) {
        tio.c_cflag &= ~(CSIZE | PARODD | CRTSCTS);
        tio.c_cflag |= CS8 | PARENB | CSTOPB;
        // A byte damaged on the line is dropped; the reply then shows up as short.
        tio.c_iflag |= INPCK | IGNPAR;
        if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) return false;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

bool StopRequested() {
    return gStop != 0;
}

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a signal cuts the current wait short
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<VeltLine> VeltLine::OpenDevice(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!isatty(fd) || !MakeRaw(fd, true)) {
        error = path + ": not a serial line that takes 9600 8E2";
        close(fd);
        return nullptr;
    }
    tcflush(fd, TCIOFLUSH);
    return std::unique_ptr<VeltLine>(new VeltLine(fd, -1, path));
}

std::unique_ptr<VeltLine> VeltLine::CreatePty(std::string& error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return nullptr;
    }
    const char* name = ttyname(slave);
    if (!name || !MakeRaw(slave, false) || !MakeRaw(master, false)) {
        error = "cannot set up the pseudo-terminal";
        close(master);
        close(slave);
        return nullptr;
    }
    std::string peer = name;
    // Non-blocking, so that a full queue towards an absent converter never stalls a write.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<VeltLine>(new VeltLine(master, slave, std::move(peer)));
}

VeltLine::~VeltLine() {
    if (fd_ >= 0) close(fd_);
    if (peerFd_ >= 0) close(peerFd_);
}

size_t VeltLine::Write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR && !StopRequested()) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void VeltLine::WaitSent() {
    if (peerFd_ < 0) tcdrain(fd_);
}

void VeltLine::ReadUntil(std::vector<uint8_t>& into, size_t want, Clock::time_point deadline) {
    while (into.size() < want && !StopRequested()) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) return;
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, left);
        if (ready < 0 && errno != EINTR) {
            gone_ = true;
            return;
        }
        if (ready <= 0) continue;
        if (!(p.revents & POLLIN)) {
            gone_ = true;  // hung up or failed: nothing more will come
            return;
        }
        uint8_t buf[256];
        const size_t room = want - into.size() < sizeof buf ? want - into.size() : sizeof buf;
        const ssize_t n = read(fd_, buf, room);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            gone_ = true;
            return;
        }
        into.insert(into.end(), buf, buf + n);
    }
}

std::vector<uint8_t> VeltLine::Drain() {
    std::vector<uint8_t> out;
    for (;;) {
        uint8_t buf[256];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return out;
        out.insert(out.end(), buf, buf + n);
    }
}

void VeltLine::DropUnread() {
    if (peerFd_ >= 0) tcflush(peerFd_, TCIFLUSH);
}

}  // namespace conv::hostsim
