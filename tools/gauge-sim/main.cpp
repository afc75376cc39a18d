// gauge-sim: a MODBUS RTU slave that answers the converter as the level-gauge system does.
// Usage and the scenario format are in README.md.

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framer.h"
#include "line.h"
#include "responder.h"
#include "scenario.h"
#include "wire.h"

namespace conv::gauge_sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gReload = 0;

void OnStop(int) {
    gStop = 1;
}
void OnReload(int) {
    gReload = 1;
}

constexpr int kDefaultGapMs = 50;

struct Options {
    bool pty = false;
    std::string device;
    std::string link;
    std::string scenario;
    bool quiet = false;
    int gapMs = kDefaultGapMs;
    int delayMs = 0;    // before the first byte of every answer
    bool pace = false;  // answers go out a byte at a time, at the line's rate
};

const char kUsage[] =
    "usage: gauge-sim (--pty [--link PATH] | --device PATH) [--quiet] [--gap MS] [--delay MS]\n"
    "                 [--pace] SCENARIO.json\n"
    "  --pty          create a pseudo-terminal pair; the first output line is \"PTY <path>\",\n"
    "                 the path the converter opens\n"
    "  --link PATH    with --pty: also make PATH a symbolic link to that path (removed at exit)\n"
    "  --device PATH  serve a serial device at 19200 baud, 8 data bits, odd parity, 2 stop bits;\n"
    "                 the first output line is \"DEVICE <path>\"\n"
    "  --quiet        no REQ/JUNK line per request\n"
    "  --gap MS       silence that ends an incomplete request (default 50)\n"
    "  --delay MS     answer this long after the request (default 0)\n"
    "  --pace         send answers a byte at a time at 19200 baud, 12 bits a byte (625 us)\n"
    "signals: SIGUSR1 reloads the scenario, SIGINT/SIGTERM end the simulator\n";

std::optional<Options> ParseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--pty") {
            o.pty = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--pace") {
            o.pace = true;
        } else if (arg == "--device" || arg == "--link" || arg == "--gap" || arg == "--delay") {
            const char* v = value();
            if (!v) return std::nullopt;
            if (arg == "--device") o.device = v;
            if (arg == "--link") o.link = v;
            if (arg == "--gap" || arg == "--delay") {
                char* end = nullptr;
                const long ms = std::strtol(v, &end, 10);
                const long least = arg == "--gap" ? 1 : 0;
                if (*end != '\0' || ms < least || ms > 10000) return std::nullopt;
                (arg == "--gap" ? o.gapMs : o.delayMs) = static_cast<int>(ms);
            }
        } else if (!arg.empty() && arg[0] != '-' && o.scenario.empty()) {
            o.scenario = arg;
        } else {
            return std::nullopt;
        }
    }
    if (o.scenario.empty() || o.pty == !o.device.empty() || (!o.pty && !o.link.empty())) {
        return std::nullopt;
    }
    return o;
}

// Every line goes out at once: tests read them as events.
void Say(const std::string& line) {
    std::cout << line << std::endl;
}

// Bytes waiting to go out, in order; a piece is not written before its time. `announce` is the
// request's line, said once the piece's first byte is on the line.
struct Outgoing {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    std::string announce;
};

class Simulator {
  public:
    Simulator(Options options, std::unique_ptr<Line> line, std::unique_ptr<Responder> responder)
        : options_(std::move(options)), line_(std::move(line)), responder_(std::move(responder)) {}

    int Run();

  private:
    void Handle(const FrameEvent& event);
    // false when there was nothing to send.
    bool Enqueue(const std::vector<Chunk>& chunks, std::string announce);
    // Writes what is due; false when the line has failed.
    bool WriteDue();
    // Until the next piece falls due or a partial request is given up; nullopt: no such time.
    std::optional<Clock::duration> Timeout(Clock::time_point now) const;
    void Reload();

    Options options_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<Responder> responder_;
    Framer framer_;
    Clock::time_point lastRx_{};
    std::deque<Outgoing> out_;
};

bool Simulator::Enqueue(const std::vector<Chunk>& chunks, std::string announce) {
    Clock::time_point at = Clock::now() + milliseconds(options_.delayMs);
    size_t first = out_.size();
    for (const Chunk& c : chunks) {
        at += milliseconds(c.delayMs);
        // One line, one sender: nothing overtakes a piece still waiting for its time.
        if (!out_.empty()) at = std::max(at, out_.back().due);
        if (!options_.pace) {
            out_.push_back({at, c.bytes, {}});
            continue;
        }
        // A byte is there once its last stop bit is.
        for (uint8_t b : c.bytes) {
            at += kCharTime;
            out_.push_back({at, {b}, {}});
        }
    }
    while (first < out_.size() && out_[first].bytes.empty()) ++first;
    if (first == out_.size()) return false;
    out_[first].announce = std::move(announce);
    return true;
}

bool Simulator::WriteDue() {
    while (!out_.empty() && out_.front().due <= Clock::now()) {
        auto& bytes = out_.front().bytes;
        const ssize_t n = write(line_->Fd(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) return true;  // wait for POLLOUT
            Say(std::string("LINE write failed: ") + std::strerror(errno));
            return false;
        }
        if (n > 0 && !out_.front().announce.empty()) {
            Say(out_.front().announce);
            out_.front().announce.clear();
        }
        bytes.erase(bytes.begin(), bytes.begin() + n);
        if (!bytes.empty()) return true;
        out_.pop_front();
    }
    return true;
}

void Simulator::Handle(const FrameEvent& event) {
    if (event.type == FrameEvent::Type::kJunk) {
        if (!options_.quiet) Say("JUNK " + Hex(event.bytes) + " -> DROPPED");
        return;
    }
    const Answer a = event.type == FrameEvent::Type::kZero ? responder_->OnZeroByte()
                                                           : responder_->OnFrame(event.bytes);
    const std::string line = "REQ " + Hex(event.bytes) + " (" + a.label + ") -> " + a.outcome;
    // Logged after the answer (or its first byte) is on its way, so that a reader of this line
    // finds the bytes. An answer that is delayed or paced says it when its first byte goes out.
    const bool later = options_.delayMs > 0 || options_.pace;
    if (Enqueue(a.chunks, later && !options_.quiet ? line : std::string()) && later) {
        WriteDue();
        return;
    }
    WriteDue();
    if (!options_.quiet) Say(line);
}

std::optional<Clock::duration> Simulator::Timeout(Clock::time_point now) const {
    std::optional<Clock::time_point> wake;
    // A piece already due waits for POLLOUT, not for a time.
    if (!out_.empty() && out_.front().due > now) wake = out_.front().due;
    if (framer_.Pending()) {
        const auto flush = lastRx_ + milliseconds(options_.gapMs);
        wake = wake ? std::min(*wake, flush) : flush;
    }
    if (!wake) return std::nullopt;
    return std::max(Clock::duration::zero(), *wake - now);
}

void Simulator::Reload() {
    try {
        responder_->Replace(LoadScenario(options_.scenario));
        Say("RELOAD ok: " + Describe(responder_->Current()));
    } catch (const std::exception& e) {
        Say(std::string("RELOAD failed, scenario kept: ") + e.what());
    }
}

int Simulator::Run() {
    // The signals are only let in while waiting in ppoll, so none slips between the check of
    // the flags and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&blocked, s);
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    for (int s : {SIGINT, SIGTERM, SIGUSR1}) sigdelset(&waiting, s);
    struct sigaction sa {};
    sa.sa_handler = OnStop;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = OnReload;
    sigaction(SIGUSR1, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<uint8_t> buffer(1024);
    while (!gStop) {
        pollfd pfd{line_->Fd(), POLLIN, 0};
        const auto now = Clock::now();
        if (!out_.empty() && out_.front().due <= now) pfd.events |= POLLOUT;
        // To the microsecond: a paced answer's bytes are 625 us apart.
        const auto timeout = Timeout(now);
        const auto ns = timeout ? std::chrono::ceil<std::chrono::nanoseconds>(*timeout).count() : 0;
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        const int rc = ppoll(&pfd, 1, timeout ? &ts : nullptr, &waiting);
        if (rc < 0 && errno != EINTR) {
            Say(std::string("LINE poll failed: ") + std::strerror(errno));
            return 1;
        }
        if (gReload) {
            gReload = 0;
            Reload();
        }
        if (gStop) break;
        if (rc > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = read(line_->Fd(), buffer.data(), buffer.size());
            if (n > 0) {
                lastRx_ = Clock::now();
                for (const auto& e : framer_.Push(std::span(buffer.data(), n))) Handle(e);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Say(std::string("LINE read failed: ") + std::strerror(errno));
                return 1;
            }
        } else if (rc > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            Say("LINE closed");
            return 1;
        }
        if (framer_.Pending() && Clock::now() >= lastRx_ + milliseconds(options_.gapMs)) {
            for (const auto& e : framer_.Flush()) Handle(e);
        }
        if (!WriteDue()) return 1;
    }
    Say("EXIT");
    return 0;
}

int Main(int argc, char** argv) {
    const auto options = ParseArgs(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    Scenario scenario;
    try {
        scenario = LoadScenario(options->scenario);
    } catch (const std::exception& e) {
        std::cerr << "gauge-sim: " << e.what() << "\n";
        return 2;
    }
    std::string error;
    auto responder = Responder::Create(std::move(scenario), error);
    auto line =
        responder ? (options->pty ? Line::OpenPty(error) : Line::OpenDevice(options->device, error))
                  : nullptr;
    if (!line) {
        std::cerr << "gauge-sim: " << error << "\n";
        return 1;
    }
    if (!options->link.empty()) {
        struct stat st {};
        if (lstat(options->link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            unlink(options->link.c_str());
        }
        if (symlink(line->Path().c_str(), options->link.c_str()) != 0) {
            std::cerr << "gauge-sim: " << options->link << ": " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    // The link exists before the first line announces the line, so a reader may use either.
    Say((line->IsPty() ? "PTY " : "DEVICE ") + line->Path());
    Say("SCENARIO " + options->scenario + ": " + Describe(responder->Current()));

    Simulator sim(*options, std::move(line), std::move(responder));
    const int rc = sim.Run();
    if (!options->link.empty()) unlink(options->link.c_str());
    return rc;
}

}  // namespace
}  // namespace conv::gauge_sim

int main(int argc, char** argv) {
    return conv::gauge_sim::Main(argc, argv);
}
