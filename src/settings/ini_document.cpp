#include "settings/ini_document.h"

#include <charconv>

#include "settings/text_codec.h"

namespace conv {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    return FoldCase(a) == FoldCase(b);
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    if (bytes.substr(0, kBom.size()) == kBom) {
        doc.bom_ = true;
        bytes.remove_prefix(kBom.size());
    }
    if (doc.bom_ || LooksLikeUtf8(bytes)) doc.encoding_ = IniEncoding::Utf8;
    const size_t firstNl = bytes.find('\n');
    if (firstNl != std::string_view::npos && (firstNl == 0 || bytes[firstNl - 1] != '\r')) {
        doc.eol_ = "\n";
    }
    const std::string text =
        doc.encoding_ == IniEncoding::Utf8 ? std::string(bytes) : Cp1251ToUtf8(bytes);
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        doc.lines_.push_back(std::move(line));
        start = nl + 1;
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += eol_;
    }
    if (encoding_ == IniEncoding::Cp1251) return Utf8ToCp1251(text);
    return bom_ ? std::string(kBom) + text : text;
}

std::optional<std::string> IniDocument::SectionName(const std::string& line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(Trim(t.substr(1, close - 1)));
}

std::optional<IniDocument::Entry> IniDocument::ParseEntry(const std::string& line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = Trim(t.substr(0, eq));
    std::string_view value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return Entry{std::string(key), std::string(value)};
}

size_t IniDocument::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (name && SameName(*name, Trim(section))) return i;
    }
    return std::string::npos;
}

size_t IniDocument::SectionEnd(size_t h) const {
    size_t i = h + 1;
    while (i < lines_.size() && !SectionName(lines_[i])) ++i;
    return i;
}

size_t IniDocument::FindKey(size_t header, std::string_view key) const {
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        auto e = ParseEntry(lines_[i]);
        if (e && SameName(e->key, Trim(key))) return i;
    }
    return std::string::npos;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    const size_t h = FindSection(section);
    if (h == std::string::npos) return std::nullopt;
    const size_t k = FindKey(h, key);
    if (k == std::string::npos) return std::nullopt;
    return ParseEntry(lines_[k])->value;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string entry = std::string(Trim(key)) + "=" + std::string(value);
    size_t h = FindSection(section);
    if (h == std::string::npos) {
        lines_.push_back("[" + std::string(Trim(section)) + "]");
        lines_.push_back(std::move(entry));
        return;
    }
    const size_t k = FindKey(h, key);
    if (k != std::string::npos) {
        lines_[k] = std::move(entry);
        return;
    }
    // After the section's last non-blank line, so that a blank line before the next section stays.
    size_t at = SectionEnd(h);
    while (at > h + 1 && Trim(lines_[at - 1]).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
    const size_t h = FindSection(section);
    if (h == std::string::npos) return false;
    const size_t k = FindKey(h, key);
    if (k == std::string::npos) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(k));
    return true;
}

bool ReadsBackUnchanged(IniDocument doc, std::string_view section, std::string_view key,
                        std::string_view value) {
    doc.Set(section, key, value);
    return IniDocument::Parse(doc.Serialize()).Get(section, key) == value;
}

bool ParseWholeNumber(std::string_view text, int& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    }
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    out = v;
    return true;
}

}  // namespace conv
