// The converter without a window: the same core, the same settings file and the same three steps
// on the same intervals as the main window's timers (poll step 800 ms while the MODBUS side is
// in use, host step 55 ms while the host side is in use, pacing 1000 ms always), driven by an
// event loop; the log panes and message boxes go to the console. A side in fast mode runs on
// its scheduler instead of its step's period, as the window's line runner drives it: the loop
// watches the port's arrival handle while the scheduler wants bytes and has a one-shot timer at
// its next deadline.
#pragma once

#include <string>

#include "core/converter.h"
#include "service/console.h"
#include "service/event_loop.h"

namespace conv::service {

class Service {
  public:
    Service(EventLoop& loop, Console& console, std::string settingsPath);

    // The main window's first showing: reads (or creates) the settings file, opens the sides in
    // use and starts their steps.
    void Start();
    // SIGHUP: the file read again and applied as the dialogs' Save and Apply do. The tank values
    // and the poll cycle stay as they are; both ports are closed and the sides in use opened
    // again. A file that is missing or cannot be read changes nothing.
    void Reload();
    // SIGTERM, SIGINT: both ports closed, the loop ended.
    void Stop(const char* signalName);

    Converter& Conv() { return conv_; }

  private:
    void StartSides();
    void StepSide(Side side);
    void TendPort(Side side);
    // A fast side: one scheduler step, then the loop set to what it waits for.
    void StepFast(Side side);
    void StopFast(Side side);
    void WatchArrival(Side side, intptr_t handle);

    EventLoop& loop_;
    Console& console_;
    ConsoleBoxes boxes_;
    ConsolePane modbusPane_;
    ConsolePane veltPane_;
    std::string settingsPath_;
    Converter conv_;
    EventLoop::TimerId pollTimer_;
    EventLoop::TimerId hostTimer_;
    EventLoop::TimerId pacingTimer_;
    EventLoop::TimerId reopenTimer_[2];
    EventLoop::TimerId fastTimer_[2];
    bool fast_[2] = {false, false};   // the side runs on its scheduler
    intptr_t watched_[2] = {-1, -1};  // the arrival handle the loop watches for it
};

}  // namespace conv::service
