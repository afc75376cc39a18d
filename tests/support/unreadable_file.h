// A settings file that is there but cannot be read, made in the ways that hold for every user:
// the tests run as root in CI, who reads a file without read permission all the same, so a
// folder in the file's place and a link that points at itself come first, and a file without
// permission is added only when the tests do not run as root.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace conv::test {

enum class Unreadable { kFolder, kLinkLoop, kNoPermission };

struct UnreadableWay {
    Unreadable kind;
    const char* name;    // for test output
    const char* reason;  // what the operator is told
};

inline std::vector<UnreadableWay> UnreadableWays() {
#ifdef _WIN32
    // Opening a folder as a file is refused as access denied; links need rights tests lack.
    return {{Unreadable::kFolder, "folder", "доступ запрещён"}};
#else
    std::vector<UnreadableWay> ways{
        {Unreadable::kFolder, "folder", "вместо файла папка"},
        {Unreadable::kLinkLoop, "link to itself", "ссылки на файл замкнуты в кольцо"}};
    if (geteuid() != 0) {
        ways.push_back({Unreadable::kNoPermission, "no read permission", "доступ запрещён"});
    }
    return ways;
#endif
}

// Puts the unreadable thing at `path`, where nothing is yet.
inline void MakeUnreadable(const std::string& path, Unreadable kind) {
    namespace fs = std::filesystem;
    if (kind == Unreadable::kFolder) fs::create_directory(path);
    if (kind == Unreadable::kLinkLoop) fs::create_symlink(fs::path(path).filename(), path);
    if (kind == Unreadable::kNoPermission) {
        std::ofstream(path, std::ios::binary) << "[Пароль]\r\nоператора=4321\r\n";
        chmod(path.c_str(), 0);
    }
}

// Takes it away again, so that the path is free.
inline void RemoveUnreadable(const std::string& path) {
    chmod(path.c_str(), 0600);
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// What is at `path`, to show that nothing was written over it.
inline std::string DescribeOnDisk(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (fs::is_symlink(st)) return "link to " + fs::read_symlink(path, ec).string();
    if (fs::is_directory(st)) return fs::is_empty(path, ec) ? "empty folder" : "folder";
    if (!fs::exists(st)) return "nothing";
    const auto perms = static_cast<unsigned>(st.permissions());
    chmod(path.c_str(), 0600);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    chmod(path.c_str(), static_cast<mode_t>(perms));
    return "file with mode " + std::to_string(perms) + ": " + bytes;
}

}  // namespace conv::test
