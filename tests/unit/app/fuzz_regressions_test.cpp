// Findings of fuzz_settings_file, reduced to the smallest file that shows each.
#include <gtest/gtest.h>

#include <string>

#include "app/ini_document.h"

namespace conv {
namespace {

// A file in UTF-8 but for one line in Windows-1251 (edited in two editors) is read as
// Windows-1251 as a whole, so its UTF-8 entries are not found and their defaults apply. Deleting
// that one line makes the rest valid UTF-8, and the next read finds the other entry: an
// operation on one key changed what another key reads as. Reading each line in the encoding it
// is valid in would keep every entry's reading independent of the others.
// Disabled until IniDocument decodes line by line; the fuzz target skips this case meanwhile.
TEST(IniDocumentFuzzRegressions, DISABLED_DeletingOneLineLeavesTheOtherEntriesAsTheyRead) {
    const std::string bytes =
        "[MODBUS]\n"
        "Com-\xD0\xBF\xD0\xBE\xD1\x80\xD1\x82=/dev/ttyS1\n"  // "Com-порт" in UTF-8
        "[X]\n"
        "k\xF4=1\n";  // "kф" in Windows-1251
    IniDocument doc = IniDocument::Parse(bytes);
    const auto before = doc.Get("MODBUS", "Com-порт");

    ASSERT_TRUE(doc.Remove("X", "kф"));
    const auto after = IniDocument::Parse(doc.Serialize()).Get("MODBUS", "Com-порт");

    EXPECT_EQ(before, after);
}

}  // namespace
}  // namespace conv
