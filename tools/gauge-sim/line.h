// The simulator's end of the serial line: a real serial device, opened and programmed by
// libmodbus, or a pseudo-terminal pair whose other side the converter opens.
#pragma once

#include <chrono>
#include <memory>
#include <string>

struct _modbus;
typedef struct _modbus modbus_t;

namespace conv::gauge_sim {

// One character on the gauge line at its settings: start bit, 8 data bits, parity, two stop bits
// at 19200 baud.
inline constexpr std::chrono::microseconds kCharTime{12 * 1'000'000 / 19200};

class Line {
  public:
    // A new pseudo-terminal pair in raw mode; Path() is the side the converter opens.
    static std::unique_ptr<Line> OpenPty(std::string& error);
    // A serial device at the gauge line's settings: 19200 baud, 8 data bits, odd parity,
    // two stop bits.
    static std::unique_ptr<Line> OpenDevice(const std::string& path, std::string& error);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Non-blocking descriptor to read requests from and write replies to.
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    bool IsPty() const { return ctx_ == nullptr; }

  private:
    Line(int fd, int keep, modbus_t* ctx, std::string path)
        : fd_(fd), keep_(keep), ctx_(ctx), path_(std::move(path)) {}

    int fd_;
    int keep_;       // pty: our own descriptor of the converter's side, see line.cpp
    modbus_t* ctx_;  // device: the libmodbus context that owns fd_
    std::string path_;
};

}  // namespace conv::gauge_sim
