// modbusvelt-service: the converter without a window, for a box beside the serial lines. Runs in
// the foreground until SIGTERM or SIGINT (Ctrl+C on Windows), logs to standard output and
// standard error, reads its settings file again on SIGHUP. `--help` says it all.
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include "core/operator_boxes.h"
#include "service/check_config.h"
#include "service/console.h"
#include "service/event_loop.h"
#include "service/options.h"
#include "service/service.h"
#include "settings/settings_dir.h"
#include "settings/settings_file.h"

namespace {

using namespace conv::service;

int CheckConfigAndReport(const std::string& path) {
    const ConfigReport r = CheckConfig(path);
    for (const std::string& line : r.settings) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    for (const std::string& line : r.problems) std::fprintf(stderr, "%s\n", line.c_str());
    if (!r.problems.empty()) {
        std::fprintf(stderr, "Проблем в файле настроек: %zu\n", r.problems.size());
        return kExitBadSettings;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    std::string error;
    const std::optional<Options> options =
        ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "modbusvelt-service: %s\nПодробнее: modbusvelt-service --help\n",
                     error.c_str());
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }
    if (options->version) {
        std::printf("modbusvelt-service: %s\n", conv::kMainCaption);
        return kExitOk;
    }
    // Without --config, the file the window program would use: an installed service run by hand
    // must not leave a stray file in /usr/bin.
    const std::string path = options->configPath.empty()
                                 ? conv::SettingsDir() + conv::kSettingsFileName
                                 : options->configPath;
    if (options->checkConfig) return CheckConfigAndReport(path);

#ifndef _WIN32
    // A log reader that went away must not end the converter; its lines are dropped instead.
    signal(SIGPIPE, SIG_IGN);
#endif
    const std::unique_ptr<EventLoop> loop = MakeEventLoop(error);
    if (!loop) {
        std::fprintf(stderr, "modbusvelt-service: %s\n", error.c_str());
        return kExitNoLoop;
    }
    Console console(options->timestamps);
    Service service(*loop, console, path);
    loop->OnStop([&](const char* what) { service.Stop(what); });
    loop->OnReload([&] { service.Reload(); });
    service.Start();
    if (!loop->Run()) {
        console.Err("modbusvelt-service: " + loop->Error());
        return kExitNoLoop;
    }
    return kExitOk;
}
