// win-driver: the converter's core on Windows without its window. It reads "Nastroika.ini" beside
// the executable as the program's start-up does, opens the lines marked in use and runs the
// three timers (poll step 800 ms, host step 55 ms, pacing 1000 ms) on waitable timers; a side set
// to fast mode runs instead on its port's arrival event and one more waitable timer for its
// scheduler's deadline. The two log panes go to standard output, line by line, prefixed "M|" and
// "V|"; message boxes go to standard error and are answered Cancel.
//
//   win-driver [--seconds N]     stop after N seconds; without it, run until Ctrl+C
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/converter.h"
#include "core/line_modes.h"
#include "core/open_line.h"
#include "core/startup_settings.h"
#include "log/message_boxes.h"
#include "settings/settings_file.h"

namespace conv {
namespace {

class ConsolePane : public LogPane {
  public:
    explicit ConsolePane(const char* prefix) : prefix_(prefix) {}
    int LineCount() const override { return lines_; }
    void Clear() override { lines_ = 0; }
    void AppendLine(const std::string& text) override {
        ++lines_;
        std::printf("%s%s\n", prefix_, text.c_str());
        std::fflush(stdout);
    }

  private:
    const char* prefix_;
    int lines_ = 1;  // the widget starts with one empty line
};

class ConsoleBoxes : public MessageBoxes {
  public:
    void Show(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "BOX [%s] %s\n", caption.c_str(), text.c_str());
    }
    bool AskOkCancel(const std::string& text, const std::string& caption) override {
        Show(text, caption);
        return false;
    }
};

HANDLE gStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(gStop);
    return TRUE;
}

// A periodic, auto-reset waitable timer whose first tick comes one period from now.
HANDLE PeriodicTimer(LONG periodMs) {
    HANDLE t = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    if (!t) return nullptr;
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * periodMs;  // relative, in 100 ns units
    if (!SetWaitableTimer(t, &due, periodMs, nullptr, nullptr, FALSE)) {
        CloseHandle(t);
        return nullptr;
    }
    return t;
}

MicroTime Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The lines marked in use, as the main window's first showing opens them.
void OpenPortsInUse(Converter& c, MessageBoxes& boxes) {
    if (c.State.ModbusPortExists == 1) {
        PrepareModbusLine(c);
        OpenModbusPort(*c.ModbusPort, c.State.ModbusPortName, boxes);
        RestartModbusLine(c, Now());
        c.Log.LogModbus("MODBUS - " + c.State.ModbusPortName);
        c.Log.LogModbus(kModbusLine.logLine);
        // Where the window shows a side's mode, the console says it; a tick line as before.
        if (c.State.ModbusFast == 1) c.Log.LogModbus(ModbusModeText(c.State));
    }
    if (c.State.VeltPortExists == 1) {
        PrepareVeltLine(c);
        OpenVeltPort(*c.VeltPort, c.State.VeltPortName, boxes);
        RestartVeltLine(c, Now());
        c.Log.LogVelt("VELT - " + c.State.VeltPortName);
        c.Log.LogVelt(kVeltLine.logLine);
        if (c.State.VeltFast == 1) c.Log.LogVelt(VeltModeText(c.State));
    }
}

// A side in fast mode: its step, what it waits for, and its port's arrival event.
struct FastSide {
    bool on = false;
    LineWait (*step)(Converter&, MicroTime) = nullptr;
    SerialPort* port = nullptr;
    LineWait wait;

    void Step(Converter& c) {
        if (!on) return;
        const MicroTime now = Now();
        wait = OnPort(step(c, now), *port, now);
    }
    HANDLE Arrival() const {
        const intptr_t h = port ? port->ArrivalHandle() : -1;
        return on && wait.OnArrival && h != -1 ? reinterpret_cast<HANDLE>(h) : nullptr;
    }
};

// Arms `timer` for the earlier deadline of the two sides, or cancels it.
void ArmDeadline(HANDLE timer, const FastSide& a, const FastSide& b) {
    MicroTime at = LineWait::kNever;
    for (const FastSide* s : {&a, &b}) {
        if (s->on && s->wait.Deadline < at) at = s->wait.Deadline;
    }
    if (at == LineWait::kNever) {
        CancelWaitableTimer(timer);
        return;
    }
    LARGE_INTEGER due;
    const MicroTime left = at - Now();
    due.QuadPart = -10LL * (left > 0 ? left : 0) - 1;  // relative, in 100 ns units; never 0
    SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}

int Run(long seconds) {
    ConsolePane modbusPane("M|");
    ConsolePane veltPane("V|");
    ConsoleBoxes boxes;
    Converter c(modbusPane, veltPane, MakeSystemSerialPort(), MakeSystemSerialPort());
    SettingsFile file(ExecutableDir() + kSettingsFileName);
    LoadStartupSettings(file, c, boxes);
    OpenPortsInUse(c, boxes);

    gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    HANDLE deadline = nullptr;
    if (seconds > 0) {
        deadline = CreateWaitableTimerA(nullptr, TRUE, nullptr);
        LARGE_INTEGER due;
        due.QuadPart = -10000000LL * seconds;
        SetWaitableTimer(deadline, &due, 0, nullptr, nullptr, FALSE);
    }
    // Timer1 and Timer2 run only while their line is in use on ticks; Timer3 always.
    const bool modbusFast = c.State.ModbusPortExists == 1 && c.State.ModbusFast == 1;
    const bool veltFast = c.State.VeltPortExists == 1 && c.State.VeltFast == 1;
    HANDLE timers[3] = {c.State.ModbusPortExists == 1 && !modbusFast ? PeriodicTimer(800) : nullptr,
                        c.State.VeltPortExists == 1 && !veltFast ? PeriodicTimer(55) : nullptr,
                        PeriodicTimer(1000)};
    FastSide modbus{modbusFast, ModbusFastStep, c.ModbusPort.get(), {}};
    FastSide velt{veltFast, VeltFastStep, c.VeltPort.get(), {}};
    HANDLE fastTimer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    modbus.Step(c);
    velt.Step(c);
    for (;;) {
        // The set of handles changes with what each fast side waits for.
        HANDLE waits[8];
        DWORD count = 0;
        waits[count++] = gStop;
        if (deadline) waits[count++] = deadline;
        const DWORD firstTimer = count;
        int timerOf[3] = {-1, -1, -1};
        for (int i = 0; i < 3; ++i) {
            if (!timers[i]) continue;
            timerOf[count - firstTimer] = i;
            waits[count++] = timers[i];
        }
        const DWORD firstFast = count;
        waits[count++] = fastTimer;
        FastSide* arrivalOf[2] = {nullptr, nullptr};
        for (FastSide* s : {&modbus, &velt}) {
            if (HANDLE h = s->Arrival()) {
                arrivalOf[count - firstFast - 1] = s;
                waits[count++] = h;
            }
        }
        ArmDeadline(fastTimer, modbus, velt);
        const DWORD w = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (w < WAIT_OBJECT_0 || w >= WAIT_OBJECT_0 + count) break;
        const DWORD index = w - WAIT_OBJECT_0;
        if (index < firstTimer) break;  // stop event or deadline
        if (index >= firstFast) {
            if (index == firstFast) {  // a deadline: both sides look, each does what is due
                modbus.Step(c);
                velt.Step(c);
            } else {
                FastSide& s = *arrivalOf[index - firstFast - 1];
                s.port->RearmArrival();
                s.Step(c);
            }
            continue;
        }
        switch (timerOf[index - firstTimer]) {
            case 0:
                OprosModBus(c.Poll, c.Table, *c.ModbusPort, c.Log);
                break;
            case 1:
                OprosVelt(c.Host, c.Table, *c.VeltPort, c.Log);
                break;
            case 2:
                PacingStep(c.Poll);
                modbus.Step(c);  // the pacing may have started the cycle again
                break;
        }
    }
    c.ModbusPort->Close();
    c.VeltPort->Close();
    std::fprintf(stderr, "win-driver: stopped\n");
    return 0;
}

}  // namespace
}  // namespace conv

int main(int argc, char** argv) {
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds < 1) seconds = -1;
        } else {
            seconds = -1;
        }
        if (seconds < 0) {
            std::fprintf(stderr, "usage: win-driver [--seconds N]\n");
            return 2;
        }
    }
    return conv::Run(seconds);
}
