// The loop on Windows: WaitForMultipleObjects over a waitable timer set for the earliest deadline,
// an event that the console's Ctrl+C, Ctrl+Break and close set, and the watched handles: the
// events that a fast line's comm-event wait signals when a byte arrives. A tick line's handle is
// synchronous and never watched; its steps read it at their timers.
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "service/event_loop.h"

namespace conv::service {
namespace {

HANDLE gStopEvent = nullptr;

#ifdef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD kHighResolution = CREATE_WAITABLE_TIMER_HIGH_RESOLUTION;
#else
constexpr DWORD kHighResolution = 0x00000002;
#endif

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(gStopEvent);
    return TRUE;  // the loop closes the ports and returns from main
}

class Win32Loop final : public EventLoop {
  public:
    explicit Win32Loop(HANDLE timer) : timer_(timer) {}
    ~Win32Loop() override { CloseHandle(timer_); }

    bool WatchInput(NativeHandle h, Handler onInput) override {
        Unwatch(h);
        if (watched_.size() + 2 >= MAXIMUM_WAIT_OBJECTS) return false;
        watched_.emplace_back(static_cast<HANDLE>(h), std::move(onInput));
        return true;
    }
    void Unwatch(NativeHandle h) override {
        for (auto it = watched_.begin(); it != watched_.end(); ++it) {
            if (it->first == h) {
                watched_.erase(it);
                return;
            }
        }
    }

    bool Run() override {
        std::vector<HANDLE> waits;
        while (!quit_) {
            if (!ArmTimer()) return false;
            waits.assign({gStopEvent, timer_});
            for (const auto& [h, handler] : watched_) waits.push_back(h);
            const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                   FALSE, INFINITE);
            if (w == WAIT_OBJECT_0) {
                ResetEvent(gStopEvent);
                if (onStop_) onStop_("Ctrl+C");
            } else if (w < WAIT_OBJECT_0 + 1 || w >= WAIT_OBJECT_0 + waits.size()) {
                error_ = "WaitForMultipleObjects: " + std::to_string(GetLastError());
                return false;
            }
            RunDueTimers(Clock::now());
            // The handle that woke the loop, if a timer's handler has not let it go meanwhile.
            if (w >= WAIT_OBJECT_0 + 2 && !quit_) {
                const HANDLE woke = waits[w - WAIT_OBJECT_0];
                for (const auto& [h, handler] : watched_) {
                    if (h == woke) {
                        Handler run = handler;  // the handler may unwatch itself
                        run();
                        break;
                    }
                }
            }
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
    std::vector<std::pair<HANDLE, Handler>> watched_;
};

}  // namespace

std::unique_ptr<EventLoop> MakeEventLoop(std::string& error) {
    gStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // A fast host line's deadlines are a few milliseconds apart, finer than the default timer
    // resolution; a system without high-resolution timers gets the ordinary one.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
    if (!timer) timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    if (!gStopEvent || !timer || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        error = "event loop set-up: " + std::to_string(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32Loop>(timer);
}

}  // namespace conv::service
