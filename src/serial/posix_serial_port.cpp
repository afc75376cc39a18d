// The serial line on Linux, through termios. The port is opened non-blocking and exclusive, and
// every read takes what the driver holds at that moment, so a tick never waits for the line.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/line_errors.h"
#include "serial/port_name.h"
#include "serial/serial_port.h"

namespace conv {
namespace {

speed_t BaudConstant(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// Opens the device exclusively: an advisory lock that every instance of this program takes, and
// TIOCEXCL against other programs. -1 when the device is missing, busy or not a terminal.
int OpenExclusive(const std::string& name) {
    const auto path = DevicePath(name);
    if (!path) return -1;
    const int fd = open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

class PosixSerialPort final : public SerialPort {
  public:
    ~PosixSerialPort() override { Close(); }

    bool Open(const std::string& name, int /*rxQueue*/, int /*txQueue*/, int baud, int dataBits,
              int stopCode, int parityCode) override {
        Close();
        const int fd = OpenExclusive(name);
        if (fd < 0) return false;
        if (!Program(fd, baud, dataBits, stopCode, parityCode)) {
            ioctl(fd, TIOCNXCL);
            close(fd);
            return false;
        }
        tcflush(fd, TCIOFLUSH);
        RequestLowLatency(fd);
        fd_ = fd;
        serial_icounter_struct now{};
        haveCounters_ = ioctl(fd, TIOCGICOUNT, &now) == 0;
        if (haveCounters_) counters_ = Counters(now);
        return true;
    }

    int Write(const uint8_t* data, int count) override {
        if (fd_ < 0 || count <= 0) return 0;
        int done = 0;
        while (done < count) {
            const ssize_t n = write(fd_, data + done, static_cast<size_t>(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) gone_ = true;
            if (n <= 0) break;  // a full queue or a gone device: the callers do not retry
            done += static_cast<int>(n);
        }
        return done;
    }

    int ReadAvailable(uint8_t* buffer, int capacity) override {
        if (fd_ < 0) return 0;
        const LineErrorCounters before = counters_;
        const LineErrorCounters now = ReadCounters();
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0) return Gone();  // a hung-up tty refuses it
        if (waiting == 0) {
            // A pseudo-terminal whose other side closed, or an unplugged adapter, reads nothing
            // forever; report it as a line error rather than as an idle line.
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return Gone();
            return ReadResultFromCounters(before, now, 0);
        }
        const int want = waiting < capacity ? waiting : capacity;
        int got = 0;
        while (got < want) {
            const ssize_t n = read(fd_, buffer + got, static_cast<size_t>(want - got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return Gone();
            if (n <= 0) break;
            got += static_cast<int>(n);
        }
        return ReadResultFromCounters(before, now, got);
    }

    void Close() override {
        if (fd_ < 0) return;
        ioctl(fd_, TIOCNXCL);
        close(fd_);  // releases the advisory lock
        fd_ = -1;
        gone_ = false;
    }

    bool IsOpen() const override { return fd_ >= 0; }
    bool DeviceGone() const override { return gone_; }

    // The descriptor is non-blocking and can always be polled; nothing changes at open.
    void SetArrivalNotification(bool on) override { notify_ = on; }
    intptr_t ArrivalHandle() const override { return notify_ ? fd_ : -1; }

  private:
    // The read result of a device that is no longer there: a line error to the protocol side,
    // and a loss to whoever tends the port.
    int Gone() {
        gone_ = true;
        return -1;
    }

    static bool Program(int fd, int baud, int dataBits, int stopCode, int parityCode) {
        termios tio{};
        if (tcgetattr(fd, &tio) != 0) return false;
        const tcflag_t keptInput = tio.c_iflag & (IXON | IXOFF | IXANY);
        const tcflag_t keptControl = tio.c_cflag & CRTSCTS;
        cfmakeraw(&tio);
        // Flow control stays as the driver had it, like the rest of the device control block.
        tio.c_iflag = (tio.c_iflag & ~(IXON | IXOFF | IXANY | INPCK)) | keptInput;
        tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS | HUPCL);
        tio.c_cflag |= keptControl | CREAD | CLOCAL;
        switch (dataBits) {
            case 5:
                tio.c_cflag |= CS5;
                break;
            case 6:
                tio.c_cflag |= CS6;
                break;
            case 7:
                tio.c_cflag |= CS7;
                break;
            default:
                tio.c_cflag |= CS8;
                break;
        }
        if (stopCode != kOneStopBit) tio.c_cflag |= CSTOPB;
        if (parityCode == kParityOdd) tio.c_cflag |= PARENB | PARODD;
        if (parityCode == kParityEven) tio.c_cflag |= PARENB;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        const speed_t speed = BaudConstant(baud);
        if (speed == B0 || cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
            return false;
        }
        if (tcsetattr(fd, TCSANOW, &tio) == 0) return true;
        // Pseudo-terminals keep no parity flag, and the C library reports EINVAL when the
        // settings it reads back differ from the request. Such a line is as good as set when
        // everything but the parity is as asked.
        termios now{};
        if (errno != EINVAL || tcgetattr(fd, &now) != 0) return false;
        const tcflag_t parity = PARENB | PARODD | CMSPAR;
        return (now.c_cflag & ~parity) == (tio.c_cflag & ~parity) && now.c_iflag == tio.c_iflag &&
               now.c_oflag == tio.c_oflag && now.c_lflag == tio.c_lflag &&
               cfgetispeed(&now) == speed && cfgetospeed(&now) == speed;
    }

    // A USB adapter's 16 ms latency timer would eat a third of the host's 55 ms tick.
    static void RequestLowLatency(int fd) {
        serial_struct ss{};
        if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &ss);  // a driver that refuses is not an error
    }

    static LineErrorCounters Counters(const serial_icounter_struct& c) {
        return {static_cast<uint32_t>(c.frame), static_cast<uint32_t>(c.overrun),
                static_cast<uint32_t>(c.parity), static_cast<uint32_t>(c.brk),
                static_cast<uint32_t>(c.buf_overrun)};
    }

    // The driver's error counters now, kept for the next read. Devices without counters (and a
    // driver that refuses to tell) leave them as they were, which reads as no error.
    LineErrorCounters ReadCounters() {
        serial_icounter_struct now{};
        if (haveCounters_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) counters_ = Counters(now);
        return counters_;
    }

    int fd_ = -1;
    bool notify_ = false;
    bool gone_ = false;
    bool haveCounters_ = false;
    LineErrorCounters counters_{};
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

int ProbePort(const std::string& name) {
    const int fd = OpenExclusive(name);
    if (fd < 0) return 1;
    ioctl(fd, TIOCNXCL);
    close(fd);
    return 0;
}

}  // namespace conv
