// The settings file: its text as the Windows profile functions read it, its two encodings, and
// the file on disk, which a write replaces whole or not at all.
#include <gtest/gtest.h>

#include <cerrno>

#include "settings/ini_document.h"
#include "settings/text_codec.h"
#include "support/unreadable_file.h"
#include "unit/bench.h"

namespace conv::test {
namespace {

using namespace std::string_literals;
using Text = std::optional<std::string>;

// ---- the text ----

TEST(IniDocument, ReadsLikeTheProfileFunctionsAndKeepsEveryOtherLine) {
    IniDocument doc = IniDocument::Parse(Utf8ToCp1251(
        "; настройки\r\n  [ РЕЗЕРВУАР ]  \r\n0=x]\r\n 1 =  3 "
        "\t\r\n2=\"5\"\r\n3='7'\r\n4=\"\r\n5=\"\"\r\n"
        "6=\"8'\r\n7=9\0\r\nбез знака равенства\r\n\r\n[slave]\r\nАДРЕС = 81\r\n[Ёлка]\r\n"s));
    ASSERT_EQ(doc.Encoding(), IniEncoding::Cp1251);
    // clang-format off
    const std::pair<std::string, Text> reads[] = {
        {"0", "x]"}, {"1", "3"}, {"2", "5"}, {"3", "7"}, {"4", "\""}, {"5", ""}, {"6", "\"8'"}, {"7", "9"},
        {"8", {}}, {"без знака равенства", {}}, {" адрес", {}}};
    // clang-format on
    for (const auto& [key, value] : reads) EXPECT_EQ(doc.Get(" резервуар", key), value) << key;
    EXPECT_EQ(doc.Get("SLAVE", " адрес "), Text("81"));
    EXPECT_EQ(doc.Get("ёлка", "1"), Text());

    doc.Set("Резервуар", " 8 ", "x");  // after the section's last line that is not blank
    doc.Set("slave", "Адрес", " 082");
    doc.Set("Новый", "k", "v");
    EXPECT_TRUE(doc.Remove("резервуар", "3"));
    EXPECT_FALSE(doc.Remove("резервуар", "3"));
    EXPECT_FALSE(doc.Remove("Нет", "3"));
    EXPECT_EQ(
        doc.Serialize(),
        Utf8ToCp1251("; настройки\r\n  [ РЕЗЕРВУАР ]  \r\n0=x]\r\n 1 =  3 \t\r\n2=\"5\"\r\n4=\"\r\n"
                     "5=\"\"\r\n6=\"8'\r\n7=9\0\r\nбез знака равенства\r\n8=x\r\n\r\n"
                     "[slave]\r\nАдрес= 082\r\n[Ёлка]\r\n[Новый]\r\nk=v\r\n"s));
}

TEST(IniDocument, KeepsItsEncodingAndLineEnds) {
    // clang-format off
    const std::pair<std::string, IniEncoding> files[] = {
        {"\xEF\xBB\xBF[A]\r\nb=1\r\n", IniEncoding::Utf8}, {"\n[Флаг]\nb=1\n", IniEncoding::Utf8},
        {"[A]\nb=\xEF\xE0\n", IniEncoding::Cp1251},  // "па" in Windows-1251
        {"\r\n[A]\r\n", IniEncoding::Cp1251}, {"[A]", IniEncoding::Cp1251}};
    // clang-format on
    for (const auto& [bytes, encoding] : files) {
        const IniDocument doc = IniDocument::Parse(bytes);
        EXPECT_EQ(doc.Encoding(), encoding) << bytes;
        EXPECT_EQ(doc.Serialize(), bytes + (bytes == "[A]" ? "\r\n" : "")) << bytes;
    }
    // A file in UTF-8 but for one line in Windows-1251 reads as Windows-1251 as a whole; deciding
    // line by line would misread Windows-1251 lines that happen to be valid UTF-8.
    IniDocument mixed =
        IniDocument::Parse("[M]\nCom-\xD0\xBF\xD0\xBE\xD1\x80\xD1\x82=1\n[X]\nk\xF4=1\n");
    EXPECT_EQ(mixed.Get("M", "Com-порт"), Text());
    ASSERT_TRUE(mixed.Remove("X", "kф"));
    EXPECT_EQ(IniDocument::Parse(mixed.Serialize()).Get("M", "Com-порт"), Text("1"));
}

// A password that would not read back exactly as typed could never be typed back: such values
// are refused before they are written.
TEST(IniDocument, WhatReadsBackUnchanged) {
    // clang-format off
    const struct { const char* value; bool inWindows1251, inUtf8; } rows[] = {
        {"731904", true, true}, {"", true, true}, {"пароль", true, true}, {"№€«»", true, true},
        {"a b", true, true}, {"a=b", true, true}, {"\"ab", true, true}, {"\"ab'", true, true},
        {"日本", false, true}, {"ß", false, true}, {" 1234", false, false},
        {"1234 ", false, false}, {"\t1234", false, false}, {"\"1234\"", false, false},
        {"'1234'", false, false}, {"12\n34", false, false}};
    // clang-format on
    const IniDocument windows = IniDocument::Parse(Utf8ToCp1251("[Пароль]\r\nдоступа=1\r\n"));
    const IniDocument utf8 = IniDocument::Parse("[Пароль]\r\nдоступа=ё\r\n");
    for (const auto& r : rows) {
        EXPECT_EQ(ReadsBackUnchanged(windows, "Пароль", "оператора", r.value), r.inWindows1251)
            << r.value;
        EXPECT_EQ(ReadsBackUnchanged(utf8, "Пароль", "оператора", r.value), r.inUtf8) << r.value;
        // A file that is not there yet is written in Windows-1251.
        EXPECT_EQ(ReadsBackUnchanged({}, "Пароль", "доступа", r.value), r.inWindows1251) << r.value;
    }
    EXPECT_EQ(windows.Get("Пароль", "оператора"), Text());  // only tried on a copy
    // Written in Windows-1251, D0 90 would make a file of plain ASCII read as UTF-8 ("А").
    const IniDocument ascii = IniDocument::Parse("[A]\r\nb=1\r\n");
    EXPECT_FALSE(ReadsBackUnchanged(ascii, "A", "c", "Рђ"));
    EXPECT_TRUE(ReadsBackUnchanged(ascii, "A", "c", "Ђ"));
}

TEST(IniDocument, WholeNumbers) {
    // clang-format off
    const std::pair<const char*, Text> rows[] = {
        {" 42 ", "42"}, {"-7", "-7"}, {"080", "80"}, {"+0", "0"}, {"+12", "12"}, {"", {}},
        {"-", {}}, {"+", {}}, {"1a", {}}, {"0x10", {}}, {"3.5", {}}, {"+-1", {}}, {"--1", {}},
        {"99999999999", {}}};
    // clang-format on
    for (const auto& [text, value] : rows) {
        int v = -99;
        EXPECT_EQ(ParseWholeNumber(text, v) ? Text(std::to_string(v)) : Text(), value) << text;
    }
}

TEST(TextCodec, Windows1251AndUtf8) {
    std::string upper;
    for (int b = 0x80; b <= 0xFF; ++b) upper.push_back(static_cast<char>(b));
    EXPECT_EQ(Cp1251ToUtf8(upper),
              "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\xC2\x98™љ›њќћџ\xC2\xA0ЎўЈ¤Ґ¦§Ё©Є«¬\xC2\xAD®Ї°±Ііґµ¶·ё№"
              "є»јЅѕїАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя");
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(upper)), upper);
    // Bytes that are not UTF-8 pass, an overlong zero and a surrogate's too.
    EXPECT_EQ(Utf8ToCp1251("a漢\x80\xFF\xC0\x80\xED\xA0\x80"), "a?\x80\xFF\xC0\x80\xED\xA0\x80");
    // Upper-case Latin and Cyrillic letters fold, with Ё, Ѐ..Џ and Ґ; nothing else does.
    EXPECT_EQ(FoldCase("@AZ[ ЀЁЏАЯҐ ѐёя Ͽ \xFF"), "@az[ ѐёџаяґ ѐёя Ͽ \xFF");
    // Sequences of each length, up to the largest code point, survive folding unchanged.
    const std::string lengths =
        "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(FoldCase(lengths), lengths);
    // clang-format off
    const std::pair<std::string, bool> utf8[] = {
        {lengths, true}, {"ascii only", false}, {"\xD0\x96", true}, {"\xD0\x96\xD0", false}, {"\xD0\x96\x80", false},
        {"\xD0\x16", false}, {"\xC0\x80", false}, {"\xE0\x9F\xBF", false},
        {"\xF0\x8F\xBF\xBF", false}, {"\xF4\x90\x80\x80", false}, {"\xED\x9F\xBF", true},
        {"\xED\xA0\x80", false}, {"\xED\xBF\xBF", false}, {"\xEE\x80\x80", true}, {"\xF8\x88", false}};
    // clang-format on
    for (const auto& [bytes, valid] : utf8) EXPECT_EQ(LooksLikeUtf8(bytes), valid) << bytes;
}

// ---- the file ----

TEST(SettingsFile, AFirstWriteCreatesAWindows1251FileThatEveryReadSees) {
    const ScratchDir scratch;
    SettingsFile f(scratch.path), other(scratch.path);
    EXPECT_EQ(f.State(), FileState::kMissing);
    EXPECT_EQ(f.TryReadString("Флаг", "Протокол", "1"), Text("1"));
    EXPECT_TRUE(f.DeleteKey("Флаг", "Протокол"));  // nothing to delete, and nothing made
    EXPECT_TRUE(std::filesystem::is_empty(scratch.dir));
    ASSERT_TRUE(f.WriteString("Резервуар", "1", "0"));
    EXPECT_EQ(scratch.OnDisk(), "[\xD0\xE5\xE7\xE5\xF0\xE2\xF3\xE0\xF0]\r\n1=0\r\n");
    // The temporary file was renamed over the target.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.dir), {}), 1);
    EXPECT_EQ(f.State(), FileState::kReadable);
    ASSERT_TRUE(other.WriteString("Резервуар", "2", "7"));
    EXPECT_EQ(f.ReadString("резервуар", "2", "-"), "7");
    EXPECT_EQ(f.TryReadString("резервуар", "3", "-"), Text("-"));
    // One edit makes every change in one write and keeps the file's mode.
    ASSERT_EQ(chmod(scratch.path.c_str(), 0600), 0);
    ASSERT_TRUE(f.Edit([](IniDocument& doc) {
        doc.Remove("Резервуар", "1");
        doc.Set("SLAVE", "Адрес", "81");
    }));
    ASSERT_TRUE(f.DeleteKey("Резервуар", "2"));
    EXPECT_EQ(Cp1251ToUtf8(scratch.OnDisk()), "[Резервуар]\r\n[SLAVE]\r\nАдрес=81\r\n");
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(scratch.path).permissions(), std::filesystem::perms(0600));
    std::filesystem::remove(scratch.path);
    ASSERT_TRUE(f.WriteString("Флаг", "Протокол", "1"));
    EXPECT_EQ(std::filesystem::status(scratch.path).permissions(), std::filesystem::perms(0644));
#endif
    scratch.Put("");
    EXPECT_EQ(f.ReadString("SLAVE", "Адрес", "80"), "80");
}

TEST(SettingsFile, ARefusedWriteSaysWhyAndLeavesTheFileAsItWas) {
    const ScratchDir scratch;
    SettingsFile f(scratch.path);
    ASSERT_TRUE(f.WriteString("Флаг", "Протокол", "1"));
    const std::string before = scratch.OnDisk();
    // A file without write permission is refused even for root, like the read-only attribute.
    ASSERT_EQ(chmod(scratch.path.c_str(), 0444), 0);
    EXPECT_FALSE(f.WriteString("Флаг", "Протокол", "0"));
    EXPECT_EQ(f.LastError(), scratch.path + ": файл или диск только для чтения");
    EXPECT_FALSE(f.DeleteKey("Флаг", "Протокол"));
    EXPECT_TRUE(f.DeleteKey("Флаг", "Нет такого"));  // nothing to write
    EXPECT_EQ(scratch.OnDisk(), before);
    SettingsFile nowhere((scratch.dir / "no-folder" / kSettingsFileName).string());
    EXPECT_EQ(nowhere.State(), FileState::kMissing);
    EXPECT_FALSE(nowhere.WriteString("Флаг", "Протокол", "0"));
    EXPECT_EQ(nowhere.LastError(), nowhere.Path() + ": папка не найдена");
}

// Only "no such file" is missing. A file that is there but cannot be read is neither taken for an
// empty one nor written over, and a delete on it does not report success.
TEST(SettingsFile, AnUnreadableFileIsNotMissingAndNeverWrittenOver) {
    const ScratchDir scratch;
    for (const UnreadableWay& way : UnreadableWays()) {
        MakeUnreadable(scratch.path, way.kind);
        const std::string before = DescribeOnDisk(scratch.path);
        SettingsFile f(scratch.path);
        EXPECT_EQ(f.State(), FileState::kUnreadable) << way.name;
        EXPECT_EQ(f.LastError(), scratch.path + ": " + way.reason);
        EXPECT_EQ(f.TryReadString("Флаг", "Протокол", "1"), Text()) << way.name;
        EXPECT_EQ(f.Document(), std::nullopt) << way.name;
        EXPECT_EQ(f.ReadString("Флаг", "Протокол", "1"), "1") << way.name;
        EXPECT_FALSE(f.WriteString("Резервуар", "1", "0")) << way.name;
        EXPECT_EQ(f.LastError(), scratch.path + ": файл не удалось прочитать (" + way.reason + ")");
        EXPECT_FALSE(f.DeleteKey("Резервуар", "1")) << way.name;
        EXPECT_EQ(DescribeOnDisk(scratch.path), before);
        RemoveUnreadable(scratch.path);
    }
}

// The operator is told why in Russian, whatever words the platform had for it; a code with no
// words of its own is told by its number.
TEST(SettingsFile, ErrnoValuesAndWin32CodesInTheOperatorsWords) {
    const std::string noSpace = "нет места на диске", denied = "доступ запрещён";
    // clang-format off
    const std::pair<int, std::string> errnos[] = {
        {ENOSPC, noSpace}, {EPERM, denied}, {EIO, "ошибка чтения или записи на диске"},
        {EBUSY, "системная ошибка, код " + std::to_string(EBUSY)}};
    const std::pair<uint32_t, std::string> win32[] = {
        {5, denied}, {19, "файл или диск только для чтения"}, {112, noSpace},
        {1921, "ссылки на файл замкнуты в кольцо"}, {1117, "системная ошибка, код 1117"}};
    // clang-format on
    for (const auto& [code, text] : errnos) EXPECT_EQ(ErrnoReasonText(code), text) << code;
    for (const auto& [code, text] : win32) EXPECT_EQ(Win32ReasonText(code), text) << code;
}

}  // namespace
}  // namespace conv::test
