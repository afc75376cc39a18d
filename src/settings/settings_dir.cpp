#include "settings/settings_dir.h"

#include "settings/settings_file.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace conv {

#ifdef _WIN32

std::string SettingsDir() {
    return ExecutableDir();
}

#else

namespace {

// The folder exists afterwards (made now or already there).
bool MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ChooseSettingsDir(const std::string& executableDir, bool executableDirWritable,
                              const char* xdgConfigHome, const char* home) {
    struct stat st;
    if (lstat((executableDir + kSettingsFileName).c_str(), &st) == 0) return executableDir;
    const bool underUsr = executableDir.rfind("/usr/", 0) == 0;
    if (executableDirWritable && !underUsr) return executableDir;

    std::string base;
    if (xdgConfigHome && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (home && home[0] != '\0') {
        base = std::string(home) + "/.config";
    } else {
        return executableDir;
    }
    const std::string dir = base + "/modbusvelt";
    if (!MakeFolder(base) || !MakeFolder(dir)) return executableDir;
    return dir + "/";
}

std::string SettingsDir() {
    const std::string exeDir = ExecutableDir();
    return ChooseSettingsDir(exeDir, access(exeDir.c_str(), W_OK) == 0,
                             std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

#endif

}  // namespace conv
