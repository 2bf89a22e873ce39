// The eight spoken reports of the say action.

#include "actions/reports.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions/late.h"
#include "base/sentences.h"
#include "beatgrid/beatgrid.h"
#include "controls/formats.h"
#include "controls/names.h"
#include "controls/track.h"

namespace orvalin {

namespace {

std::string join(const std::vector<std::string>& parts,
                 std::string_view separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += separator;
    text += parts[i];
  }
  return text;
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

// Reads the deck's "track_loaded": false (and the sentence spoken) when the
// deck is empty.
Result<bool> check_deck_loaded(AppState& state, uint8_t deck) {
  auto loaded = state.bridge->get(deck_group(deck), "track_loaded");
  if (!loaded) return fail(loaded.error());
  if (*loaded == 0) {
    state.speech.say(fill(kDeckEmpty, {std::to_string(deck)}));
    return false;
  }
  return true;
}

template <size_t>
using Double = double;

template <size_t N, size_t... I>
Status say_deck_values(
    AppState& state, uint8_t deck, const std::array<const char*, N>& keys,
    std::function<std::string(const std::array<double, N>&)> phrase,
    std::index_sequence<I...>) {
  const std::string group = deck_group(deck);
  auto said = LateSentence<double, Double<I>...>::make(
      state.speech, [deck, phrase = std::move(phrase)](
                        const double& loaded, const Double<I>&... values) {
        if (loaded == 0) return fill(kDeckEmpty, {std::to_string(deck)});
        return phrase({values...});
      });
  Bridge& bridge = *state.bridge;
  auto loaded =
      bridge.send_get(group, "track_loaded", "value", said->template late<0>());
  std::array<Bridge::Pending<double>, N> sent{bridge.send_get(
      group, keys[I], "value", said->template late<I + 1>())...};
  return said->say(loaded.wait(), sent[I].wait()...);
}

// A deck report of the deck's controls `keys`: they go out together with
// its track_loaded, so that the sentence comes even when Kelvo answers
// late; an empty deck says so instead.
template <size_t N>
Status say_deck_values(
    AppState& state, uint8_t deck, const std::array<const char*, N>& keys,
    std::function<std::string(const std::array<double, N>&)> phrase) {
  return say_deck_values(state, deck, keys, std::move(phrase),
                         std::make_index_sequence<N>{});
}

Status say_status(AppState& state, uint8_t deck) {
  return say_deck_values<4>(
      state, deck, {"play", "time_remaining", "visual_bpm", "visual_key"},
      [deck](const std::array<double, 4>& v) {
        return fill(v[0] != 0 ? kDeckStatusPlaying : kDeckStatusPaused,
                    {std::to_string(deck), format_time(v[1]),
                     format_value(ValueFormat::bpm, v[2]),
                     format_value(ValueFormat::key, v[3])});
      });
}

Status say_time(AppState& state, uint8_t deck) {
  return say_deck_values<2>(
      state, deck, {"time_elapsed", "time_remaining"},
      [](const std::array<double, 2>& v) {
        return fill(kElapsedRemaining, {format_time(v[0]), format_time(v[1])});
      });
}

Status say_tempo(AppState& state, uint8_t deck) {
  return say_deck_values<2>(
      state, deck, {"visual_bpm", "visual_key"},
      [](const std::array<double, 2>& v) {
        return fill(kTempo, {format_value(ValueFormat::bpm, v[0]),
                             format_value(ValueFormat::key, v[1])});
      });
}

Status say_track(AppState& state, uint8_t deck) {
  return say_deck_track(state, deck,
                        [deck](bool loaded, const std::string& description) {
                          if (!loaded)
                            return fill(kDeckEmpty, {std::to_string(deck)});
                          if (description.empty())
                            return std::string(kNoTrackInformation);
                          return description;
                        });
}

Status say_selected_track(AppState& state) {
  auto track = state.bridge->selected_track();
  if (!track) return fail(track.error());
  auto field = [&](const std::string& name) -> std::optional<std::string> {
    auto it = track->fields.find(name);
    if (it == track->fields.end()) return std::nullopt;
    std::string_view text = trim(it->second);
    if (text.empty() || text == "-") return std::nullopt;
    return std::string(text);
  };
  std::optional<std::string> title = field("title");
  std::optional<std::string> artist = field("artist");

  std::vector<std::string> parts;
  if (title && artist) {
    parts.push_back(fill(kTitleByArtist, {*title, *artist}));
  } else if (title) {
    parts.push_back(*title);
  } else if (artist) {
    parts.push_back(fill(kByArtist, {*artist}));
  } else {
    parts.push_back(std::string(kUntitled));
  }

  std::vector<std::string> details;
  if (std::optional<std::string> bpm_text = field("bpm")) {
    double bpm = 0;
    const char* end = bpm_text->data() + bpm_text->size();
    auto [ptr, ec] = std::from_chars(bpm_text->data(), end, bpm);
    if (ec == std::errc() && ptr == end && std::isfinite(bpm) && bpm > 0) {
      details.push_back(format_value(ValueFormat::bpm, bpm));
    }
  }
  if (std::optional<std::string> key = field("key")) {
    details.push_back(fill(kMusicalKeyOf, {*key}));
  }
  if (std::optional<std::string> duration = field("duration")) {
    details.push_back(*duration);
  }
  if (!details.empty()) parts.push_back(join(details, kListSeparator));

  if (track->rows != 0) {
    parts.push_back(fill(
        kTrackRow, {std::to_string(track->row), std::to_string(track->rows)}));
  }
  state.speech.say(join(parts, kSentenceSeparator));
  return {};
}

Status say_hotcues(AppState& state, uint8_t deck) {
  std::string group = deck_group(deck);
  auto rate = state.bridge->get(group, "track_samplerate");
  if (!rate) return fail(rate.error());
  std::vector<std::string> entries;
  for (int n = 1; n <= 8; ++n) {
    std::string prefix = "hotcue_" + std::to_string(n);
    auto status = state.bridge->get(group, prefix + "_status");
    if (!status) return fail(status.error());
    if (*status == 0) continue;
    auto position = state.bridge->get(group, prefix + "_position");
    if (!position) return fail(position.error());
    if (*rate > 0 && *position != -1) {
      entries.push_back(
          fill(kHotcueNumberAt,
               {std::to_string(n),
                format_time(std::max(0.0, *position / *rate * 0.5))}));
    } else {
      entries.push_back(fill(kHotcueNumber, {std::to_string(n)}));
    }
  }
  if (entries.empty()) {
    state.speech.say(fill(kNoHotcues, {std::to_string(deck)}));
  } else {
    state.speech.say(
        fill(kHotcues, {std::to_string(deck), join(entries, kListSeparator)}));
  }
  return {};
}

Result<std::string> effect_unit_sentence(AppState& state, int unit,
                                         int deck_count) {
  std::string unit_group =
      "[EffectRack1_EffectUnit" + std::to_string(unit) + "]";
  std::vector<std::string> decks;
  for (int k = 1; k <= deck_count; ++k) {
    auto enabled = state.bridge->get(
        unit_group, "group_[Channel" + std::to_string(k) + "]_enable");
    if (enabled && *enabled != 0) decks.push_back(std::to_string(k));
  }

  std::vector<std::string> entries;
  for (int slot = 1; slot <= 3; ++slot) {
    std::string slot_group = "[EffectRack1_EffectUnit" + std::to_string(unit) +
                             "_Effect" + std::to_string(slot) + "]";
    auto loaded = state.bridge->get(slot_group, "loaded");
    if (!loaded) return fail(loaded.error());
    if (*loaded == 0) continue;
    auto effect = state.bridge->get(slot_group, "loaded_effect");
    if (!effect) return fail(effect.error());
    double index = std::isnan(*effect) ? 0 : std::round(*effect);
    // Saturate rather than convert out of range (undefined behaviour).
    int64_t whole = index >= 9.2e18    ? INT64_MAX
                    : index <= -9.2e18 ? INT64_MIN
                                       : static_cast<int64_t>(index);
    auto name = state.bridge->effect_name(whole);
    if (!name) return fail(name.error());
    auto enabled = state.bridge->get(slot_group, "enabled");
    if (!enabled) return fail(enabled.error());
    entries.push_back(fill(kEffectState, {*name, on_off(*enabled)}));
  }

  const std::string number = std::to_string(unit);
  const std::string effects =
      entries.empty() ? std::string(kEmpty) : join(entries, kListSeparator);
  if (decks.empty()) return fill(kEffectUnit, {number, effects});
  return fill(kEffectUnitOnDecks.of(decks.size()),
              {number, join(decks, kAndSeparator), effects});
}

Status say_effects(AppState& state) {
  auto num_decks = state.bridge->get("[App]", "num_decks");
  int deck_count =
      num_decks ? static_cast<int>(round_clamped(*num_decks, 0, 255)) : 2;
  std::vector<std::string> sentences;
  for (int unit = 1; unit <= 2; ++unit) {
    auto sentence = effect_unit_sentence(state, unit, deck_count);
    if (!sentence) return fail(sentence.error());
    sentences.push_back(std::move(*sentence));
  }
  state.speech.say(join(sentences, kSentenceSeparator));
  return {};
}

}  // namespace

Status say_deck_track(AppState& state, uint8_t deck, DeckTrackPhrase phrase) {
  using Labels = std::vector<DeckLabel>;
  auto said = LateSentence<double, std::string>::make(
      state.speech, [phrase = std::move(phrase)](
                        const double& loaded, const std::string& description) {
        return phrase(loaded != 0, description);
      });
  Bridge& bridge = *state.bridge;
  auto loaded_sent = bridge.send_get(deck_group(deck), "track_loaded", "value",
                                     said->late<0>());
  // A plugin without deck labels leaves the description empty, as a skin
  // that shows none does. Late, no request can complete a shortened label:
  // it is said as the skin shows it.
  auto labels_sent =
      bridge.send_deck_info(deck, [late = said->late<1>()](Result<Labels> got) {
        late(got ? describe_labels(*got, nullptr) : std::string());
      });
  Result<double> loaded = loaded_sent.wait();
  Result<Labels> labels = labels_sent.wait();
  Result<std::string> description = std::string();
  if (labels && loaded && *loaded != 0) {
    Result<SelectedTrack> track = fail(std::string());
    if (any_shortened(*labels)) track = bridge.selected_track();
    description = describe_labels(*labels, track ? &*track : nullptr);
  } else if (!labels && labels.error() == kNoAnswer) {
    description = fail(std::move(labels.error()));
  }
  return said->say(std::move(loaded), std::move(description));
}

Status say_report(AppState& state, SayWhat what, uint8_t deck) {
  switch (what) {
    case SayWhat::selected_track:
      return say_selected_track(state);
    case SayWhat::effects:
      return say_effects(state);
    case SayWhat::status:
      return say_status(state, deck);
    case SayWhat::track:
      return say_track(state, deck);
    case SayWhat::time:
      return say_time(state, deck);
    case SayWhat::tempo:
      return say_tempo(state, deck);
    case SayWhat::grid_offset:
    case SayWhat::hotcues:
      break;
  }
  auto loaded = check_deck_loaded(state, deck);
  if (!loaded) return fail(loaded.error());
  if (!*loaded) return {};
  if (what == SayWhat::grid_offset) return say_grid_offset(state, deck);
  return say_hotcues(state, deck);
}

}  // namespace orvalin
