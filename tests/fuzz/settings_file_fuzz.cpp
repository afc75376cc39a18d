// "Nastroika.ini" with any content: the start-up reads it, then one value is written and one key
// deleted, as the dialogs do. Reading must leave the file alone; a write must read back; neither
// the write nor the delete may change the value of any other entry, and what is written must read
// the same after it is written again.
//
// Input: which entry to write (byte), which to delete (byte), four bytes that make the value
// written, then the file's bytes.
#include <unistd.h>

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
using Values = std::map<Name, std::optional<std::string>>;

struct CountingBoxes : MessageBoxes {
    void Show(const std::string&, const std::string&) override { ++shown; }
    bool AskOkCancel(const std::string&, const std::string&) override {
        ++shown;
        return false;
    }
    int shown = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(std::string(" \t\r\0", 4));
    const size_t e = s.find_last_not_of(std::string(" \t\r\0", 4));
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// Every (section, key) that a line of the document could name. The document's own Get decides
// what each reads as; this list only has to miss none of them.
std::set<Name> Names(const IniDocument& doc) {
    std::set<Name> names;
    std::string section;
    bool inSection = false;
    for (const std::string& raw : doc.Lines()) {
        const std::string line = Trim(raw);
        const size_t close = line.find(']');
        const size_t eq = line.find('=');
        if (!line.empty() && line[0] == '[') {
            if (close != std::string::npos) section = Trim(line.substr(1, close - 1));
            inSection = inSection || close != std::string::npos;
        } else if (inSection && !line.empty() && line[0] != ';' && eq != std::string::npos) {
            names.insert({section, Trim(line.substr(0, eq))});
        }
    }
    return names;
}

Values Read(const IniDocument& doc) {
    Values v;
    for (const Name& n : Names(doc)) v[n] = doc.Get(n.first, n.second);
    return v;
}

// Whether two names reach the same entry, by the document's own matching rules.
bool SameEntry(const Name& a, const Name& b) {
    IniDocument probe;
    probe.Set(a.first, a.second, "probe");
    return probe.Get(b.first, b.second) == std::optional<std::string>("probe");
}

// Entries of the program's sections (the seeds bring the rest), and any name the file brings that a
// dialog could produce.
Name Pick(const IniDocument& doc, uint8_t choice) {
    std::vector<Name> c = {{ini::kTanks, "1"},           {ini::kTanks, "64"},
                           {ini::kVelt, ini::kPortName}, {ini::kPassword, ini::kAccessCode},
                           {"резервуар", "7"},           {"new section", "key"}};
    for (const Name& n : Names(doc)) {
        if (!n.first.empty() && !n.second.empty() &&
            n.first.find_first_of("\r\n]") == std::string::npos &&
            n.second.find_first_of("\r\n=") == std::string::npos) {
            c.push_back(n);
        }
    }
    return c[choice % c.size()];
}

// After an operation on `target`, the entries other than the target read as before, and the file
// reads the same once written again (its bytes may settle over a rewrite or two: a line that ends
// in several carriage returns loses one per rewrite, which no reader sees).
IniDocument CheckAfter(const Values& before, IniEncoding encodingBefore, const std::string& bytes,
                       const Name& target) {
    const IniDocument after = IniDocument::Parse(bytes);
    const IniDocument again = IniDocument::Parse(after.Serialize());
    FUZZ_CHECK(Names(again) == Names(after));
    for (const Name& n : Names(after)) {
        FUZZ_CHECK(again.Get(n.first, n.second) == after.Get(n.first, n.second));
    }
    // The file's encoding is decided from all its bytes, on purpose: read line by line, a genuine
    // Windows-1251 line can pass for UTF-8 (the password "Её1" is C5 B8 31, valid UTF-8 for
    // "Ÿ1"). So in a file that mixes the two, removing the last line that is not UTF-8 makes the
    // rest read as UTF-8, which is what its author wrote; that one change is allowed here.
    if (after.Encoding() != encodingBefore) return after;
    std::set<Name> names = Names(after);
    for (const auto& [n, v] : before) names.insert(n);
    for (const Name& n : names) {
        const auto it = before.find(n);
        const auto old = it == before.end() ? std::nullopt : it->second;
        if (!SameEntry(n, target)) FUZZ_CHECK(after.Get(n.first, n.second) == old);
    }
    return after;
}

std::string Folder() {
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/conv-fuzz-ini-XXXXXX"
                                                    : "/tmp/conv-fuzz-ini-XXXXXX";
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
    const std::string original(reinterpret_cast<const char*>(data) + in.Used(), size - in.Used());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << original;

    // The start-up reads; it writes only when the file is missing, and here it is not.
    MemoryPane left, right;
    Converter conv(left, right, std::make_unique<test::FakePort>(),
                   std::make_unique<test::FakePort>());
    CountingBoxes boxes;
    SettingsFile file(path);
    LoadStartupSettings(file, conv, boxes);
    FUZZ_CHECK(ReadFile(path) == original);
    FUZZ_CHECK(boxes.shown <= 2);
    for (const TankEntry& t : conv.Table.Tanks) FUZZ_CHECK(t.Configured == 0 || t.Configured == 1);

    // A write, as a dialog's Save does.
    const IniDocument before = IniDocument::Parse(original);
    const Name target = Pick(before, writeChoice);
    FUZZ_CHECK(file.WriteString(target.first, target.second, value));
    const std::string written = ReadFile(path);
    const IniDocument afterWrite = CheckAfter(Read(before), before.Encoding(), written, target);
    if (afterWrite.Encoding() == before.Encoding()) {
        FUZZ_CHECK(file.ReadString(target.first, target.second, "absent") == value);
    } else {
        // The write took away the last line that was not UTF-8, so the file now reads as UTF-8
        // and the name, read the old way, is another name now; the value must still be there.
        FUZZ_CHECK(written.find("=" + value) != std::string::npos);
    }

    // A delete, as the channel setup's Save does before it writes the table anew.
    const Name gone = Pick(afterWrite, deleteChoice);
    FUZZ_CHECK(file.DeleteKey(gone.first, gone.second));
    CheckAfter(Read(afterWrite), afterWrite.Encoding(), ReadFile(path), gone);
    return 0;
}
