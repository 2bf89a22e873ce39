// AppState: what the action worker, the announcer, the time warnings and the
// beat-grid tools share. Created once at start-up and shared by
// std::shared_ptr; every field says how it may be used across threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/timing.h"
#include "bridge/bridge.h"
#include "speech/speech.h"

namespace orvalin {

using Clock = std::chrono::steady_clock;

// The beat-grid tools' state; the beat-grid module defines it and makes it on
// first use.
struct BeatgridState;

// A toggle that did not take effect: its control's changes are not
// announced until the deadline.
struct PendingToggle {
  std::string group;
  std::string control;
  Clock::time_point deadline;
};

struct AppState {
  AppState(Speech speech_handle, std::shared_ptr<Bridge> bridge_handle,
           Timing timing_value = {})
      : speech(std::move(speech_handle)),
        bridge(std::move(bridge_handle)),
        timing(timing_value) {}

  const Speech speech;                   // copyable sender; any thread
  const std::shared_ptr<Bridge> bridge;  // thread-safe
  const Timing timing;                   // the run's waits; any thread

  std::mutex beatgrid_mutex;  // guards beatgrid; held for a whole grid action
  std::shared_ptr<BeatgridState> beatgrid;

  std::mutex hotcue_mutex;  // guards hotcue_quiet_until; held for one access
  Clock::time_point hotcue_quiet_until = Clock::now();

  std::mutex pending_mutex;  // guards pending_toggle; held for one access
  std::optional<PendingToggle> pending_toggle;

  std::atomic<uint8_t> current_deck{1};
  // The decks Kelvo has, read at start-up and followed by the announcer;
  // 0 while unknown.
  std::atomic<uint8_t> deck_count{0};
  // Set by whoever tells the lost connection first (start-up or the
  // announcer), with exchange: it is told once.
  std::atomic<uint8_t> lost_told{0};
  // 1 when the plugin was found at start-up to read parameters on a wrong
  // scale: the keys that step a value then send nothing. Set before the
  // keys work.
  std::atomic<uint8_t> scale_wrong{0};
  std::atomic<uint8_t> announce{1};  // 0 off, 1 on; flipped with fetch_xor
  std::atomic<uint8_t> key_help{0};  // 0 off, 1 on; flipped with fetch_xor
  // Told each new key-help state (actions thread), so that keys left to
  // typing can be pressed for their help. Set before the threads start.
  std::function<void(bool on)> key_help_changed;
  // Whether Kelvo still runs (any thread); none: counted as running. Set
  // before the threads start.
  std::function<bool()> kelvo_running;

  bool kelvo_still_running() const { return !kelvo_running || kelvo_running(); }
};

}  // namespace orvalin
