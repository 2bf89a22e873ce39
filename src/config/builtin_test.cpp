#include "config/builtin.h"

#include <gtest/gtest.h>

#include "config/text.h"

namespace orvalin {
namespace {

std::vector<std::string_view> lines() {
  return cfgtext::split_lines(builtin_config_text());
}

TEST(BuiltinTest, SectionLines) {
  std::vector<std::string> sections;
  const auto all = lines();
  for (size_t i = 0; i < all.size(); ++i) {
    if (!all[i].starts_with("# --- ")) continue;
    sections.emplace_back(all[i]);
    // A section line stands after a blank line and is followed, after its
    // comment lines, by a blank line and a binding.
    EXPECT_EQ(all[i - 1], "");
    size_t next = i + 1;
    while (all[next].starts_with("# ")) ++next;
    EXPECT_EQ(all[next], "");
    EXPECT_EQ(all[next + 1], "[[keys]]");
  }
  const auto line = [](std::string_view title, size_t dashes) {
    return "# --- " + std::string(title) + " " + std::string(dashes, '-');
  };
  EXPECT_EQ(
      sections,
      (std::vector<std::string>{
          line("Transport", 61), line("Loops", 65), line("Hotcues", 63),
          line("Mixer", 65), line("Beat grid", 63), line("Library", 67),
          line("Auto DJ", 67), line("Hotcues 5 to 8 and markers", 48),
          line("Key and tempo", 61), line("Samplers", 66),
          line("Recording, live broadcast, microphone", 37),
          line("Effects", 67), line("Information", 59), line("Orvalin", 61)}));
}

}  // namespace
}  // namespace orvalin
