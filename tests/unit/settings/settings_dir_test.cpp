// Where the window program keeps its settings: beside the executable as it always has, and in
// the user's configuration folder only when it runs from a folder it must not write, as the
// package's /usr/bin. The choice is a POSIX one: on Windows the settings stay beside the exe.
#include "settings/settings_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/settings_file.h"

#ifndef _WIN32
#include <unistd.h>

namespace conv {
namespace {

namespace fs = std::filesystem;

TEST(SettingsDir, ChoosesTheFolder) {
    // beside: what lies beside the executable ("link": a link to itself, which cannot be read);
    // xdg: XDG_CONFIG_HOME, "abs" for a folder of the scratch folder; home: HOME, "file" for a
    // file where the folder would be made; "" unset. chosen: "" for the executable's folder,
    // else the folder made under the scratch folder.
    const char* const mine = "home/.config/modbusvelt";
    const struct {
        const char *name, *beside;
        bool usrBin, writable;
        const char *xdg, *home, *chosen;
    } cases[] = {
        {"writable folder: as before", "", false, true, "abs", "home", ""},
        {"a file there in a read-only folder is used", "file", false, false, "", "home", ""},
        {"an unreadable file there is reported there", "link", false, false, "", "home", ""},
        {"read-only folder without a file", "", false, false, "", "home", mine},
        {"/usr/bin even when root may write there", "", true, true, "", "home", mine},
        {"XDG_CONFIG_HOME before HOME", "", true, true, "abs", "home", "abs/modbusvelt"},
        {"configuration folder cannot be made", "", false, false, "", "file", ""}};
    const fs::path scratch =
        fs::temp_directory_path() / ("conv-settings-dir-" + std::to_string(getpid()));
    const fs::path exe = scratch / "program", home = scratch / "home";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(scratch);
        fs::create_directories(exe);
        if (c.beside == std::string("file")) std::ofstream(exe / kSettingsFileName) << "[VELT]\n";
        if (c.beside == std::string("link"))
            fs::create_symlink(kSettingsFileName, exe / kSettingsFileName);
        if (c.home == std::string("home")) fs::create_directory(home);
        if (c.home == std::string("file")) std::ofstream(home) << "not a folder";
        const std::string xdg = c.xdg == std::string("abs") ? (scratch / "abs").string() : c.xdg;
        const std::string exeDir = c.usrBin ? "/usr/bin/" : exe.string() + "/";
        const std::string made = (scratch / c.chosen).string();
        EXPECT_EQ(ChooseSettingsDir(exeDir, c.writable, *c.xdg ? xdg.c_str() : nullptr,
                                    *c.home ? home.c_str() : nullptr),
                  *c.chosen ? made + "/" : exeDir);
        // Made for this user alone, since the file holds the passwords; nothing made when unused.
        EXPECT_EQ(fs::exists(home / ".config") || fs::exists(scratch / "abs"), *c.chosen != '\0');
        EXPECT_TRUE(!*c.chosen || fs::status(made).permissions() == fs::perms::owner_all);
    }
    fs::remove_all(scratch);
    // Run from the build folder, writable and outside /usr, a program keeps them beside itself.
    ASSERT_EQ(access(ExecutableDir().c_str(), W_OK), 0);
    EXPECT_EQ(SettingsDir(), ExecutableDir());
}

}  // namespace
}  // namespace conv
#endif
