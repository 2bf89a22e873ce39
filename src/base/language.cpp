#include "base/language.h"

#include <algorithm>
#include <atomic>

namespace orvalin {

namespace {

// The catalogue in use; null for English. Catalogues are never freed, so a
// reader may keep the pointer it loaded while a reload switches.
std::atomic<const Catalogue*> g_current{nullptr};

std::string_view language_part(std::string_view code) {
  return code.substr(0, code.find_first_of("_-"));
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ascii(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

const Catalogue* find_catalogue(std::string_view code) {
  for (const Catalogue& catalogue : catalogues()) {
    if (catalogue.code == code) return &catalogue;
  }
  return nullptr;
}

const CatalogueEntry* find_entry(const Catalogue& catalogue,
                                 std::string_view key) {
  const auto entries = catalogue.entries;
  const auto found =
      std::ranges::lower_bound(entries, key, {}, &CatalogueEntry::key);
  if (found == entries.end() || found->key != key) return nullptr;
  return &*found;
}

}  // namespace

std::string shipped_languages() {
  std::string list(kEnglish);
  for (const Catalogue& catalogue : catalogues()) {
    list.append(", ").append(catalogue.code);
  }
  return list;
}

std::optional<std::string_view> shipped_language(std::string_view code) {
  // "de_DE.UTF-8@euro": the encoding and the variant say nothing of the
  // language. Windows writes "de-DE", POSIX "de_DE".
  code = code.substr(0, code.find_first_of(".@"));
  if (code == "C" || code == "POSIX") return kEnglish;
  std::string name(code);
  std::ranges::replace(name, '-', '_');
  std::ranges::transform(name, name.begin(), ascii_lower);
  const std::string_view language = language_part(name);
  if (language.empty()) return std::nullopt;
  if (language == kEnglish) return kEnglish;
  for (const Catalogue& catalogue : catalogues()) {
    if (same_ascii(catalogue.code, name)) return catalogue.code;
  }
  // Chinese of Taiwan, Hong Kong and Macao is written in traditional
  // characters, which the simplified catalogue is not (nor is its braille),
  // so these fall back past Chinese, as Windows' own fallback does.
  if (language == "zh") {
    const std::string parts = name + '_';
    for (std::string_view traditional : {"_hant_", "_tw_", "_hk_", "_mo_"}) {
      if (parts.find(traditional) != std::string::npos) return std::nullopt;
    }
  }
  for (const Catalogue& catalogue : catalogues()) {
    if (same_ascii(language_part(catalogue.code), language)) {
      return catalogue.code;
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> choose_language(std::string_view setting,
                                                std::string_view session) {
  if (setting == "auto") return shipped_language(session).value_or(kEnglish);
  // A code in the settings file names a language as it is shipped; "de_AT"
  // is a typing of "de" and taken for it.
  return shipped_language(setting);
}

void use_language(std::string_view setting) {
  set_language(choose_language(setting, session_locale()).value_or(kEnglish));
}

std::string_view current_language() {
  const Catalogue* current = g_current.load(std::memory_order_acquire);
  return current ? current->code : kEnglish;
}

void set_language(std::string_view code) {
  use_catalogue(find_catalogue(code));
}

void use_catalogue(const Catalogue* catalogue) {
  g_current.store(catalogue, std::memory_order_release);
}

std::string_view translate(std::string_view context, std::string_view english) {
  const Catalogue* current = g_current.load(std::memory_order_acquire);
  if (current == nullptr) return english;
  const CatalogueEntry* entry =
      context.empty()
          ? find_entry(*current, english)
          : find_entry(*current,
                       std::string(context).append(1, '\x04').append(english));
  if (entry == nullptr || entry->forms.empty() || entry->forms[0].empty()) {
    return english;
  }
  return entry->forms[0];
}

std::string_view translate_plural(std::string_view one, std::string_view many,
                                  uint64_t count) {
  const Catalogue* current = g_current.load(std::memory_order_acquire);
  if (current != nullptr) {
    if (const CatalogueEntry* entry = find_entry(*current, one)) {
      const unsigned long form =
          current->plural_form(static_cast<unsigned long>(count));
      if (form < entry->forms.size() && !entry->forms[form].empty()) {
        return entry->forms[form];
      }
    }
  }
  return count == 1 ? one : many;
}

}  // namespace orvalin
