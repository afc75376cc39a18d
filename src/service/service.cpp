#include "service/service.h"

#include "core/line_modes.h"
#include "core/open_line.h"
#include "core/startup_settings.h"
#include "settings/ini_document.h"
#include "settings/settings_file.h"

namespace conv::service {
namespace {

constexpr std::chrono::milliseconds kPollInterval{800};
constexpr std::chrono::milliseconds kHostInterval{55};
constexpr std::chrono::milliseconds kPacingInterval{1000};

size_t Index(Side side) {
    return side == Side::kModbus ? 0 : 1;
}

NativeHandle Native(intptr_t handle) {
#ifdef _WIN32
    return reinterpret_cast<NativeHandle>(handle);
#else
    return static_cast<NativeHandle>(handle);
#endif
}

}  // namespace

Service::Service(EventLoop& loop, Console& console, std::string settingsPath)
    : loop_(loop),
      console_(console),
      boxes_(console),
      modbusPane_(console, "MODBUS "),
      veltPane_(console, "VELT "),
      settingsPath_(std::move(settingsPath)),
      conv_(modbusPane_, veltPane_, MakeSystemSerialPort(), MakeSystemSerialPort()) {
    pollTimer_ = loop_.AddTimer([this] { StepSide(Side::kModbus); });
    hostTimer_ = loop_.AddTimer([this] { StepSide(Side::kVelt); });
    pacingTimer_ = loop_.AddTimer([this] {
        PacingStep(conv_.Poll);
        // The pacing may have started the cycle again, which a fast line must not wait for.
        if (fast_[Index(Side::kModbus)]) StepFast(Side::kModbus);
    });
    reopenTimer_[0] = loop_.AddTimer([this] { TendPort(Side::kModbus); });
    reopenTimer_[1] = loop_.AddTimer([this] { TendPort(Side::kVelt); });
    fastTimer_[0] = loop_.AddTimer([this] { StepFast(Side::kModbus); });
    fastTimer_[1] = loop_.AddTimer([this] { StepFast(Side::kVelt); });
}

void Service::Start() {
    console_.Err("Служба запущена, файл настроек " + settingsPath_);
    SettingsFile file(settingsPath_);
    LoadStartupSettings(file, conv_, boxes_);
    loop_.ArmEvery(pacingTimer_, kPacingInterval);
    StartSides();
}

// As the window's start-up and its port re-configuration: each side in use is opened, logged and
// stepped, on its period or on its scheduler; a side whose open failed is stepped all the same and
// sends nothing.
void Service::StartSides() {
    for (Side side : {Side::kModbus, Side::kVelt}) {
        const EventLoop::TimerId step = side == Side::kModbus ? pollTimer_ : hostTimer_;
        StopFast(side);
        if (!conv_.InUse(side)) {
            loop_.Disarm(step);
            continue;
        }
        StartLine(conv_, side, boxes_);
        if (IsFast(conv_, side)) {
            loop_.Disarm(step);
            RestartLine(conv_, side, AsMicros(Clock::now()));
            fast_[Index(side)] = true;
            StepFast(side);
        } else if (!loop_.Armed(step)) {
            loop_.ArmEvery(step, side == Side::kModbus ? kPollInterval : kHostInterval);
        }
    }
}

void Service::StepFast(Side side) {
    const size_t i = Index(side);
    if (!fast_[i]) return;
    SerialPort& port = conv_.Port(side);
    const MicroTime now = AsMicros(Clock::now());
    LineWait wait = OnPort(FastLineStep(conv_, side, now), port, now);
    WatchArrival(side, wait.OnArrival ? port.ArrivalHandle() : -1);
    if (wait.OnArrival && watched_[i] == -1 && now + kLookWithoutArrivalUs < wait.Deadline) {
        wait.Deadline = now + kLookWithoutArrivalUs;  // a loop that cannot watch it looks
    }
    if (wait.Deadline == LineWait::kNever) {
        loop_.Disarm(fastTimer_[i]);
    } else {
        loop_.ArmAt(fastTimer_[i], AsSteady(wait.Deadline));
    }
}

void Service::StopFast(Side side) {
    WatchArrival(side, -1);
    loop_.Disarm(fastTimer_[Index(side)]);
    fast_[Index(side)] = false;
}

// Watched only while the scheduler wants bytes: a descriptor that stays readable would otherwise
// wake the loop at every turn.
void Service::WatchArrival(Side side, intptr_t handle) {
    intptr_t& watched = watched_[Index(side)];
    if (handle == watched) return;
    if (watched != -1) loop_.Unwatch(Native(watched));
    watched = -1;
    if (handle == -1) return;
    const bool on = loop_.WatchInput(Native(handle), [this, side] {
        conv_.Port(side).RearmArrival();
        StepFast(side);
    });
    if (on) watched = handle;
}

void Service::StepSide(Side side) {
    if (side == Side::kModbus) {
        OprosModBus(conv_.Poll, conv_.Table, *conv_.ModbusPort, conv_.Log);
    } else {
        OprosVelt(conv_.Host, conv_.Table, *conv_.VeltPort, conv_.Log);
    }
    TendPort(side);
}

void Service::TendPort(Side side) {
    const EventLoop::TimerId reopen = reopenTimer_[Index(side)];
    if (const std::optional<SteadyTime> next = TendLine(conv_, side, Clock::now())) {
        loop_.ArmAt(reopen, *next);
    } else {
        loop_.Disarm(reopen);
    }
}

void Service::Reload() {
    SettingsFile file(settingsPath_);
    const FileState state = file.State();
    if (state == FileState::kMissing) {
        console_.Err("Файл настроек " + settingsPath_ + " не найден, настройки не изменены");
        return;
    }
    const std::optional<IniDocument> doc = file.Document();
    if (state == FileState::kUnreadable || !doc) {
        console_.Err(ReadFailureText(file, "Настройки не изменены."));
        return;
    }
    // The channel setup dialog's Save: the slave address and the tank list, whose values stay.
    ReadSlaveAndTanks(*doc, conv_.Table);
    // The log flag, which the window's menu sets and the service can only read.
    ReadLogFlag(file, conv_.Log);
    // The port dialog's Apply, then the main window's re-configuration: both ports closed and
    // the sides in use opened again; the poll cycle goes on where it was.
    ReadPorts(file, conv_.State, boxes_);
    for (Side side : {Side::kModbus, Side::kVelt}) {
        ForgetLoss(conv_, side);
        loop_.Disarm(reopenTimer_[Index(side)]);
        StopFast(side);  // not watching a descriptor about to be closed
        conv_.Port(side).Close();
    }
    StartSides();
    // Said once the ports are open again: a peer that waits for this line and then talks is
    // heard, where bytes sent while a port was closed and reopened are dropped with its queue.
    console_.Err("Настройки перечитаны из " + settingsPath_);
}

void Service::Stop(const char* signalName) {
    StopFast(Side::kModbus);
    StopFast(Side::kVelt);
    conv_.ModbusPort->Close();
    conv_.VeltPort->Close();
    console_.Err(std::string("Остановлено сигналом ") + signalName + ", порты закрыты");
    loop_.Quit();
}

}  // namespace conv::service
