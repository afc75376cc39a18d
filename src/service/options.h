// The service's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace conv::service {

// Exit codes, as --help and the README list them.
enum ExitCode : int {
    kExitOk = 0,           // stopped by SIGTERM or SIGINT; a settings check found nothing wrong
    kExitBadSettings = 1,  // --check-config found problems
    kExitUsage = 2,        // the command line is wrong
    kExitNoLoop = 3,       // the system refused the event loop (timer, signals)
};

struct Options {
    std::string configPath;  // empty: the window program's "Nastroika.ini" (SettingsDir())
    bool checkConfig = false;
    bool timestamps = false;
    bool help = false;
    bool version = false;
};

// The options, or nullopt with the reason in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// What --help prints: usage, options, signals, exit codes and every message the service writes.
std::string HelpText();

}  // namespace conv::service
