#include "config/keylist.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/sentences.h"
#include "base/utf.h"
#include "config/builtin.h"
#include "config/fileio.h"
#include "config/keys.h"
#include "config/text.h"

namespace orvalin {

namespace {

// Kelvo's controls by what they do, as key help and the key list say it.
constexpr std::array<std::pair<std::string_view, Text>, 35> kControlNames = {{
    {"play", msg("play")},
    {"pfl", msg("headphones")},
    {"keylock", msg("key lock")},
    {"sync_enabled", msg("sync")},
    {"cue_default", msg("cue")},
    {"LoadSelectedTrack", msg("load selected track")},
    {"eject", msg("eject")},
    {"beatjump_backward", msg("beat jump back")},
    {"beatjump_forward", msg("beat jump forward")},
    {"beatloop_activate", msg("loop")},
    {"reloop_toggle", msg("reloop")},
    {"loop_double", msg("double loop size")},
    {"loop_halve", msg("halve loop size")},
    {"rate_perm_up_small", msg("tempo up")},
    {"rate_perm_down_small", msg("tempo down")},
    {"bpmlock", msg("grid lock")},
    {"beats_translate_curpos", msg("set a beat at the current position")},
    {"beats_undo_adjustment", msg("undo the last beat grid change")},
    {"beats_adjust_faster", msg("beat grid tempo faster")},
    {"beats_adjust_slower", msg("beat grid tempo slower")},
    {"beats_set_halve", msg("halve the BPM")},
    {"beats_set_double", msg("double the BPM")},
    {"quantize", msg("quantize")},
    {"slip_enabled", msg("slip mode")},
    {"pitch_up", msg("key up")},
    {"pitch_down", msg("key down")},
    {"reset_key", msg("reset the key")},
    {"sync_key", msg("match the key to the other deck")},
    {"rate_set_zero", msg("reset the tempo")},
    {"cue_gotoandplay", msg("play from the start")},
    {"toggle_recording", msg("recording")},
    {"talkover", msg("microphone")},
    {"AutoDjAddBottom", msg("add the selected track to the Auto DJ queue")},
    {"fade_now", msg("Auto DJ: fade to the next track now")},
    {"skip_next", msg("Auto DJ: skip the next track")},
}};

Text say_description(SayWhat what) {
  switch (what) {
    case SayWhat::status:
      return msg("say deck status");
    case SayWhat::track:
      return msg("say track title and artist");
    case SayWhat::time:
      return msg("say elapsed and remaining time");
    case SayWhat::tempo:
      return msg("say tempo and key");
    case SayWhat::grid_offset:
      return msg(
          "say how far the playhead is from the beat grid on the current "
          "deck");
    case SayWhat::selected_track:
      return msg("say the track selected in the library");
    case SayWhat::hotcues:
      return msg("say the hotcues of the current deck");
    case SayWhat::effects:
      return msg("say what is in the effect units");
  }
  return msg("say deck status");
}

// A value as the "number" format speaks it: rounded to three decimals,
// without decimals when whole. Kept here so that the configuration does not
// depend on the action code.
std::string number_text(double value) {
  if (std::isnan(value)) return "NaN";
  const double rounded = std::round(value * 1000) / 1000;
  if (std::trunc(rounded) == rounded) {
    int64_t whole = 0;
    if (rounded >= 9223372036854775807.0) {
      whole = std::numeric_limits<int64_t>::max();
    } else if (rounded <= -9223372036854775808.0) {
      whole = std::numeric_limits<int64_t>::min();
    } else {
      whole = static_cast<int64_t>(rounded);
    }
    return std::to_string(whole);
  }
  char buffer[400];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer,
                                          rounded, std::chars_format::fixed);
  if (error != std::errc()) return std::to_string(rounded);
  return std::string(buffer, end);
}

// `description` with the deck or sampler its target is on, unless it names
// it already ("load the selected track to deck 2"). The check reads the
// English words of labels as the settings file has them.
std::string with_suffix(std::string description, std::string_view english,
                        const ControlTarget& target) {
  const std::string& group = target.group;
  if (group.find("{deck}") != std::string::npos) {
    return fill(kOnCurrentDeck, {description});
  }
  if (target.control.find("{deck}") != std::string::npos) {
    return fill(kForCurrentDeck, {description});
  }
  const auto numbered = [&](std::string_view prefix, std::string_view word,
                            Text sentence) -> std::optional<std::string> {
    if (group.size() < 9 || !group.starts_with(prefix) ||
        !group.ends_with("]")) {
      return std::nullopt;
    }
    const std::string number =
        group.substr(prefix.size(), group.size() - prefix.size() - 1);
    if (english.find(std::string(word) + " " + number) != std::string::npos) {
      return description;
    }
    return fill(sentence, {description, number});
  };
  if (auto out = numbered("[Channel", "deck", kOnDeck)) return *out;
  if (auto out = numbered("[Sampler", "sampler", kOnSampler)) return *out;
  return description;
}

// A binding's label as spoken, or what its control does.
std::string name_of(const std::optional<std::string>& label,
                    const ControlTarget& target) {
  return label ? label_text(*label) : control_description(target.control);
}

// The same in English words, for with_suffix's check: a control named
// "deck_1_gain" says its deck already.
std::string english_of(const std::optional<std::string>& label,
                       const ControlTarget& target) {
  return label ? *label : cfgtext::replace_all(target.control, "_", " ");
}

// The title of the keys before the first titled section of the built-in
// settings.
constexpr Text kFirstSection = msg_c("key list section", "Deck selection");

// The section title of every built-in binding, in order (see the key list).
std::vector<std::string> section_titles(std::string_view text) {
  std::vector<std::string> titles;
  std::string current(kFirstSection.english);
  for (std::string_view line : cfgtext::split_lines(text)) {
    line = cfgtext::trim(line);
    if (line.starts_with("# ---")) {
      std::string_view rest = line.substr(5);
      // Dashes and white space may alternate at either end.
      for (;;) {
        const size_t before = rest.size();
        rest = cfgtext::trim(rest);
        while (!rest.empty() && rest.front() == '-') rest.remove_prefix(1);
        while (!rest.empty() && rest.back() == '-') rest.remove_suffix(1);
        if (rest.size() == before) break;
      }
      if (!rest.empty()) current = std::string(rest);
    } else if (line == "[[keys]]") {
      titles.push_back(current);
    }
  }
  return titles;
}

}  // namespace

std::string control_description(std::string_view control) {
  for (const auto& [name, spoken] : kControlNames) {
    if (name == control) return std::string(std::string_view(spoken));
  }
  constexpr std::string_view kHotcue = "hotcue_";
  constexpr std::string_view kActivate = "_activate";
  constexpr std::string_view kClear = "_clear";
  if (control.starts_with(kHotcue) && control.size() >= 16 &&
      control.ends_with(kActivate)) {
    return fill(
        kHotcueSetOrJump,
        {control.substr(kHotcue.size(),
                        control.size() - kHotcue.size() - kActivate.size())});
  }
  if (control.starts_with(kHotcue) && control.size() >= 13 &&
      control.ends_with(kClear)) {
    return fill(kClearHotcue, {control.substr(kHotcue.size(),
                                              control.size() - kHotcue.size() -
                                                  kClear.size())});
  }
  return cfgtext::replace_all(control, "_", " ");
}

std::string label_text(std::string_view label) {
  return std::string(translate("label", label));
}

namespace act {

std::string SelectDeck::describe() const {
  return fill(kSelectDeckKey, {std::to_string(deck)});
}

std::string Toggle::describe() const {
  return with_suffix(fill(kOnOrOff, {name_of(label, target)}),
                     english_of(label, target), target);
}

std::string Press::describe() const {
  return with_suffix(name_of(label, target), english_of(label, target), target);
}

std::string Set::describe() const {
  if (label) return with_suffix(label_text(*label), *label, target);
  return with_suffix(fill(kSetTo, {control_description(target.control),
                                   localise_number(number_text(value))}),
                     english_of(label, target), target);
}

std::string Adjust::describe() const {
  const bool up = step > 0;
  const Text direction = format == ValueFormat::balance
                             ? (up ? kAdjustRight : kAdjustLeft)
                             : (up ? kAdjustUp : kAdjustDown);
  return with_suffix(fill(direction, {label_text(label)}), label, target);
}

std::string Say::describe() const { return std::string(say_description(what)); }

std::string SayControl::describe() const {
  return fill(kSayLabel, {label_text(label)});
}

std::string BeatgridMove::describe() const {
  // In 64 bits: five times the most negative step must not wrap.
  const int64_t milliseconds = 5 * std::llabs(int64_t{step});
  return fill(step > 0 ? kMoveGridLater : kMoveGridEarlier,
              {std::to_string(milliseconds)});
}

std::string Marker::describe() const {
  return fill(kOnCurrentDeck, {label_text(label)});
}

}  // namespace act

std::string describe_action(const Action& action) {
  return std::visit(
      [](const auto& kind) -> std::string {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_empty_v<Kind>) {
          return std::string(Kind::kDescription);
        } else {
          return kind.describe();
        }
      },
      action);
}

// Characters, not bytes: an underline as long as its title.
size_t shown_length(std::string_view text) {
  return static_cast<size_t>(std::ranges::count_if(text, [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string titled(std::string_view title, char line) {
  return std::string(title) + "\n" + std::string(shown_length(title), line) +
         "\n";
}

Result<std::string> key_list_text() {
  const std::string_view builtin = builtin_config_text();
  const std::vector<std::string> titles = section_titles(builtin);
  auto config = parse_config(builtin, "built-in settings");
  if (!config) return fail(std::move(config.error()));

  std::string text = titled(kKeyListTitle, '=') + "\n";
  text += std::string_view(kKeyListIntro);
  text += "\n" + titled(kKeyListLayerTitle, '-') +
          fill(kKeyListLayer, {key_display_name(kDefaultLayerKey)});
  const std::string* previous = nullptr;
  static const std::string kOther(kKeyListOther.english);
  for (size_t i = 0; i < config->keys.size(); ++i) {
    const Binding& binding = config->keys[i];
    auto action = validate_binding(binding);
    if (!action) return fail(std::move(action.error()));
    const std::string& section = i < titles.size() ? titles[i] : kOther;
    if (previous == nullptr || *previous != section) {
      text += "\n" + titled(translate("key list section", section), '-');
    }
    previous = &section;
    text +=
        key_display_name(binding.key) + ": " + describe_action(*action) + "\n";
  }
  return cfgtext::replace_all(text, "\n", "\r\n");
}

Status write_key_list(std::string_view path) {
  auto text = key_list_text();
  if (!text) return fail(std::move(text.error()));
  if (auto written = cfgfile::write_file(utf8_to_path(path), *text); !written) {
    return fail("cannot write " + std::string(path) + ": " + written.error());
  }
  return {};
}

}  // namespace orvalin
