#include "base/language_win.h"

#include <windows.h>

#include "base/language.h"
#include "base/utf.h"

namespace orvalin {

std::string ui_language_name(unsigned short language) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const int length = LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name,
                                      LOCALE_NAME_MAX_LENGTH, 0);
  if (length <= 1) return {};
  return utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(name),
                          static_cast<size_t>(length - 1)));
}

// The language Windows shows its own menus and dialogs in, which is what a
// screen reader speaks by default; not the format locale (numbers, dates),
// which many users set to a country without changing their language.
std::string session_locale() {
  return ui_language_name(GetUserDefaultUILanguage());
}

}  // namespace orvalin
