#include "base/language.h"

#include <gtest/gtest.h>

#include <array>

#include "base/sentences.h"

namespace orvalin {
namespace {

struct English {
  ~English() { set_language(kEnglish); }
};

TEST(LanguageTest, ChoosesFromSettingAndSession) {
  // "auto": the session's language, its neutral form, else English;
  // Windows' own names are in language_win_test.cpp.
  EXPECT_EQ(choose_language("auto", "de_DE.UTF-8"), "de");
  EXPECT_EQ(choose_language("auto", "fr_CA.UTF-8@euro"), "fr");
  EXPECT_EQ(choose_language("auto", "pt_BR.UTF-8"), "pt_BR");
  EXPECT_EQ(choose_language("auto", "zh_SG.UTF-8"), "zh_CN");
  EXPECT_EQ(choose_language("auto", "zh-Hant-HK"), "en");
  EXPECT_EQ(choose_language("auto", "es_MX"), "es");
  EXPECT_EQ(choose_language("auto", "en_GB.UTF-8"), "en");
  EXPECT_EQ(choose_language("auto", "C.UTF-8"), "en");
  EXPECT_EQ(choose_language("auto", "POSIX"), "en");
  EXPECT_EQ(choose_language("auto", ""), "en");
  EXPECT_EQ(choose_language("auto", "pl_PL.UTF-8"), "en");
  // A code in the settings file.
  EXPECT_EQ(choose_language("de", "fr_FR"), "de");
  EXPECT_EQ(choose_language("pt_BR", ""), "pt_BR");
  EXPECT_EQ(choose_language("zh_cn", ""), "zh_CN");
  EXPECT_EQ(choose_language("en", "de_DE"), "en");
  EXPECT_EQ(choose_language("pl", "de_DE"), std::nullopt);
  EXPECT_EQ(choose_language("", "de_DE"), std::nullopt);
  EXPECT_EQ(choose_language("deutsch", ""), std::nullopt);
  EXPECT_EQ(shipped_languages(), "en, de, es, fr, pt_BR, zh_CN");
}

TEST(LanguageTest, SpeaksTheLanguageInUse) {
  English english;
  const Text ready = msg("Orvalin ready. Deck 1 selected.");
  EXPECT_EQ(std::string_view(ready), "Orvalin ready. Deck 1 selected.");
  for (const Catalogue& catalogue : catalogues()) {
    set_language(catalogue.code);
    EXPECT_EQ(current_language(), catalogue.code);
    EXPECT_NE(std::string_view(ready), ready.english) << catalogue.code;
  }
  // Unknown text falls back to itself.
  set_language("de");
  EXPECT_EQ(std::string_view(msg("no such message")), "no such message");
  set_language("xx");
  EXPECT_EQ(current_language(), "en");
  EXPECT_EQ(std::string_view(ready), ready.english);

  // Numbers take the language's decimal separator.
  EXPECT_EQ(localise_number("130.1"), "130.1");
  for (const char* code : {"de", "fr", "es", "pt_BR"}) {
    set_language(code);
    EXPECT_EQ(localise_number("130.1"), "130,1") << code;
    EXPECT_EQ(localise_number("128"), "128") << code;
  }
  set_language("zh_CN");
  EXPECT_EQ(localise_number("130.1"), "130.1");
}

TEST(LanguageTest, PluralFormsFollowTheLanguage) {
  English english;
  EXPECT_EQ(kBusy.of(1), "Kelvo was busy. {} key press skipped.");
  EXPECT_EQ(kBusy.of(0), "Kelvo was busy. {} key presses skipped.");
  // German: one for 1 only; French and Brazilian Portuguese: one for 0 and
  // 1; Chinese: one form for every count.
  set_language("de");
  EXPECT_NE(kBusy.of(1), kBusy.of(2));
  EXPECT_EQ(kBusy.of(0), kBusy.of(2));
  for (const char* code : {"fr", "pt_BR"}) {
    set_language(code);
    EXPECT_EQ(kBusy.of(0), kBusy.of(1)) << code;
    EXPECT_NE(kBusy.of(1), kBusy.of(2)) << code;
  }
  set_language("zh_CN");
  EXPECT_EQ(kBusy.of(1), kBusy.of(2));
  EXPECT_EQ(kBusy.of(1), kBusy.of(21));

  // A language of three forms, as Polish has: 1, 2-4 (but not 12-14), 5+.
  static constexpr std::array<std::string_view, 3> kForms = {
      "{} klawisz", "{} klawisze", "{} klawiszy"};
  static constexpr std::array<CatalogueEntry, 1> kEntries = {
      {{"Kelvo was busy. {} key press skipped.", kForms}}};
  static constexpr Catalogue kPolish = {
      "pl",
      [](unsigned long n) -> unsigned long {
        return n == 1 ? 0
               : n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 10 || n % 100 >= 20)
                   ? 1
                   : 2;
      },
      kEntries};
  use_catalogue(&kPolish);
  EXPECT_EQ(kBusy.of(1), "{} klawisz");
  EXPECT_EQ(kBusy.of(3), "{} klawisze");
  EXPECT_EQ(kBusy.of(12), "{} klawiszy");
  EXPECT_EQ(kBusy.of(22), "{} klawisze");
  EXPECT_EQ(kBusy.of(5), "{} klawiszy");
}

}  // namespace
}  // namespace orvalin
