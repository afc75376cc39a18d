#include "settings/settings_file.h"

#include <cerrno>
#include <string>

#include "settings/ini_document.h"

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

// The reasons the operator is told. A folder in place of the file, a link loop and a failing disk
// are named too: they are what makes a file that is there unreadable.
constexpr const char* kReadOnlyText = "файл или диск только для чтения";
constexpr const char* kNoSpaceText = "нет места на диске";
constexpr const char* kAccessDeniedText = "доступ запрещён";
constexpr const char* kFolderMissingText = "папка не найдена";
constexpr const char* kFolderInPlaceText = "вместо файла папка";
constexpr const char* kLinkLoopText = "ссылки на файл замкнуты в кольцо";
constexpr const char* kIoErrorText = "ошибка чтения или записи на диске";

struct ReasonRow {
    long long code;
    const char* text;
};

// errno values as the C library of the platform defines them; a few exist only on some.
const ReasonRow kErrnoReasons[] = {
    {EROFS, kReadOnlyText},        {ENOSPC, kNoSpaceText},
#ifdef EDQUOT
    {EDQUOT, kNoSpaceText},
#endif
    {EACCES, kAccessDeniedText},   {EPERM, kAccessDeniedText},   {ENOENT, kFolderMissingText},
    {ENOTDIR, kFolderMissingText}, {EISDIR, kFolderInPlaceText},
#ifdef ELOOP
    {ELOOP, kLinkLoopText},
#endif
    {EIO, kIoErrorText},
};

// Win32 error codes by number: they are fixed by the platform, and this table is also compiled
// where <windows.h> is not.
const ReasonRow kWin32Reasons[] = {
    {2, kFolderMissingText},   // ERROR_FILE_NOT_FOUND
    {3, kFolderMissingText},   // ERROR_PATH_NOT_FOUND
    {5, kAccessDeniedText},    // ERROR_ACCESS_DENIED
    {15, kFolderMissingText},  // ERROR_INVALID_DRIVE
    {19, kReadOnlyText},       // ERROR_WRITE_PROTECT
    {23, kIoErrorText},        // ERROR_CRC
    {29, kIoErrorText},        // ERROR_WRITE_FAULT
    {30, kIoErrorText},        // ERROR_READ_FAULT
    {32, kAccessDeniedText},   // ERROR_SHARING_VIOLATION: another program holds the file
    {33, kAccessDeniedText},   // ERROR_LOCK_VIOLATION
    {39, kNoSpaceText},        // ERROR_HANDLE_DISK_FULL
    {53, kFolderMissingText},  // ERROR_BAD_NETPATH
    {112, kNoSpaceText},       // ERROR_DISK_FULL
    {1921, kLinkLoopText},     // ERROR_CANT_RESOLVE_FILENAME
};

template <size_t N>
std::string ReasonText(const ReasonRow (&rows)[N], long long code) {
    for (const ReasonRow& row : rows) {
        if (row.code == code) return row.text;
    }
    return "системная ошибка, код " + std::to_string(code);
}

}  // namespace

std::string ErrnoReasonText(int errnoValue) {
    return ReasonText(kErrnoReasons, errnoValue);
}

std::string Win32ReasonText(uint32_t errorCode) {
    return ReasonText(kWin32Reasons, errorCode);
}

void SettingsFile::Fail(const std::string& reason) {
    lastError_ = path_ + ": " + reason;
}

// One look at the file: its bytes, or that there is no such file, or why it could not be read.
struct SettingsFile::Contents {
    FileState state = FileState::kMissing;
    std::string bytes;
    std::string reason;  // kUnreadable: in the operator's words
};

FileState SettingsFile::State() {
    const Contents c = Load();
    if (c.state == FileState::kUnreadable) Fail(c.reason);
    return c.state;
}

std::string SettingsFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
    const Contents c = Load();
    if (c.state != FileState::kReadable) return def;
    return IniDocument::Parse(c.bytes).Get(section, key).value_or(def);
}

std::optional<std::string> SettingsFile::TryReadString(const std::string& section,
                                                       const std::string& key,
                                                       const std::string& def) {
    const Contents c = Load();
    if (c.state == FileState::kUnreadable) {
        Fail(c.reason);
        return std::nullopt;
    }
    if (c.state == FileState::kMissing) return def;
    return IniDocument::Parse(c.bytes).Get(section, key).value_or(def);
}

std::optional<IniDocument> SettingsFile::Document() {
    const Contents c = Load();
    if (c.state == FileState::kUnreadable) {
        Fail(c.reason);
        return std::nullopt;
    }
    return c.state == FileState::kReadable ? IniDocument::Parse(c.bytes) : IniDocument();
}

bool SettingsFile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    return Edit([&](IniDocument& doc) { doc.Set(section, key, value); });
}

bool SettingsFile::Edit(const std::function<void(IniDocument&)>& change) {
    const Contents c = Load();
    if (c.state == FileState::kUnreadable) {
        // Writing would start from an empty document and replace the file with it.
        Fail("файл не удалось прочитать (" + c.reason + ")");
        return false;
    }
    IniDocument doc = c.state == FileState::kReadable ? IniDocument::Parse(c.bytes) : IniDocument();
    change(doc);
    return Replace(doc.Serialize());
}

bool SettingsFile::DeleteKey(const std::string& section, const std::string& key) {
    const Contents c = Load();
    if (c.state == FileState::kUnreadable) {
        Fail("файл не удалось прочитать (" + c.reason + ")");
        return false;
    }
    if (c.state == FileState::kMissing) return true;  // nothing to delete
    IniDocument doc = IniDocument::Parse(c.bytes);
    if (!doc.Remove(section, key)) return true;
    return Replace(doc.Serialize());
}

std::string ReadFailureText(const SettingsFile& file, const std::string& consequence) {
    return "Не удалось прочитать файл настроек " + file.LastError() + ". " + consequence;
}

#ifdef _WIN32

SettingsFile::Contents SettingsFile::Load() const {
    Contents c;
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // The file or its folder does not exist; anything else is a file we could not read.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            c.state = FileState::kUnreadable;
            c.reason = Win32ReasonText(error);
        }
        return c;
    }
    char buf[4096];
    DWORD n = 0;
    for (;;) {
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            c.state = FileState::kUnreadable;
            c.reason = Win32ReasonText(GetLastError());
            c.bytes.clear();
            break;
        }
        if (n == 0) {
            c.state = FileState::kReadable;
            break;
        }
        c.bytes.append(buf, n);
    }
    CloseHandle(h);
    return c;
}

bool SettingsFile::Replace(const std::string& bytes) {
    const DWORD attrs = GetFileAttributesA(path_.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
        Fail(kReadOnlyText);
        return false;
    }
    const std::string tmp = path_ + ".tmp";
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail(Win32ReasonText(GetLastError()));
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        FlushFileBuffers(h);
    // A short write without an error code is a full disk.
    DWORD error = ok ? (written == bytes.size() ? 0 : ERROR_DISK_FULL) : GetLastError();
    CloseHandle(h);
    if (error == 0 && !MoveFileExA(tmp.c_str(), path_.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileA(tmp.c_str());
        Fail(Win32ReasonText(error));
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

SettingsFile::Contents SettingsFile::Load() const {
    Contents c;
    // Non-blocking, so that a pipe put in the file's place cannot hang the program.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            c.state = FileState::kUnreadable;
            c.reason = ErrnoReasonText(errno);
        }
        return c;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {  // a folder opens, and fails here
            c.state = FileState::kUnreadable;
            c.reason = ErrnoReasonText(errno);
            c.bytes.clear();
            break;
        }
        if (n == 0) {
            c.state = FileState::kReadable;
            break;
        }
        c.bytes.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return c;
}

bool SettingsFile::Replace(const std::string& bytes) {
    mode_t mode = 0644;
    struct stat st;
    if (stat(path_.c_str(), &st) == 0) {
        // A file without write permission is locked by its owner, as the read-only attribute is
        // on Windows; we honour that even when running as root, who could replace it anyway.
        if ((st.st_mode & 0222) == 0 || access(path_.c_str(), W_OK) != 0) {
            Fail(kReadOnlyText);
            return false;
        }
        mode = st.st_mode & 07777;
    }
    std::string tmp = path_ + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        Fail(ErrnoReasonText(errno));
        return false;
    }
    int error = fchmod(fd, mode) == 0 ? 0 : errno;
    size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing without an error is a full disk.
        if (n <= 0) error = n < 0 ? errno : ENOSPC;
        if (n > 0) done += static_cast<size_t>(n);
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(tmp.c_str(), path_.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(tmp.c_str());
        Fail(ErrnoReasonText(error));
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
