// "Nastroika.ini" with any content: the start-up reads it, then one value is written and one key
// deleted, as the dialogs do. Reading must leave the file alone; a write must read back; neither
// the write nor the delete may change the value of any other entry, and what is written must read
// the same after it is written again.
//
// Input: which entry to write (byte), which to delete (byte), four bytes that make the value
// written, then the file's bytes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/converter.h"
#include "core/startup_settings.h"
#include "fuzz_support.h"
#include "log/message_boxes.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"
#include "support/fake_port.h"

namespace conv::fuzz {
namespace {

using Name = std::pair<std::string, std::string>;  // section, key

class RecordingBoxes : public MessageBoxes {
  public:
    void Show(const std::string& text, const std::string&) override { shown.push_back(text); }
    bool AskOkCancel(const std::string& text, const std::string&) override {
        shown.push_back(text);
        return false;
    }
    std::vector<std::string> shown;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string Trim(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    size_t b = 0;
    size_t e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Every (section, key) that a line of the document could name. The document's own Get decides
// what each reads as; this list only has to miss none of them.
std::set<Name> Names(const IniDocument& doc) {
    std::set<Name> names;
    std::string section;
    bool inSection = false;
    for (const std::string& raw : doc.Lines()) {
        const std::string line = Trim(raw);
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            if (close != std::string::npos) {
                section = Trim(line.substr(1, close - 1));
                inSection = true;
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || line.empty() || line[0] == ';' || eq == std::string::npos) continue;
        names.insert({section, Trim(line.substr(0, eq))});
    }
    return names;
}

using Values = std::map<Name, std::optional<std::string>>;

Values Read(const IniDocument& doc, const std::set<Name>& names) {
    Values v;
    for (const Name& n : names) v[n] = doc.Get(n.first, n.second);
    return v;
}

// Whether two names reach the same entry, by the document's own matching rules.
bool SameEntry(const Name& a, const Name& b) {
    IniDocument probe;
    probe.Set(a.first, a.second, "probe");
    return probe.Get(b.first, b.second) == std::optional<std::string>("probe");
}

// The program's own entries, and any name the file itself brings.
std::vector<Name> Candidates(const IniDocument& doc) {
    std::vector<Name> c = {
        {ini::kTanks, "1"},
        {ini::kTanks, "64"},
        {ini::kSlave, ini::kSlaveAddress},
        {ini::kFlag, ini::kLog},
        {ini::kModbus, ini::kPortName},
        {ini::kModbus, ini::kPortExists},
        {ini::kVelt, ini::kPortName},
        {ini::kVelt, ini::kPortExists},
        {ini::kPassword, ini::kAccessCode},
        {ini::kPassword, ini::kOperatorPassword},
        {"резервуар", "7"},
        {"new section", "key"},
    };
    for (const Name& n : Names(doc)) {
        // Names a dialog could never produce (blank, or with line breaks) are not written.
        if (n.first.empty() || n.second.empty() ||
            n.first.find_first_of("\r\n]") != std::string::npos ||
            n.second.find_first_of("\r\n=") != std::string::npos) {
            continue;
        }
        c.push_back(n);
    }
    return c;
}

// After an operation on `target`: entries other than the target read as before.
void CheckOthersKept(const Values& before, IniEncoding encodingBefore, const IniDocument& after,
                     const Name& target) {
    // The file's encoding is decided from all its bytes, on purpose: read line by line, a
    // genuine Windows-1251 line can pass for UTF-8 (the password "Её1" is C5 B8 31, valid UTF-8
    // for "Ÿ1"). So in a file that mixes the two, removing the last line that is not UTF-8 makes
    // the rest read as UTF-8, which is what its author wrote; that one change is allowed here.
    if (after.Encoding() != encodingBefore) return;
    std::set<Name> names;
    for (const auto& [n, v] : before) names.insert(n);
    for (const Name& n : Names(after)) names.insert(n);
    for (const Name& n : names) {
        if (SameEntry(n, target)) continue;
        const auto it = before.find(n);
        const std::optional<std::string> old = it == before.end() ? std::nullopt : it->second;
        const std::optional<std::string> now = after.Get(n.first, n.second);
        if (now != old) {
            std::fprintf(stderr, "[%s] %s: \"%s\" became \"%s\" (operation on [%s] %s)\n",
                         n.first.c_str(), n.second.c_str(), old.value_or("<absent>").c_str(),
                         now.value_or("<absent>").c_str(), target.first.c_str(),
                         target.second.c_str());
        }
        FUZZ_CHECK(now == old);
    }
}

// What was written reads the same once written again: rewriting the file never drifts a value.
// (The bytes themselves may settle over a rewrite or two: a line that ends in several carriage
// returns loses one per rewrite, which no reader sees.)
void CheckRewriteStable(const std::string& bytes) {
    const IniDocument doc = IniDocument::Parse(bytes);
    const IniDocument again = IniDocument::Parse(doc.Serialize());
    const std::set<Name> names = Names(doc);
    FUZZ_CHECK(Names(again) == names);
    for (const Name& n : names)
        FUZZ_CHECK(again.Get(n.first, n.second) == doc.Get(n.first, n.second));
}

std::string Folder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/conv-fuzz-ini-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    return dir + "/";
}

}  // namespace
}  // namespace conv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace conv;
    using namespace conv::fuzz;
    static const std::string path = Folder() + kSettingsFileName;
    ByteReader in(data, size);
    const uint8_t writeChoice = in.Byte();
    const uint8_t deleteChoice = in.Byte();
    std::string value = "v";
    for (int i = 0; i < 4; ++i) value += static_cast<char>('0' + in.Byte() % 10);
    const size_t header = size - in.Left();
    WriteFile(path, data + header, size - header);
    const std::string original = ReadFile(path);

    // The start-up reads; it writes only when the file is missing, and here it is not.
    MemoryPane left;
    MemoryPane right;
    Converter conv(left, right, std::make_unique<test::FakePort>(),
                   std::make_unique<test::FakePort>());
    RecordingBoxes boxes;
    SettingsFile file(path);
    LoadStartupSettings(file, conv, boxes);
    FUZZ_CHECK(ReadFile(path) == original);
    FUZZ_CHECK(boxes.shown.size() <= 2);
    for (const TankEntry& t : conv.Table.Tanks) FUZZ_CHECK(t.Configured == 0 || t.Configured == 1);

    // A write, as a dialog's Save does.
    const IniDocument before = IniDocument::Parse(original);
    auto candidates = Candidates(before);
    const Name target = candidates[writeChoice % candidates.size()];
    const Values beforeValues = Read(before, Names(before));
    FUZZ_CHECK(file.WriteString(target.first, target.second, value));
    const std::string written = ReadFile(path);
    const IniDocument afterWrite = IniDocument::Parse(written);
    if (afterWrite.Encoding() == before.Encoding()) {
        FUZZ_CHECK(file.ReadString(target.first, target.second, "absent") == value);
    } else {
        // The write took away the last line that was not UTF-8, so the file now reads as UTF-8
        // and the name, read the old way, is another name now (see CheckOthersKept); the value
        // must still be in the file.
        FUZZ_CHECK(written.find("=" + value) != std::string::npos);
    }
    CheckOthersKept(beforeValues, before.Encoding(), afterWrite, target);
    CheckRewriteStable(written);

    // A delete, as the channel setup's Save does before it writes the table anew.
    candidates = Candidates(afterWrite);
    const Name gone = candidates[deleteChoice % candidates.size()];
    const Values writeValues = Read(afterWrite, Names(afterWrite));
    FUZZ_CHECK(file.DeleteKey(gone.first, gone.second));
    const std::string deleted = ReadFile(path);
    const IniDocument afterDelete = IniDocument::Parse(deleted);
    CheckOthersKept(writeValues, afterWrite.Encoding(), afterDelete, gone);
    CheckRewriteStable(deleted);
    return 0;
}
