// The loop on Windows: WaitForMultipleObjects over a waitable timer set for the earliest deadline
// and an event that the console's Ctrl+C, Ctrl+Break and close set. The serial handles are
// synchronous, so they cannot be watched for input: the tick mode reads them at its timers, and a
// mode that wants input events will bring comm events with overlapped handles.
#include <windows.h>

#include <algorithm>
#include <string>

#include "service/event_loop.h"

namespace conv::service {
namespace {

HANDLE gStopEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(gStopEvent);
    return TRUE;  // the loop closes the ports and returns from main
}

class Win32Loop final : public EventLoop {
  public:
    explicit Win32Loop(HANDLE timer) : timer_(timer) {}
    ~Win32Loop() override { CloseHandle(timer_); }

    bool WatchInput(NativeHandle, Handler) override { return false; }
    void Unwatch(NativeHandle) override {}

    bool Run() override {
        while (!quit_) {
            if (!ArmTimer()) return false;
            HANDLE waits[2] = {gStopEvent, timer_};
            const DWORD w = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (w == WAIT_OBJECT_0) {
                ResetEvent(gStopEvent);
                if (onStop_) onStop_("Ctrl+C");
            } else if (w != WAIT_OBJECT_0 + 1) {
                error_ = "WaitForMultipleObjects: " + std::to_string(GetLastError());
                return false;
            }
            RunDueTimers(Clock::now());
        }
        return true;
    }

  private:
    bool ArmTimer() {
        const std::optional<Clock::time_point> next = NextDue();
        if (!next) {
            CancelWaitableTimer(timer_);
            return true;
        }
        // Relative, in 100 ns units, so that a change of the wall clock does not move it; at
        // least one unit, as zero would mean an absolute time long past.
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(*next - Clock::now());
        LARGE_INTEGER due;
        due.QuadPart = -std::max<LONGLONG>(1, left.count() / 100);
        if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
            error_ = "SetWaitableTimer: " + std::to_string(GetLastError());
            return false;
        }
        return true;
    }

    HANDLE timer_;
};

}  // namespace

std::unique_ptr<EventLoop> MakeEventLoop(std::string& error) {
    gStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    if (!gStopEvent || !timer || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        error = "event loop set-up: " + std::to_string(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32Loop>(timer);
}

}  // namespace conv::service
