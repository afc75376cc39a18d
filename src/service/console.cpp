#include "service/console.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace conv::service {
namespace {

#ifdef _WIN32
bool Write(FILE* stream, const std::string& bytes, int /*waitMs*/) {
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    std::fflush(stream);
    return ok;
}
#else
// The whole line or, when nothing of it fits and `waitMs` is 0, none of it. Once part of a line
// is out, the rest is waited for (a second at most), so that lines never run into each other.
bool Write(FILE* stream, const std::string& bytes, int waitMs) {
    const int fd = fileno(stream);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        const int wait = done > 0 ? 1000 : waitMs;
        pollfd p{fd, POLLOUT, 0};
        if (wait == 0 || poll(&p, 1, wait) <= 0) return false;
    }
    return true;
}

// A pipe or socket that nobody drains would otherwise stop the converter at its next line.
// A terminal or a file is left as it is: it is shared with the shell, and it does not fill.
void NeverWaitOn(FILE* stream) {
    struct stat st {};
    const int fd = fileno(stream);
    if (fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
}
#endif

// One line, whatever the text holds: a box text with line breaks stays one line of the journal.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

Console::Console(bool timestamps) : timestamps_(timestamps) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#else
    NeverWaitOn(stdout);
#endif
}

std::string Console::Stamped(const std::string& line) const {
    if (!timestamps_) return line + "\n";
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char stamp[40];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03d ", static_cast<int>(ms));
    return stamp + line + "\n";
}

void Console::Out(const std::string& line) {
    if (!Write(stdout, Stamped(line), 0)) {
        ++dropped_;
        return;
    }
    if (dropped_ > 0) {
        Err("Пропущено строк журнала: " + std::to_string(dropped_) +
            " (стандартный вывод не успевал их принять)");
        dropped_ = 0;
    }
}

void Console::Err(const std::string& line) {
    Write(stderr, Stamped(OneLine(line)), 1000);
}

void ConsoleBoxes::Show(const std::string& text, const std::string& /*caption*/) {
    console_.Err(text);
}

bool ConsoleBoxes::AskOkCancel(const std::string& text, const std::string& /*caption*/) {
    console_.Err(text);
    return false;
}

}  // namespace conv::service
