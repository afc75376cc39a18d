#include "app/settings_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/ini_document.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace conv {
namespace {

// nullopt-free read: false when the file cannot be read (absent or unreadable).
bool ReadAll(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

bool SettingsFile::Exists() const {
    std::ifstream in(path_, std::ios::binary);
    return static_cast<bool>(in);
}

std::string SettingsFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
    std::string bytes;
    if (!ReadAll(path_, bytes)) return def;
    return IniDocument::Parse(bytes).Get(section, key).value_or(def);
}

bool SettingsFile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    std::string bytes;
    IniDocument doc = ReadAll(path_, bytes) ? IniDocument::Parse(bytes) : IniDocument();
    doc.Set(section, key, value);
    return Replace(doc.Serialize());
}

bool SettingsFile::DeleteKey(const std::string& section, const std::string& key) {
    std::string bytes;
    if (!ReadAll(path_, bytes)) return true;  // nothing to delete
    IniDocument doc = IniDocument::Parse(bytes);
    if (!doc.Remove(section, key)) return true;
    return Replace(doc.Serialize());
}

#ifdef _WIN32

bool SettingsFile::Replace(const std::string& bytes) {
    const DWORD attrs = GetFileAttributesA(path_.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
        lastError_ = "the settings file is read-only";
        return false;
    }
    const std::string tmp = path_ + ".tmp";
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        lastError_ = "cannot create " + tmp;
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(h);
    CloseHandle(h);
    if (!ok || !MoveFileExA(tmp.c_str(), path_.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(tmp.c_str());
        lastError_ = "cannot write " + path_;
        return false;
    }
    lastError_.clear();
    return true;
}

std::string ExecutableDir() {
    char buf[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n);
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#else

bool SettingsFile::Replace(const std::string& bytes) {
    mode_t mode = 0644;
    struct stat st;
    if (stat(path_.c_str(), &st) == 0) {
        // A file without write permission is locked by its owner, as the read-only attribute is
        // on Windows; we honour that even when running as root, who could replace it anyway.
        if ((st.st_mode & 0222) == 0 || access(path_.c_str(), W_OK) != 0) {
            lastError_ = path_ + ": read-only";
            return false;
        }
        mode = st.st_mode & 07777;
    }
    std::string tmp = path_ + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        lastError_ = path_ + ": " + std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    const int savedErrno = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path_.c_str()) != 0) {
        lastError_ = path_ + ": " + std::strerror(ok ? errno : savedErrno);
        unlink(tmp.c_str());
        return false;
    }
    lastError_.clear();
    return true;
}

std::string ExecutableDir() {
    char buf[PATH_MAX];
    char* real = realpath("/proc/self/exe", buf);
    if (!real) return "./";
    std::string path(real);
    return path.substr(0, path.find_last_of('/') + 1);
}

#endif

}  // namespace conv
