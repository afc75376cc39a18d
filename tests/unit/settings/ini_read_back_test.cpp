// Which values read back from the settings file exactly as they were written: the password
// dialog refuses the others, since a password that reads back otherwise can never be typed.
#include <gtest/gtest.h>

#include "settings/ini_document.h"
#include "settings/text_codec.h"

namespace conv {
namespace {

struct Case {
    const char* what;
    const char* value;
    bool inWindows1251;  // reads back from a Windows-1251 file
    bool inUtf8;         // reads back from a UTF-8 file
};

const Case kCases[] = {
    {"digits", "731904", true, true},
    {"empty", "", true, true},
    {"Cyrillic", "пароль", true, true},
    {"signs Windows-1251 has", "№€«»", true, true},
    {"a blank inside", "a b", true, true},
    {"an equals sign", "a=b", true, true},
    {"one quote only", "\"ab", true, true},
    {"quotes of two kinds", "\"ab'", true, true},
    {"CJK", "日本", false, true},
    {"Latin-1 beyond Windows-1251", "ß", false, true},
    {"a blank before", " 1234", false, false},
    {"a blank after", "1234 ", false, false},
    {"a tab before", "\t1234", false, false},
    {"double quotes around", "\"1234\"", false, false},
    {"single quotes around", "'1234'", false, false},
    {"a line break", "12\n34", false, false},
};

IniDocument Windows1251File() {
    return IniDocument::Parse(Utf8ToCp1251("[Пароль]\r\nдоступа=731904\r\n"));
}
IniDocument Utf8File() {
    return IniDocument::Parse("[Пароль]\r\nдоступа=731904\r\n");
}

TEST(ReadsBackUnchanged, DependsOnTheValueAndTheFilesEncoding) {
    ASSERT_EQ(Windows1251File().Encoding(), IniEncoding::Cp1251);
    ASSERT_EQ(Utf8File().Encoding(), IniEncoding::Utf8);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReadsBackUnchanged(Windows1251File(), "Пароль", "оператора", c.value),
                  c.inWindows1251);
        EXPECT_EQ(ReadsBackUnchanged(Utf8File(), "Пароль", "оператора", c.value), c.inUtf8);
        // A file that does not exist yet is written as Windows-1251.
        EXPECT_EQ(ReadsBackUnchanged(IniDocument(), "Пароль", "доступа", c.value), c.inWindows1251);
    }
}

// Windows-1251 bytes that happen to be UTF-8 make the whole file read as UTF-8 next time: only
// making the write and the read shows it.
TEST(ReadsBackUnchanged, AWriteThatChangesHowTheFileDecodes) {
    const IniDocument ascii = IniDocument::Parse("[A]\r\nb=1\r\n");
    ASSERT_EQ(ascii.Encoding(), IniEncoding::Cp1251);
    EXPECT_FALSE(ReadsBackUnchanged(ascii, "A", "c", "Рђ"));  // D0 90: "А" in UTF-8
    EXPECT_TRUE(ReadsBackUnchanged(ascii, "A", "c", "Ђ"));
}

// Only the read-back is tried: the document given is left as it was.
TEST(ReadsBackUnchanged, LeavesTheDocumentAlone) {
    const IniDocument doc = Windows1251File();
    const std::string before = doc.Serialize();
    EXPECT_TRUE(ReadsBackUnchanged(doc, "Пароль", "доступа", "1"));
    EXPECT_EQ(doc.Serialize(), before);
}

}  // namespace
}  // namespace conv
