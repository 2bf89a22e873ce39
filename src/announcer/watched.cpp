// Which controls the announcer speaks about. The action worker asks this so
// that a successful toggle of such a control is spoken once, by the
// announcer, rather than twice.

#include <string_view>

#include "announcer/announcer.h"

namespace orvalin {

namespace {

// A deck, sampler or hot-cue number as Kelvo's group and key names carry it:
// digits only, leading zeros allowed, an optional leading "+", value 0..255.
bool is_small_number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return false;
  }
  return true;
}

// Whether `text` is prefix + number + suffix with a number as above.
bool is_numbered(std::string_view text, std::string_view prefix,
                 std::string_view suffix) {
  if (text.size() < prefix.size() + suffix.size()) return false;
  if (!text.starts_with(prefix) || !text.ends_with(suffix)) return false;
  text.remove_prefix(prefix.size());
  text.remove_suffix(suffix.size());
  return is_small_number(text);
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
