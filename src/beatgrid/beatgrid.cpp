#include "beatgrid/beatgrid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "applog/applog.h"
#include "base/sentences.h"
#include "base/thread.h"
#include "bridge/bridge.h"
#include "controls/appstate.h"
#include "controls/formats.h"
#include "controls/names.h"
#include "controls/pulse.h"

namespace orvalin {

namespace {

constexpr char kUnit[] = "[EffectRack1_EffectUnit4]";
constexpr char kMetronome[] = "org.kelvo.effects.metronome";
constexpr char kValue[] = "value";
constexpr int kSlots = 4;
constexpr int64_t kMillisecondsPerStep = 5;  // as Kelvo moves the grid

std::string slot_group(int slot) {
  return "[EffectRack1_EffectUnit4_Effect" + std::to_string(slot) + "]";
}

std::string unit_deck_key(uint8_t deck) {
  return "group_[Channel" + std::to_string(deck) + "]_enable";
}

// Kelvo reports the loaded effect as a floating-point control.
bool holds_effect(double loaded_effect, int64_t index) {
  return saturating_int64(std::round(loaded_effect)) == index;
}

Status set(Bridge& bridge, const std::string& group, const std::string& key,
           double value) {
  auto result = bridge.set(group, key, kValue, value);
  if (!result) return fail(std::move(result.error()));
  return {};
}

// The tools act only on a deck with a track; nothing is sent otherwise.
Status require_track(Bridge& bridge, uint8_t deck) {
  auto loaded = bridge.get(deck_group(deck), "track_loaded");
  if (!loaded) return fail(std::move(loaded.error()));
  if (*loaded == 0) return fail(std::string(kNoTrackLoaded));
  return {};
}

Status clicks_off(Bridge& bridge, const ClicksRecord& clicks,
                  std::chrono::milliseconds hold) {
  const std::string slot = slot_group(clicks.slot);
  if (auto s = set(bridge, kUnit, unit_deck_key(clicks.deck), 0); !s) return s;
  if (auto s = set(bridge, slot, "enabled", clicks.saved_slot_enabled); !s) {
    return s;
  }
  if (clicks.loaded_by_us) {
    if (auto s = pulse(bridge, slot, "clear", 1, hold); !s) return s;
  }
  if (auto s = set(bridge, kUnit, "mix", clicks.saved_mix); !s) return s;
  if (auto s = set(bridge, kUnit, "mix_mode", clicks.saved_mix_mode); !s) {
    return s;
  }
  return set(bridge, kUnit, "enabled", clicks.saved_unit_enabled);
}

Result<ClicksRecord> clicks_on(Bridge& bridge, uint8_t deck) {
  auto index = bridge.effect_index(kMetronome);
  if (!index) return fail(std::move(index.error()));
  if (*index == 0) {
    return fail(std::string(kMetronomeMissing));
  }

  ClicksRecord clicks;
  clicks.deck = deck;
  clicks.metronome = *index;
  int first_empty = 0;
  for (int s = 1; s <= kSlots && clicks.slot == 0; ++s) {
    const std::string group = slot_group(s);
    auto loaded = bridge.get(group, "loaded");
    if (!loaded) return fail(std::move(loaded.error()));
    auto effect = bridge.get(group, "loaded_effect");
    if (!effect) return fail(std::move(effect.error()));
    if (*loaded != 0 && holds_effect(*effect, *index)) {
      clicks.slot = s;
    } else if (*loaded == 0 && first_empty == 0) {
      first_empty = s;
    }
  }
  if (clicks.slot == 0) {
    if (first_empty == 0) {
      return fail(std::string(kEffectUnitFull));
    }
    auto s = set(bridge, slot_group(first_empty), "loaded_effect",
                 static_cast<double>(*index));
    if (!s) return fail(std::move(s.error()));
    clicks.slot = first_empty;
    clicks.loaded_by_us = true;
  }

  const std::string slot = slot_group(clicks.slot);
  struct Saved {
    const char* group;
    const char* key;
    double* into;
  };
  const Saved saves[] = {
      {slot.c_str(), "enabled", &clicks.saved_slot_enabled},
      {kUnit, "mix", &clicks.saved_mix},
      {kUnit, "mix_mode", &clicks.saved_mix_mode},
      {kUnit, "enabled", &clicks.saved_unit_enabled},
  };
  for (const Saved& save : saves) {
    auto value = bridge.get(save.group, save.key);
    if (!value) return fail(std::move(value.error()));
    *save.into = *value;
  }

  struct Setting {
    std::string group;
    std::string key;
    double value;
  };
  const Setting settings[] = {
      {slot, "button_parameter1", 1}, {slot, "enabled", 1},
      {kUnit, "mix_mode", 0},         {kUnit, "mix", 1},
      {kUnit, "enabled", 1},          {kUnit, unit_deck_key(deck), 1},
  };
  for (const Setting& setting : settings) {
    if (auto s = set(bridge, setting.group, setting.key, setting.value); !s) {
      return fail(std::move(s.error()));
    }
  }
  return clicks;
}

// Read back once the clicks are set up or taken down: whether they are
// heard, by the settings that make them heard. Kelvo answers a setting it
// does not take with the value it keeps, so only reading them tells.
Result<bool> clicks_heard(Bridge& bridge, const ClicksRecord& clicks) {
  const std::string slot = slot_group(clicks.slot);
  auto deck_sent = bridge.send_get(kUnit, unit_deck_key(clicks.deck));
  auto unit_sent = bridge.send_get(kUnit, "enabled");
  auto slot_sent = bridge.send_get(slot, "enabled");
  auto effect_sent = bridge.send_get(slot, "loaded_effect");
  bool heard = true;
  for (auto* sent : {&deck_sent, &unit_sent, &slot_sent}) {
    auto on = sent->wait();
    if (!on) return fail(std::move(on.error()));
    heard = heard && *on != 0;
  }
  auto effect = effect_sent.wait();
  if (!effect) return fail(std::move(effect.error()));
  return heard && holds_effect(*effect, clicks.metronome);
}

int32_t saturating_add(int32_t a, int32_t b) {
  const int64_t sum = int64_t{a} + b;
  return static_cast<int32_t>(
      std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()));
}

std::string move_sentence(int32_t step, int32_t total) {
  const int64_t ms = total * kMillisecondsPerStep;
  const bool later = step > 0;
  if (ms == 0) return std::string(later ? kGridLaterBack : kGridEarlierBack);
  if (ms > 0) {
    return fill(later ? kGridLaterPlus : kGridEarlierPlus,
                {std::to_string(ms)});
  }
  return fill(later ? kGridLaterMinus : kGridEarlierMinus,
              {std::to_string(-ms)});
}

}  // namespace

Result<bool> grid_change_ignored(AppState& state, uint8_t deck) {
  // The grid's position has no control of its own, and what shows it
  // (beat_distance) runs on with a playing deck by more than a step between
  // two reads; but Kelvo leaves a grid alone only while it is locked. Read
  // after the change, the lock tells whether Kelvo took it.
  auto locked = state.bridge->get(deck_group(deck), "bpmlock");
  if (!locked) return fail(std::move(locked.error()));
  if (*locked == 0) return false;
  state.speech.say(std::string(kGridLocked));
  return true;
}

BeatgridState& beatgrid_of(AppState& state) {
  if (!state.beatgrid) state.beatgrid = std::make_shared<BeatgridState>();
  return *state.beatgrid;
}

Status toggle_grid_clicks(const std::shared_ptr<AppState>& state,
                          uint8_t deck) {
  Bridge& bridge = *state->bridge;
  std::lock_guard lock(state->beatgrid_mutex);
  BeatgridState& grid = beatgrid_of(*state);

  // The record goes first: a failure while switching off must not leave the
  // program believing the clicks are still on.
  std::optional<ClicksRecord> previous = std::exchange(grid.clicks, {});
  if (previous) {
    if (auto s = clicks_off(bridge, *previous, state->timing.pulse_hold); !s) {
      return s;
    }
    // Only the deck's assignment is read back: the rest was put back as
    // the user had it.
    auto still = bridge.get(kUnit, unit_deck_key(previous->deck));
    if (!still) return fail(std::move(still.error()));
    if (*still != 0) {
      // Still heard: the next press tries again.
      grid.clicks = previous;
      state->speech.say(
          fill(kGridClicksNotOff, {std::to_string(previous->deck)}));
      return {};
    }
    if (previous->deck == deck) {
      state->speech.say(fill(kGridClicksOff, {std::to_string(deck)}));
      return {};
    }
  }

  auto clicks = clicks_on(bridge, deck);
  if (!clicks) return fail(std::move(clicks.error()));
  auto heard = clicks_heard(bridge, *clicks);
  if (!heard || !*heard) {
    // Half set up, the unit is put back as it was.
    if (auto s = clicks_off(bridge, *clicks, state->timing.pulse_hold); !s) {
      return s;
    }
    if (!heard) return fail(std::move(heard.error()));
    state->speech.say(fill(kGridClicksNotOn, {std::to_string(deck)}));
    return {};
  }
  grid.clicks = *clicks;
  grid.move_totals[deck] = 0;
  state->speech.say(fill(kGridClicksOn, {std::to_string(deck)}));
  return {};
}

Status move_grid(const std::shared_ptr<AppState>& state, uint8_t deck,
                 int32_t step) {
  Bridge& bridge = *state->bridge;
  if (auto s = require_track(bridge, deck); !s) return s;
  const std::string group = deck_group(deck);
  if (auto s = pulse(bridge, group, "beats_translate_move", step,
                     state->timing.pulse_hold);
      !s) {
    return s;
  }
  auto ignored = grid_change_ignored(*state, deck);
  if (!ignored) return fail(std::move(ignored.error()));
  if (*ignored) return {};

  int32_t total = 0;
  {
    std::lock_guard lock(state->beatgrid_mutex);
    int32_t& stored = beatgrid_of(*state).move_totals[deck];
    stored = saturating_add(stored, step);
    total = stored;
  }
  state->speech.say(move_sentence(step, total));
  return {};
}

Status tap_tempo(const std::shared_ptr<AppState>& state, uint8_t deck) {
  Bridge& bridge = *state->bridge;
  if (auto s = require_track(bridge, deck); !s) return s;
  const std::string group = deck_group(deck);
  if (auto s = pulse(bridge, group, "bpm_tap", 1, state->timing.pulse_hold);
      !s) {
    return s;
  }
  auto ignored = grid_change_ignored(*state, deck);
  if (!ignored) return fail(std::move(ignored.error()));
  if (*ignored) return {};

  const auto tapped_at = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(state->beatgrid_mutex);
    beatgrid_of(*state).last_tap = tapped_at;
  }

  // One short thread per tap; only the one whose tap is still the latest
  // after the quiet time speaks, so a run of taps gives one sentence.
  spawn_detached(
      "",
      [state, deck, tapped_at] {
        run_guarded("tempo-tap", [&] {
          std::this_thread::sleep_for(state->timing.tap_quiet);
          {
            std::lock_guard lock(state->beatgrid_mutex);
            if (beatgrid_of(*state).last_tap != tapped_at) return;
          }
          auto bpm = state->bridge->get(deck_group(deck), "file_bpm");
          if (!bpm) return;
          char number[64];
          std::snprintf(number, sizeof number, "%.2f", *bpm);
          state->speech.say(fill(kTapped, {localise_number(number)}));
        });
      },
      "failed to spawn thread");
  return {};
}

Status say_grid_offset(AppState& state, uint8_t deck) {
  Bridge& bridge = *state.bridge;
  if (auto s = require_track(bridge, deck); !s) return s;
  const std::string group = deck_group(deck);
  auto bpm = bridge.get(group, "file_bpm");
  if (!bpm) return fail(std::move(bpm.error()));
  auto distance = bridge.get(group, "beat_distance");
  if (!distance) return fail(std::move(distance.error()));

  // A NaN tempo is no grid either.
  if (!(*bpm > 0)) {
    state.speech.say(kNoBeatGrid);
    return {};
  }
  const double beat = 60000 / *bpm;
  const double after = *distance * beat;
  const double before = (1 - *distance) * beat;
  if (std::min(after, before) <= 2.0) {
    state.speech.say(kOnTheBeat);
  } else if (before >= after) {
    state.speech.say(fill(
        kAfterTheBeat, {std::to_string(saturating_int64(std::round(after)))}));
  } else {
    state.speech.say(
        fill(kBeforeTheBeat,
             {std::to_string(saturating_int64(std::round(before)))}));
  }
  return {};
}

void clear_left_on_clicks(Bridge& bridge) {
  // Start-up waits for this: the first reads go out together, so that it
  // waits for one reply time rather than five.
  auto index_sent = bridge.send_effect_index(kMetronome);
  std::vector<Bridge::Pending<double>> loaded_sent;
  for (int s = 1; s <= kSlots; ++s) {
    loaded_sent.push_back(bridge.send_get(slot_group(s), "loaded"));
  }
  auto index = index_sent.wait();
  std::vector<Result<double>> loaded;
  for (auto& sent : loaded_sent) loaded.push_back(sent.wait());
  if (!index || *index == 0) return;

  bool present = false;
  for (int s = 1; s <= kSlots && !present; ++s) {
    const Result<double>& slot_loaded = loaded[static_cast<size_t>(s - 1)];
    if (!slot_loaded || *slot_loaded == 0) continue;
    auto effect = bridge.get(slot_group(s), "loaded_effect");
    present = effect && holds_effect(*effect, *index);
  }
  if (!present) return;

  for (uint8_t deck = 1; deck <= kSlots; ++deck) {
    const std::string key = unit_deck_key(deck);
    auto enabled = bridge.get(kUnit, key);
    if (!enabled || *enabled == 0) continue;
    if (!bridge.set(kUnit, key, kValue, 0)) continue;
    log("grid clicks left on for deck " + std::to_string(deck) +
        " last time: turned off");
  }
}

}  // namespace orvalin
