#include "app/line_runner.h"

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>

#ifdef _WIN32
#include <windows.h>

#include <QWinEventNotifier>
#endif
#ifdef __linux__
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#endif

namespace conv {

MicroTime MonotonicMicros() {
#ifdef __linux__
    // The timerfd below is armed on this clock's absolute values.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000LL + ts.tv_nsec / 1000;
#else
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
#endif
}

LineRunner::LineRunner(QObject* parent) : QObject(parent) {
#ifdef __linux__
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ >= 0) {
        timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
        connect(timerNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            uint64_t expirations = 0;
            if (read(timerFd_, &expirations, sizeof expirations) < 0) {
                // Nothing to take: a deadline re-armed since it fired; its step runs then.
            }
            Run();
        });
    }
#else
    timer_ = std::make_unique<QTimer>();
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_.get(), &QTimer::timeout, this, &LineRunner::Run);
#endif
}

LineRunner::~LineRunner() {
    Stop();
#ifdef __linux__
    timerNotifier_.reset();
    if (timerFd_ >= 0) close(timerFd_);
#endif
}

void LineRunner::Start(SerialPort& port, Step step) {
    Stop();
    port_ = &port;
    step_ = std::move(step);
    active_ = true;
    Watch(port.ArrivalHandle());
    Run();
}

void LineRunner::Stop() {
    active_ = false;
    Watch(-1);
    Wait({});
    step_ = nullptr;
    port_ = nullptr;
}

void LineRunner::Poke() {
    if (active_) Run();
}

void LineRunner::Run() {
    if (!active_) return;
    const MicroTime now = MonotonicMicros();
    const LineWait wait = step_(now);
    Watch(port_->ArrivalHandle());
    Wait(OnPort(wait, *port_, now));
}

void LineRunner::Watch(intptr_t handle) {
    if (handle == handle_) return;
    if (arrival_) {
        arrival_->setEnabled(false);
        arrival_->deleteLater();
        arrival_ = nullptr;
    }
    handle_ = handle;
    if (handle == -1) return;
#ifdef _WIN32
    arrival_ = new QWinEventNotifier(reinterpret_cast<HANDLE>(handle), this);
    connect(arrival_, &QWinEventNotifier::activated, this, [this] {
        port_->RearmArrival();
        Run();
    });
#else
    arrival_ = new QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read, this);
    connect(arrival_, &QSocketNotifier::activated, this, &LineRunner::Run);
#endif
}

void LineRunner::Wait(const LineWait& wait) {
    if (arrival_) arrival_->setEnabled(wait.OnArrival);
#ifdef __linux__
    if (timerFd_ < 0) return;
    itimerspec due{};
    if (wait.Deadline != LineWait::kNever) {
        // An absolute time; zero would disarm, so a deadline already past is made the earliest.
        const MicroTime at = wait.Deadline > 0 ? wait.Deadline : 1;
        due.it_value.tv_sec = at / 1'000'000;
        due.it_value.tv_nsec = (at % 1'000'000) * 1000;
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
#else
    if (wait.Deadline == LineWait::kNever) {
        timer_->stop();
        return;
    }
    const MicroTime left = wait.Deadline - MonotonicMicros();
    timer_->start(static_cast<int>(left <= 0 ? 0 : (left + 999) / 1000));
#endif
}

}  // namespace conv
