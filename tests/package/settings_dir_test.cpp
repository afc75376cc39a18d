// Where the window program keeps its settings: beside the executable as it always has, and in
// the user's configuration folder only when it runs from a folder it must not write.
#include "settings/settings_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "settings/settings_file.h"

namespace conv {
namespace {

namespace fs = std::filesystem;

enum class Beside { kNothing, kFile, kLinkToItself };
enum class Exe { kOwnFolder, kUsrBin };
enum class Xdg { kUnset, kAbsolute, kRelative, kEmpty };
enum class Home { kFolder, kFile, kUnset };
enum class Expect { kBesideExecutable, kHomeConfig, kXdgConfig };

struct Case {
    const char* name;
    Beside beside;
    Exe exe;
    bool writable;
    Xdg xdg;
    Home home;
    Expect expect;
};

const Case kCases[] = {
    {"writable folder: beside the executable, as before", Beside::kNothing, Exe::kOwnFolder, true,
     Xdg::kAbsolute, Home::kFolder, Expect::kBesideExecutable},
    {"a file there in a read-only folder is the one used", Beside::kFile, Exe::kOwnFolder, false,
     Xdg::kUnset, Home::kFolder, Expect::kBesideExecutable},
    {"an unreadable file there is reported there, not passed over", Beside::kLinkToItself,
     Exe::kOwnFolder, false, Xdg::kUnset, Home::kFolder, Expect::kBesideExecutable},
    {"read-only folder without a file: ~/.config", Beside::kNothing, Exe::kOwnFolder, false,
     Xdg::kUnset, Home::kFolder, Expect::kHomeConfig},
    {"/usr/bin even when root may write there: ~/.config", Beside::kNothing, Exe::kUsrBin, true,
     Xdg::kUnset, Home::kFolder, Expect::kHomeConfig},
    {"XDG_CONFIG_HOME before HOME", Beside::kNothing, Exe::kUsrBin, true, Xdg::kAbsolute,
     Home::kFolder, Expect::kXdgConfig},
    {"a relative XDG_CONFIG_HOME does not count", Beside::kNothing, Exe::kUsrBin, true,
     Xdg::kRelative, Home::kFolder, Expect::kHomeConfig},
    {"an empty XDG_CONFIG_HOME does not count", Beside::kNothing, Exe::kUsrBin, true, Xdg::kEmpty,
     Home::kFolder, Expect::kHomeConfig},
    {"configuration folder cannot be made: beside the executable", Beside::kNothing,
     Exe::kOwnFolder, false, Xdg::kUnset, Home::kFile, Expect::kBesideExecutable},
    {"no HOME and no XDG_CONFIG_HOME: beside the executable", Beside::kNothing, Exe::kOwnFolder,
     false, Xdg::kUnset, Home::kUnset, Expect::kBesideExecutable},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class SettingsDirTest : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        scratch_ = fs::temp_directory_path() / ("conv-settings-dir-" + std::to_string(getpid()));
        fs::remove_all(scratch_);
        fs::create_directories(scratch_ / "program");
    }
    void TearDown() override { fs::remove_all(scratch_); }

    static int Mode(const fs::path& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    }

    fs::path scratch_;
};

TEST_P(SettingsDirTest, ChoosesTheFolder) {
    const Case& c = GetParam();
    const fs::path exe = scratch_ / "program";
    const std::string exeDir = c.exe == Exe::kUsrBin ? "/usr/bin/" : exe.string() + "/";
    if (c.exe == Exe::kUsrBin) {
        ASSERT_FALSE(fs::exists(fs::symlink_status("/usr/bin/" + std::string(kSettingsFileName))));
    }
    const fs::path beside = exe / kSettingsFileName;
    if (c.beside == Beside::kFile) std::ofstream(beside) << "[VELT]\r\n";
    if (c.beside == Beside::kLinkToItself) fs::create_symlink(kSettingsFileName, beside);

    const fs::path home = scratch_ / "home";
    if (c.home == Home::kFolder) fs::create_directory(home);
    if (c.home == Home::kFile) std::ofstream(home) << "not a folder";
    const std::string homeText = home.string();
    const fs::path xdg = scratch_ / "xdg";
    const std::string xdgText = c.xdg == Xdg::kAbsolute   ? xdg.string()
                                : c.xdg == Xdg::kRelative ? std::string("xdg")
                                                          : std::string();

    const std::string chosen =
        ChooseSettingsDir(exeDir, c.writable, c.xdg == Xdg::kUnset ? nullptr : xdgText.c_str(),
                          c.home == Home::kUnset ? nullptr : homeText.c_str());

    switch (c.expect) {
        case Expect::kBesideExecutable:
            EXPECT_EQ(chosen, exeDir);
            EXPECT_FALSE(fs::exists(home / ".config"));
            EXPECT_FALSE(fs::exists(xdg));
            break;
        case Expect::kHomeConfig:
            EXPECT_EQ(chosen, (home / ".config" / "modbusvelt").string() + "/");
            // Made for this user alone: the file holds the passwords.
            EXPECT_EQ(Mode(home / ".config"), 0700);
            EXPECT_EQ(Mode(home / ".config" / "modbusvelt"), 0700);
            break;
        case Expect::kXdgConfig:
            EXPECT_EQ(chosen, (xdg / "modbusvelt").string() + "/");
            EXPECT_EQ(Mode(xdg / "modbusvelt"), 0700);
            EXPECT_FALSE(fs::exists(home / ".config"));
            break;
    }
    // The folder chosen is one the settings file can be written to. Only ever inside the
    // scratch folder: a fault that chose /usr/bin must not leave a file there.
    if (c.expect != Expect::kBesideExecutable && chosen.rfind(scratch_.string(), 0) == 0) {
        SettingsFile file(chosen + kSettingsFileName);
        EXPECT_TRUE(file.WriteString("VELT", "Com-port", "Com2")) << file.LastError();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsDirTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p) {
                                 if (std::isalnum(static_cast<unsigned char>(*p))) {
                                     name += *p;
                                 } else if (!name.empty() && name.back() != '_') {
                                     name += '_';
                                 }
                             }
                             return name;
                         });

// The program run from the build folder, which is writable and outside /usr, keeps its settings
// beside itself exactly as before.
TEST(SettingsDir, ProgramInAWritableFolderKeepsItsSettingsBesideItself) {
    ASSERT_EQ(access(ExecutableDir().c_str(), W_OK), 0);
    EXPECT_EQ(SettingsDir(), ExecutableDir());
}

}  // namespace
}  // namespace conv
