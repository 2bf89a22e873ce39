#include "config/builtin.h"

#include <gtest/gtest.h>

#include "config/text.h"

namespace orvalin {
namespace {

std::vector<std::string_view> lines() {
  return cfgtext::split_lines(builtin_config_text());
}

TEST(BuiltinTest, TextLayout) {
  const std::string_view text = builtin_config_text();
  EXPECT_EQ(text.find('\r'), std::string_view::npos);
  EXPECT_TRUE(text.ends_with("action = \"key_help\"\n"));
  EXPECT_FALSE(text.ends_with("\n\n"));
  const auto all = lines();
  ASSERT_GT(all.size(), 60u);
  const std::vector<std::string_view> head(all.begin(), all.begin() + 13);
  EXPECT_EQ(head, (std::vector<std::string_view>{
                      "# Orvalin configuration.",
                      "# This file is created on first run in "
                      "%APPDATA%\\Orvalin\\config.toml.",
                      "# Saved changes apply at once. Where Kelvo is, its "
                      "arguments and the port",
                      "# (the [general] settings below) apply at the next "
                      "start of Orvalin.",
                      "",
                      "[general]",
                      "# Where Kelvo is installed.",
                      "kelvo_path = 'C:\\Program Files\\Kelvo\\kelvo.exe'",
                      "# Extra command line arguments for Kelvo.",
                      "kelvo_args = []",
                      "# Local TCP port used between Orvalin and its Kelvo "
                      "plugin.",
                      "port = 52764",
                      "",
                  }));
  const std::string separator = "# " + std::string(75, '-');
  EXPECT_EQ(all[13], separator);
  EXPECT_EQ(all[14],
            "# Key bindings. They are active only while a Kelvo window is in "
            "the");
  EXPECT_EQ(all[27],
            "#          adjust       control, step        move a "
            "knob/slider by step (0..1 scale)");
  EXPECT_EQ(all[28],
            "#          say          what                 status | "
            "track | time | tempo | grid_offset |");
  EXPECT_EQ(all[29],
            "#                                            "
            "selected_track | hotcues | effects");
  EXPECT_EQ(all[46],
            "# Control names: see the list of controls in Kelvo's "
            "documentation.");
  EXPECT_EQ(all[52], "# of Orvalin therefore work without changing this file.");
  EXPECT_EQ(all[53], separator);
  EXPECT_EQ(all[54], "");
  EXPECT_EQ(all[55], "[[keys]]");
  EXPECT_EQ(all[56], "key = \"ctrl+alt+1\"");
  EXPECT_EQ(all[57], "action = \"select_deck\"");
  EXPECT_EQ(all[58], "deck = 1");
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
  const std::string_view text = builtin_config_text();
  EXPECT_NE(text.find(line("Beat grid", 63) +
                      "\n# Turn on grid clicks, play the track and listen: "
                      "the clicks are the grid.\n"
                      "# Clicks early or late everywhere: move the grid. "
                      "Clicks drifting away over\n"
                      "# time: change the grid tempo. Then lock the grid.\n\n"),
            std::string_view::npos);
  EXPECT_NE(text.find(line("Library", 67) +
                      "\n# Select tracks with Kelvo's own library keys "
                      "(arrows in the track list).\n\n"),
            std::string_view::npos);
  EXPECT_NE(text.find(line("Effects", 67) +
                      "\n# Choose effects in Kelvo's window: Ctrl+Tab to the "
                      "effects area, then Tab.\n\n"),
            std::string_view::npos);
}

}  // namespace
}  // namespace orvalin
