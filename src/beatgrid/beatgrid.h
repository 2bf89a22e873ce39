// Beat-grid tools: grid clicks through Kelvo's metronome effect in effect
// unit 4, grid moves, tempo tapping, the grid-offset report and the start-up
// clean-up. Run on the action worker (tap threads read last_tap only).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "controls/names.h"

namespace orvalin {

struct AppState;
class Bridge;

struct ClicksRecord {
  uint8_t deck = 0;
  int slot = 0;           // 1..4
  int64_t metronome = 0;  // the metronome's effect index
  bool loaded_by_us = false;
  double saved_slot_enabled = 0;
  double saved_mix = 0;
  double saved_mix_mode = 0;
  double saved_unit_enabled = 0;
};

// Guarded by AppState::beatgrid_mutex.
struct BeatgridState {
  std::optional<ClicksRecord> clicks;
  std::map<uint8_t, int32_t> move_totals;
  std::optional<std::chrono::steady_clock::time_point> last_tap;
};

// Read back after a change sent to the deck's beat grid: whether Kelvo
// ignored it, which it does to a locked grid; then "Grid is locked" has
// been said, and nothing may be said about the change.
Result<bool> grid_change_ignored(AppState& state, uint8_t deck);

// The state's beat-grid record, made on first use; beatgrid_mutex held.
BeatgridState& beatgrid_of(AppState& state);

Status toggle_grid_clicks(const std::shared_ptr<AppState>& state, uint8_t deck);
Status move_grid(const std::shared_ptr<AppState>& state, uint8_t deck,
                 int32_t step);
Status tap_tempo(const std::shared_ptr<AppState>& state, uint8_t deck);
Status say_grid_offset(AppState& state, uint8_t deck);

// Switches off grid clicks that an earlier run left on.
void clear_left_on_clicks(Bridge& bridge);

}  // namespace orvalin
