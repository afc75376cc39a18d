// Drives a fast line's scheduler (core/line_modes.h) from the Qt event loop: a notifier on the
// port's arrival handle and one deadline timer, both set from what each step returns. The handle
// is looked at after every step, since a step may close a lost port or open it again. On Linux
// the deadline is a timerfd, since the host side's 4.375 ms burst gap wants better than Qt's
// millisecond timers; elsewhere a precise QTimer.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "serial/line_wait.h"
#include "serial/serial_port.h"

class QSocketNotifier;
class QTimer;
#ifdef _WIN32
class QWinEventNotifier;
#endif

namespace conv {

// The clock the runners hand to the schedulers.
MicroTime MonotonicMicros();

class LineRunner : public QObject {
    Q_OBJECT
  public:
    using Step = std::function<LineWait(MicroTime now)>;

    explicit LineRunner(QObject* parent = nullptr);
    ~LineRunner() override;

    // Drives `step` on `port` as the port stands now (open or not), starting with one step.
    void Start(SerialPort& port, Step step);
    void Stop();
    bool IsActive() const { return active_; }
    // One step now, as when something outside the line may have changed what is due.
    void Poke();

  private:
    void Run();
    void Watch(intptr_t handle);
    void Wait(const LineWait& wait);

    SerialPort* port_ = nullptr;
    Step step_;
    bool active_ = false;
    intptr_t handle_ = -1;
    // A child of the runner; let go with deleteLater, as a step may run from its own signal.
#ifdef _WIN32
    QWinEventNotifier* arrival_ = nullptr;
#else
    QSocketNotifier* arrival_ = nullptr;
#endif
#ifdef __linux__
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
#else
    std::unique_ptr<QTimer> timer_;
#endif
};

}  // namespace conv
