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
#include <set>
#include <string>
#include <vector>

#include "core/converter.h"
#include "core/startup_settings.h"
#include "fuzz_support.h"
#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/settings_file.h"
#include "support/recording_boxes.h"

namespace conv::fuzz {
namespace {

using Name = std::pair<std::string, std::string>;  // section, key

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Trim(const std::string& s) {
    const std::string blanks(" \t\r\0", 4);
    const size_t b = s.find_first_not_of(blanks);
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// Every (section, key) that a line of the document could name. The document's own Get decides
// what each reads as; this list only has to miss none of them.
std::set<Name> Names(const IniDocument& doc) {
    std::set<Name> names;
    std::optional<std::string> section;
    for (const std::string& raw : doc.Lines()) {
        const std::string line = Trim(raw);
        const size_t close = line.find(']');
        const size_t eq = line.find('=');
        if (line.starts_with('[') && close != std::string::npos) {
            section = Trim(line.substr(1, close - 1));
        } else if (section && !line.starts_with('[') && !line.starts_with(';') &&
                   eq != std::string::npos) {
            names.insert({*section, Trim(line.substr(0, eq))});
        }
    }
    return names;
}

// An entry of the program's sections (the seeds bring the rest), or any name in the file that a
// dialog could produce.
Name Pick(const IniDocument& doc, uint8_t choice) {
    std::vector<Name> c = {{ini::kTanks, "64"}, {ini::kVelt, ini::kPortName}, {"резервуар", "7"}};
    for (const Name& n : Names(doc)) {
        if (!n.first.empty() && !n.second.empty() &&
            (n.first + n.second).find('\r') == std::string::npos) {
            c.push_back(n);
        }
    }
    return c[choice % c.size()];
}

// After an operation on `target`, the entries other than the target read as before (whether two
// names reach one entry is the document's own rule), and the file reads the same once written
// again (its bytes may settle over a rewrite or two: a line that ends in several carriage returns
// loses one per rewrite, which no reader sees).
IniDocument CheckAfter(const IniDocument& before, const std::string& bytes, const Name& target) {
    const IniDocument after = IniDocument::Parse(bytes);
    const IniDocument again = IniDocument::Parse(after.Serialize());
    IniDocument probe;
    probe.Set(target.first, target.second, "probe");
    std::set<Name> names = Names(after);
    FUZZ_CHECK(Names(again) == names);
    names.merge(Names(before));
    // The encoding is decided from all of a file's bytes, on purpose: line by line, a genuine
    // Windows-1251 line can pass for UTF-8 (the password "Её1" is C5 B8 31, valid UTF-8 for
    // "Ÿ1"). So in a file that mixes the two, removing the last line that is not UTF-8 makes the
    // rest read as UTF-8, which is what its author wrote; that one change is allowed here.
    const bool sameEncoding = after.Encoding() == before.Encoding();
    for (const auto& [section, key] : names) {
        const auto value = after.Get(section, key);
        FUZZ_CHECK(again.Get(section, key) == value);
        if (sameEncoding && probe.Get(section, key) != "probe") {
            FUZZ_CHECK(value == before.Get(section, key));
        }
    }
    return after;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // /dev/shm where there is one: every write is flushed to disk, and the fuzzer writes a lot.
    static std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/conv-fuzz-ini-XXXXXX"
                                                           : "/tmp/conv-fuzz-ini-XXXXXX";
    static const std::string path = std::string(mkdtemp(dir.data())) + "/" + kSettingsFileName;
    ByteReader in{data, size};
    const uint8_t writeChoice = in.Byte();
    const uint8_t deleteChoice = in.Byte();
    std::string value = "v";
    for (int i = 0; i < 4; ++i) value += static_cast<char>('0' + in.Byte() % 10);
    const std::string original(reinterpret_cast<const char*>(data) + in.used, size - in.used);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << original;

    // The start-up reads; it writes only when the file is missing, and here it is not.
    MemoryPane left, right;
    Converter conv(left, right, std::make_unique<test::FakePort>(),
                   std::make_unique<test::FakePort>());
    test::RecordingBoxes boxes;
    SettingsFile file(path);
    LoadStartupSettings(file, conv, boxes);
    FUZZ_CHECK(ReadFile(path) == original && boxes.shown.size() <= 2);

    // A write, as a dialog's Save does.
    const IniDocument before = IniDocument::Parse(original);
    const Name target = Pick(before, writeChoice);
    FUZZ_CHECK(file.WriteString(target.first, target.second, value));
    const IniDocument afterWrite = CheckAfter(before, ReadFile(path), target);
    // When the write took away the last line that was not UTF-8, the name read the old way is
    // another name now.
    FUZZ_CHECK(afterWrite.Encoding() != before.Encoding() ||
               file.ReadString(target.first, target.second, "absent") == value);

    // A delete, as the channel setup's Save did before it wrote the table anew.
    const Name gone = Pick(afterWrite, deleteChoice);
    FUZZ_CHECK(file.DeleteKey(gone.first, gone.second));
    CheckAfter(afterWrite, ReadFile(path), gone);
    return 0;
}

}  // namespace conv::fuzz
