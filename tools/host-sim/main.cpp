// host-sim: a Velt host on the command line, for commissioning the converter and for tests.
// See README.md for the options and the output formats.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host_session.h"
#include "poller.h"
#include "report.h"
#include "soak.h"
#include "velt_line.h"

namespace conv::hostsim {
namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFaults = 1;  // a malformed reply (or, in command mode, a missing one)
constexpr int kExitUsage = 2;
constexpr int kExitLine = 3;  // the line could not be opened or went away

enum class Mode { Commands, Stdin, Poll, Soak };

struct Options {
    std::string port;
    bool pty = false;
    Timing timing;
    Mode mode = Mode::Commands;
    Flavour flavour = Flavour::V20;
    std::vector<int> channels;
    long cycles = 0;  // 0: no limit
    double seconds = 0;
    std::string tableFile;
    bool machine = false;
    bool latency = false;
    bool garbageOnly = false;
    std::optional<uint32_t> seed;
    std::vector<uint8_t> commands;
    bool help = false;
};

const char* const kUsage =
    "usage: host-sim (--port DEVICE | --pty) [--timeout MS] [--gap MS] [--jitter MS] [--latency]\n"
    "                [--machine] HEX...\n"
    "       host-sim (--port DEVICE | --pty) --stdin [--timeout MS] [--gap MS] [--jitter MS]\n"
    "                [--latency] [--machine]\n"
    "       host-sim (--port DEVICE | --pty) --poll [--v22 | --v14] [--channels A,B,..]\n"
    "                [--cycles N | --once] [--seconds N] [--table-file PATH] [--machine]\n"
    "       host-sim (--port DEVICE | --pty) (--random | --garbage) [--seconds N] [--seed N]\n"
    "\n"
    "  --port DEVICE    serial line at 9600 baud, 8 data bits, even parity, 2 stop bits\n"
    "  --pty            make a pseudo-terminal pair; first stdout line: PTY <path to open>\n"
    "  HEX...           command bytes (c5, 0xd4, DD), one request each, in order\n"
    "  --stdin          read command bytes from standard input, a line at a time;\n"
    "                   each line is answered, then DONE is printed\n"
    "  --timeout MS     wait for a whole reply (default 500)\n"
    "  --gap MS         from one request to the next, at least 120 (default 150)\n"
    "  --jitter MS      plus up to MS more at random (default 0)\n"
    "  --latency        at the end, LATENCY requests=N answered=N p50_ms= p99_ms= max_ms=\n"
    "                   mean_ms=: from the end of each command byte to its reply's first byte\n"
    "  --poll, --v20    walk the channels as a 2.0 host (0xDD, then 0xCn, 0xD2, data)\n"
    "  --v22            ... as a 2.2 host (0xDC instead of 0xD2); implies --poll\n"
    "  --v14            ... as a 1.4 host (0x11, then 0x2n..0xBn); implies --poll\n"
    "  --channels LIST  poll these channel addresses whatever the table says\n"
    "  --cycles N       stop after N full passes; --once is --cycles 1\n"
    "  --seconds N      stop after N seconds\n"
    "  --table-file P   also write the latest table to P after every pass\n"
    "  --machine        key=value lines (REPLY, VAL, PASS) instead of text for people\n"
    "  --random         random requests, bursts, close pairs and garbage, each logged\n"
    "  --garbage        garbage bytes only\n"
    "  --seed N         seed of --random/--garbage (default: from the clock)\n";

bool ParseLong(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || end == text || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseHexByte(std::string text, uint8_t& out) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text = text.substr(2);
    if (text.empty() || text.size() > 2) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 16);
    if (*end) return false;
    out = static_cast<uint8_t>(v);
    return true;
}

bool ParseChannels(const std::string& text, std::vector<int>& out) {
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        long v = 0;
        if (!ParseLong(item.c_str(), 0, 15, v)) return false;
        out.push_back(static_cast<int>(v));
    }
    return !out.empty();
}

// nullopt: the arguments are wrong (the reason has been printed).
std::optional<Options> ParseArguments(int argc, char** argv) {
    enum : int {
        kPort = 1000,
        kPty,
        kTimeout,
        kGap,
        kPoll,
        kV20,
        kV22,
        kV14,
        kChannels,
        kCycles,
        kOnce,
        kSeconds,
        kTableFile,
        kMachine,
        kRandom,
        kGarbage,
        kSeed,
        kStdin,
        kJitter,
        kLatency,
        kHelp
    };
    static const option kLong[] = {{"port", required_argument, nullptr, kPort},
                                   {"pty", no_argument, nullptr, kPty},
                                   {"timeout", required_argument, nullptr, kTimeout},
                                   {"gap", required_argument, nullptr, kGap},
                                   {"poll", no_argument, nullptr, kPoll},
                                   {"v20", no_argument, nullptr, kV20},
                                   {"v22", no_argument, nullptr, kV22},
                                   {"v14", no_argument, nullptr, kV14},
                                   {"channels", required_argument, nullptr, kChannels},
                                   {"cycles", required_argument, nullptr, kCycles},
                                   {"once", no_argument, nullptr, kOnce},
                                   {"seconds", required_argument, nullptr, kSeconds},
                                   {"table-file", required_argument, nullptr, kTableFile},
                                   {"machine", no_argument, nullptr, kMachine},
                                   {"random", no_argument, nullptr, kRandom},
                                   {"garbage", no_argument, nullptr, kGarbage},
                                   {"seed", required_argument, nullptr, kSeed},
                                   {"stdin", no_argument, nullptr, kStdin},
                                   {"jitter", required_argument, nullptr, kJitter},
                                   {"latency", no_argument, nullptr, kLatency},
                                   {"help", no_argument, nullptr, kHelp},
                                   {nullptr, 0, nullptr, 0}};

    Options o;
    bool poll = false;
    bool soak = false;
    bool fromStdin = false;
    long v = 0;
    auto bad = [](const char* what) {
        std::fprintf(stderr, "host-sim: %s\n%s", what, kUsage);
        return std::optional<Options>();
    };
    for (int c; (c = getopt_long(argc, argv, "", kLong, nullptr)) != -1;) {
        switch (c) {
            case kPort:
                o.port = optarg;
                break;
            case kPty:
                o.pty = true;
                break;
            case kTimeout:
                if (!ParseLong(optarg, 1, 60000, v)) return bad("--timeout takes 1..60000 ms");
                o.timing.timeoutMs = static_cast<int>(v);
                break;
            case kGap:
                if (!ParseLong(optarg, 120, 60000, v)) return bad("--gap takes 120..60000 ms");
                o.timing.gapMs = static_cast<int>(v);
                break;
            case kPoll:
            case kV20:
                poll = true;
                break;
            case kV22:
                poll = true;
                o.flavour = Flavour::V22;
                break;
            case kV14:
                poll = true;
                o.flavour = Flavour::V14;
                break;
            case kChannels:
                if (!ParseChannels(optarg, o.channels)) return bad("--channels takes 0..15,...");
                break;
            case kCycles:
                if (!ParseLong(optarg, 1, 1000000000, o.cycles))
                    return bad("--cycles takes N >= 1");
                break;
            case kOnce:
                o.cycles = 1;
                break;
            case kSeconds:
                if (!ParseLong(optarg, 1, 100000000, v)) return bad("--seconds takes N >= 1");
                o.seconds = static_cast<double>(v);
                break;
            case kTableFile:
                o.tableFile = optarg;
                break;
            case kMachine:
                o.machine = true;
                break;
            case kRandom:
                soak = true;
                break;
            case kGarbage:
                soak = true;
                o.garbageOnly = true;
                break;
            case kSeed:
                if (!ParseLong(optarg, 0, 0xFFFFFFFFL, v)) return bad("--seed takes 0..4294967295");
                o.seed = static_cast<uint32_t>(v);
                break;
            case kStdin:
                fromStdin = true;
                break;
            case kJitter:
                if (!ParseLong(optarg, 0, 60000, v)) return bad("--jitter takes 0..60000 ms");
                o.timing.jitterMs = static_cast<int>(v);
                break;
            case kLatency:
                o.latency = true;
                break;
            case kHelp:
                o.help = true;
                return o;
            default:
                return bad("unknown option");
        }
    }
    for (int i = optind; i < argc; ++i) {
        uint8_t b = 0;
        if (!ParseHexByte(argv[i], b)) return bad("command bytes are hexadecimal, 00..ff");
        o.commands.push_back(b);
    }
    if (o.pty == !o.port.empty()) return bad("give exactly one of --port DEVICE and --pty");
    if (poll && soak) return bad("--poll and --random/--garbage exclude each other");
    if ((poll || soak) && !o.commands.empty()) return bad("command bytes go without a mode");
    if (fromStdin && (poll || soak || !o.commands.empty())) {
        return bad("--stdin goes without a mode and without command bytes");
    }
    if (!poll && !soak && !fromStdin && o.commands.empty()) return bad("nothing to do");
    o.mode = poll ? Mode::Poll : soak ? Mode::Soak : fromStdin ? Mode::Stdin : Mode::Commands;
    return o;
}

void WriteTableFile(const std::string& path, const std::string& table) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << table;
        if (!out) {
            std::fprintf(stderr, "host-sim: cannot write %s\n", temp.c_str());
            return;
        }
    }
    // Readers see either the previous table or the new one, never half of one.
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "host-sim: cannot replace %s\n", path.c_str());
    }
}

void PrintExchange(const Exchange& ex, const Options& o) {
    if (o.machine) {
        for (const std::string& line : MachineLines(ex)) std::printf("%s\n", line.c_str());
    } else {
        std::printf("%s\n", HumanLine(ex, o.timing.timeoutMs).c_str());
    }
}

int RunCommands(HostSession& session, const Options& o) {
    bool faults = false;
    for (uint8_t cmd : o.commands) {
        if (StopRequested()) break;
        const Exchange ex = session.Transact(cmd);
        PrintExchange(ex, o);
        faults = faults || (!ex.reply.WellFormed() && !ex.interrupted);
    }
    return faults ? kExitFaults : kExitOk;
}

// Commands typed or piped in: each line holds hex bytes, one request each, answered in turn. A
// test drives a whole session this way over one pseudo-terminal; "#" starts a comment.
int RunStdin(HostSession& session, const Options& o) {
    bool faults = false;
    std::string text;
    while (!StopRequested() && std::getline(std::cin, text)) {
        const size_t answeredBefore = session.Latencies().size();
        const long requestsBefore = session.Counts().requests;
        std::istringstream words(text.substr(0, text.find('#')));
        std::string word;
        while (words >> word) {
            uint8_t cmd = 0;
            if (!ParseHexByte(word, cmd)) {
                std::printf("ERROR not a command byte: %s\n", word.c_str());
                continue;
            }
            const Exchange ex = session.Transact(cmd);
            PrintExchange(ex, o);
            faults = faults || (!ex.reply.WellFormed() && !ex.interrupted);
        }
        if (o.latency) {  // of this line's requests; the whole session's follows at the end
            const auto& all = session.Latencies();
            const std::vector<double> line(all.begin() + static_cast<long>(answeredBefore),
                                           all.end());
            std::printf("%s\n",
                        LatencyLine(line, session.Counts().requests - requestsBefore).c_str());
        }
        std::printf("DONE\n");
        std::fflush(stdout);
    }
    return faults ? kExitFaults : kExitOk;
}

std::string ChannelList(const PassView& view) {
    std::string s;
    for (const ChannelView& cv : view.channels)
        s += (s.empty() ? "" : ",") + std::to_string(cv.channel);
    return s.empty() ? "-" : s;
}

int RunPoll(HostSession& session, const Options& o) {
    const auto start = Clock::now();
    auto keepGoing = [&] {
        return !StopRequested() && !session.Line().Gone() &&
               (o.seconds <= 0 || Clock::now() - start < std::chrono::duration<double>(o.seconds));
    };
    Poller poller(session, o.flavour, o.channels, [&](const Exchange& ex) {
        if (o.machine) PrintExchange(ex, o);
    });
    const bool clear = !o.machine && isatty(STDOUT_FILENO);
    for (long pass = 1; (o.cycles == 0 || pass <= o.cycles) && keepGoing(); ++pass) {
        const PassView view = poller.RunPass(pass, keepGoing);
        const std::string table = RenderTable(view);
        if (o.machine) {
            std::printf(
                "PASS n=%ld complete=%d channels=%s requests=%ld noreply=%ld "
                "malformed=%ld stray=%ld\n",
                pass, view.complete ? 1 : 0, ChannelList(view).c_str(), view.counts.requests,
                view.counts.timeouts, view.counts.malformed, view.counts.strays);
        } else {
            if (clear) std::fputs("\x1b[H\x1b[2J", stdout);
            std::fputs(table.c_str(), stdout);
            if (!clear) std::fputs("\n", stdout);
        }
        std::fflush(stdout);
        if (!o.tableFile.empty()) WriteTableFile(o.tableFile, table);
    }
    const Counters& c = session.Counts();
    if (session.Line().Gone()) return kExitLine;
    return c.malformed > 0 ? kExitFaults : kExitOk;
}

int RunSoakMode(HostSession& session, const Options& o) {
    SoakOptions so;
    so.garbageOnly = o.garbageOnly;
    so.seconds = o.seconds;
    so.seed = o.seed ? *o.seed : static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    std::printf("SEED %u\n", so.seed);
    const SoakSummary s = RunSoak(session, so, [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    std::printf("SUMMARY actions=%ld judged=%ld bad=%ld noreply=%ld tx=%ld rx=%ld\n", s.actions,
                s.judged, s.bad, s.noReply, s.bytesOut, s.bytesIn);
    if (session.Line().Gone()) return kExitLine;
    return s.bad > 0 ? kExitFaults : kExitOk;
}

int Main(int argc, char** argv) {
    const auto options = ParseArguments(argc, argv);
    if (!options) return kExitUsage;
    const Options& o = *options;
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    InstallStopHandlers();

    std::string error;
    auto line = o.pty ? VeltLine::CreatePty(error) : VeltLine::OpenDevice(o.port, error);
    if (!line) {
        std::fprintf(stderr, "host-sim: %s\n", error.c_str());
        return kExitLine;
    }
    if (o.pty) {
        std::printf("PTY %s\n", line->PeerPath().c_str());
        std::fflush(stdout);
    }
    HostSession session(*line, o.timing);
    int rc = kExitOk;
    switch (o.mode) {
        case Mode::Commands:
            rc = RunCommands(session, o);
            break;
        case Mode::Stdin:
            rc = RunStdin(session, o);
            break;
        case Mode::Poll:
            rc = RunPoll(session, o);
            break;
        case Mode::Soak:
            rc = RunSoakMode(session, o);
            break;
    }
    if (o.latency) {
        std::printf("%s\n", LatencyLine(session.Latencies(), session.Counts().requests).c_str());
    }
    std::fflush(stdout);
    return rc;
}

}  // namespace
}  // namespace conv::hostsim

int main(int argc, char** argv) {
    return conv::hostsim::Main(argc, argv);
}
