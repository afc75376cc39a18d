// The serial line on Windows, through the comm API. The handle is synchronous: a write returns
// when the driver has taken the block, and a read asks only for the bytes the driver already
// holds, so a timer tick never waits for the line.
#include <windows.h>

#include "serial/line_errors.h"
#include "serial/port_name.h"
#include "serial/serial_port.h"

namespace conv {
namespace {

// The gauge and host frames end in no particular character; carriage return is what the driver
// has always been told to watch for.
constexpr char kEventChar = 0x0D;
constexpr WORD kFlowLimit = 10;
constexpr DWORD kWriteWaitMs = 10;

static_assert(kCommErrorRxOver == CE_RXOVER && kCommErrorOverrun == CE_OVERRUN &&
              kCommErrorRxParity == CE_RXPARITY && kCommErrorFrame == CE_FRAME &&
              kCommErrorBreak == CE_BREAK);

// Exclusive, synchronous, existing devices only. nullptr when the name cannot be a port or the
// device is missing or held by anyone, this program included.
HANDLE OpenDevice(const std::string& name) {
    const auto path = DevicePath(name);
    if (!path) return nullptr;
    HANDLE h = CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// The line settings that this program owns; every other field of the block, the flow-control
// switches above all, stays as the driver reported it.
void ApplyLineSettings(DCB& dcb, int baud, int dataBits, int stopCode, int parityCode) {
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.StopBits = static_cast<BYTE>(stopCode);
    dcb.Parity = static_cast<BYTE>(parityCode);
    dcb.EofChar = 0;
    dcb.EvtChar = kEventChar;
    dcb.XonLim = kFlowLimit;
    dcb.XoffLim = kFlowLimit;
}

class Win32SerialPort final : public SerialPort {
  public:
    ~Win32SerialPort() override { Close(); }

    bool Open(const std::string& name, int rxQueue, int txQueue, int baud, int dataBits,
              int stopCode, int parityCode) override {
        Close();  // a second open must not leak the first handle
        HANDLE h = OpenDevice(name);
        if (!h) return false;
        PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!SetupComm(h, static_cast<DWORD>(rxQueue), static_cast<DWORD>(txQueue)) ||
            !GetCommState(h, &dcb)) {
            CloseHandle(h);
            return false;
        }
        ApplyLineSettings(dcb, baud, dataBits, stopCode, parityCode);
        if (!SetCommState(h, &dcb)) {
            CloseHandle(h);
            return false;
        }
        handle_ = h;
        overlapped_ = OVERLAPPED{};
        DWORD mask = 0;
        // A driver that refuses the event mask still carries data; its writes just do not wait.
        if (GetCommMask(h, &mask) && !SetCommMask(h, EV_RXFLAG)) return true;
        overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (overlapped_.hEvent) ResetEvent(overlapped_.hEvent);
        return true;
    }

    int Write(const uint8_t* data, int count) override {
        if (!handle_ || count <= 0) return 0;
        DWORD written = 0;
        // The handle is synchronous, so the call returns with the block handed over; the record
        // only carries the completion event.
        if (!WriteFile(handle_, data, static_cast<DWORD>(count), &written, &overlapped_)) {
            // A synchronous write fails only when the device no longer takes any: an unplugged
            // adapter answers every comm call with an error from then on.
            written = 0;
            gone_ = true;
        }
        if (overlapped_.hEvent) WaitForSingleObject(overlapped_.hEvent, kWriteWaitMs);
        return static_cast<int>(written);
    }

    int ReadAvailable(uint8_t* buffer, int capacity) override {
        if (!handle_) return 0;
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(handle_, &errors, &stat)) return Gone();
        DWORD got = 0;
        if (stat.cbInQue > 0 && capacity > 0) {
            // Never more than the buffer holds; the rest stays queued for the next tick.
            const DWORD want =
                stat.cbInQue < static_cast<DWORD>(capacity) ? stat.cbInQue : capacity;
            const bool ok = ReadFile(handle_, buffer, want, &got, &overlapped_);
            if (overlapped_.hEvent) ResetEvent(overlapped_.hEvent);
            if (!ok) return Gone();
        }
        return ReadResultFromErrorFlags(errors, static_cast<int>(got));
    }

    void Close() override {
        if (!handle_) return;
        CloseHandle(handle_);
        if (overlapped_.hEvent) CloseHandle(overlapped_.hEvent);
        overlapped_ = OVERLAPPED{};
        handle_ = nullptr;
        gone_ = false;
    }

    bool IsOpen() const override { return handle_ != nullptr; }
    bool DeviceGone() const override { return gone_; }

  private:
    // The comm calls fail on a handle whose device has gone: a line error to the protocol side,
    // and a loss to whoever tends the port.
    int Gone() {
        gone_ = true;
        return -1;
    }

    HANDLE handle_ = nullptr;
    OVERLAPPED overlapped_{};
    bool gone_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

int ProbePort(const std::string& name) {
    HANDLE h = OpenDevice(name);
    if (!h) return 1;
    CloseHandle(h);
    return 0;
}

}  // namespace conv
