// UTF-16 for Windows calls. Included only by *_win.cpp files.
#pragma once

#include <string>
#include <string_view>

#include "base/utf.h"

namespace orvalin {

inline std::wstring to_wide(std::string_view text) {
  const std::u16string u = utf8_to_utf16(text);
  return std::wstring(u.begin(), u.end());
}

inline std::string from_wide(std::wstring_view text) {
  return utf16_to_utf8(std::u16string_view(
      reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace orvalin
