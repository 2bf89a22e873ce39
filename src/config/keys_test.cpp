#include "config/keys.h"

#include <gtest/gtest.h>

namespace orvalin {
namespace {

KeyCombination parsed(std::string_view text) {
  auto result = parse_key_combination(text);
  EXPECT_TRUE(result.has_value()) << text << ": " << result.error();
  return result.value_or(KeyCombination{});
}

std::string error_of(std::string_view text) {
  auto result = parse_key_combination(text);
  EXPECT_FALSE(result.has_value()) << text;
  return result ? std::string() : result.error();
}

TEST(KeysTest, SpellingsOfOneCombinationAreEqual) {
  const KeyCombination expected{kModAlt | kModControl, 0x50};
  EXPECT_EQ(parsed("Ctrl+Alt+P"), expected);
  EXPECT_EQ(parsed(" ctrl + alt + p "), expected);
  EXPECT_EQ(parsed("alt+ctrl+p"), expected);
  EXPECT_EQ(parsed("p+ctrl+alt"), expected);
  EXPECT_EQ(parsed("ctrl+control+alt+p"), expected);
  // Unicode white space is trimmed like ASCII spaces.
  EXPECT_EQ(parsed("ctrl\u00A0+\talt+p\u3000"), expected);
  EXPECT_EQ(parsed("win+shift+x"), (KeyCombination{kModWin | kModShift, 0x58}));
  EXPECT_EQ(parsed("f5"), (KeyCombination{0, 0x74}));
  // Written back in one spelling.
  EXPECT_EQ(key_combination_text(expected), "ctrl+alt+p");
  EXPECT_EQ(key_combination_text(parsed("Shift+PageUp+Win")),
            "shift+win+pageup");
  EXPECT_EQ(key_combination_text(parsed("F24")), "f24");
  EXPECT_EQ(key_combination_text({kModControl, 0}), "");
}

TEST(KeysTest, KeyNames) {
  const std::pair<const char*, uint32_t> names[] = {
      {"a", 0x41},      {"z", 0x5A},      {"0", 0x30},        {"9", 0x39},
      {"f", 0x46},      {"f1", 0x70},     {"f01", 0x70},      {"f24", 0x87},
      {"up", 0x26},     {"down", 0x28},   {"left", 0x25},     {"right", 0x27},
      {"space", 0x20},  {"enter", 0x0D},  {"tab", 0x09},      {"home", 0x24},
      {"end", 0x23},    {"pageup", 0x21}, {"pagedown", 0x22}, {"insert", 0x2D},
      {"delete", 0x2E}, {"escape", 0x1B}, {"comma", 0xBC},    {"period", 0xBE},
      {"minus", 0xBD},  {"plus", 0xBB},   {"PageUp", 0x21},   {"ESCAPE", 0x1B}};
  for (const auto& [name, vk] : names) {
    EXPECT_EQ(parsed(std::string("ctrl+alt+") + name).vk, vk) << name;
  }
  EXPECT_EQ(parsed("ctrl+f0000000000000000000012").vk, 0x7Bu);
}

TEST(KeysTest, Errors) {
  EXPECT_EQ(error_of("ctrl+f25"), "'ctrl+f25': unknown key 'f25'");
  EXPECT_EQ(error_of("ctrl+f0"), "'ctrl+f0': unknown key 'f0'");
  EXPECT_EQ(error_of("ctrl+alt+"), "'ctrl+alt+': unknown key ''");
  EXPECT_EQ(error_of("ctrl++p"), "'ctrl++p': unknown key ''");
  EXPECT_EQ(error_of(""), "'': unknown key ''");
  EXPECT_EQ(error_of("ctrl+alt+p+q"), "'ctrl+alt+p+q': more than one key");
  EXPECT_EQ(error_of("ctrl+alt+p+xyz"), "'ctrl+alt+p+xyz': more than one key");
  EXPECT_EQ(error_of("ctrl+alt"), "'ctrl+alt': no key given");
  EXPECT_EQ(error_of("ctrl+alt+,"), "'ctrl+alt+,': unknown key ','");
  EXPECT_EQ(error_of("ctrl+alt+-"), "'ctrl+alt+-': unknown key '-'");
  EXPECT_EQ(error_of("Ctrl+Alt+NumPad1"),
            "'Ctrl+Alt+NumPad1': unknown key 'numpad1'");
  EXPECT_EQ(error_of("ctrl+f1x"), "'ctrl+f1x': unknown key 'f1x'");
  EXPECT_EQ(error_of("ctrl+f-1"), "'ctrl+f-1': unknown key 'f-1'");
  EXPECT_EQ(error_of("ctrl+f99999999999"),
            "'ctrl+f99999999999': unknown key 'f99999999999'");
  EXPECT_EQ(error_of("ctrl+\xC3\x89"),
            "'ctrl+\xC3\x89': unknown key '\xC3\x89'");
  // Splitting at "+" makes "f" the letter F, so a following "1" is a second
  // key rather than part of a function key.
  EXPECT_EQ(error_of("ctrl+f+1"), "'ctrl+f+1': more than one key");
}

TEST(KeysTest, DisplayNames) {
  // The built-in keys' names are in the whole key list (keylist_test.cpp).
  EXPECT_EQ(key_display_name("win+x"), "Windows+X");
  EXPECT_EQ(key_display_name(" Control + ALT + Escape"), "Ctrl+Alt+Escape");
  EXPECT_EQ(key_display_name("ctrl+alt+plus+minus+comma+period+1"),
            "Ctrl+Alt+Plus+Minus+Comma+Period+1");
  EXPECT_EQ(key_display_name("ctrl++"), "Ctrl++");
  EXPECT_EQ(key_display_name(""), "");
  EXPECT_EQ(key_display_name("ctrl+\xC3\xA9t\xC3\xA9"),
            "Ctrl+\xC3\x89t\xC3\xA9");
  EXPECT_EQ(key_display_name("ctrl+\xD0\xB4"), "Ctrl+\xD0\x94");
  EXPECT_EQ(key_display_name("\xC3\x9F"), "SS");
  // A broken sequence is shown as it is, not cut.
  EXPECT_EQ(key_display_name("\xC3"), "\xC3");
}

}  // namespace
}  // namespace orvalin
