// The control table of docs/plugin-protocol.md against the controls the code
// uses (the watched controls, the built-in bindings and every control named
// in the product's sources): a control on one side only fails, and so does a
// range the document and the bridge's checks do not give alike.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bridge/ranges.h"
#include "config/config.h"
#include "controls/names.h"
#include "documents.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using Control = std::pair<std::string, std::string>;

// A name as the document's table writes it: deck and sampler numbers as N,
// effect units as U, effect slots as S ("[Channel2]", "[Channel{deck}]":
// "[ChannelN]"; "hotcue_3_status": "hotcue_N_status").
std::string doc_name(std::string_view name) {
  static const std::vector<std::pair<std::regex, std::string>> rules = {
      {std::regex(R"(\{deck\})"), "N"},
      {std::regex(R"(\[Channel\d+\])"), "[ChannelN]"},
      {std::regex(R"(\[Sampler\d+\])"), "[SamplerN]"},
      {std::regex(R"(hotcue_\d+_)"), "hotcue_N_"},
      {std::regex(R"(EffectUnit\d+)"), "EffectUnitU"},
      {std::regex(R"(EffectUnitU_Effect\d+)"), "EffectUnitU_EffectS"},
  };
  std::string text(name);
  for (const auto& [from, to] : rules)
    text = std::regex_replace(text, from, to);
  return text;
}

// The names quoted in the product's sources (tests, the test rig and the
// settings left out): a control the code reads, writes or watches is named
// there, whether or not anyone lists it. Only a name put together from pieces
// ("hotcue_" + n + "_position") is not, and is matched by its first piece.
std::set<std::string> quoted_in_sources() {
  namespace fs = std::filesystem;
  std::set<std::string> names;
  const std::regex quoted(R"re("([A-Za-z][A-Za-z0-9_\[]*)")re");
  const fs::path src = fs::path(kSourceTree) / "src";
  std::error_code error;
  for (fs::recursive_directory_iterator it(src, error), end;
       !error && it != end; it.increment(error)) {
    const std::string path = it->path().generic_string();
    // The settings module names formats, labels and fields, never a
    // control of its own: the built-in bindings' controls come from their
    // tables.
    if (!it->is_regular_file() || path.ends_with("_test.cpp") ||
        path.find("/testing/") != std::string::npos ||
        path.find("/config/") != std::string::npos) {
      continue;
    }
    // Comments quote words, not controls.
    const std::string code =
        std::regex_replace(read_file(it->path()), std::regex("//[^\n]*"), "");
    for (std::sregex_iterator match(code.begin(), code.end(), quoted), last;
         match != last; ++match) {
      names.insert((*match)[1]);
    }
  }
  EXPECT_FALSE(names.empty()) << "no sources under " << src.string();
  // Fields of the protocol's messages (a request's "key", the selected
  // track's "bpm"), named like controls of Kelvo's.
  for (const char* field : {"bpm", "duration", "key"}) names.erase(field);
  return names;
}

// The controls the code uses, in the table's names: the watched ones, the
// built-in bindings', and every quoted name that Kelvo (the simulator) has
// as a control in one of `groups`.
std::set<Control> used_by_code(const std::set<std::string>& groups,
                               const std::set<std::string>& quoted,
                               const std::set<Control>& in_document) {
  std::set<Control> used;
  auto add = [&](std::string_view group, std::string_view key) {
    used.emplace(doc_name(group), doc_name(key));
  };
  for (const auto& [group, key] : kStartupCounts) add(group, key);
  for (std::string_view key : kWatchedDeckKeys) add("[Channel1]", key);
  for (int n = 1; n <= kWatchedHotcues; ++n) {
    add("[Channel1]", "hotcue_" + std::to_string(n) + "_status");
  }
  add("[Sampler1]", kWatchedSamplerKey);
  for (const auto& [group, key] : kWatchedFixed) add(group, key);

  auto tables = build_binding_tables(builtin_config().keys);
  EXPECT_TRUE(tables.has_value());
  if (!tables) return used;
  for (const KeyAction& binding : tables->actions) {
    std::visit(
        [&](const auto& a) {
          if constexpr (requires { a.target; }) {
            add(a.target.group, a.target.control);
          }
        },
        binding.action);
    if (auto* a = std::get_if<act::Press>(&binding.action); a && a->report) {
      add(a->target.group, a->report->target.control);
    }
    if (auto* a = std::get_if<act::Marker>(&binding.action)) {
      // A marker works on the current deck.
      add(deck_group(1), a->control);
      add(deck_group(1), a->report);
    }
  }

  // Kelvo answers a read of a control it does not have with an error. A
  // name Kelvo has in several groups (a deck's and a sampler's "play") is
  // used where the table has it, and undocumented where it has it nowhere.
  auto rig = testrig::Rig::start();
  EXPECT_TRUE(rig);
  if (!rig) return used;
  std::map<std::string, std::set<Control>> kelvo_has;
  for (const std::string& group : groups) {
    std::vector<std::pair<std::string, Bridge::Pending<double>>> asked;
    for (const std::string& name : quoted) {
      asked.emplace_back(name, rig->bridge().send_get(group, name));
    }
    for (auto& [name, read] : asked) {
      if (read.wait()) kelvo_has[name].emplace(doc_name(group), doc_name(name));
    }
  }
  for (const auto& [name, controls] : kelvo_has) {
    std::set<Control> listed;
    std::ranges::set_intersection(controls, in_document,
                                  std::inserter(listed, listed.end()));
    for (const Control& control : listed.empty() ? controls : listed) {
      used.insert(control);
    }
  }
  return used;
}

// The table under "| Group | Key |": every name in backticks of a row's
// group cell with every one of its key cell, and the row's range.
std::map<Control, std::string> documented(std::istream& document) {
  const std::regex row(R"(^\|([^|]*)\|([^|]*)\|[^|]*\|[^|]*\|([^|]*)\|)");
  const std::regex quoted("`([^`]+)`");
  auto names = [&](const std::string& cell) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(cell.begin(), cell.end(), quoted), end;
         it != end; ++it) {
      found.push_back((*it)[1]);
    }
    return found;
  };
  std::map<Control, std::string> controls;
  bool in_table = false;
  for (std::string line; std::getline(document, line);) {
    std::smatch cells;
    if (!in_table) {
      in_table = line.starts_with("| Group | Key | Use | Value | Range |");
    } else if (!std::regex_search(line, cells, row)) {
      break;  // the table ends
    } else {
      std::string range = cells[3];
      range.erase(0, range.find_first_not_of(' '));
      range.erase(range.find_last_not_of(' ') + 1);
      for (const std::string& group : names(cells[1])) {
        for (const std::string& key : names(cells[2])) {
          controls.emplace(Control{group, key}, range);
        }
      }
    }
  }
  return controls;
}

std::string listed(const std::set<Control>& controls) {
  std::string text;
  for (const auto& [group, key] : controls) text += group + " " + key + "\n";
  return text;
}

TEST(ProtocolDocument, ControlTableMatchesTheCode) {
  if (!std::filesystem::is_directory(std::filesystem::path(kSourceTree))) {
    GTEST_SKIP() << "the source tree is not reachable: " << kSourceTree;
  }
  std::istringstream document{std::string(kPluginProtocol)};
  const std::map<Control, std::string> ranges = documented(document);
  std::set<Control> in_document;
  for (const auto& [control, range] : ranges) in_document.insert(control);
  // A table group as Kelvo names it: the first deck, sampler, unit, slot.
  std::set<std::string> groups;
  for (const auto& [group, key] : in_document) {
    groups.insert(
        std::regex_replace(group, std::regex("[NUS](?=\\])|U(?=_)"), "1"));
  }
  const std::set<std::string> quoted = quoted_in_sources();
  const std::set<Control> in_code = used_by_code(groups, quoted, in_document);
  std::set<Control> undocumented;
  std::ranges::set_difference(in_code, in_document,
                              std::inserter(undocumented, undocumented.end()));
  // A name put together in code counts as used by its first piece.
  std::set<Control> unused;
  for (const Control& control : in_document) {
    const std::string& key = control.second;
    const size_t piece = key.find_first_of("NUS", key.find('_'));
    if (in_code.contains(control) ||
        (piece != std::string::npos && quoted.contains(key.substr(0, piece)))) {
      continue;
    }
    unused.insert(control);
  }
  EXPECT_EQ(listed(undocumented), "") << "used but not in the table";
  EXPECT_EQ(listed(unused), "") << "in the table but not used";

  // The bridge checks each value against the range of its row.
  std::map<Control, std::string> checked;
  for (const auto& [control, range] : contract_ranges()) {
    checked[control] = range ? range->text() : "any";
  }
  EXPECT_EQ(checked, ranges);
}

}  // namespace
}  // namespace orvalin
