#include "bridge/ranges.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "base/sentences.h"

namespace orvalin {

namespace {

// Kelvo's numbers in their shortest form: "3", "0.5", "-1", "1e+20".
std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

using Ranges =
    std::map<std::pair<std::string, std::string>, std::optional<ValueRange>>;

Ranges make_ranges() {
  const ValueRange kSwitch{0.0, 1.0};
  const ValueRange kFromZero{0.0, std::nullopt};
  const ValueRange kPosition{-1.0, std::nullopt};
  struct Row {
    const char* group;
    std::vector<const char*> keys;
    std::optional<ValueRange> range;
  };
  const Row rows[] = {
      {"[App]", {"num_decks"}, ValueRange{0.0, 4.0}},
      {"[App]", {"num_samplers"}, ValueRange{0.0, 64.0}},
      {"[ChannelN]",
       {"play",
        "track_loaded",
        "sync_enabled",
        "pfl",
        "keylock",
        "loop_enabled",
        "end_of_track",
        "peak_indicator",
        "hotcue_N_status",
        "hotcue_N_activate",
        "hotcue_N_clear",
        "cue_default",
        "eject",
        "LoadSelectedTrack",
        "beatjump_backward",
        "beatjump_forward",
        "beatloop_activate",
        "reloop_toggle",
        "loop_double",
        "loop_halve",
        "loop_in",
        "loop_out",
        "intro_start_activate",
        "outro_end_activate",
        "rate_perm_up_small",
        "rate_perm_down_small",
        "rate_set_zero",
        "pitch_up",
        "pitch_down",
        "reset_key",
        "sync_key",
        "beats_adjust_faster",
        "beats_adjust_slower",
        "beats_translate_curpos",
        "beats_set_halve",
        "beats_set_double",
        "beats_undo_adjustment",
        "bpmlock",
        "bpm_tap",
        "beat_distance"},
       kSwitch},
      {"[ChannelN]",
       {"beatloop_size", "time_elapsed", "time_remaining", "track_samplerate",
        "visual_bpm", "file_bpm"},
       kFromZero},
      {"[ChannelN]",
       {"hotcue_N_position", "loop_start_position", "loop_end_position",
        "intro_start_position", "outro_end_position"},
       kPosition},
      {"[ChannelN]", {"visual_key"}, ValueRange{0.0, 24.0}},
      {"[ChannelN]", {"beats_translate_move", "volume", "pregain"}, {}},
      {"[QuickEffectRack1_[ChannelN]]", {"super1"}, {}},
      {"[EqualizerRack1_[ChannelN]_Effect1]",
       {"parameter1", "parameter2", "parameter3"},
       {}},
      {"[Master]", {"crossfader"}, ValueRange{-1.0, 1.0}},
      {"[Main]", {"peak_indicator"}, kSwitch},
      {"[SamplerN]",
       {"play", "track_loaded", "cue_gotoandplay", "stop"},
       kSwitch},
      {"[PreviewDeck1]", {"play", "LoadSelectedTrackAndPlay"}, kSwitch},
      {"[Library]", {"focused_widget"}, {}},
      {"[Library]", {"AutoDjAddBottom"}, kSwitch},
      {"[AutoDJ]", {"enabled", "fade_now", "skip_next"}, kSwitch},
      {"[Recording]", {"toggle_recording"}, kSwitch},
      {"[Recording]", {"status"}, ValueRange{0.0, 2.0}},
      {"[Shoutcast]", {"enabled"}, kSwitch},
      {"[Shoutcast]", {"status"}, ValueRange{0.0, 3.0}},
      {"[Microphone]", {"talkover", "input_configured"}, kSwitch},
      {"[EffectRack1_EffectUnitU]",
       {"group_[ChannelN]_enable", "enabled", "mix", "mix_mode"},
       kSwitch},
      {"[EffectRack1_EffectUnitU_EffectS]",
       {"loaded", "enabled", "clear", "button_parameter1"},
       kSwitch},
      {"[EffectRack1_EffectUnitU_EffectS]", {"loaded_effect"}, kFromZero},
  };
  Ranges ranges;
  for (const Row& row : rows) {
    for (const char* key : row.keys) ranges[{row.group, key}] = row.range;
  }
  return ranges;
}

// Replaces the number after each `prefix` in `text` with `mark`.
std::string mark_numbers(std::string text, std::string_view prefix, char mark) {
  for (size_t at = text.find(prefix); at != std::string::npos;
       at = text.find(prefix, at + 1)) {
    const size_t digits = at + prefix.size();
    size_t end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > digits) text.replace(digits, end - digits, 1, mark);
  }
  return text;
}

}  // namespace

bool ValueRange::holds(double value) const {
  if (std::isnan(value)) return false;
  return (!low || value >= *low) && (!high || value <= *high);
}

std::string ValueRange::text() const {
  return (low ? number_text(*low) : "") + ".." +
         (high ? number_text(*high) : "");
}

const Ranges& contract_ranges() {
  static const Ranges ranges = make_ranges();
  return ranges;
}

std::string table_name(std::string_view name) {
  std::string text(name);
  text = mark_numbers(std::move(text), "[Channel", 'N');
  text = mark_numbers(std::move(text), "[Sampler", 'N');
  text = mark_numbers(std::move(text), "hotcue_", 'N');
  text = mark_numbers(std::move(text), "EffectUnit", 'U');
  return mark_numbers(std::move(text), "EffectUnitU_Effect", 'S');
}

std::optional<std::string> outside_range(const std::string& group,
                                         const std::string& key,
                                         std::string_view prop, double value) {
  std::optional<ValueRange> range;
  if (prop == "parameter") {
    range = ValueRange{0.0, 1.0};
  } else {
    const auto found =
        contract_ranges().find({table_name(group), table_name(key)});
    if (found != contract_ranges().end()) range = found->second;
  }
  if (!range || range->holds(value)) return std::nullopt;
  return fill(kOutsideRange, {number_text(value), group, key, range->text()});
}

}  // namespace orvalin
