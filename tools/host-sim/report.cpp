#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace conv::hostsim {
namespace {

std::string Hex(unsigned v, bool twoDigits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, twoDigits ? "%02x" : "%x", v & 0xFFu);
    return buf;
}

std::string ProblemCodes(const Reply& r) {
    std::string s;
    for (const Problem& p : r.problems) {
        if (!s.empty()) s += ',';
        s += p.code;
    }
    return s;
}

bool ActsOnChannel(uint8_t cmd) {
    switch (Describe(cmd).layout) {
        case Layout::Ack:
            return (cmd >> 4) == 0xC;
        case Layout::Identity:
        case Layout::LinkCheck:
        case Layout::ConfigTable:
        case Layout::NotServed:
        case Layout::Rejected:
            return false;
        default:
            return true;
    }
}

}  // namespace

std::string Verdict(const Exchange& ex) {
    if (!ex.reply.Answered()) return "noreply";
    return ex.reply.WellFormed() ? "ok" : "bad";
}

std::string HumanValue(const Value& v) {
    std::string s = v.name;
    if (v.channel >= 0) s = "ch" + std::to_string(v.channel);
    s += " " + FormatScaled(v);
    if (*HumanUnit(v.unit)) s += std::string(" ") + HumanUnit(v.unit);
    const std::string codes = StatusCodesText(v);
    if (!codes.empty()) s += " (" + codes + ")";
    return s;
}

std::string HumanLine(const Exchange& ex, int timeoutMs) {
    const Reply& r = ex.reply;
    std::string s = Hex(r.cmd, true) + " " + Describe(r.cmd).title;
    if (ex.channel >= 0 && ActsOnChannel(r.cmd)) s += ", ch " + std::to_string(ex.channel);
    if (r.block >= 0 && (r.cmd == 0xD3 || r.cmd == 0xD5 || r.cmd == 0xD6)) {
        s += ", block " + std::to_string(r.block);
    }
    if (!ex.strayBefore.empty()) s += " [stray before: " + HexBytes(ex.strayBefore) + "]";
    if (ex.writeFailed) s += " [write not taken]";
    if (!r.Answered()) return s + " -> no reply within " + std::to_string(timeoutMs) + " ms";

    s += " -> " + HexBytes(r.bytes);
    if (r.bytes.size() > 1) s += " (" + std::to_string(r.bytes.size()) + " bytes)";
    if (!r.WellFormed()) {
        const char* sep = " | BAD: ";
        for (const Problem& p : r.problems) {
            s += sep + p.text;
            sep = "; ";
        }
        return s;
    }
    if (r.Status() != kStatusOk) {
        const char* name = StatusName(r.Status());
        return s + " | " + (name ? name : "status " + Hex(r.Status(), true));
    }
    s += " | ok";
    const char* sep = ": ";
    for (const Value& v : r.values) {
        s += sep + HumanValue(v);
        sep = ", ";
    }
    return s;
}

std::vector<std::string> MachineLines(const Exchange& ex) {
    const Reply& r = ex.reply;
    std::vector<std::string> out;
    std::string head = "REPLY ch=" + std::to_string(ex.channel) +
                       " blk=" + std::to_string(r.block) + " cmd=" + Hex(r.cmd, true);
    head += " status=" + (r.Answered() ? Hex(r.Status(), false) : std::string("none"));
    head += " len=" + std::to_string(r.bytes.size()) + " verdict=" + Verdict(ex);
    head += " raw=" + (r.Answered() ? HexBytes(r.bytes, "") : std::string("-"));
    if (!r.problems.empty() && r.Answered()) head += " problems=" + ProblemCodes(r);
    if (!ex.strayBefore.empty()) head += " stray=" + HexBytes(ex.strayBefore, "");
    out.push_back(std::move(head));
    for (const Value& v : r.values) {
        const int ch = v.channel >= 0 ? v.channel : ex.channel;
        out.push_back("VAL ch=" + std::to_string(ch) + " cmd=" + Hex(r.cmd, true) +
                      " grp=" + std::to_string(v.group) + " st1=" + Hex(v.st1, false) +
                      " st2=" + Hex(v.st2, false) + " value=" + std::to_string(v.raw) +
                      " blk=" + std::to_string(r.block) + " name=" + v.name +
                      " scaled=" + FormatScaled(v) + " unit=" + MachineUnit(v.unit));
    }
    return out;
}

std::string LatencyLine(std::vector<double> ms, long requests) {
    std::string line =
        "LATENCY requests=" + std::to_string(requests) + " answered=" + std::to_string(ms.size());
    if (ms.empty()) return line;
    std::sort(ms.begin(), ms.end());
    const auto rank = [&](double p) {
        const auto k = static_cast<size_t>(std::ceil(p * static_cast<double>(ms.size())));
        return ms[std::clamp<size_t>(k, 1, ms.size()) - 1];
    };
    char buf[128];
    std::snprintf(buf, sizeof buf, " p50_ms=%.3f p99_ms=%.3f max_ms=%.3f mean_ms=%.3f", rank(0.5),
                  rank(0.99), ms.back(),
                  std::accumulate(ms.begin(), ms.end(), 0.0) / static_cast<double>(ms.size()));
    return line + buf;
}

}  // namespace conv::hostsim
