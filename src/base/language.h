// The language Orvalin speaks in: the languages it ships (English, the
// language of the code, and one message catalogue per translation, made at
// build time from po/<code>.po), which one is in use, and the look-ups that
// turn an English entry of the sentence table into the words of that
// language.
//
// The language in use is one atomic value: the start-up thread and the
// reload set it, every thread that speaks reads it. Catalogues are constant
// data and live as long as the program.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvalin {

// One message of a catalogue: its key (the English text, or its context,
// '\x04' and the text, as gettext keys them) and its translations, one per
// plural form.
struct CatalogueEntry {
  std::string_view key;
  std::span<const std::string_view> forms;
};

// A translation: its language code ("de", "pt_BR"), which plural form a
// count takes (the PO file's Plural-Forms, compiled), and its entries,
// sorted by key (byte order).
struct Catalogue {
  std::string_view code;
  unsigned long (*plural_form)(unsigned long n);
  std::span<const CatalogueEntry> entries;
};

// Every shipped translation, in code order (generated from po/*.po).
std::span<const Catalogue> catalogues();

// The code of English, the language of the code and of the logs.
inline constexpr std::string_view kEnglish = "en";

// The shipped languages' codes, English first, joined by ", ".
std::string shipped_languages();

// The shipped language a code names: exactly ("pt_BR"), or without its
// territory, encoding or variant ("de_AT.UTF-8@euro" is "de"; a language
// shipped only with a territory, such as "pt", is that one: "pt_PT" speaks
// "pt_BR" rather than English; but traditional Chinese, "zh_TW", is not
// simplified Chinese). "C", "POSIX" and English codes are English; a code
// of no shipped language is nullopt.
std::optional<std::string_view> shipped_language(std::string_view code);

// The language of the user's session: the operating system's UI language
// on Windows, LC_ALL, LC_MESSAGES or LANG (the first one set) elsewhere, as
// a locale name ("de_DE.UTF-8", "de-DE"); empty when none is set.
std::string session_locale();

// What `[general] language` asks for: "auto" follows session_locale(), and
// falls back to English when its language is not shipped; a code names a
// shipped language. An unknown code is nullopt.
std::optional<std::string_view> choose_language(std::string_view setting,
                                                std::string_view session);

// Speaks what `[general] language` says (see choose_language), with the
// session's language for "auto"; English when it names none shipped.
void use_language(std::string_view setting);

// The language in use, and the switch to another shipped one (English for
// a code that is not shipped).
std::string_view current_language();
void set_language(std::string_view code);

// Speaks `catalogue` (null: English); set_language with a catalogue that
// need not be shipped, such as a test's.
void use_catalogue(const Catalogue* catalogue);

// `english` in the language in use; itself when the language is English or
// the catalogue lacks it. `context` tells apart equal English texts that
// are translated differently; empty for most.
std::string_view translate(std::string_view context, std::string_view english);

// The form for `count` of a message with a singular and a plural.
std::string_view translate_plural(std::string_view one, std::string_view many,
                                  uint64_t count);

}  // namespace orvalin
