#include "poller.h"

#include <algorithm>
#include <ctime>

#include "report.h"

namespace conv::hostsim {
namespace {

constexpr int kCellWidth = 32;
constexpr int kCellsPerRow = 3;

const char* TypeName(int type) {
    switch (type) {
        case 0:
            return "level gauge";
        case 1:
            return "pressure sensors";
        case 2:
            return "gas sensors";
        default:
            return "unknown type";
    }
}

// Columns a UTF-8 string takes on a terminal (every character here is one column wide).
int DisplayWidth(const std::string& s) {
    int w = 0;
    for (unsigned char c : s) w += (c & 0xC0) != 0x80;
    return w;
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", v & 0xFFu);
    return buf;
}

std::string WallClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

void Keep(ChannelView& cv, uint8_t cmd, const Value& v) {
    for (Cell& old : cv.cells) {
        if (old.value.name == v.name) {
            old = {cmd, v};
            return;
        }
    }
    cv.cells.push_back({cmd, v});
}

// Where a request's values go in the table: configuration, main values, pressures, density
// probes, temperature points, gas sensors. The requests interleave them by group select.
int TableRank(uint8_t cmd) {
    static constexpr uint8_t kOrder[] = {0xD2, 0xDC, 0xD4, 0xD7, 0xD5, 0xD8,
                                         0xD6, 0xD3, 0xDB, 0xDE, 0xDF};
    for (size_t i = 0; i < sizeof kOrder; ++i) {
        if (kOrder[i] == cmd) return static_cast<int>(i);
    }
    return -1;  // 1.4 requests keep the order they were sent in, ahead of everything
}

std::string RequestLabel(const Exchange& ex) {
    std::string s = Hex2(ex.reply.cmd);
    const uint8_t c = ex.reply.cmd;
    if ((c == 0xD3 || c == 0xD5 || c == 0xD6) && ex.reply.block >= 0) {
        s += " block " + std::to_string(ex.reply.block);
    }
    return s;
}

}  // namespace

const char* FlavourName(Flavour f) {
    switch (f) {
        case Flavour::V20:
            return "2.0";
        case Flavour::V22:
            return "2.2";
        case Flavour::V14:
            return "1.4";
    }
    return "";
}

std::vector<uint8_t> ChannelPlan(int channel, int type, Flavour flavour) {
    const auto n = static_cast<uint8_t>(channel & 0x0F);
    if (flavour == Flavour::V14) {
        std::vector<uint8_t> plan;
        for (uint8_t quantity : {0x20, 0x30, 0x40, 0x50, 0x60, 0x80, 0xB0}) {
            plan.push_back(quantity | n);
        }
        return plan;
    }
    std::vector<uint8_t> plan = {static_cast<uint8_t>(0xC0 | n),
                                 flavour == Flavour::V22 ? uint8_t{0xDC} : uint8_t{0xD2}};
    switch (type) {
        case 0:
            // Pressure (0xD7) is served to level gauges too: its first group is their pressure.
            plan.insert(plan.end(), {0xD4, 0xD7, 0xD8});
            for (uint8_t g = 0; g <= 4; ++g) {
                plan.push_back(0xA0 | g);
                plan.push_back(0xD5);  // density probe g + 1
                if (g <= 2) {
                    plan.push_back(0xD6);  // temperature points 9g + 1 .. 9g + 9
                    plan.push_back(0xD3);  // and their heights
                }
            }
            break;
        case 1:
            plan.push_back(0xD7);
            break;
        case 2:
            plan.insert(plan.end(), {0xDB, 0xDE, 0xDF});
            break;
        default:
            break;
    }
    return plan;
}

std::vector<int> ChannelsToPoll(const std::vector<uint8_t>& configBytes,
                                const std::vector<int>& forced) {
    if (!forced.empty()) return forced;
    std::vector<int> out;
    for (size_t a = 0; a < configBytes.size() && a < 16; ++a) {
        if (configBytes[a] != 0) out.push_back(static_cast<int>(a));
    }
    return out;
}

Exchange Poller::Ask(uint8_t cmd, ChannelView* into, PassView& view) {
    Exchange ex = session_.Transact(cmd);
    if (sink_) sink_(ex);
    if (ex.interrupted) return ex;
    const Reply& r = ex.reply;
    const std::string where =
        (into ? "ch " + std::to_string(into->channel) + " " : "") + RequestLabel(ex);
    if (!ex.strayBefore.empty()) {
        view.problems.push_back(where +
                                ": stray bytes before the request: " + HexBytes(ex.strayBefore));
    }
    if (!r.WellFormed()) {
        std::string text = where + ":";
        const char* sep = " ";
        for (const Problem& p : r.problems) {
            text += sep + p.text;
            sep = "; ";
        }
        if (r.Answered()) text += " [" + HexBytes(r.bytes) + "]";
        view.problems.push_back(text);
        if (into) into->notes.push_back(where + ": " + (r.Answered() ? "malformed" : "no reply"));
        return ex;
    }
    if (r.Status() != kStatusOk) {
        if (into) {
            const char* name = StatusName(r.Status());
            into->notes.push_back(where + ": " + Hex2(r.Status()) +
                                  (name ? std::string(" ") + name : ""));
        }
        return ex;
    }
    if (into) {
        for (const Value& v : r.values) Keep(*into, r.cmd, v);
    }
    return ex;
}

void Poller::PollChannel(ChannelView& cv, const KeepGoing& keepGoing, PassView& view,
                         bool& stopped) {
    const int type = flavour_ == Flavour::V14 || cv.cfg < 0 ? 0 : (cv.cfg & 0x7F);
    bool groupMissing = false;  // the last group select failed: its block requests would mislead
    for (uint8_t cmd : ChannelPlan(cv.channel, type, flavour_)) {
        if (!keepGoing()) {
            stopped = true;
            return;
        }
        const bool groupSelect = (cmd >> 4) == 0xA;
        if (groupMissing && !groupSelect) continue;
        const Exchange ex = Ask(cmd, &cv, view);
        const bool accepted = ex.reply.WellFormed() && ex.reply.Status() == kStatusOk;
        if ((cmd >> 4) == 0xC && !accepted) {
            cv.notes.push_back("channel not selected: its data requests skipped");
            return;
        }
        if (groupSelect) groupMissing = !accepted;
    }
}

PassView Poller::RunPass(long passNumber, const KeepGoing& keepGoing) {
    PassView view;
    view.pass = passNumber;
    view.flavour = flavour_;
    const Exchange cfg = Ask(flavour_ == Flavour::V14 ? 0x11 : 0xDD, nullptr, view);
    std::vector<uint8_t> table;
    if (cfg.reply.WellFormed() && cfg.reply.Status() == kStatusOk) {
        table.assign(cfg.reply.bytes.begin() + 1, cfg.reply.bytes.begin() + 17);
    } else if (cfg.reply.WellFormed()) {
        const char* name = StatusName(cfg.reply.Status());
        view.problems.push_back("configuration table not given: " + Hex2(cfg.reply.Status()) +
                                (name ? std::string(" ") + name : ""));
    }
    bool stopped = false;
    for (int a : ChannelsToPoll(table, forced_)) {
        ChannelView cv;
        cv.channel = a;
        cv.cfg = table.empty() ? -1 : table[static_cast<size_t>(a)];
        PollChannel(cv, keepGoing, view, stopped);
        view.channels.push_back(std::move(cv));
        if (stopped) break;
    }
    view.complete = !stopped;
    view.when = WallClock();
    view.counts = session_.Counts();
    return view;
}

std::string RenderTable(const PassView& view) {
    std::string out = "host-sim " + std::string(FlavourName(view.flavour)) + " poll, pass " +
                      std::to_string(view.pass) + (view.complete ? "" : " (interrupted)") + ", " +
                      view.when + "; requests " + std::to_string(view.counts.requests) +
                      ", no reply " + std::to_string(view.counts.timeouts) + ", malformed " +
                      std::to_string(view.counts.malformed) + ", stray " +
                      std::to_string(view.counts.strays) + "\n";
    if (view.channels.empty()) out += "  no channel configured\n";
    for (const ChannelView& cv : view.channels) {
        out += "ch " + std::to_string(cv.channel);
        if (cv.cfg >= 0) {
            out += "  cfg 0x" + Hex2(static_cast<unsigned>(cv.cfg));
            if (cv.cfg == 0) {
                out += "  not in the configuration table";
            } else if (view.flavour != Flavour::V14) {
                out += std::string("  ") + TypeName(cv.cfg & 0x7F) +
                       ((cv.cfg & 0x80) ? "" : ", gauge reports an error");
            }
        }
        out += "\n";
        std::vector<Cell> cells = cv.cells;
        std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
            return TableRank(a.cmd) < TableRank(b.cmd);
        });
        // Each kind of value starts a row of its own.
        int column = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const std::string text = HumanValue(cells[i].value);
            const bool rowEnd = ++column == kCellsPerRow || i + 1 == cells.size() ||
                                TableRank(cells[i + 1].cmd) != TableRank(cells[i].cmd);
            out += (column == 1 ? "  " : "") + text;
            if (rowEnd) {
                out += "\n";
                column = 0;
            } else {
                out += std::string(std::max(1, kCellWidth - DisplayWidth(text)), ' ');
            }
        }
        for (const std::string& note : cv.notes) out += "  - " + note + "\n";
    }
    if (!view.problems.empty()) {
        out += "problems in this pass:\n";
        for (const std::string& p : view.problems) out += "  ! " + p + "\n";
    }
    return out;
}

}  // namespace conv::hostsim
