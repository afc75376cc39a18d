// The settings file against real files in a scratch folder: what operators copy over from their
// Windows workstations must read the same here, and what we write must stay readable there.
#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/ini_document.h"
#include "settings/keys.h"
#include "settings/text_codec.h"
#include "support/unreadable_file.h"

namespace conv {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("conv-settings-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / kSettingsFileName).string();
    }
    void TearDown() override {
        chmod(path_.c_str(), 0644);
        fs::remove_all(dir_);
    }
    std::string Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }

    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFileTest, FirstWriteCreatesWindows1251FileWithCrLf) {
    SettingsFile f(path_);
    EXPECT_EQ(f.State(), FileState::kMissing);
    ASSERT_TRUE(f.WriteString(ini::kTanks, "1", "0"));
    // "[Резервуар]" in Windows-1251, CRLF, "1=0", CRLF.
    EXPECT_EQ(Bytes(), "[\xD0\xE5\xE7\xE5\xF0\xE2\xF3\xE0\xF0]\r\n1=0\r\n");
    EXPECT_EQ(f.ReadString(ini::kTanks, "1", "-"), "0");
    // Nothing else is left in the folder: the temporary file was renamed over the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, HandMadeWindows1251FileReadsCaseBlindAndKeepsItsOtherLines) {
    const std::string original = Utf8ToCp1251(
        "; настройки конвертора\r\n"
        "  [ РЕЗЕРВУАР ]  \r\n"
        " 1 =  3 \r\n"
        "2=\"5\"\r\n"
        "\r\n"
        "[slave]\r\n"
        "АДРЕС = 81\r\n"
        "комментарий без знака равенства\r\n"
        "[Пароль]\r\n"
        "ОПЕРАТОРА=qwerty\r\n");
    Put(original);
    SettingsFile f(path_);
    EXPECT_EQ(f.ReadString("Резервуар", "1", "-"), "3");
    EXPECT_EQ(f.ReadString("резервуар", "2", "-"), "5");
    EXPECT_EQ(f.ReadString("Резервуар", "3", "-"), "-");
    EXPECT_EQ(f.ReadString("SLAVE", "Адрес", "80"), "81");
    EXPECT_EQ(f.ReadString("Пароль", "оператора", "731904"), "qwerty");
    EXPECT_EQ(f.ReadString("Нет такой", "ключ", "по умолчанию"), "по умолчанию");

    ASSERT_TRUE(f.WriteString("Резервуар", "3", "7"));
    ASSERT_TRUE(f.WriteString("SLAVE", "адрес", "082"));
    const std::string after = Cp1251ToUtf8(Bytes());
    EXPECT_EQ(after,
              "; настройки конвертора\r\n"
              "  [ РЕЗЕРВУАР ]  \r\n"
              " 1 =  3 \r\n"
              "2=\"5\"\r\n"
              "3=7\r\n"
              "\r\n"
              "[slave]\r\n"
              "адрес=082\r\n"
              "комментарий без знака равенства\r\n"
              "[Пароль]\r\n"
              "ОПЕРАТОРА=qwerty\r\n");
    EXPECT_FALSE(LooksLikeUtf8(Bytes()));  // still Windows-1251 on disk
}

TEST_F(SettingsFileTest, Utf8FileStaysUtf8) {
    Put("[Резервуар]\n1=4\n[Флаг]\nПротокол=0\n");
    SettingsFile f(path_);
    EXPECT_EQ(f.ReadString("РЕЗЕРВУАР", "1", "-"), "4");
    EXPECT_EQ(f.ReadString("флаг", "протокол", "1"), "0");
    ASSERT_TRUE(f.WriteString("Флаг", "Протокол", "1"));
    ASSERT_TRUE(f.DeleteKey("Резервуар", "1"));
    EXPECT_EQ(Bytes(), "[Резервуар]\n[Флаг]\nПротокол=1\n");
}

TEST_F(SettingsFileTest, DeleteRemovesOnlyThatEntry) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kTanks, "1", "0"));
    ASSERT_TRUE(f.WriteString(ini::kTanks, "2", "1"));
    ASSERT_TRUE(f.WriteString(ini::kSlave, ini::kSlaveAddress, "080"));
    ASSERT_TRUE(f.DeleteKey(ini::kTanks, "1"));
    ASSERT_TRUE(f.DeleteKey(ini::kTanks, "64"));  // absent: nothing to do, no error
    EXPECT_EQ(f.ReadString(ini::kTanks, "1", "-"), "-");
    EXPECT_EQ(f.ReadString(ini::kTanks, "2", "-"), "1");
    EXPECT_EQ(f.ReadString(ini::kSlave, ini::kSlaveAddress, "80"), "080");
}

TEST_F(SettingsFileTest, EveryReadSeesTheFileAsItIsNow) {
    SettingsFile mainWindow(path_);
    SettingsFile dialog(path_);
    ASSERT_TRUE(dialog.WriteString(ini::kPassword, ini::kOperatorPassword, "123"));
    EXPECT_EQ(mainWindow.ReadString(ini::kPassword, ini::kOperatorPassword, "731904"), "123");
    Put("");
    EXPECT_EQ(mainWindow.ReadString(ini::kPassword, ini::kOperatorPassword, "731904"), "731904");
}

TEST_F(SettingsFileTest, RefusedWriteReportsAndLeavesTheFileAlone) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kFlag, ini::kLog, "1"));
    const std::string before = Bytes();
    // A file without write permission is refused even for root, like the read-only attribute.
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_FALSE(f.WriteString(ini::kFlag, ini::kLog, "0"));
    EXPECT_EQ(f.LastError(), path_ + ": файл или диск только для чтения");
    EXPECT_FALSE(f.DeleteKey(ini::kFlag, ini::kLog));
    EXPECT_EQ(Bytes(), before);

    // A folder that cannot hold the temporary file refuses as well.
    const std::string nowherePath = (dir_ / "missing-folder" / kSettingsFileName).string();
    SettingsFile nowhere(nowherePath);
    EXPECT_FALSE(nowhere.WriteString(ini::kFlag, ini::kLog, "0"));
    EXPECT_EQ(nowhere.LastError(), nowherePath + ": папка не найдена");
}

// Only "no such file" is missing. A file that is there but cannot be read is neither taken for an
// empty one nor written over, and a delete on it does not report success.
TEST_F(SettingsFileTest, UnreadableFileIsNotMissingAndNeverWrittenOver) {
    for (const test::UnreadableWay& way : test::UnreadableWays()) {
        SCOPED_TRACE(way.name);
        test::MakeUnreadable(path_, way.kind);
        const std::string before = test::DescribeOnDisk(path_);
        SettingsFile f(path_);
        EXPECT_EQ(f.State(), FileState::kUnreadable);
        EXPECT_EQ(f.LastError(), path_ + ": " + way.reason);
        EXPECT_EQ(f.TryReadString(ini::kFlag, ini::kLog, "1"), std::nullopt);
        EXPECT_FALSE(f.WriteString(ini::kTanks, "1", "0"));
        EXPECT_EQ(f.LastError(), path_ + ": файл не удалось прочитать (" + way.reason + ")");
        EXPECT_FALSE(f.DeleteKey(ini::kTanks, "1"));
        EXPECT_EQ(test::DescribeOnDisk(path_), before);
        test::RemoveUnreadable(path_);
    }

    SettingsFile f(path_);
    EXPECT_EQ(f.State(), FileState::kMissing);
    EXPECT_EQ(f.TryReadString(ini::kFlag, ini::kLog, "1"), "1");
    EXPECT_TRUE(f.DeleteKey(ini::kFlag, ini::kLog));
    Put("[Флаг]\r\nПротокол=0\r\n");
    EXPECT_EQ(f.State(), FileState::kReadable);
    EXPECT_EQ(f.TryReadString(ini::kFlag, ini::kLog, "1"), "0");
    // A missing folder means no such file as well.
    EXPECT_EQ(SettingsFile((dir_ / "missing-folder" / kSettingsFileName).string()).State(),
              FileState::kMissing);
}

// The operator is told why in Russian, whatever words the platform had for it.
TEST(RefusalReasons, ErrnoValuesAndWin32CodesInTheOperatorsWords) {
    const std::string readOnly = "файл или диск только для чтения";
    const std::string noSpace = "нет места на диске";
    const std::string denied = "доступ запрещён";
    const std::string noFolder = "папка не найдена";
    const std::string folderInPlace = "вместо файла папка";
    const std::string linkLoop = "ссылки на файл замкнуты в кольцо";
    const std::string diskFault = "ошибка чтения или записи на диске";
    const std::pair<int, std::string> errnoCases[] = {
        {EROFS, readOnly},
        {ENOSPC, noSpace},
        {EACCES, denied},
        {EPERM, denied},
        {ENOENT, noFolder},
        {ENOTDIR, noFolder},
        {EISDIR, folderInPlace},
        {EIO, diskFault},
#ifdef EDQUOT
        {EDQUOT, noSpace},
#endif
#ifdef ELOOP
        {ELOOP, linkLoop},
#endif
        {EBUSY, "системная ошибка, код " + std::to_string(EBUSY)},
    };
    for (const auto& [code, text] : errnoCases) EXPECT_EQ(ErrnoReasonText(code), text) << code;

    // Win32 codes by number, as GetLastError() gives them.
    const std::pair<uint32_t, std::string> win32Cases[] = {
        {19, readOnly},
        {112, noSpace},
        {39, noSpace},
        {5, denied},
        {32, denied},
        {33, denied},
        {2, noFolder},
        {3, noFolder},
        {15, noFolder},
        {53, noFolder},
        {1921, linkLoop},
        {23, diskFault},
        {1117, "системная ошибка, код 1117"},  // ERROR_IO_DEVICE
    };
    for (const auto& [code, text] : win32Cases) EXPECT_EQ(Win32ReasonText(code), text) << code;
}

TEST(WholeNumbers, DecimalOnlyAndWithinRange) {
    int v = 0;
    EXPECT_TRUE(ParseWholeNumber(" 42 ", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseWholeNumber("-7", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(ParseWholeNumber("080", v));
    EXPECT_EQ(v, 80);
    for (const char* bad : {"", "-", "1a", "0x10", "3.5", "99999999999", "+-1", "--1"}) {
        EXPECT_FALSE(ParseWholeNumber(bad, v)) << bad;
    }
}

TEST(TextCodec, RoundTripsEveryWindows1251Byte) {
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(Utf8ToCp1251("漢"), "?");
    EXPECT_EQ(FoldCase("РЕЗЕРВУАР Ёж SLAVE"), "резервуар ёж slave");
}

}  // namespace
}  // namespace conv
