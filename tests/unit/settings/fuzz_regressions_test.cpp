// Findings of fuzz_settings_file, reduced to the smallest file that shows each.
#include <gtest/gtest.h>

#include <string>

#include "settings/ini_document.h"

namespace conv {
namespace {

// A file in UTF-8 but for one line in Windows-1251 (edited in two editors) reads as
// Windows-1251 as a whole, so its UTF-8 names are not found. Once that line is deleted the file
// is UTF-8 text and reads as such. Deciding line by line instead would misread genuine
// Windows-1251 lines that happen to be valid UTF-8: a password "Её1" must stay "Её1".
TEST(IniDocumentFuzzRegressions, EncodingIsDecidedByTheWholeFile) {
    const std::string mixed =
        "[MODBUS]\n"
        "Com-\xD0\xBF\xD0\xBE\xD1\x80\xD1\x82=/dev/ttyS1\n"  // "Com-порт" in UTF-8
        "[X]\n"
        "k\xF4=1\n";  // "kф" in Windows-1251
    IniDocument doc = IniDocument::Parse(mixed);
    EXPECT_EQ(doc.Encoding(), IniEncoding::Cp1251);
    EXPECT_EQ(doc.Get("MODBUS", "Com-порт"), std::nullopt);
    ASSERT_TRUE(doc.Remove("X", "kф"));
    const IniDocument after = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(after.Encoding(), IniEncoding::Utf8);
    EXPECT_EQ(after.Get("MODBUS", "Com-порт"), std::optional<std::string>("/dev/ttyS1"));

    const IniDocument windows =
        IniDocument::Parse("[\xCF\xE0\xF0\xEE\xEB\xFC]\r\n\xEE\xEF=\xC5\xB8\x31\r\n");
    EXPECT_EQ(windows.Get("Пароль", "оп"), std::optional<std::string>("Её1"));
}

}  // namespace
}  // namespace conv
