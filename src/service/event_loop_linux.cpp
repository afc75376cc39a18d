// The loop on Linux: one poll() over a timerfd armed for the earliest deadline, a signalfd for
// SIGTERM, SIGINT and SIGHUP, and the watched descriptors. Nothing runs between the turns, so
// an idle converter costs one wake-up per deadline.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "service/event_loop.h"

namespace conv::service {
namespace {

class LinuxLoop final : public EventLoop {
  public:
    LinuxLoop(int timerFd, int signalFd) : timerFd_(timerFd), signalFd_(signalFd) {}
    ~LinuxLoop() override {
        close(timerFd_);
        close(signalFd_);
    }

    bool WatchInput(NativeHandle h, Handler onInput) override {
        watched_[h] = std::move(onInput);
        return true;
    }
    void Unwatch(NativeHandle h) override { watched_.erase(h); }

    bool Run() override {
        std::vector<pollfd> fds;
        while (!quit_) {
            if (!ArmTimerFd()) return false;
            fds.assign({{timerFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}});
            for (const auto& [fd, handler] : watched_) fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                error_ = std::string("poll: ") + std::strerror(errno);
                return false;
            }
            if (fds[1].revents & POLLIN) TakeSignals();
            if (fds[0].revents & POLLIN) {
                uint64_t expirations = 0;
                if (read(timerFd_, &expirations, sizeof expirations) < 0 && errno != EAGAIN) {
                    error_ = std::string("timerfd: ") + std::strerror(errno);
                    return false;
                }
                armedFor_.reset();  // spent: the next turn arms it again, whatever the deadline
            }
            RunDueTimers(Clock::now());
            for (size_t i = 2; i < fds.size() && !quit_; ++i) {
                const auto it = watched_.find(fds[i].fd);
                if (fds[i].revents != 0 && it != watched_.end()) it->second();
            }
        }
        return true;
    }

  private:
    // The timerfd follows the earliest deadline; it is set again only when that one changes.
    bool ArmTimerFd() {
        const std::optional<Clock::time_point> next = NextDue();
        if (next == armedFor_) return true;
        itimerspec due{};
        if (next) {
            // steady_clock is CLOCK_MONOTONIC; a zero value would disarm, so the earliest is 1 ns.
            const auto ns = std::max<int64_t>(
                1, std::chrono::duration_cast<std::chrono::nanoseconds>(next->time_since_epoch())
                       .count());
            due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
            due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        if (timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr) != 0) {
            error_ = std::string("timerfd_settime: ") + std::strerror(errno);
            return false;
        }
        armedFor_ = next;
        return true;
    }

    void TakeSignals() {
        signalfd_siginfo info{};
        while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGHUP) {
                if (onReload_) onReload_();
            } else if (onStop_) {
                onStop_(info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
            }
        }
    }

    int timerFd_;
    int signalFd_;
    std::optional<Clock::time_point> armedFor_;
    std::map<int, Handler> watched_;
};

}  // namespace

std::unique_ptr<EventLoop> MakeEventLoop(std::string& error) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    // Blocked, they wait in the signalfd for the loop instead of interrupting a step.
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        error = std::string("sigprocmask: ") + std::strerror(errno);
        return nullptr;
    }
    const int sfd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (sfd < 0) {
        error = std::string("signalfd: ") + std::strerror(errno);
        return nullptr;
    }
    const int tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (tfd < 0) {
        error = std::string("timerfd_create: ") + std::strerror(errno);
        close(sfd);
        return nullptr;
    }
    return std::make_unique<LinuxLoop>(tfd, sfd);
}

}  // namespace conv::service
