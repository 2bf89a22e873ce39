#include "config/keylist.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <variant>

#include "base/language.h"
#include "config/builtin.h"
#include "config/text.h"
#include "documents.h"

namespace orvalin {
namespace {

// The built-in controls' descriptions are in the whole key list
// (docs/keys.txt).
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
// themselves in the whole key list.
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

// The whole list, line for line, as users read it in docs/keys.txt.
TEST(KeyListTest, WholeKeyList) {
  auto text = key_list_text();
  ASSERT_TRUE(text.has_value()) << text.error();
  EXPECT_EQ(*text, std::regex_replace(std::string(kKeyList), std::regex("\n"),
                                      "\r\n"));
}

// In every other language no line of the list (title, description, key
// names) reads as an English line that has words, but for a name.
TEST(KeyListTest, WholeKeyListInEachLanguage) {
  struct English {
    ~English() { set_language(kEnglish); }
  } english;
  auto lines = [] {
    std::set<std::string> out;
    const std::string text = key_list_text().value();
    for (std::string_view line : cfgtext::split_lines(text)) {
      if (line.find_first_of("abcdefghijklmnopqrstuvwxyz") !=
          std::string::npos) {
        out.emplace(line);
      }
    }
    return out;
  };
  const std::set<std::string> en = lines();
  ASSERT_GT(en.size(), 100u);
  for (const Catalogue& catalogue : catalogues()) {
    set_language(catalogue.code);
    for (const std::string& line : lines()) {
      if (line == "Orvalin") continue;  // a name: the section of its own keys
      EXPECT_EQ(en.count(line), 0u) << catalogue.code << ": " << line;
    }
  }
}

}  // namespace
}  // namespace orvalin
