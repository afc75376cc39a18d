#include "scenario.h"

#include <climits>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "wire.h"

namespace conv::gauge_sim {

namespace {

using nlohmann::json;

// Where each block of a channel lies in its input registers.
constexpr int kTypeRegister = 0;
constexpr int kMainFirst = 3;
constexpr int kSoftwareRegister = 36;
constexpr int kProductRegister = 39;
constexpr int kTempHeader = 128;
constexpr int kTempFirst = 131;
constexpr int kCoordFirst = 194;
constexpr int kDensityHeader = 256;
constexpr int kDensityFirst = 259;
constexpr int kProbeFirst = 280;
constexpr int kSensorFirst = 3;  // pressure and gas sensors, after the type header

constexpr int kTempPoints = 21;
constexpr int kProbes = 5;
constexpr int kPressureSensors = 9;
constexpr int kGasSensors = 5;
constexpr size_t kSoftwareBytes = 6;

struct KindRow {
    RequestKind kind;
    const char* name;
    uint8_t function;  // 0: not a framed request
    uint16_t reg;
    uint16_t count;  // of a read; a select carries the channel in its place
};

constexpr KindRow kKinds[] = {
    {RequestKind::kZero, "zero", 0x00, 0, 0},
    {RequestKind::kSelect, "select", 0x06, 0, 0},
    {RequestKind::kType, "type", 0x04, 0, 3},
    {RequestKind::kMain, "main", 0x04, 3, 42},
    {RequestKind::kTemp, "temp", 0x04, 128, 33},
    {RequestKind::kTemp2, "temp2", 0x04, 161, 33},
    {RequestKind::kCoords, "coords", 0x04, 194, 21},
    {RequestKind::kDensity, "density", 0x04, 256, 18},
    {RequestKind::kProbes, "probes", 0x04, 280, 15},
    {RequestKind::kPressure, "pressure", 0x04, 0, 30},
    {RequestKind::kGas, "gas", 0x04, 0, 18},
    {RequestKind::kOther, "other", 0x00, 0, 0},
};

struct ActionRow {
    FaultAction action;
    const char* name;
};

constexpr ActionRow kActions[] = {
    {FaultAction::kSilent, "silent"}, {FaultAction::kException, "exception"},
    {FaultAction::kLength, "length"}, {FaultAction::kBadCrc, "badcrc"},
    {FaultAction::kSplit, "split"},   {FaultAction::kStray, "stray"},
};

// Value slots of the main block, by their key in the file.
struct NamedRegister {
    const char* name;
    int reg;
};

constexpr NamedRegister kMainSlots[] = {
    {"level", 3},        {"mass", 6},   {"volume", 9}, {"density", 12},
    {"temperature", 15}, {"water", 18}, {"pap", 21},   {"tap", 24},
    {"ppf", 27},         {"tpf", 30},   {"dpf", 33},   {"volume_max", 42},
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

// Integers may be written as numbers or, for flags and register words, as text such as "0x40".
long long IntOf(const json& j, const std::string& where, long long lo, long long hi) {
    long long v = 0;
    if (j.is_number_integer()) {
        v = j.get<long long>();
    } else if (j.is_string()) {
        const auto& text = j.get_ref<const std::string&>();
        size_t used = 0;
        try {
            v = std::stoll(text, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size()) Fail(where, "\"" + text + "\" is not an integer");
    } else {
        Fail(where, "expected an integer");
    }
    if (v < lo || v > hi) {
        Fail(where,
             std::to_string(v) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    }
    return v;
}

// One JSON object of the file: hands out its keys and, at the end, refuses the ones nobody
// asked for, so that a misspelt key is an error instead of a silent zero.
class Section {
  public:
    Section(const json& j, std::string where) : j_(j), where_(std::move(where)) {
        if (!j_.is_object()) Fail(where_, "expected an object");
    }

    const json* Get(const std::string& key) {
        used_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    bool Has(const std::string& key) const { return j_.contains(key); }
    std::string Path(const std::string& key) const { return where_ + "." + key; }

    long long Int(const std::string& key, long long fallback, long long lo, long long hi) {
        const json* v = Get(key);
        return v ? IntOf(*v, Path(key), lo, hi) : fallback;
    }
    float Float(const std::string& key, float fallback) {
        const json* v = Get(key);
        if (!v) return fallback;
        if (!v->is_number()) Fail(Path(key), "expected a number");
        return v->get<float>();
    }
    std::string Text(const std::string& key, std::string fallback) {
        const json* v = Get(key);
        if (!v) return fallback;
        if (!v->is_string()) Fail(Path(key), "expected a string");
        return v->get<std::string>();
    }
    // The array under `key` (empty when absent), with at most `limit` elements.
    const json& Array(const std::string& key, size_t limit) {
        static const json kEmpty = json::array();
        const json* v = Get(key);
        if (!v) return kEmpty;
        if (!v->is_array()) Fail(Path(key), "expected an array");
        if (v->size() > limit) Fail(Path(key), "at most " + std::to_string(limit) + " entries");
        return *v;
    }

    void Finish() const {
        for (const auto& item : j_.items()) {
            const std::string& key = item.key();
            if (used_.contains(key) || key == "comment" || key.starts_with('_')) continue;
            Fail(Path(key), "unknown key");
        }
    }

  private:
    const json& j_;
    std::string where_;
    std::set<std::string> used_;
};

std::string At(const std::string& where, size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

void PutFloat(RegisterImage& image, int reg, float value) {
    const auto words = PackFloat(value);
    image[reg] = words[0];
    image[reg + 1] = words[1];
}

// A value and its state register. The state is given whole ("state": S, first byte × 256 +
// flags byte) or by its bytes ("high", or `highKey`, and "flags"); `highKey` lets the density
// probes call their signed first byte "refine".
void PutSlot(RegisterImage& image, int reg, Section& s, const char* valueKey,
             const char* highKey = "high") {
    PutFloat(image, reg, s.Float(valueKey, 0.0F));
    const bool bytes = s.Has(highKey) || s.Has("flags");
    if (bytes && s.Has("state")) Fail(s.Path("state"), "give the state whole or by its bytes");
    if (bytes) {
        const auto high = static_cast<uint8_t>(s.Int(highKey, 0, -128, 255));
        const auto flags = static_cast<uint8_t>(s.Int("flags", 0, 0, 255));
        image[reg + 2] = static_cast<uint16_t>(high << 8 | flags);
    } else {
        image[reg + 2] = static_cast<uint16_t>(s.Int("state", 0, 0, 0xFFFF));
    }
}

// A slot written as a bare number has state 0.
void PutSlotEntry(RegisterImage& image, int reg, const json& j, const std::string& where) {
    if (j.is_number()) {
        PutFloat(image, reg, j.get<float>());
        image[reg + 2] = 0;
        return;
    }
    Section s(j, where);
    PutSlot(image, reg, s, "value");
    s.Finish();
}

void PutHeader(RegisterImage& image, int first, Section& s) {
    const json& words = s.Array("header", 3);
    for (size_t i = 0; i < words.size(); ++i) {
        image[first + i] =
            static_cast<uint16_t>(IntOf(words[i], At(s.Path("header"), i), 0, 0xFFFF));
    }
}

void ReadMain(RegisterImage& image, const json& j, const std::string& where) {
    Section s(j, where);
    for (const auto& slot : kMainSlots) {
        if (const json* v = s.Get(slot.name)) {
            PutSlotEntry(image, slot.reg, *v, s.Path(slot.name));
        }
    }
    const std::string software = s.Text("software", "");
    if (software.size() > kSoftwareBytes) {
        Fail(s.Path("software"), "at most " + std::to_string(kSoftwareBytes) + " bytes");
    }
    std::array<uint8_t, kSoftwareBytes> text{};
    std::copy(software.begin(), software.end(), text.begin());
    for (size_t i = 0; i < kSoftwareBytes / 2; ++i) {
        image[kSoftwareRegister + i] = static_cast<uint16_t>(text[2 * i] << 8 | text[2 * i + 1]);
    }
    const auto product = s.Int("product", 0, 0, 255);
    const auto version = s.Int("version", 0, 0, 255);
    image[kProductRegister] = static_cast<uint16_t>(product << 8 | version);
    s.Finish();
}

void ReadTemperature(RegisterImage& image, const json& j, const std::string& where) {
    Section s(j, where);
    PutHeader(image, kTempHeader, s);
    const json& points = s.Array("points", kTempPoints);
    for (size_t k = 0; k < points.size(); ++k) {
        const int reg = kTempFirst + 3 * static_cast<int>(k);
        const std::string at = At(s.Path("points"), k);
        if (points[k].is_number()) {
            PutSlotEntry(image, reg, points[k], at);
            continue;
        }
        Section p(points[k], at);
        PutSlot(image, reg, p, "value");
        image[kCoordFirst + k] = static_cast<uint16_t>(p.Int("height", 0, 0, 0xFFFF));
        p.Finish();
    }
    s.Finish();
}

void ReadDensity(RegisterImage& image, const json& j, const std::string& where) {
    Section s(j, where);
    PutHeader(image, kDensityHeader, s);
    const json& probes = s.Array("probes", kProbes);
    for (size_t k = 0; k < probes.size(); ++k) {
        Section p(probes[k], At(s.Path("probes"), k));
        PutSlot(image, kDensityFirst + 3 * static_cast<int>(k), p, "density", "refine");
        const int reg = kProbeFirst + 3 * static_cast<int>(k);
        image[reg] = static_cast<uint16_t>(p.Int("height", 0, 0, 0xFFFF));
        PutFloat(image, reg + 1, p.Float("temp", 0.0F));
        p.Finish();
    }
    s.Finish();
}

void ReadSensors(RegisterImage& image, Section& s, const char* key, size_t count) {
    const json& sensors = s.Array(key, count);
    for (size_t k = 0; k < sensors.size(); ++k) {
        PutSlotEntry(image, kSensorFirst + 3 * static_cast<int>(k), sensors[k], At(s.Path(key), k));
    }
}

Fault ReadFault(const json& j, const std::string& where) {
    Section s(j, where);
    Fault f;
    const std::string on = s.Text("on", "any");
    if (on != "any") {
        f.on = KindFromName(on);
        if (!f.on) Fail(s.Path("on"), "unknown request kind \"" + on + "\"");
    }
    const json* action = s.Get("fault");
    if (!action || !action->is_string()) Fail(s.Path("fault"), "expected the fault's name");
    const auto row = std::find_if(std::begin(kActions), std::end(kActions),
                                  [&](const ActionRow& r) { return *action == r.name; });
    if (row == std::end(kActions)) Fail(s.Path("fault"), "unknown fault " + action->dump());
    f.action = row->action;

    f.after = static_cast<int>(s.Int("after", 0, 0, INT_MAX / 2));
    f.every = static_cast<int>(s.Int("every", 1, 1, INT_MAX / 2));
    if (const json* times = s.Get("times"); times && *times != "always") {
        f.times = static_cast<int>(IntOf(*times, s.Path("times"), 1, INT_MAX / 2));
    }
    f.code = static_cast<int>(s.Int("code", f.code, 0, 255));
    f.delta = static_cast<int>(s.Int("delta", f.delta, -255, 255));
    if (f.delta == 0) Fail(s.Path("delta"), "a length fault needs a non-zero delta");
    const std::string crc = s.Text("crc", "flip");
    if (crc != "flip" && crc != "swap") Fail(s.Path("crc"), "expected \"flip\" or \"swap\"");
    f.swapCrc = crc == "swap";
    f.splitAt = static_cast<int>(s.Int("at", 0, 1, 255));
    f.delayMs = static_cast<int>(s.Int("delay_ms", f.delayMs, 0, 600000));
    if (const json* bytes = s.Get("bytes")) {
        const json list = bytes->is_array() ? *bytes : json::array({*bytes});
        if (list.empty()) Fail(s.Path("bytes"), "at least one byte");
        f.bytes.clear();
        for (size_t i = 0; i < list.size(); ++i) {
            f.bytes.push_back(static_cast<uint8_t>(IntOf(list[i], At(s.Path("bytes"), i), 0, 255)));
        }
    }
    // The zero byte gets no answer of its own; only something sent after it can be injected.
    if (f.on == RequestKind::kZero && f.action != FaultAction::kStray &&
        f.action != FaultAction::kSilent) {
        Fail(s.Path("fault"), "the zero byte takes only \"stray\" (or \"silent\")");
    }
    s.Finish();
    return f;
}

std::vector<Fault> ReadFaults(Section& s) {
    std::vector<Fault> faults;
    const json& list = s.Array("faults", 1000);
    for (size_t i = 0; i < list.size(); ++i)
        faults.push_back(ReadFault(list[i], At(s.Path("faults"), i)));
    return faults;
}

Channel ReadChannel(const json& j, const std::string& where) {
    Section s(j, where);
    Channel c;
    if (!s.Has("address")) Fail(s.Path("address"), "every channel needs its address");
    c.address = static_cast<int>(s.Int("address", 0, 0, 0xFFFF));
    const auto type = s.Int("type", 0, 0, 255);
    c.image[kTypeRegister] = static_cast<uint16_t>(type << 8);
    c.image[kTypeRegister + 1] = static_cast<uint16_t>(s.Int("config", 0, 0, 0xFFFF));
    c.image[kTypeRegister + 2] = static_cast<uint16_t>(s.Int("reg2", 0, 0, 0xFFFF));

    // Main parameters, pressure and gas sensors all start at register 3.
    const int sharing = s.Has("main") + s.Has("pressure") + s.Has("gas");
    if (sharing > 1) Fail(where, "\"main\", \"pressure\" and \"gas\" share registers; give one");
    if (const json* main = s.Get("main")) ReadMain(c.image, *main, s.Path("main"));
    ReadSensors(c.image, s, "pressure", kPressureSensors);
    ReadSensors(c.image, s, "gas", kGasSensors);
    if (const json* t = s.Get("temperature")) ReadTemperature(c.image, *t, s.Path("temperature"));
    if (const json* d = s.Get("density")) ReadDensity(c.image, *d, s.Path("density"));
    c.faults = ReadFaults(s);
    s.Get("name");  // a label for the reader of the file
    s.Finish();
    return c;
}

}  // namespace

std::string_view KindName(RequestKind kind) {
    for (const auto& row : kKinds) {
        if (row.kind == kind) return row.name;
    }
    return "other";
}

std::optional<RequestKind> KindFromName(std::string_view name) {
    for (const auto& row : kKinds) {
        if (name == row.name) return row.kind;
    }
    return std::nullopt;
}

RequestKind ClassifyRequest(uint8_t function, uint16_t reg, uint16_t countOrValue) {
    if (function == 0x06 && reg == 0) return RequestKind::kSelect;
    for (const auto& row : kKinds) {
        if (function == 0x04 && row.function == 0x04 && row.reg == reg &&
            row.count == countOrValue) {
            return row.kind;
        }
    }
    return RequestKind::kOther;
}

bool Fault::Hits() {
    if (seen_ < INT_MAX) ++seen_;
    if (seen_ <= after) return false;
    const int since = seen_ - after - 1;  // 0 for the first request the fault may hit
    if (since % every != 0) return false;
    return !times || since / every < *times;
}

Scenario ParseScenario(std::string_view text, const std::string& origin) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        Fail(origin, e.what());
    }
    Section s(root, origin);
    Scenario scenario;
    // Address 0 is the broadcast address, and a lone 0x00 byte is how the converter prefixes
    // each tank: neither can be this slave's address.
    scenario.slave = static_cast<int>(s.Int("slave", scenario.slave, 1, 255));
    const json& channels = s.Array("channels", 65536);
    for (size_t i = 0; i < channels.size(); ++i) {
        Channel c = ReadChannel(channels[i], At(s.Path("channels"), i));
        const int address = c.address;
        if (!scenario.channels.emplace(address, std::move(c)).second) {
            Fail(At(s.Path("channels"), i), "channel " + std::to_string(address) + " given twice");
        }
    }
    scenario.faults = ReadFaults(s);
    s.Finish();
    return scenario;
}

Scenario LoadScenario(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return ParseScenario(text.str(), path);
}

std::string Describe(const Scenario& scenario) {
    std::string out = "slave " + std::to_string(scenario.slave) + ", channels";
    if (scenario.channels.empty()) out += " none";
    for (const auto& [address, channel] : scenario.channels) out += " " + std::to_string(address);
    return out;
}

}  // namespace conv::gauge_sim
