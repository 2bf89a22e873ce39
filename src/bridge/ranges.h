// The values the plugin contract allows each control (docs/plugin-protocol.md,
// the control table's Range column): a reply outside them is the plugin's
// fault, and nothing may be computed or spoken from it. Constant data and
// pure functions; any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orvalin {

// low..high, either end open ("-1..", "0..1").
struct ValueRange {
  std::optional<double> low;
  std::optional<double> high;

  bool holds(double value) const;
  // As the control table writes it: "0..1", "-1..", "0..".
  std::string text() const;
};

// Every control of the table by its table name, with the range of its
// "value" as the table gives it; nothing where any number may come.
const std::map<std::pair<std::string, std::string>, std::optional<ValueRange>>&
contract_ranges();

// A name as the control table writes it: deck and sampler numbers as N,
// effect units as U, their slots as S ("[Channel2]": "[ChannelN]",
// "hotcue_3_status": "hotcue_N_status").
std::string table_name(std::string_view name);

// Why `value`, read as `prop` ("value" or "parameter") of `group` `key`, is
// outside what the contract allows: "Kelvo sent 3 for [Master],crossfader,
// outside 0..1". Nothing when it is inside, or the control is not in the
// table. A parameter is always 0..1.
std::optional<std::string> outside_range(const std::string& group,
                                         const std::string& key,
                                         std::string_view prop, double value);

}  // namespace orvalin
