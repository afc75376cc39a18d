// Where the window program keeps its settings: beside the executable as it always has, and in
// the user's configuration folder only when it runs from a folder it must not write.
#include "settings/settings_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "settings/settings_file.h"

namespace conv {
namespace {

namespace fs = std::filesystem;

int Mode(const fs::path& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// What lies beside the executable: nothing, a file, or a link to itself (a file that cannot be
// read); XDG_CONFIG_HOME and HOME as set: unset, or what they name.
enum Beside { kNothing, kFile, kLinkToItself };
enum Xdg { kXdgUnset, kAbsolute, kRelative, kEmpty };
enum Home { kHomeFolder, kHomeIsAFile, kHomeUnset };
enum Chosen { kBesideExecutable, kHomeConfig, kXdgConfig };

TEST(SettingsDir, ChoosesTheFolder) {
    // clang-format off
    const struct { const char* name; Beside beside; bool usrBin, writable; Xdg xdg; Home home;
                   Chosen chosen; } cases[] = {
        {"writable folder: as before", kNothing, false, true, kAbsolute, kHomeFolder,
         kBesideExecutable},
        {"a file there in a read-only folder is used", kFile, false, false, kXdgUnset,
         kHomeFolder, kBesideExecutable},
        {"an unreadable file there is reported there, not passed over", kLinkToItself, false,
         false, kXdgUnset, kHomeFolder, kBesideExecutable},
        {"read-only folder without a file", kNothing, false, false, kXdgUnset, kHomeFolder,
         kHomeConfig},
        {"/usr/bin even when root may write there", kNothing, true, true, kXdgUnset, kHomeFolder,
         kHomeConfig},
        {"XDG_CONFIG_HOME before HOME", kNothing, true, true, kAbsolute, kHomeFolder, kXdgConfig},
        {"a relative XDG_CONFIG_HOME does not count", kNothing, true, true, kRelative,
         kHomeFolder, kHomeConfig},
        {"an empty XDG_CONFIG_HOME does not count", kNothing, true, true, kEmpty, kHomeFolder,
         kHomeConfig},
        {"configuration folder cannot be made", kNothing, false, false, kXdgUnset, kHomeIsAFile,
         kBesideExecutable},
        {"no HOME and no XDG_CONFIG_HOME", kNothing, false, false, kXdgUnset, kHomeUnset,
         kBesideExecutable}};
    // clang-format on
    ASSERT_FALSE(fs::exists(fs::symlink_status("/usr/bin/" + std::string(kSettingsFileName))));
    const fs::path scratch =
        fs::temp_directory_path() / ("conv-settings-dir-" + std::to_string(getpid()));
    const fs::path exe = scratch / "program", home = scratch / "home", xdg = scratch / "xdg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(scratch);
        fs::create_directories(exe);
        const std::string exeDir = c.usrBin ? "/usr/bin/" : exe.string() + "/";
        if (c.beside == kFile) std::ofstream(exe / kSettingsFileName) << "[VELT]\r\n";
        if (c.beside == kLinkToItself)
            fs::create_symlink(kSettingsFileName, exe / kSettingsFileName);
        if (c.home == kHomeFolder) fs::create_directory(home);
        if (c.home == kHomeIsAFile) std::ofstream(home) << "not a folder";
        const std::string xdgText = c.xdg == kAbsolute   ? xdg.string()
                                    : c.xdg == kRelative ? "xdg"
                                                         : "";
        const std::string chosen =
            ChooseSettingsDir(exeDir, c.writable, c.xdg == kXdgUnset ? nullptr : xdgText.c_str(),
                              c.home == kHomeUnset ? nullptr : home.c_str());
        const fs::path made =
            c.chosen == kXdgConfig ? xdg / "modbusvelt" : home / ".config" / "modbusvelt";
        EXPECT_EQ(chosen, c.chosen == kBesideExecutable ? exeDir : made.string() + "/");
        // Made for this user alone: the file holds the passwords.
        if (c.chosen != kBesideExecutable) EXPECT_EQ(Mode(made), 0700);
        if (c.chosen == kHomeConfig) EXPECT_EQ(Mode(home / ".config"), 0700);
        if (c.chosen != kHomeConfig) EXPECT_FALSE(fs::exists(home / ".config"));
        if (c.chosen == kBesideExecutable) EXPECT_FALSE(fs::exists(xdg));
        // The folder chosen takes the settings file. Only ever inside the scratch folder: a
        // fault that chose /usr/bin must not leave a file there.
        if (c.chosen != kBesideExecutable && chosen.starts_with(scratch.string())) {
            SettingsFile file(chosen + kSettingsFileName);
            EXPECT_TRUE(file.WriteString("VELT", "Com-port", "Com2")) << file.LastError();
        }
    }
    fs::remove_all(scratch);
}

// The program run from the build folder, which is writable and outside /usr, keeps its settings
// beside itself exactly as before.
TEST(SettingsDir, ProgramInAWritableFolderKeepsItsSettingsBesideItself) {
    ASSERT_EQ(access(ExecutableDir().c_str(), W_OK), 0);
    EXPECT_EQ(SettingsDir(), ExecutableDir());
}

}  // namespace
}  // namespace conv
