// The settings file on Windows: the platform's own profile functions and the program read each
// other's files, and a read-only file is left as it is. That it lives beside the executable
// whatever the working folder is seen on the window program's road.
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

    std::string dir_;
    std::string path_;
};

TEST_F(WindowsSettingsFileTest, ProfileFunctionsAndTheProgramReadEachOthersFiles) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kTanks, "1", "0"));
    ASSERT_TRUE(f.WriteString(ini::kPassword, ini::kOperatorPassword, "пароль"));
    EXPECT_EQ(Bytes(), Utf8ToCp1251("[Резервуар]\r\n1=0\r\n[Пароль]\r\nоператора=пароль\r\n"));
    EXPECT_EQ(ProfileRead(ini::kPassword, ini::kOperatorPassword), "пароль");
    EXPECT_EQ(ProfileRead(ini::kTanks, "2"), "<absent>");

    ASSERT_TRUE(WritePrivateProfileStringA(Utf8ToCp1251(ini::kPassword).c_str(),
                                           Utf8ToCp1251(ini::kAccessCode).c_str(),
                                           Utf8ToCp1251("доступ").c_str(), path_.c_str()));
    EXPECT_EQ(SettingsFile(path_).ReadString(ini::kPassword, ini::kAccessCode, "731904"), "доступ");
    ASSERT_TRUE(f.DeleteKey(ini::kTanks, "1"));  // our change keeps the platform's
    EXPECT_EQ(ProfileRead(ini::kPassword, ini::kAccessCode), "доступ");
}

// A file another program holds open is one that is there but cannot be read; a read-only one is
// read but never rewritten. The operator is told which.
TEST_F(WindowsSettingsFileTest, HeldOrReadOnlyFileIsLeftAsItIs) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString(ini::kFlag, ini::kLog, "1"));
    const std::string before = Bytes();
    const HANDLE held =
        CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(f.State(), FileState::kUnreadable);
    EXPECT_EQ(f.LastError(), path_ + ": доступ запрещён");
    CloseHandle(held);

    ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(f.ReadString(ini::kFlag, ini::kLog, "?"), "1");
    EXPECT_FALSE(f.WriteString(ini::kFlag, ini::kLog, "0"));
    EXPECT_EQ(f.LastError(), path_ + ": файл или диск только для чтения");
    EXPECT_EQ(Bytes(), before);
}

}  // namespace
}  // namespace conv
