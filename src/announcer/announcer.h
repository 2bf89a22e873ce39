// Announcements of watched control changes (thread "announcer") and the
// one-minute warnings (thread "time-warnings").
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/channel.h"
#include "base/timing.h"
#include "bridge/bridge.h"
#include "controls/appstate.h"
#include "controls/names.h"

namespace orvalin {

// Watches every control of decks first..last into `last_values`.
void watch_decks(Bridge& bridge, uint8_t first, uint8_t last,
                 LastValues& last_values);

// Registers the watched controls (see controls/names.h) at start-up and
// collects their values: send_startup_watches reads the deck and sampler
// counts, then sends the watches in order without waiting; finish_watches
// waits for their replies. setup_watches does both.
struct StartupWatches {
  uint8_t decks = 0;  // the deck count read; 0 when it could not be read
  std::vector<Bridge::SentWatch> sent;
};
using ControlName = std::pair<std::string, std::string>;
struct WatchesDone {
  LastValues last_values;
  std::vector<ControlName> missing;  // whose watch failed, in order
};
StartupWatches send_startup_watches(Bridge& bridge);
WatchesDone finish_watches(Bridge& bridge, std::vector<Bridge::SentWatch> sent);
LastValues setup_watches(Bridge& bridge);

// Watches the `missing` controls again, one at a time and then once per
// `watch_retry`, until all are watched or the connection ends. When some
// are still missing `watches_missing` after `ready`, says "Some
// announcements are not available yet" once, and "Announcements complete"
// when the last is watched. Thread "watch-retry"; waits.
void keep_watching(const std::shared_ptr<AppState>& state,
                   std::vector<ControlName> missing, Clock::time_point ready);

// The settle rule: a control that changes again within the settle time is
// announced once it has been still that long, not once per change; this
// decides which changes are decided at once and which wait until their
// control is still. Holds at most one waiting value per control, so
// its memory follows the number of controls, not the rate of events. The
// caller gives the time; owned by the announcer thread (or a test).
class Settler {
 public:
  explicit Settler(std::chrono::milliseconds settle = Timing{}.settle)
      : settle_(settle) {}

  // A change that arrived at `at`. It comes back to be decided now when its
  // control had no change for the settle time; otherwise it becomes the
  // control's waiting value (replacing an earlier one) and nothing returns.
  std::optional<Changed> arrive(const Changed& change, Clock::time_point at);

  // When the next waiting value settles; nothing when none waits.
  std::optional<Clock::time_point> next_due() const;

  // Takes the waiting values whose control has been still for the settle time
  // by `now`, the longest still first.
  std::vector<Changed> take_settled(Clock::time_point now);

 private:
  struct Control {
    Clock::time_point last_change;
    std::optional<double> waiting;
    Clock::time_point arrived;  // the waiting value's arrival
  };
  std::chrono::milliseconds settle_;
  std::map<std::pair<std::string, std::string>, Control> controls_;
};

// What the announcer knows and decides, one change at a time. Owned by the
// announcer thread (or a test); not thread-safe.
class Announcer {
 public:
  Announcer(std::shared_ptr<AppState> state, LastValues last_values);

  // Records the change and returns the sentence it deserves, if any. A
  // value outside the control's range (bridge/ranges.h) is not recorded: its
  // error is the sentence, the first time for each control. May read Kelvo
  // and wait (the run's hot-cue, track and Auto DJ settle).
  std::optional<std::string> decide(const Changed& change);

  const LastValues& last_values() const { return last_values_; }

 private:
  using ControlKey = std::pair<std::string, std::string>;

  // Whether a toggle of this control just failed (its flicker is silent).
  bool toggle_failed(const Changed& change, Clock::time_point arrived) const;
  std::optional<std::string> choose(const Changed& change,
                                    std::optional<double> previous,
                                    Clock::time_point arrived);
  std::optional<std::string> clipping(const std::string& group,
                                      Clock::time_point arrived);
  std::optional<std::string> deck_change(unsigned deck, const Changed& change,
                                         std::optional<double> previous,
                                         Clock::time_point arrived);

  std::shared_ptr<AppState> state_;
  LastValues last_values_;
  std::map<std::string, Clock::time_point> last_clip_;
  std::set<ControlKey> refused_;  // told a value outside their range
};

// Says "Lost the connection to Kelvo. ..." once per run, `kelvo_exit_grace`
// after the connection `ended`, and only while Kelvo still runs; `why`, when
// given, is logged first on the same condition. Waits; any thread.
void tell_lost_connection(AppState& state, Clock::time_point ended,
                          std::string_view why = {});

// The announcer loop: until Disconnected or the channel closes. Changes
// pass the settle rule before they are decided; `now` is its clock.
void run_announcer(std::shared_ptr<AppState> state,
                   Receiver<BridgeEvent> events, LastValues last_values,
                   std::function<Clock::time_point()> now = Clock::now);

// The one-minute warnings, one poll at a time. Owned by the time-warnings
// thread (or a test).
class TimeWarnings {
 public:
  explicit TimeWarnings(std::shared_ptr<AppState> state)
      : state_(std::move(state)) {}

  // Reads every deck once and queues the warnings due; fails when the deck
  // count, or a playing deck's remaining time, could not be read.
  Status poll();

 private:
  std::shared_ptr<AppState> state_;
  std::map<uint8_t, double> last_remaining_;  // seconds, at the last poll
};

// The time-warnings loop: one poll per `time_warning_poll`, the next one
// that long after the end of the last, failed or not, until the connection
// to Kelvo ends.
void run_time_warnings(std::shared_ptr<AppState> state);

}  // namespace orvalin
