// Which controls the announcer speaks about. The action worker asks this so
// that a successful toggle of such a control is spoken once, by the
// announcer, rather than twice.

#include <cmath>
#include <string_view>

#include "announcer/announcer.h"

namespace orvalin {

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

namespace {

bool is_numbered(std::string_view text, std::string_view prefix,
                 std::string_view suffix) {
  return numbered_name(text, prefix, suffix).has_value();
}

}  // namespace

bool is_watched_control(std::string_view group, std::string_view key) {
  if (is_numbered(group, "[Channel", "]")) {
    static constexpr std::string_view kDeckKeys[] = {
        "pfl",          "play",         "keylock",      "sync_enabled",
        "loop_enabled", "end_of_track", "track_loaded", "peak_indicator"};
    for (std::string_view deck_key : kDeckKeys) {
      if (key == deck_key) return true;
    }
    return is_numbered(key, "hotcue_", "_status");
  }
  if (is_numbered(group, "[Sampler", "]")) return key == "play";
  if (group == "[Main]") return key == "peak_indicator";
  if (group == "[AutoDJ]") return key == "enabled";
  if (group == "[Recording]") return key == "status";
  if (group == "[Shoutcast]") return key == "enabled" || key == "status";
  if (group == "[Microphone]") return key == "talkover";
  return false;
}

}  // namespace orvalin
