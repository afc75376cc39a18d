#include "line.h"

#include <fcntl.h>
#include <modbus/modbus.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace conv::gauge_sim {

namespace {

constexpr int kBaud = 19200;
constexpr char kParity = 'O';
constexpr int kDataBits = 8;
constexpr int kStopBits = 2;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<Line> Line::OpenPty(std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = Errno("posix_openpt");
        return nullptr;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
        error = Errno("pseudo-terminal");
        close(master);
        return nullptr;
    }
    // We hold the converter's side open ourselves. Without it the master reports a hang-up
    // whenever the converter has the port closed (before its first open, while its port dialog
    // is up), and the line settings below would be lost at its last close.
    const int keep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (keep < 0 || tcgetattr(keep, &tio) != 0) {
        error = Errno(name);
        if (keep >= 0) close(keep);
        close(master);
        return nullptr;
    }
    // Raw, at the line's speed, but no parity and one stop bit: a pseudo-terminal cannot keep
    // the parity flag, and glibc's tcsetattr reports EINVAL when a request that sets it changes
    // nothing else. Were the 8O2 the converter asks for already in place, its open would fail.
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~(PARENB | PARODD | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(keep, TCSANOW, &tio) != 0 || fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
        error = Errno("pseudo-terminal settings");
        close(keep);
        close(master);
        return nullptr;
    }
    return std::unique_ptr<Line>(new Line(master, keep, nullptr, name));
}

std::unique_ptr<Line> Line::OpenDevice(const std::string& path, std::string& error) {
    modbus_t* ctx = modbus_new_rtu(path.c_str(), kBaud, kParity, kDataBits, kStopBits);
    if (!ctx) {
        error = path + ": " + modbus_strerror(errno);
        return nullptr;
    }
    // libmodbus opens the device non-blocking and programs it raw at the settings above.
    if (modbus_connect(ctx) != 0) {
        error = path + ": " + modbus_strerror(errno);
        modbus_free(ctx);
        return nullptr;
    }
    return std::unique_ptr<Line>(new Line(modbus_get_socket(ctx), -1, ctx, path));
}

Line::~Line() {
    if (ctx_) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        return;
    }
    if (keep_ >= 0) close(keep_);
    close(fd_);
}

}  // namespace conv::gauge_sim
