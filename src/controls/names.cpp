// Control names, and which controls the announcer speaks about. The action
// worker asks the latter so that a successful toggle of such a control is
// spoken once, by the announcer, rather than twice.

#include "controls/names.h"

#include <algorithm>
#include <cmath>

namespace orvalin {

std::string deck_group(uint8_t deck) {
  return "[Channel" + std::to_string(deck) + "]";
}

std::optional<unsigned> numbered_name(std::string_view text,
                                      std::string_view prefix,
                                      std::string_view suffix) {
  if (text.size() < prefix.size() + suffix.size()) return std::nullopt;
  if (!text.starts_with(prefix) || !text.ends_with(suffix)) {
    return std::nullopt;
  }
  text.remove_prefix(prefix.size());
  text.remove_suffix(suffix.size());
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return std::nullopt;
  }
  return value;
}

uint8_t rounded_count(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);
  if (rounded <= 0) return 0;
  if (rounded >= 255) return 255;
  return static_cast<uint8_t>(rounded);
}

bool is_watched_control(std::string_view group, std::string_view key) {
  if (numbered_name(group, "[Channel", "]")) {
    return std::ranges::find(kWatchedDeckKeys, key) != kWatchedDeckKeys.end() ||
           numbered_name(key, "hotcue_", "_status").has_value();
  }
  if (numbered_name(group, "[Sampler", "]")) return key == kWatchedSamplerKey;
  return std::ranges::find(kWatchedFixed, std::pair{group, key}) !=
         kWatchedFixed.end();
}

}  // namespace orvalin
