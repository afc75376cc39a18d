// One serial line, as the protocol sides see it: no reader thread, no framing, no time-outs.
// Writes are issued and forgotten; reads take whatever the driver has queued at that moment.
// All timing lives in the callers, which run at timer ticks or, for a line in fast mode, when the
// port tells them that bytes have arrived.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

namespace conv {

// Parity codes and stop-bit codes as in the Windows device control block.
enum : int { kParityNone = 0, kParityOdd = 1, kParityEven = 2 };
enum : int { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Longest port name we accept; anything longer is refused before it reaches the platform. On
// Windows a port is "ComN" and the like; on Linux it is any device path the system accepts, and a
// USB adapter's stable name under /dev/serial/by-id is often well over 64 characters.
#ifdef _WIN32
inline constexpr size_t kMaxPortNameLength = 64;
#else
inline constexpr size_t kMaxPortNameLength = PATH_MAX - 1;  // PATH_MAX counts the closing NUL
#endif

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // true = open. A failed open leaves the port closed.
    virtual bool Open(const std::string& name, int rxQueue, int txQueue, int baud, int dataBits,
                      int stopCode, int parityCode) = 0;
    // Bytes written; 0 when the port is not open.
    virtual int Write(const uint8_t* data, int count) = 0;
    // Every byte waiting (at most `capacity`), 0 when none or not open, -1 on a line error or a
    // device that has gone away.
    virtual int ReadAvailable(uint8_t* buffer, int capacity) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Arrival notification, for a loop that wakes when bytes come in instead of on a tick. Asked
    // for before Open and kept until asked otherwise: on Windows it needs the line opened for
    // overlapped I/O, which a line read on ticks never is, so a tick line opens exactly as before.
    virtual void SetArrivalNotification(bool on) { (void)on; }
    // What the loop waits on while the port is open: on POSIX the descriptor (readable or hung
    // up), on Windows an event handle that a comm-event wait signals when a byte arrives. -1 when
    // the port is closed, or opened without arrival notification, or has no such thing (a fake),
    // or its driver gave the wait up; a loop then looks at the port now and then (OnPort in
    // serial/line_wait.h).
    virtual intptr_t ArrivalHandle() const { return -1; }
    // After the loop has seen the handle signalled and before it reads: starts the next wait for a
    // byte (Windows; nothing to do on POSIX). Bytes that came before it are there for the read;
    // bytes that come after it signal the handle again.
    virtual void RearmArrival() {}
    // true when the last read or write found the device itself gone (an unplugged USB adapter,
    // a pseudo-terminal whose far end closed), as opposed to a line error on a line that is
    // still there. Cleared by Open and Close.
    virtual bool DeviceGone() const { return false; }
};

// The platform's serial line (termios on POSIX, the comm API on Windows).
std::unique_ptr<SerialPort> MakeSystemSerialPort();

// 1 when opening the named port failed, 0 when it could be opened (and was closed again).
int ProbePort(const std::string& name);

// Fixed line settings of the two sides.
struct LineSettings {
    int rxQueue;
    int txQueue;
    int baud;
    int dataBits;
    int stopCode;
    int parityCode;
    const char* logLine;    // what the start-up logs after the port name
    const char* errorText;  // text of the box shown when the port cannot be opened
};

inline constexpr LineSettings kModbusLine{
    1024,         1024,       19200,           8,
    kTwoStopBits, kParityOdd, "19200,8,1,ODD", "Ошибка программирования СОМ(MODBUS)"};
inline constexpr LineSettings kVeltLine{1024,
                                        1024,
                                        9600,
                                        8,
                                        kTwoStopBits,
                                        kParityEven,
                                        "9600,8,1,EVEN",
                                        "Ошибка программирования СОМ(VELT)"};

}  // namespace conv
