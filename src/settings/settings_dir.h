// The folder of the window program's "Nastroika.ini". On the operators' workstations, and for a
// copy of the program in a folder of its own, that is the executable's folder. A program
// installed by a package lives in /usr/bin, which is the system's and not a user's to write (not
// even root's: a file there belongs to no package and outlives it), so without a settings file
// there it keeps its settings in the user's configuration folder instead.
#pragma once

#include <string>

namespace conv {

// Where the window program reads and writes its settings file, ending in the path separator.
// On Windows always the executable's folder.
std::string SettingsDir();

#ifndef _WIN32
// The decision of SettingsDir() on its inputs: the executable's folder (ending in '/'), whether
// this user may write there, and the values of XDG_CONFIG_HOME and HOME (nullptr when unset).
// The executable's folder when it holds "Nastroika.ini" in any state (a file that cannot be read
// is reported there, never passed over for another), or when it is writable and not under /usr.
// Otherwise $XDG_CONFIG_HOME/modbusvelt/ (an absolute XDG_CONFIG_HOME only, as the XDG base
// directory rules say), else $HOME/.config/modbusvelt/, made with mode 0700 since it holds the
// passwords. When neither is set or the folder cannot be made, the executable's folder after all,
// where every refused write is then reported with its reason.
std::string ChooseSettingsDir(const std::string& executableDir, bool executableDirWritable,
                              const char* xdgConfigHome, const char* home);
#endif

}  // namespace conv
