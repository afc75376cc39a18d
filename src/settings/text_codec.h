// Text conversions for the settings file: the files that operators bring along are Windows-1251,
// files edited on Linux are UTF-8; inside the program every text is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace conv {

std::string Cp1251ToUtf8(std::string_view bytes);
// Characters that Windows-1251 cannot hold become '?', as the Windows ANSI functions do.
std::string Utf8ToCp1251(std::string_view text);
// Valid UTF-8 with at least one multi-byte sequence: only then do we take a file for UTF-8.
bool LooksLikeUtf8(std::string_view bytes);
// Lower case for the Latin and Cyrillic letters, so that names match like the profile functions.
std::string FoldCase(std::string_view utf8);

}  // namespace conv
