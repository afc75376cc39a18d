// An INI file held in memory the way the Windows profile functions treat it: section and key
// names match without regard to letter case, blanks around names and values do not count, and
// every line that is not an entry stays exactly as it was. No I/O here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace conv {

enum class IniEncoding { Cp1251, Utf8 };

class IniDocument {
  public:
    // A new, empty file: Windows-1251 with CRLF line ends.
    IniDocument() = default;

    // Parses the bytes of a file; UTF-8 when the bytes are UTF-8 text, else Windows-1251.
    static IniDocument Parse(std::string_view bytes);
    // The file's bytes in the encoding and line ends it was read with.
    std::string Serialize() const;

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // true when an entry was removed.
    bool Remove(std::string_view section, std::string_view key);

    IniEncoding Encoding() const { return encoding_; }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    struct Entry {
        std::string key;    // trimmed, as written
        std::string value;  // trimmed, outer quotes removed
    };
    static std::optional<std::string> SectionName(const std::string& line);
    static std::optional<Entry> ParseEntry(const std::string& line);
    // Index of the section header line, or npos.
    size_t FindSection(std::string_view section) const;
    // End of the section that starts at header `h`: the next header line or the end.
    size_t SectionEnd(size_t h) const;
    size_t FindKey(size_t header, std::string_view key) const;

    std::vector<std::string> lines_;  // UTF-8, without line ends
    IniEncoding encoding_ = IniEncoding::Cp1251;
    bool bom_ = false;
    std::string eol_ = "\r\n";
};

// Whether `value`, written as `key` of `section` into the file `doc` holds, reads back exactly
// as given. Not every text does: a Windows-1251 file has no room for some characters (they
// become "?"), reading drops blanks around a value and the quotes around it, and a write can
// change how the whole file decodes. Decided by making the write and the read on a copy.
bool ReadsBackUnchanged(IniDocument doc, std::string_view section, std::string_view key,
                        std::string_view value);

// Whole decimal number, as the settings values are read ("12", "-3", " 7 "); false otherwise,
// including values beyond the 32-bit range.
bool ParseWholeNumber(std::string_view text, int& out);

}  // namespace conv
