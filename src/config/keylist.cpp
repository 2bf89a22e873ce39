#include "config/keylist.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "config/builtin.h"
#include "config/fileio.h"
#include "config/keys.h"
#include "config/text.h"

namespace orvalin {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 35>
    kControlNames = {{
        {"play", "play"},
        {"pfl", "headphones"},
        {"keylock", "key lock"},
        {"sync_enabled", "sync"},
        {"cue_default", "cue"},
        {"LoadSelectedTrack", "load selected track"},
        {"eject", "eject"},
        {"beatjump_backward", "beat jump back"},
        {"beatjump_forward", "beat jump forward"},
        {"beatloop_activate", "loop"},
        {"reloop_toggle", "reloop"},
        {"loop_double", "double loop size"},
        {"loop_halve", "halve loop size"},
        {"rate_perm_up_small", "tempo up"},
        {"rate_perm_down_small", "tempo down"},
        {"bpmlock", "grid lock"},
        {"beats_translate_curpos", "set a beat at the current position"},
        {"beats_undo_adjustment", "undo the last beat grid change"},
        {"beats_adjust_faster", "beat grid tempo faster"},
        {"beats_adjust_slower", "beat grid tempo slower"},
        {"beats_set_halve", "halve the BPM"},
        {"beats_set_double", "double the BPM"},
        {"quantize", "quantize"},
        {"slip_enabled", "slip mode"},
        {"pitch_up", "key up"},
        {"pitch_down", "key down"},
        {"reset_key", "reset the key"},
        {"sync_key", "match the key to the other deck"},
        {"rate_set_zero", "reset the tempo"},
        {"cue_gotoandplay", "play from the start"},
        {"toggle_recording", "recording"},
        {"talkover", "microphone"},
        {"AutoDjAddBottom", "add the selected track to the Auto DJ queue"},
        {"fade_now", "Auto DJ: fade to the next track now"},
        {"skip_next", "Auto DJ: skip the next track"},
    }};

std::string_view say_description(SayWhat what) {
  switch (what) {
    case SayWhat::status:
      return "say deck status";
    case SayWhat::track:
      return "say track title and artist";
    case SayWhat::time:
      return "say elapsed and remaining time";
    case SayWhat::tempo:
      return "say tempo and key";
    case SayWhat::grid_offset:
      return "say how far the playhead is from the beat grid on the current "
             "deck";
    case SayWhat::selected_track:
      return "say the track selected in the library";
    case SayWhat::hotcues:
      return "say the hotcues of the current deck";
    case SayWhat::effects:
      return "say what is in the effect units";
  }
  return "say deck status";
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

std::string deck_suffix(const std::string& description,
                        const ControlTarget& target) {
  const std::string& group = target.group;
  if (group.find("{deck}") != std::string::npos) return " on the current deck";
  if (target.control.find("{deck}") != std::string::npos) {
    return " for the current deck";
  }
  const auto numbered =
      [&](std::string_view prefix, std::string_view word,
          std::string_view joint) -> std::optional<std::string> {
    if (group.size() < 9 || !group.starts_with(prefix) ||
        !group.ends_with("]")) {
      return std::nullopt;
    }
    const std::string number =
        group.substr(prefix.size(), group.size() - prefix.size() - 1);
    if (description.find(std::string(word) + " " + number) !=
        std::string::npos) {
      return std::string();
    }
    return std::string(joint) + number;
  };
  if (auto suffix = numbered("[Channel", "deck", " on deck ")) return *suffix;
  if (auto suffix = numbered("[Sampler", "sampler", ", sampler ")) {
    return *suffix;
  }
  return {};
}

std::string name_of(const std::optional<std::string>& label,
                    const ControlTarget& target) {
  return label ? *label : control_description(target.control);
}

std::string with_suffix(std::string description, const ControlTarget& target) {
  description += deck_suffix(description, target);
  return description;
}

// The section title of every built-in binding, in order (see the key list).
std::vector<std::string> section_titles(std::string_view text) {
  std::vector<std::string> titles;
  std::string current = "Deck selection";
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
    if (name == control) return std::string(spoken);
  }
  constexpr std::string_view kHotcue = "hotcue_";
  constexpr std::string_view kActivate = "_activate";
  constexpr std::string_view kClear = "_clear";
  if (control.starts_with(kHotcue) && control.size() >= 16 &&
      control.ends_with(kActivate)) {
    return "hotcue " +
           std::string(control.substr(
               kHotcue.size(),
               control.size() - kHotcue.size() - kActivate.size())) +
           ", set or jump";
  }
  if (control.starts_with(kHotcue) && control.size() >= 13 &&
      control.ends_with(kClear)) {
    return "clear hotcue " +
           std::string(
               control.substr(kHotcue.size(),
                              control.size() - kHotcue.size() - kClear.size()));
  }
  return cfgtext::replace_all(control, "_", " ");
}

namespace act {

std::string SelectDeck::describe() const {
  return "select deck " + std::to_string(deck);
}

std::string Toggle::describe() const {
  return with_suffix(name_of(label, target) + " on or off", target);
}

std::string Press::describe() const {
  return with_suffix(name_of(label, target), target);
}

std::string Set::describe() const {
  if (label) return with_suffix(*label, target);
  return with_suffix("set " + control_description(target.control) + " to " +
                         number_text(value),
                     target);
}

std::string Adjust::describe() const {
  const bool up = step > 0;
  const char* direction = format == ValueFormat::balance
                              ? (up ? "right" : "left")
                              : (up ? "up" : "down");
  return with_suffix(label + " " + direction, target);
}

std::string Say::describe() const { return std::string(say_description(what)); }

std::string SayControl::describe() const { return "say " + label; }

std::string BeatgridMove::describe() const {
  // In 64 bits: five times the most negative step must not wrap.
  const int64_t milliseconds = 5 * std::llabs(int64_t{step});
  return "move the beat grid " + std::to_string(milliseconds) +
         " milliseconds " + (step > 0 ? "later" : "earlier") +
         " on the current deck";
}

std::string Marker::describe() const { return label + " on the current deck"; }

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

Result<std::string> key_list_text() {
  const std::string_view builtin = builtin_config_text();
  const std::vector<std::string> titles = section_titles(builtin);
  auto config = parse_config(builtin, "built-in settings");
  if (!config) return fail(std::move(config.error()));

  const std::string title = "Orvalin - default keys";
  std::string text = title + "\n" + std::string(title.size(), '=') + "\n\n";
  text +=
      "These keys work while a Kelvo window is in the foreground.\n"
      "\"Current deck\" is the deck chosen with Ctrl+Alt+1 to Ctrl+Alt+4.\n"
      "Press Ctrl+Alt+F12 in Kelvo to hear what any key does without using "
      "it.\n"
      "Change keys in the settings file, %APPDATA%\\Orvalin\\config.toml on "
      "Windows,\n~/.config/orvalin/config.toml on Linux.\n";
  const std::string layer = key_display_name(kDefaultLayerKey);
  text +=
      "\nThe Orvalin layer\n-----------------\n"
      "Press " +
      layer +
      " in Kelvo, hear \"Orvalin\", then press any key "
      "below\nwithout Ctrl+Alt: 2 for Ctrl+Alt+2, Shift+L for "
      "Ctrl+Alt+Shift+L, F12 for\nCtrl+Alt+F12. Escape cancels. Use it "
      "where Ctrl+Alt and a key types a\ncharacter on your keyboard "
      "(AltGr on German, French, Spanish, Polish and\nother layouts), and "
      "on Linux for Ctrl+Alt+F1 to F12, which the X server\nkeeps. "
      "The settings file's layer_key changes the layer key.\n";
  const std::string* previous = nullptr;
  static const std::string kOther = "Other";
  for (size_t i = 0; i < config->keys.size(); ++i) {
    const Binding& binding = config->keys[i];
    auto action = validate_binding(binding);
    if (!action) return fail(std::move(action.error()));
    const std::string& section = i < titles.size() ? titles[i] : kOther;
    if (previous == nullptr || *previous != section) {
      text += "\n" + section + "\n" + std::string(section.size(), '-') + "\n";
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
