// Announcements of watched control changes (thread "announcer") and the
// one-minute warnings (thread "time-warnings").
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "actions/appstate.h"
#include "base/channel.h"
#include "bridge/bridge.h"

namespace orvalin {

// The number N of a name prefix + N + suffix ("[Channel" N "]",
// "hotcue_" N "_status"): digits only, leading zeros and a leading "+"
// allowed, value 0..255.
std::optional<unsigned> numbered_name(std::string_view text,
                                      std::string_view prefix,
                                      std::string_view suffix);

// A deck or sampler count as Kelvo reports it, rounded into 0..255.
uint8_t rounded_count(double value);

// Whether the announcer speaks changes of this control (a toggle of such a
// control leaves the sentence to the announcer).
bool is_watched_control(std::string_view group, std::string_view key);

// Watches every control of decks first..last into `last_values`.
void watch_decks(Bridge& bridge, uint8_t first, uint8_t last,
                 LastValues& last_values);

// Registers the watched controls at start-up and collects their values.
LastValues setup_watches(Bridge& bridge);

// What the announcer knows and decides, one change at a time. Owned by the
// announcer thread (or a test); not thread-safe.
class Announcer {
 public:
  Announcer(std::shared_ptr<AppState> state, LastValues last_values);

  // Records the change and returns the sentence it deserves, if any. May
  // read Kelvo and wait (150 ms for a hot cue, 300 ms for a new track,
  // 250 ms for the Auto DJ switch).
  std::optional<std::string> decide(const Changed& change);

  const LastValues& last_values() const { return last_values_; }

 private:
  using ControlKey = std::pair<std::string, std::string>;

  // Whether a toggle of this control just failed (its flicker is silent).
  bool toggle_failed(const Changed& change) const;
  std::optional<std::string> choose(const Changed& change,
                                    std::optional<double> previous);
  std::optional<std::string> clipping(const std::string& group);
  std::optional<std::string> deck_change(unsigned deck, const Changed& change,
                                         std::optional<double> previous);

  std::shared_ptr<AppState> state_;
  LastValues last_values_;
  std::map<ControlKey, bool> hotcue_states_;  // whether the hot cue is set
  std::map<std::string, Clock::time_point> last_clip_;
};

// The announcer loop: until Disconnected or the channel closes.
void run_announcer(std::shared_ptr<AppState> state,
                   Receiver<BridgeEvent> events, LastValues last_values);

// The one-minute warnings, one poll at a time. Owned by the time-warnings
// thread (or a test).
class TimeWarnings {
 public:
  explicit TimeWarnings(std::shared_ptr<AppState> state)
      : state_(std::move(state)) {}

  // Reads every deck once and queues the warnings due; false when the deck
  // count could not be read.
  bool poll();

 private:
  std::shared_ptr<AppState> state_;
  std::map<uint8_t, double> last_remaining_;  // seconds, at the last poll
};

// The time-warnings loop: one poll a second. It ends when the deck count
// has failed on kTimeWarningGiveUp polls in a row: one slow answer from a
// busy Kelvo must not end the warnings for the rest of the night.
inline constexpr int kTimeWarningGiveUp = 10;
void run_time_warnings(std::shared_ptr<AppState> state);

}  // namespace orvalin
