#include "base/language_win.h"

#include <gtest/gtest.h>

#include "base/language.h"

namespace orvalin {
namespace {

// The Windows UI languages a user may have, through Windows' own names,
// to the language Orvalin speaks for "auto".
TEST(LanguageWinTest, UiLanguagesChooseAShippedOne) {
  struct Case {
    unsigned short id;
    const char* name;
    const char* spoken;
  };
  const Case cases[] = {
      {0x0407, "de-DE", "de"},    {0x0C07, "de-AT", "de"},
      {0x040C, "fr-FR", "fr"},    {0x0C0A, "es-ES", "es"},
      {0x080A, "es-MX", "es"},    {0x0416, "pt-BR", "pt_BR"},
      {0x0816, "pt-PT", "pt_BR"}, {0x0804, "zh-CN", "zh_CN"},
      {0x0404, "zh-TW", "en"},    {0x0409, "en-US", "en"},
      {0x0415, "pl-PL", "en"},
  };
  for (const Case& c : cases) {
    const std::string name = ui_language_name(c.id);
    EXPECT_EQ(name, c.name) << std::hex << c.id;
    EXPECT_EQ(choose_language("auto", name), c.spoken) << name;
  }
  // A language Windows has no name for is English.
  EXPECT_EQ(choose_language("auto", ui_language_name(0x0001)), "en");
}

}  // namespace
}  // namespace orvalin
