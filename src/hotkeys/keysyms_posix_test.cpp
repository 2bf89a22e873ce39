#include <gtest/gtest.h>

#include "config/keys.h"
#include "hotkeys/keysyms.h"

// After our headers: X11's macros would rewrite their names.
#include <X11/Xlib.h>

namespace orvalin {
namespace {

// Each key name of the settings gives the keysym that Xlib knows by the
// X11 name of the same key.
TEST(Keysyms, EveryKeyNameHasTheKeysymOfItsX11Name) {
  const std::pair<const char*, const char*> names[] = {
      {"a", "a"},           {"z", "z"},           {"0", "0"},
      {"9", "9"},           {"f1", "F1"},         {"f12", "F12"},
      {"f24", "F24"},       {"up", "Up"},         {"down", "Down"},
      {"left", "Left"},     {"right", "Right"},   {"space", "space"},
      {"enter", "Return"},  {"tab", "Tab"},       {"home", "Home"},
      {"end", "End"},       {"pageup", "Prior"},  {"pagedown", "Next"},
      {"insert", "Insert"}, {"delete", "Delete"}, {"escape", "Escape"},
      {"comma", "comma"},   {"period", "period"}, {"minus", "minus"},
      {"plus", "plus"},
  };
  for (const auto& [name, x11] : names) {
    const auto parsed = parse_key_combination(std::string("ctrl+") + name);
    ASSERT_TRUE(parsed) << name;
    EXPECT_EQ(keysym_of(parsed->vk), XStringToKeysym(x11)) << name;
  }
  EXPECT_EQ(keysym_of(0xFF), 0u);
}

}  // namespace
}  // namespace orvalin
