// The serial line on Windows, through the comm API. A line read on ticks has a synchronous handle:
// a write returns when the driver has taken the block, and a read asks only for the bytes the
// driver already holds, so a timer tick never waits for the line. A line with arrival
// notification is opened for overlapped I/O instead, so that a comm-event wait for the next byte
// can stay pending while the program writes and reads; its writes and reads still return only
// when done, so the protocol sides see the same port either way.
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

// Exclusive, existing devices only; synchronous unless `overlapped`. nullptr when the name cannot
// be a port or the device is missing or held by anyone, this program included.
HANDLE OpenDevice(const std::string& name, bool overlapped = false) {
    const auto path = DevicePath(name);
    if (!path) return nullptr;
    HANDLE h = CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// Waits for an overlapped operation that the call left pending; the bytes it moved.
DWORD Finish(HANDLE h, OVERLAPPED& o, BOOL started, DWORD done) {
    if (started) return done;
    if (GetLastError() != ERROR_IO_PENDING) return 0;
    return GetOverlappedResult(h, &o, &done, TRUE) ? done : 0;
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
        if (notify_)
            return OpenForArrival(name, rxQueue, txQueue, baud, dataBits, stopCode, parityCode);
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
        if (waitEvent_) {
            DWORD written = 0;
            const BOOL done =
                WriteFile(handle_, data, static_cast<DWORD>(count), &written, &overlapped_);
            if (!done && GetLastError() != ERROR_IO_PENDING) gone_ = true;
            return static_cast<int>(Finish(handle_, overlapped_, done, written));
        }
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
            if (waitEvent_) {
                // The bytes are there, so the read completes at once even when it is reported
                // pending.
                const BOOL done = ReadFile(handle_, buffer, want, &got, &overlapped_);
                if (!done && GetLastError() != ERROR_IO_PENDING) return Gone();
                got = Finish(handle_, overlapped_, done, got);
                return ReadResultFromErrorFlags(errors, static_cast<int>(got));
            }
            const bool ok = ReadFile(handle_, buffer, want, &got, &overlapped_);
            if (overlapped_.hEvent) ResetEvent(overlapped_.hEvent);
            if (!ok) return Gone();
        }
        return ReadResultFromErrorFlags(errors, static_cast<int>(got));
    }

    void Close() override {
        if (!handle_) return;
        if (waitEvent_) {
            // Clearing the mask completes the pending comm-event wait; its record must outlive it.
            SetCommMask(handle_, 0);
            if (waitPending_) {
                DWORD ignored = 0;
                GetOverlappedResult(handle_, &wait_, &ignored, TRUE);
            }
            CloseHandle(waitEvent_);
            waitEvent_ = nullptr;
            waitPending_ = false;
            waitFailed_ = false;
            wait_ = OVERLAPPED{};
        }
        CloseHandle(handle_);
        if (overlapped_.hEvent) CloseHandle(overlapped_.hEvent);
        overlapped_ = OVERLAPPED{};
        handle_ = nullptr;
        gone_ = false;
    }

    bool IsOpen() const override { return handle_ != nullptr; }
    bool DeviceGone() const override { return gone_; }

    void SetArrivalNotification(bool on) override { notify_ = on; }

    intptr_t ArrivalHandle() const override {
        return waitEvent_ && !waitFailed_ ? reinterpret_cast<intptr_t>(waitEvent_) : -1;
    }

    void RearmArrival() override {
        if (!waitEvent_ || waitFailed_) return;
        if (waitPending_) {
            if (!HasOverlappedIoCompleted(&wait_)) return;  // woken by nothing: keep waiting
            DWORD ignored = 0;
            const BOOL ok = GetOverlappedResult(handle_, &wait_, &ignored, FALSE);
            waitPending_ = false;
            // A wait that ends in an error would end so again at once, and the loop would spin
            // on it (wine cancels every one on a pseudo-terminal): the port stops offering it.
            if (!ok) {
                GiveUpWaiting();
                return;
            }
        }
        if (!StartWait()) GiveUpWaiting();
    }

  private:
    // The same steps as a tick line's open, on an overlapped handle, with the event mask set to
    // every received byte and a comm-event wait started at once.
    bool OpenForArrival(const std::string& name, int rxQueue, int txQueue, int baud, int dataBits,
                        int stopCode, int parityCode) {
        HANDLE h = OpenDevice(name, true);
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
        HANDLE io = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE wait = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        // Without a mask for received bytes there is nothing to wait on: the line is refused
        // rather than left silent.
        if (!SetCommState(h, &dcb) || !io || !wait || !SetCommMask(h, EV_RXCHAR)) {
            if (io) CloseHandle(io);
            if (wait) CloseHandle(wait);
            CloseHandle(h);
            return false;
        }
        handle_ = h;
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = io;
        wait_ = OVERLAPPED{};
        wait_.hEvent = wait;
        waitEvent_ = wait;
        if (StartWait()) return true;
        Close();
        return false;
    }

    // Starts the comm-event wait. One that completes at once (a byte came in between) signals
    // the event all the same, so that the loop still wakes and reads. false when the driver
    // refuses to wait: signalling then would wake the loop for ever, so it is left unsignalled.
    bool StartWait() {
        waitMask_ = 0;
        ResetEvent(waitEvent_);
        if (WaitCommEvent(handle_, &waitMask_, &wait_)) {
            SetEvent(waitEvent_);
            return true;
        }
        waitPending_ = GetLastError() == ERROR_IO_PENDING;
        return waitPending_;
    }

    void GiveUpWaiting() {
        waitFailed_ = true;
        ResetEvent(waitEvent_);
    }

    // The comm calls fail on a handle whose device has gone: a line error to the protocol side,
    // and a loss to whoever tends the port.
    int Gone() {
        gone_ = true;
        return -1;
    }

    HANDLE handle_ = nullptr;
    OVERLAPPED overlapped_{};
    bool notify_ = false;
    // Arrival notification: the comm-event wait and its event; null for a tick line.
    HANDLE waitEvent_ = nullptr;
    OVERLAPPED wait_{};
    DWORD waitMask_ = 0;
    bool waitPending_ = false;
    bool waitFailed_ = false;
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
