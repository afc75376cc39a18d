// The settings file "Nastroika.ini" beside the executable. Every operation goes to the file as it
// is on disk at that moment, so a value written by one window is seen by the next read of any
// other. A write replaces the file atomically: a crash or a full disk never leaves half a file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "settings/ini_document.h"

namespace conv {

inline constexpr const char* kSettingsFileName = "Nastroika.ini";

// What a look at the file found. Only "no such file" is missing: a file that is there but cannot
// be read (no permission, a folder in its place, a broken link) must never be taken for an empty
// one, or its settings would be lost by the next write.
enum class FileState { kMissing, kReadable, kUnreadable };

class SettingsFile {
  public:
    // Creating the object neither reads nor creates the file.
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // Reads the file now; for kUnreadable, LastError() says why.
    FileState State();

    // The stored text, or `def` when the file, the section or the key is absent, and also when
    // the file cannot be read. Only for readers for which the default is as good as the file.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // The same, but nullopt when the file is there and cannot be read (LastError() says why), so
    // that the caller does not act on the default as if the file held it.
    std::optional<std::string> TryReadString(const std::string& section, const std::string& key,
                                             const std::string& def);

    // The whole file as it stands (an empty document when there is none), or nullopt when it is
    // there and cannot be read (LastError() says why).
    std::optional<IniDocument> Document();

    // false when the write was refused: the platform refused it (read-only file or folder, full
    // disk), or the file is there but cannot be read, so that its other entries would be lost.
    // The file is then as it was; LastError() names it and says why.
    [[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                                   const std::string& value);
    // Refused like a write; a key that is absent (or a file that is missing) is not an error.
    [[nodiscard]] bool DeleteKey(const std::string& section, const std::string& key);
    // Makes `change` on the file as it stands (an empty document when there is none) and replaces
    // the file with the result in one write: the file then holds all of the change, or, when the
    // write is refused as above, none of it.
    [[nodiscard]] bool Edit(const std::function<void(IniDocument&)>& change);

    // The file's path, a colon and the reason in Russian, for the operator's boxes.
    const std::string& LastError() const { return lastError_; }

  private:
    struct Contents;
    Contents Load() const;
    void Fail(const std::string& reason);
    bool Replace(const std::string& bytes);
    std::string path_;
    std::string lastError_;
};

// Directory of the running executable (its real path), ending in the path separator.
std::string ExecutableDir();

// Why the platform refused, in the operator's words, from an errno value (POSIX, and the C
// runtime on Windows) or from a Win32 error code. Both are compiled on every platform so that
// each can be checked anywhere.
std::string ErrnoReasonText(int errnoValue);
std::string Win32ReasonText(uint32_t errorCode);

// "Не удалось прочитать файл настроек <file>: <reason>. " followed by what this means for the
// operator (one sentence naming what was not done).
std::string ReadFailureText(const SettingsFile& file, const std::string& consequence);

}  // namespace conv
