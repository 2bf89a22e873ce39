#include "config/keylist.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>

#include "base/os.h"
#include "base/utf.h"
#include "config/builtin.h"

namespace orvalin {
namespace {

TEST(KeyListTest, ControlDescriptions) {
  EXPECT_EQ(control_description("pfl"), "headphones");
  EXPECT_EQ(control_description("LoadSelectedTrack"), "load selected track");
  EXPECT_EQ(control_description("loadselectedtrack"), "loadselectedtrack");
  EXPECT_EQ(control_description("skip_next"), "Auto DJ: skip the next track");
  EXPECT_EQ(control_description("hotcue_3_activate"), "hotcue 3, set or jump");
  EXPECT_EQ(control_description("hotcue_x_activate"), "hotcue x, set or jump");
  EXPECT_EQ(control_description("hotcue__activate"), "hotcue , set or jump");
  EXPECT_EQ(control_description("hotcue_activate"), "hotcue activate");
  EXPECT_EQ(control_description("hotcue_3_clear"), "clear hotcue 3");
  EXPECT_EQ(control_description("hotcue_12_clear"), "clear hotcue 12");
  EXPECT_EQ(control_description("hotcue_clear"), "hotcue clear");
  EXPECT_EQ(control_description("beatloop_size"), "beatloop size");
  EXPECT_EQ(control_description("group_[Channel{deck}]_enable"),
            "group [Channel{deck}] enable");
  EXPECT_EQ(control_description(""), "");
}

TEST(KeyListTest, DescriptionsOfOtherBindings) {
  const auto describe = [](const Binding& binding) {
    auto action = validate_binding(binding);
    EXPECT_TRUE(action.has_value()) << action.error();
    return action ? describe_action(*action) : std::string();
  };
  EXPECT_EQ(describe({.key = "a",
                      .action = "set",
                      .group = "[Library]",
                      .control = "focused_widget",
                      .value = 2.5}),
            "set focused widget to 2.5");
  EXPECT_EQ(describe({.key = "a",
                      .action = "set",
                      .group = "[Library]",
                      .control = "focused_widget",
                      .value = 3}),
            "set focused widget to 3");
  EXPECT_EQ(describe({.key = "a",
                      .action = "set",
                      .group = "[Library]",
                      .control = "x",
                      .value = 1.0 / 3}),
            "set x to 0.333");
  EXPECT_EQ(describe({.key = "a",
                      .action = "set",
                      .group = "[Library]",
                      .control = "x",
                      .value = -2.9996}),
            "set x to -3");
  EXPECT_EQ(
      describe({.key = "a", .action = "set", .control = "x", .value = 0.0005}),
      "set x to 0.001 on the current deck");
  EXPECT_EQ(describe({.key = "a",
                      .action = "toggle",
                      .group = "[Channel2]",
                      .control = "play"}),
            "play on or off on deck 2");
  EXPECT_EQ(describe({.key = "a",
                      .action = "toggle",
                      .group = "[Sampler3]",
                      .control = "play"}),
            "play on or off, sampler 3");
  EXPECT_EQ(describe({.key = "a",
                      .action = "press",
                      .group = "[Sampler3]",
                      .control = "x",
                      .label = "start sampler 3"}),
            "start sampler 3");
  EXPECT_EQ(describe({.key = "a",
                      .action = "press",
                      .group = "[Channel]",
                      .control = "x",
                      .label = "y"}),
            "y on deck ");
  EXPECT_EQ(describe({.key = "a",
                      .action = "press",
                      .group = "[Channel12]",
                      .control = "x",
                      .label = "to deck 1"}),
            "to deck 1 on deck 12");
  EXPECT_EQ(
      describe(
          {.key = "a", .action = "adjust", .control = "volume", .step = 0}),
      "volume down on the current deck");
  EXPECT_EQ(describe({.key = "a",
                      .action = "adjust",
                      .group = "[Master]",
                      .control = "balance",
                      .step = 0,
                      .format = "balance"}),
            "balance left");
  EXPECT_EQ(describe({.key = "a", .action = "beatgrid_move", .step = -3}),
            "move the beat grid 15 milliseconds earlier on the current deck");
  EXPECT_EQ(describe({.key = "a", .action = "beatgrid_move", .step = -1e12}),
            "move the beat grid 10737418240 milliseconds earlier on the "
            "current deck");
  EXPECT_EQ(describe({.key = "a", .action = "select_deck", .deck = 255}),
            "select deck 255");
  EXPECT_EQ(describe({.key = "a", .action = "say", .what = "hotcues"}),
            "say the hotcues of the current deck");
  EXPECT_EQ(describe({.key = "a", .action = "preview"}),
            "preview the selected library track, or stop the preview");
  EXPECT_EQ(describe({.key = "a", .action = "beatgrid_tap"}),
            "tap the tempo of the current deck");
}

// Every built-in key's description, by key text.
std::map<std::string, std::string> builtin_descriptions() {
  std::map<std::string, std::string> descriptions;
  for (const Binding& binding : builtin_config().keys) {
    auto action = validate_binding(binding);
    EXPECT_TRUE(action.has_value()) << action.error();
    if (action) descriptions[binding.key] = describe_action(*action);
  }
  return descriptions;
}

TEST(KeyListTest, DescriptionsOfBuiltInBindings) {
  const auto d = builtin_descriptions();
  EXPECT_EQ(d.at("ctrl+alt+p"), "play on or off on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+f1"), "hotcue 1, set or jump on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+f1"), "clear hotcue 1 on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+pageup"), "volume up on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+pagedown"), "gain down on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+m"), "crossfader right");
  EXPECT_EQ(d.at("ctrl+alt+shift+m"), "crossfader left");
  EXPECT_EQ(d.at("ctrl+alt+f"), "filter up on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+w"),
            "move the beat grid 5 milliseconds later on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+w"),
            "move the beat grid 5 milliseconds earlier on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+1"), "load the selected track to deck 1");
  EXPECT_EQ(d.at("ctrl+alt+f11"), "go to the library search");
  EXPECT_EQ(d.at("ctrl+alt+shift+a"), "Auto DJ on or off");
  EXPECT_EQ(d.at("ctrl+alt+f10"), "Auto DJ: fade to the next track now");
  EXPECT_EQ(d.at("ctrl+alt+5"), "loop in on the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+5"), "play from the start, sampler 1");
  EXPECT_EQ(d.at("ctrl+alt+enter"),
            "effect unit 1 on or off for the current deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+space"), "say crossfader");
  EXPECT_EQ(d.at("ctrl+alt+d"),
            "write the Kelvo widget list to the plugin log");
  EXPECT_EQ(d.at("ctrl+alt+1"), "select deck 1");
  EXPECT_EQ(d.at("ctrl+alt+shift+t"),
            "say how far the playhead is from the beat grid on the current "
            "deck");
  EXPECT_EQ(d.at("ctrl+alt+shift+9"), "stop all samplers");
  EXPECT_EQ(d.at("ctrl+alt+f12"), "key help on or off");
}

TEST(KeyListTest, KeyListLayout) {
  auto text = key_list_text();
  ASSERT_TRUE(text.has_value()) << text.error();
  const std::string& list = *text;
  ASSERT_TRUE(list.ends_with("\r\n"));
  // Every line feed follows a carriage return, and there is no other one.
  size_t lines = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == '\n') {
      ++lines;
      ASSERT_TRUE(i > 0 && list[i - 1] == '\r') << i;
    } else if (list[i] == '\r') {
      ASSERT_TRUE(i + 1 < list.size() && list[i + 1] == '\n') << i;
    }
  }
  EXPECT_TRUE(list.starts_with(
      "Orvalin - default keys\r\n"
      "======================\r\n"
      "\r\n"
      "These keys work while a Kelvo window is in the foreground.\r\n"
      "\"Current deck\" is the deck chosen with Ctrl+Alt+1 to Ctrl+Alt+4.\r\n"
      "Press Ctrl+Alt+F12 in Kelvo to hear what any key does without using "
      "it.\r\n"
      "Change keys in %APPDATA%\\Orvalin\\config.toml.\r\n"
      "\r\n"
      "Deck selection\r\n"
      "--------------\r\n"
      "Ctrl+Alt+1: select deck 1\r\n"
      "Ctrl+Alt+2: select deck 2\r\n"
      "Ctrl+Alt+3: select deck 3\r\n"
      "Ctrl+Alt+4: select deck 4\r\n"
      "\r\n"
      "Transport\r\n"
      "---------\r\n"
      "Ctrl+Alt+P: play on or off on the current deck\r\n"
      "Ctrl+Alt+C: cue on the current deck\r\n"))
      << list.substr(0, 800);
  EXPECT_NE(list.find("\r\n\r\nHotcues 5 to 8 and markers\r\n"
                      "--------------------------\r\n"
                      "Ctrl+Alt+F5: hotcue 5, set or jump on the current "
                      "deck\r\n"),
            std::string::npos);
  EXPECT_NE(list.find("\r\n\r\nRecording, live broadcast, microphone\r\n" +
                      std::string(37, '-') + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(
      list.ends_with("\r\n\r\nOrvalin\r\n-------\r\n"
                     "Ctrl+Alt+Q: stop speech\r\n"
                     "Ctrl+Alt+A: announcements on or off\r\n"
                     "Ctrl+Alt+D: write the Kelvo widget list to the "
                     "plugin log\r\n"
                     "Ctrl+Alt+F12: key help on or off\r\n"));
  EXPECT_NE(list.find("Ctrl+Alt+Shift+Page Down: gain down on the current "
                      "deck\r\n"),
            std::string::npos);
  EXPECT_NE(list.find("Ctrl+Alt+Shift+Period: double loop size on the "
                      "current deck\r\n"),
            std::string::npos);
  EXPECT_EQ(list.find("Other\r\n"), std::string::npos);

  // 7 header lines, then per section an empty line, title and underline.
  size_t key_lines = 0;
  size_t headings = 0;
  std::vector<std::string> all;
  for (size_t start = 0; start < list.size();) {
    const size_t end = list.find("\r\n", start);
    all.push_back(list.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(all.size(), lines);
  for (size_t i = 7; i < all.size(); ++i) {
    if (all[i].find(": ") != std::string::npos &&
        all[i].starts_with("Ctrl+Alt+")) {
      ++key_lines;
    } else if (all[i].empty()) {
      ++headings;
      ASSERT_LT(i + 2, all.size());
      EXPECT_EQ(all[i + 2], std::string(all[i + 1].size(), '-'));
      i += 2;
    } else {
      ADD_FAILURE() << "unexpected line: " << all[i];
    }
  }
  EXPECT_EQ(key_lines, 103u);
  EXPECT_EQ(headings, 15u);
}

// The whole list, line for line, as the built-in bindings describe
// themselves.
constexpr std::string_view kKeyList = R"keys(Orvalin - default keys
======================

These keys work while a Kelvo window is in the foreground.
"Current deck" is the deck chosen with Ctrl+Alt+1 to Ctrl+Alt+4.
Press Ctrl+Alt+F12 in Kelvo to hear what any key does without using it.
Change keys in %APPDATA%\Orvalin\config.toml.

Deck selection
--------------
Ctrl+Alt+1: select deck 1
Ctrl+Alt+2: select deck 2
Ctrl+Alt+3: select deck 3
Ctrl+Alt+4: select deck 4

Transport
---------
Ctrl+Alt+P: play on or off on the current deck
Ctrl+Alt+C: cue on the current deck
Ctrl+Alt+S: sync on or off on the current deck
Ctrl+Alt+K: key lock on or off on the current deck
Ctrl+Alt+H: headphones on or off on the current deck
Ctrl+Alt+O: load selected track on the current deck
Ctrl+Alt+E: eject on the current deck
Ctrl+Alt+Comma: beat jump back on the current deck
Ctrl+Alt+Period: beat jump forward on the current deck

Loops
-----
Ctrl+Alt+L: loop on the current deck
Ctrl+Alt+Shift+L: reloop on the current deck
Ctrl+Alt+Shift+Period: double loop size on the current deck
Ctrl+Alt+Shift+Comma: halve loop size on the current deck

Hotcues
-------
Ctrl+Alt+F1: hotcue 1, set or jump on the current deck
Ctrl+Alt+F2: hotcue 2, set or jump on the current deck
Ctrl+Alt+F3: hotcue 3, set or jump on the current deck
Ctrl+Alt+F4: hotcue 4, set or jump on the current deck
Ctrl+Alt+Shift+F1: clear hotcue 1 on the current deck
Ctrl+Alt+Shift+F2: clear hotcue 2 on the current deck
Ctrl+Alt+Shift+F3: clear hotcue 3 on the current deck
Ctrl+Alt+Shift+F4: clear hotcue 4 on the current deck

Mixer
-----
Ctrl+Alt+Page Up: volume up on the current deck
Ctrl+Alt+Page Down: volume down on the current deck
Ctrl+Alt+Shift+Page Up: gain up on the current deck
Ctrl+Alt+Shift+Page Down: gain down on the current deck
Ctrl+Alt+R: tempo up on the current deck
Ctrl+Alt+Shift+R: tempo down on the current deck
Ctrl+Alt+M: crossfader right
Ctrl+Alt+Shift+M: crossfader left
Ctrl+Alt+F: filter up on the current deck
Ctrl+Alt+Shift+F: filter down on the current deck
Ctrl+Alt+Z: low up on the current deck
Ctrl+Alt+Shift+Z: low down on the current deck
Ctrl+Alt+X: mid up on the current deck
Ctrl+Alt+Shift+X: mid down on the current deck
Ctrl+Alt+V: high up on the current deck
Ctrl+Alt+Shift+V: high down on the current deck

Beat grid
---------
Ctrl+Alt+G: beat grid clicks on or off for the current deck
Ctrl+Alt+W: move the beat grid 5 milliseconds later on the current deck
Ctrl+Alt+Shift+W: move the beat grid 5 milliseconds earlier on the current deck
Ctrl+Alt+J: beat grid tempo faster on the current deck
Ctrl+Alt+Shift+J: beat grid tempo slower on the current deck
Ctrl+Alt+Shift+G: set a beat at the current position on the current deck
Ctrl+Alt+9: halve the BPM on the current deck
Ctrl+Alt+0: double the BPM on the current deck
Ctrl+Alt+Shift+B: tap the tempo of the current deck
Ctrl+Alt+Shift+T: say how far the playhead is from the beat grid on the current deck
Ctrl+Alt+U: undo the last beat grid change on the current deck
Ctrl+Alt+Shift+K: grid lock on or off on the current deck

Library
-------
Ctrl+Alt+Shift+1: load the selected track to deck 1
Ctrl+Alt+Shift+2: load the selected track to deck 2
Ctrl+Alt+Shift+3: load the selected track to deck 3
Ctrl+Alt+Shift+4: load the selected track to deck 4
Ctrl+Alt+Shift+I: say the track selected in the library
Ctrl+Alt+Shift+O: preview the selected library track, or stop the preview
Ctrl+Alt+F11: go to the library search
Ctrl+Alt+Shift+F11: go to the library track list

Auto DJ
-------
Ctrl+Alt+Shift+A: Auto DJ on or off
Ctrl+Alt+F10: Auto DJ: fade to the next track now
Ctrl+Alt+Shift+F10: Auto DJ: skip the next track
Ctrl+Alt+Shift+Q: add the selected track to the Auto DJ queue

Hotcues 5 to 8 and markers
--------------------------
Ctrl+Alt+F5: hotcue 5, set or jump on the current deck
Ctrl+Alt+F6: hotcue 6, set or jump on the current deck
Ctrl+Alt+F7: hotcue 7, set or jump on the current deck
Ctrl+Alt+F8: hotcue 8, set or jump on the current deck
Ctrl+Alt+Shift+F5: clear hotcue 5 on the current deck
Ctrl+Alt+Shift+F6: clear hotcue 6 on the current deck
Ctrl+Alt+Shift+F7: clear hotcue 7 on the current deck
Ctrl+Alt+Shift+F8: clear hotcue 8 on the current deck
Ctrl+Alt+F9: say the hotcues of the current deck
Ctrl+Alt+5: loop in on the current deck
Ctrl+Alt+6: loop out on the current deck
Ctrl+Alt+7: intro start on the current deck
Ctrl+Alt+8: outro end on the current deck

Key and tempo
-------------
Ctrl+Alt+Plus: key up on the current deck
Ctrl+Alt+Minus: key down on the current deck
Ctrl+Alt+Shift+Minus: reset the key on the current deck
Ctrl+Alt+Shift+Plus: match the key to the other deck on the current deck
Ctrl+Alt+Shift+0: reset the tempo on the current deck

Samplers
--------
Ctrl+Alt+Shift+5: play from the start, sampler 1
Ctrl+Alt+Shift+6: play from the start, sampler 2
Ctrl+Alt+Shift+7: play from the start, sampler 3
Ctrl+Alt+Shift+8: play from the start, sampler 4
Ctrl+Alt+Shift+9: stop all samplers

Recording, live broadcast, microphone
-------------------------------------
Ctrl+Alt+Shift+C: recording on or off
Ctrl+Alt+Shift+E: live broadcast on or off
Ctrl+Alt+Shift+S: microphone on or off

Effects
-------
Ctrl+Alt+Enter: effect unit 1 on or off for the current deck
Ctrl+Alt+Shift+Enter: effect unit 2 on or off for the current deck
Ctrl+Alt+Shift+F9: say what is in the effect units

Information
-----------
Ctrl+Alt+Space: say deck status
Ctrl+Alt+I: say track title and artist
Ctrl+Alt+T: say elapsed and remaining time
Ctrl+Alt+B: say tempo and key
Ctrl+Alt+Shift+Space: say crossfader

Orvalin
-------
Ctrl+Alt+Q: stop speech
Ctrl+Alt+A: announcements on or off
Ctrl+Alt+D: write the Kelvo widget list to the plugin log
Ctrl+Alt+F12: key help on or off
)keys";

TEST(KeyListTest, WholeKeyList) {
  auto text = key_list_text();
  ASSERT_TRUE(text.has_value()) << text.error();
  std::string expected;
  for (char c : kKeyList) {
    if (c == '\n') expected += '\r';
    expected += c;
  }
  EXPECT_EQ(*text, expected);
}

TEST(KeyListTest, WriteKeyList) {
  static std::atomic<int> counter{0};
  const auto dir =
      temp_dir() /
      ("orvalin-keylist-test-" +
       std::to_string(
           std::chrono::steady_clock::now().time_since_epoch().count()) +
       "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  const std::string path = path_to_utf8(dir / "keys \xC3\xA9.txt");
  {
    std::ofstream old(utf8_to_path(path), std::ios::binary);
    old << std::string(100000, 'x');
  }
  auto written = write_key_list(path);
  ASSERT_TRUE(written.has_value()) << written.error();
  std::ifstream in(utf8_to_path(path), std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(bytes, key_list_text().value());

  const std::string missing = path_to_utf8(dir / "no" / "keys.txt");
  auto failed = write_key_list(missing);
  ASSERT_FALSE(failed.has_value());
  EXPECT_TRUE(failed.error().starts_with("cannot write " + missing + ": "))
      << failed.error();
  EXPECT_GT(failed.error().size(), ("cannot write " + missing + ": ").size());
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// Writes the key list where ORVALIN_KEY_LIST_OUT says, so that the lists of
// two builds can be compared byte for byte.
TEST(KeyListTest, WritesCopyWhenAsked) {
  const auto out = get_env("ORVALIN_KEY_LIST_OUT");
  if (!out) GTEST_SKIP() << "ORVALIN_KEY_LIST_OUT not set";
  auto written = write_key_list(*out);
  ASSERT_TRUE(written.has_value()) << written.error();
}

}  // namespace
}  // namespace orvalin
