// The settings file "Nastroika.ini" beside the executable. Every operation goes to the file as it
// is on disk at that moment, so a value written by one window is seen by the next read of any
// other. A write replaces the file atomically: a crash or a full disk never leaves half a file.
#pragma once

#include <cstdint>
#include <string>

namespace conv {

inline constexpr const char* kSettingsFileName = "Nastroika.ini";

class SettingsFile {
  public:
    // Creating the object neither reads nor creates the file.
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    bool Exists() const;

    // The stored text, or `def` when the file, the section or the key is absent.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // false when the platform refused the write (read-only file or folder, full disk); the file
    // is then as it was. LastError() says why.
    [[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                                   const std::string& value);
    [[nodiscard]] bool DeleteKey(const std::string& section, const std::string& key);

    // The file's path, a colon and the reason in Russian, for the operator's boxes.
    const std::string& LastError() const { return lastError_; }

  private:
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

}  // namespace conv
