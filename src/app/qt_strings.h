// The program's texts are UTF-8 std::strings; Qt's are QStrings. One conversion each way.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace conv {

inline QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string S(const QString& text) {
    return text.toStdString();
}

}  // namespace conv
