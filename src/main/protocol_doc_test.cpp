// The control table of docs/plugin-protocol.md against the controls the code
// uses (the watched controls, the built-in bindings and each module's own
// reads and writes): a control on one side only fails, and so does a range
// the document and the bridge's checks do not give alike.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "actions/actions.h"
#include "actions/reports.h"
#include "announcer/announcer.h"
#include "beatgrid/beatgrid.h"
#include "bridge/ranges.h"
#include "config/config.h"
#include "controls/names.h"
#include "documents.h"

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

std::set<Control> used_by_code() {
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
  for (const auto& list : {action_controls(), report_controls(),
                           announcer_controls(), beatgrid_controls()}) {
    for (const auto& [group, key] : list) add(group, key);
  }

  auto tables = build_binding_tables(builtin_config().keys);
  EXPECT_TRUE(tables.has_value());
  if (!tables) return used;
  for (const KeyAction& binding : tables->actions) {
    auto target = [&](const ControlTarget& t) { add(t.group, t.control); };
    if (auto* a = std::get_if<act::Toggle>(&binding.action)) target(a->target);
    if (auto* a = std::get_if<act::Set>(&binding.action)) target(a->target);
    if (auto* a = std::get_if<act::Adjust>(&binding.action)) target(a->target);
    if (auto* a = std::get_if<act::SayControl>(&binding.action)) {
      target(a->target);
    }
    if (auto* a = std::get_if<act::Press>(&binding.action)) {
      target(a->target);
      if (a->report) add(a->target.group, a->report->target.control);
    }
    if (auto* a = std::get_if<act::Marker>(&binding.action)) {
      // A marker works on the current deck.
      add(deck_group(1), a->control);
      add(deck_group(1), a->report);
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

template <typename Map>
std::set<Control> keys_of(const Map& map) {
  std::set<Control> keys;
  for (const auto& [control, value] : map) keys.insert(control);
  return keys;
}

std::string listed(const std::set<Control>& controls) {
  std::string text;
  for (const auto& [group, key] : controls) text += group + " " + key + "\n";
  return text;
}

TEST(ProtocolDocument, ControlTableMatchesTheCode) {
  std::istringstream document{std::string(kPluginProtocol)};
  const std::map<Control, std::string> ranges = documented(document);
  const std::set<Control> in_document = keys_of(ranges);
  const std::set<Control> in_code = used_by_code();
  std::set<Control> undocumented;
  std::set<Control> unused;
  std::ranges::set_difference(in_code, in_document,
                              std::inserter(undocumented, undocumented.end()));
  std::ranges::set_difference(in_document, in_code,
                              std::inserter(unused, unused.end()));
  EXPECT_EQ(listed(undocumented), "") << "used but not in the table";
  EXPECT_EQ(listed(unused), "") << "in the table but not used";

  // The bridge checks each value against the range of its row.
  EXPECT_EQ(listed(keys_of(contract_ranges())), listed(in_document));
  for (const auto& [control, range] : contract_ranges()) {
    const auto row = ranges.find(control);
    if (row == ranges.end()) continue;
    EXPECT_EQ(range ? range->text() : "any", row->second)
        << control.first << " " << control.second;
  }
}

}  // namespace
}  // namespace orvalin
