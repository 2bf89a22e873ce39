#include "config/keylist.h"

#include <gtest/gtest.h>

#include <set>
#include <variant>

#include "config/builtin.h"

namespace orvalin {
namespace {

// The built-in controls' descriptions are in the whole key list below.
TEST(KeyListTest, ControlDescriptions) {
  EXPECT_EQ(control_description("loadselectedtrack"), "loadselectedtrack");
  EXPECT_EQ(control_description("hotcue_x_activate"), "hotcue x, set or jump");
  EXPECT_EQ(control_description("hotcue__activate"), "hotcue , set or jump");
  EXPECT_EQ(control_description("hotcue_activate"), "hotcue activate");
  EXPECT_EQ(control_description("hotcue_12_clear"), "clear hotcue 12");
  EXPECT_EQ(control_description("hotcue_clear"), "hotcue clear");
  EXPECT_EQ(control_description("beatloop_size"), "beatloop size");
  EXPECT_EQ(control_description("group_[Channel{deck}]_enable"),
            "group [Channel{deck}] enable");
  EXPECT_EQ(control_description(""), "");
}

// Bindings the built-in list does not have, and with those every action
// kind: each kind's name parses to that kind. The built-in bindings describe
// themselves in the whole key list below.
TEST(KeyListTest, EveryKindParsesByNameAndDescribesItself) {
  const std::pair<Binding, std::string_view> cases[] = {
      {{.action = "select_deck", .deck = 255}, "select deck 255"},
      {{.action = "toggle", .group = "[Channel2]", .control = "play"},
       "play on or off on deck 2"},
      {{.action = "toggle", .group = "[Sampler3]", .control = "play"},
       "play on or off, sampler 3"},
      {{.action = "press",
        .group = "[Sampler3]",
        .control = "x",
        .label = "start sampler 3"},
       "start sampler 3"},
      {{.action = "press", .group = "[Channel]", .control = "x", .label = "y"},
       "y on deck "},
      {{.action = "press",
        .group = "[Channel12]",
        .control = "x",
        .label = "to deck 1"},
       "to deck 1 on deck 12"},
      {{.action = "set",
        .group = "[Library]",
        .control = "focused_widget",
        .value = 2.5},
       "set focused widget to 2.5"},
      {{.action = "set", .control = "x", .value = 0.0005},
       "set x to 0.001 on the current deck"},
      {{.action = "adjust", .control = "volume", .step = 0},
       "volume down on the current deck"},
      {{.action = "adjust",
        .group = "[Master]",
        .control = "balance",
        .step = 0,
        .format = "balance"},
       "balance left"},
      {{.action = "say_control", .control = "x", .label = "x level"},
       "say x level"},
      {{.action = "beatgrid_move", .step = -3},
       "move the beat grid 15 milliseconds earlier on the current deck"},
      {{.action = "beatgrid_move", .step = -1e12},
       "move the beat grid 10737418240 milliseconds earlier on the current "
       "deck"},
  };
  std::set<size_t> kinds;
  const auto kind_of = [&](Binding binding) {
    binding.key = "a";
    auto action = validate_binding(binding);
    EXPECT_TRUE(action.has_value()) << action.error();
    if (!action) return std::string();
    kinds.insert(action->index());
    std::visit([&](const auto& kind) { EXPECT_EQ(kind.kName, binding.action); },
               *action);
    return describe_action(*action);
  };
  for (const auto& [binding, description] : cases) {
    EXPECT_EQ(kind_of(binding), description);
  }
  for (const Binding& binding : builtin_config().keys) kind_of(binding);
  EXPECT_EQ(kinds.size(), std::variant_size_v<Action>);
}

// The whole list, line for line, as the built-in bindings describe
// themselves.
constexpr std::string_view kKeyList = R"keys(Orvalin - default keys
======================

These keys work while a Kelvo window is in the foreground.
"Current deck" is the deck chosen with Ctrl+Alt+1 to Ctrl+Alt+4.
Press Ctrl+Alt+F12 in Kelvo to hear what any key does without using it.
Change keys in the settings file, %APPDATA%\Orvalin\config.toml on Windows,
~/.config/orvalin/config.toml on Linux.

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

}  // namespace
}  // namespace orvalin
