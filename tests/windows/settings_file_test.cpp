// The settings file on Windows: it lives beside the executable whatever the working folder, and
// the platform's own profile functions and the program read each other's files.
#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>

#include "settings/keys.h"
#include "settings/text_codec.h"

namespace conv {
namespace {

class WindowsSettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        dir_ = std::string(temp) + "conv-settings-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        path_ = dir_ + "\\" + kSettingsFileName;
    }
    void TearDown() override {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(dir_.c_str());
    }
    std::string Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // What the platform's profile functions read, given names in UTF-8.
    std::string ProfileRead(const char* section, const char* key) const {
        char buf[256] = {};
        GetPrivateProfileStringA(Utf8ToCp1251(section).c_str(), Utf8ToCp1251(key).c_str(),
                                 "<absent>", buf, sizeof buf, path_.c_str());
        return Cp1251ToUtf8(buf);
    }
    bool ProfileWrite(const char* section, const char* key, const char* value) const {
        return WritePrivateProfileStringA(Utf8ToCp1251(section).c_str(), Utf8ToCp1251(key).c_str(),
                                          Utf8ToCp1251(value).c_str(), path_.c_str());
    }

    std::string dir_;
    std::string path_;
};

TEST_F(WindowsSettingsFileTest, FileLivesBesideTheExecutableWhateverTheWorkingFolder) {
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    const std::string exeDir = ExecutableDir();
    SetCurrentDirectoryA(cwd);
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(exeDir.back(), '\\');
    EXPECT_NE(GetFileAttributesA((exeDir + "win_settings_file_test.exe").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << exeDir;
}

TEST_F(WindowsSettingsFileTest, ProfileFunctionsAndTheProgramReadEachOthersFiles) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kTanks, "1", "0"));
    ASSERT_TRUE(f.WriteString(ini::kPassword, ini::kOperatorPassword, "пароль"));
    EXPECT_EQ(Bytes(), Utf8ToCp1251("[Резервуар]\r\n1=0\r\n[Пароль]\r\nоператора=пароль\r\n"));
    EXPECT_EQ(ProfileRead(ini::kTanks, "1"), "0");
    EXPECT_EQ(ProfileRead(ini::kPassword, ini::kOperatorPassword), "пароль");
    EXPECT_EQ(ProfileRead(ini::kTanks, "2"), "<absent>");
    WIN32_FIND_DATAA found;  // and no temporary file is left beside it
    const HANDLE h = FindFirstFileA((dir_ + "\\*.tmp").c_str(), &found);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);

    ASSERT_TRUE(ProfileWrite(ini::kVelt, ini::kPortName, "Com3"));
    ASSERT_TRUE(ProfileWrite(ini::kVelt, ini::kPortExists, "1"));
    ASSERT_TRUE(ProfileWrite(ini::kPassword, ini::kAccessCode, "доступ"));
    SettingsFile again(path_);
    EXPECT_EQ(again.ReadString(ini::kVelt, ini::kPortName, "Com2"), "Com3");
    EXPECT_EQ(again.ReadString(ini::kVelt, ini::kPortExists, "0"), "1");
    EXPECT_EQ(again.ReadString(ini::kPassword, ini::kAccessCode, "731904"), "доступ");
    EXPECT_EQ(again.ReadString(ini::kPassword, ini::kOperatorPassword, "731904"), "пароль");

    // Our change to a platform-written file keeps it readable by the platform.
    ASSERT_TRUE(again.WriteString(ini::kVelt, ini::kPortName, "Com4"));
    ASSERT_TRUE(again.DeleteKey(ini::kVelt, ini::kPortExists));
    EXPECT_EQ(ProfileRead(ini::kVelt, ini::kPortName), "Com4");
    EXPECT_EQ(ProfileRead(ini::kVelt, ini::kPortExists), "<absent>");
    EXPECT_EQ(ProfileRead(ini::kPassword, ini::kAccessCode), "доступ");
}

TEST_F(WindowsSettingsFileTest, ReadOnlyAttributeRefusesWrites) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kFlag, ini::kLog, "1"));
    const std::string before = Bytes();
    ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(f.WriteString(ini::kFlag, ini::kLog, "0"));
    EXPECT_FALSE(f.LastError().empty());
    EXPECT_FALSE(f.DeleteKey(ini::kFlag, ini::kLog));
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(f.ReadString(ini::kFlag, ini::kLog, "?"), "1");
}

}  // namespace
}  // namespace conv
