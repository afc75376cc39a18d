// The service's event loop, seen from the converter: timers with deadlines, "bytes may be waiting
// on this port", and the two requests from outside (stop, read the settings again). The tick mode
// arms three periodic timers as the window does; a scheduler that computes its own next deadline
// arms one-shot timers and watches its port instead, without the loop knowing the difference.
// Each platform only waits: Linux on poll() over a timerfd and a signalfd, Windows on
// WaitForMultipleObjects over a waitable timer and a stop event.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace conv::service {

using Clock = std::chrono::steady_clock;

// What the platform waits on: a descriptor on POSIX, a HANDLE on Windows.
#ifdef _WIN32
using NativeHandle = void*;
#else
using NativeHandle = int;
#endif

class EventLoop {
  public:
    using Handler = std::function<void()>;
    // Told what asked for the stop: "SIGTERM", "SIGINT", "Ctrl+C".
    using StopHandler = std::function<void(const char* what)>;
    using TimerId = size_t;

    virtual ~EventLoop() = default;

    // A timer, idle until armed. Its handler runs on the loop, never inside another handler.
    TimerId AddTimer(Handler onDue);
    // Once, at `due`; a time already past runs it at the next turn. Replaces an earlier arming.
    void ArmAt(TimerId id, Clock::time_point due);
    // Every `period`, the first time one period from now. A turn that comes late runs the
    // handler once and keeps to the schedule; the runs it missed are not made up.
    void ArmEvery(TimerId id, Clock::duration period);
    void Disarm(TimerId id);
    bool Armed(TimerId id) const;

    // Runs `onInput` whenever bytes may be waiting on `h` or its device has hung up. false when
    // this platform cannot watch such a handle (Windows comm handles, until comm events).
    virtual bool WatchInput(NativeHandle h, Handler onInput) = 0;
    virtual void Unwatch(NativeHandle h) = 0;

    // Requests from outside: stop (SIGTERM, SIGINT; Ctrl+C or closing the console on Windows)
    // and reload (SIGHUP; Windows has none).
    void OnStop(StopHandler h) { onStop_ = std::move(h); }
    void OnReload(Handler h) { onReload_ = std::move(h); }

    // Turns until Quit(); false when the platform refused to wait (the reason in Error()).
    virtual bool Run() = 0;
    void Quit() { quit_ = true; }
    const std::string& Error() const { return error_; }

  protected:
    // The earliest deadline of an armed timer.
    std::optional<Clock::time_point> NextDue() const;
    // Runs every timer whose deadline is not after `now`, earliest first.
    void RunDueTimers(Clock::time_point now);

    StopHandler onStop_;
    Handler onReload_;
    bool quit_ = false;
    std::string error_;

  private:
    struct Timer {
        Handler onDue;
        bool armed = false;
        Clock::time_point due{};
        Clock::duration period{};  // zero for a one-shot
    };
    std::deque<Timer> timers_;  // stays in place while a handler adds one
};

// The platform's loop, with the stop and reload requests routed to it (on Linux the signals are
// blocked and read from a signalfd, so call this before anything else starts). nullptr when the
// platform refused, with the reason in `error`.
std::unique_ptr<EventLoop> MakeEventLoop(std::string& error);

}  // namespace conv::service
