// Where the window program keeps its settings: beside the executable as it always has, and in
// the user's configuration folder only when it runs from a folder it must not write.
#include "settings/settings_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(SettingsDir, ChoosesTheFolder) {
    // beside: what lies beside the executable ("link": a link to itself, a file that cannot be
    // read); xdg and home: XDG_CONFIG_HOME and HOME, "" when unset; chosen: "exe", or the
    // configuration folder under "home" or "xdg".
    const struct {
        const char* name;
        const char* beside;
        bool usrBin, writable;
        const char *xdg, *home, *chosen;
    } cases[] = {
        {"writable folder: as before", "", false, true, "xdg", "home", "exe"},
        {"a file there in a read-only folder is used", "file", false, false, "", "home", "exe"},
        {"an unreadable file there is reported there", "link", false, false, "", "home", "exe"},
        {"read-only folder without a file", "", false, false, "", "home", "home"},
        {"/usr/bin even when root may write there", "", true, true, "", "home", "home"},
        {"XDG_CONFIG_HOME before HOME", "", true, true, "xdg", "home", "xdg"},
        {"a relative XDG_CONFIG_HOME does not count", "", true, true, "rel", "home", "home"},
        {"configuration folder cannot be made", "", false, false, "", "file", "exe"},
        {"no HOME and no XDG_CONFIG_HOME", "", false, false, "", "", "exe"}};
    ASSERT_FALSE(fs::exists(fs::symlink_status("/usr/bin/" + std::string(kSettingsFileName))));
    const fs::path scratch =
        fs::temp_directory_path() / ("conv-settings-dir-" + std::to_string(getpid()));
    const fs::path exe = scratch / "program", home = scratch / "home", xdg = scratch / "xdg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(scratch);
        fs::create_directories(exe);
        const std::string exeDir = c.usrBin ? "/usr/bin/" : exe.string() + "/";
        if (c.beside == std::string("file")) std::ofstream(exe / kSettingsFileName) << "[VELT]\n";
        if (c.beside == std::string("link"))
            fs::create_symlink(kSettingsFileName, exe / kSettingsFileName);
        if (c.home == std::string("home")) fs::create_directory(home);
        if (c.home == std::string("file")) std::ofstream(home) << "not a folder";
        const std::string xdgText = c.xdg == std::string("xdg") ? xdg.string() : "xdg";
        const std::string chosen =
            ChooseSettingsDir(exeDir, c.writable, *c.xdg ? xdgText.c_str() : nullptr,
                              *c.home ? home.c_str() : nullptr);
        const fs::path made =
            scratch / c.chosen /
            (c.chosen == std::string("xdg") ? "modbusvelt" : ".config/modbusvelt");
        const bool beside = c.chosen == std::string("exe");
        EXPECT_EQ(chosen, beside ? exeDir : made.string() + "/");
        // Made for this user alone: the file holds the passwords; nothing made when not chosen.
        if (!beside) EXPECT_EQ(Mode(made), 0700);
        EXPECT_EQ(Mode(home / ".config"), c.chosen == std::string("home") ? 0700 : -1);
        if (beside) EXPECT_FALSE(fs::exists(xdg));
    }
    fs::remove_all(scratch);
}

}  // namespace
}  // namespace conv
