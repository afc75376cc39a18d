#include "soak.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "report.h"

namespace conv::hostsim {
namespace {

using std::chrono::milliseconds;

enum class Kind { Single, Burst, Pair, Garbage };

const char* KindName(Kind k) {
    switch (k) {
        case Kind::Single:
            return "single";
        case Kind::Burst:
            return "burst";
        case Kind::Pair:
            return "pair";
        case Kind::Garbage:
            return "garbage";
    }
    return "";
}

// Reads until the line has been quiet for `quiet` (or `cap` has passed): whatever a burst
// provokes, one reply per tick it straddled.
std::vector<uint8_t> CollectUntilQuiet(VeltLine& line, milliseconds quiet, milliseconds cap) {
    std::vector<uint8_t> bytes;
    const auto end = Clock::now() + cap;
    while (!StopRequested() && !line.Gone()) {
        const size_t before = bytes.size();
        line.ReadUntil(bytes, before + 1, std::min(Clock::now() + quiet, end));
        if (bytes.size() == before || Clock::now() >= end) break;
    }
    return bytes;
}

class Soak {
  public:
    Soak(HostSession& session, const SoakOptions& options,
         const std::function<void(const std::string&)>& log)
        : session_(session), options_(options), log_(log), random_(options.seed) {}

    SoakSummary Run() {
        start_ = Clock::now();
        while (!Finished()) {
            Idle();
            if (Finished()) break;
            Act(PickKind());
        }
        return summary_;
    }

  private:
    bool Finished() const {
        if (StopRequested() || session_.Line().Gone()) return true;
        return options_.seconds > 0 &&
               Clock::now() - start_ >= std::chrono::duration<double>(options_.seconds);
    }

    int Between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }

    Kind PickKind() {
        if (options_.garbageOnly) return Kind::Garbage;
        const int roll = Between(0, 9);
        if (roll < 5) return Kind::Single;
        if (roll < 7) return Kind::Burst;
        if (roll < 8) return Kind::Pair;
        return Kind::Garbage;
    }

    uint8_t AnyCommand() {
        const auto& all = MeaningfulCommands();
        return all[static_cast<size_t>(Between(0, static_cast<int>(all.size()) - 1))];
    }

    // A random pause; anything arriving meanwhile belongs to no request.
    void Idle() {
        std::vector<uint8_t> unsolicited;
        session_.Line().ReadUntil(unsolicited, SIZE_MAX,
                                  Clock::now() + milliseconds(Between(0, 300)));
        if (!unsolicited.empty()) {
            summary_.bytesIn += static_cast<long>(unsolicited.size());
            Log("unsolicited", {}, unsolicited, "-");
        }
    }

    void Act(Kind kind) {
        ++summary_.actions;
        std::vector<uint8_t> tx;
        switch (kind) {
            case Kind::Single:
                Judge(kind, AnyCommand());
                return;
            case Kind::Garbage: {
                const int n = Between(1, 16);
                for (int i = 0; i < n; ++i) tx.push_back(static_cast<uint8_t>(Between(0, 255)));
                // A lone byte still has a defined answer, whatever it is.
                if (n == 1) return Judge(kind, tx[0]);
                Send(tx);
                break;
            }
            case Kind::Burst:
                for (int i = Between(2, 8); i > 0; --i) tx.push_back(AnyCommand());
                Send(tx);
                break;
            case Kind::Pair: {
                const uint8_t second = AnyCommand();
                tx.push_back(AnyCommand());
                Send(tx);
                std::vector<uint8_t> early;  // listening while the second write waits
                session_.Line().ReadUntil(early, SIZE_MAX,
                                          Clock::now() + milliseconds(Between(0, 40)));
                Send({&second, 1}, false);
                tx.push_back(second);
                Finish(kind, tx, early);
                return;
            }
        }
        Finish(kind, tx, {});
    }

    void Judge(Kind kind, uint8_t cmd) {
        const Exchange ex = session_.Transact(cmd);
        if (ex.interrupted) return;
        ++summary_.judged;
        ++summary_.bytesOut;
        summary_.bytesIn += static_cast<long>(ex.reply.bytes.size() + ex.strayBefore.size());
        const std::string verdict = Verdict(ex);
        if (verdict == "bad") ++summary_.bad;
        if (verdict == "noreply") ++summary_.noReply;
        std::string note = verdict;
        for (const Problem& p : ex.reply.problems) {
            if (verdict == "bad") note += " " + std::string(p.code);
        }
        if (!ex.strayBefore.empty()) note += " stray=" + HexBytes(ex.strayBefore, "");
        Log(KindName(kind), {&cmd, 1}, ex.reply.bytes, note);
    }

    // `fresh`: forget what an absent converter left unread; not between the writes of a pair.
    void Send(std::span<const uint8_t> tx, bool fresh = true) {
        if (fresh) session_.Line().DropUnread();
        summary_.bytesOut += static_cast<long>(session_.Line().Write(tx));
    }

    void Finish(Kind kind, const std::vector<uint8_t>& tx, std::vector<uint8_t> rx) {
        const auto more = CollectUntilQuiet(session_.Line(), milliseconds(session_.Times().gapMs),
                                            milliseconds(4 * session_.Times().timeoutMs));
        rx.insert(rx.end(), more.begin(), more.end());
        summary_.bytesIn += static_cast<long>(rx.size());
        Log(KindName(kind), tx, rx, "unjudged");
    }

    void Log(const char* kind, std::span<const uint8_t> tx, std::span<const uint8_t> rx,
             const std::string& verdict) {
        char t[32];
        std::snprintf(t, sizeof t, "%.3f",
                      std::chrono::duration<double>(Clock::now() - start_).count());
        log_(std::string("EXCH t=") + t + " kind=" + kind +
             " tx=" + (tx.empty() ? "-" : HexBytes(tx, "")) +
             " rx=" + (rx.empty() ? "-" : HexBytes(rx, "")) + " verdict=" + verdict);
    }

    HostSession& session_;
    const SoakOptions& options_;
    const std::function<void(const std::string&)>& log_;
    std::mt19937 random_;
    Clock::time_point start_{};
    SoakSummary summary_;
};

}  // namespace

const std::vector<uint8_t>& MeaningfulCommands() {
    static const std::vector<uint8_t> all = [] {
        std::vector<uint8_t> v = {0x07, 0x10, 0x11, 0x14};
        for (int high : {0x2, 0x3, 0x4, 0x5, 0x6, 0x8, 0xA, 0xB, 0xC, 0xD}) {
            for (int n = 0; n < 16; ++n) v.push_back(static_cast<uint8_t>(high << 4 | n));
        }
        return v;
    }();
    return all;
}

SoakSummary RunSoak(HostSession& session, const SoakOptions& options,
                    const std::function<void(const std::string&)>& log) {
    return Soak(session, options, log).Run();
}

}  // namespace conv::hostsim
