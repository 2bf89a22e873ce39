#include "announcer/announcer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "applog/applog.h"
#include "base/sentences.h"
#include "base/thread.h"
#include "bridge/ranges.h"
#include "controls/formats.h"
#include "controls/track.h"

namespace orvalin {

namespace {

// A deck that stops with less than this left (in seconds) has played its
// track to the end.
constexpr double kTrackEnded = 1.0;

std::optional<unsigned> deck_number(std::string_view group) {
  return numbered_name(group, "[Channel", "]");
}

// Watches go out without waiting for each other's replies: a plugin that
// takes a while to answer costs one reply time, not one per watch.
void send_watch(Bridge& bridge, std::string_view group, std::string_view key,
                std::vector<Bridge::SentWatch>& sent) {
  sent.push_back(bridge.send_watch(std::string(group), std::string(key)));
}

void send_deck_watches(Bridge& bridge, uint8_t first, uint8_t last,
                       std::vector<Bridge::SentWatch>& sent) {
  for (unsigned deck = first; deck <= last; ++deck) {
    const std::string group = deck_group(static_cast<uint8_t>(deck));
    for (std::string_view key : kWatchedDeckKeys) {
      send_watch(bridge, group, key, sent);
    }
    for (int n = 1; n <= kWatchedHotcues; ++n) {
      send_watch(bridge, group, "hotcue_" + std::to_string(n) + "_status",
                 sent);
    }
  }
}

}  // namespace

void watch_decks(Bridge& bridge, uint8_t first, uint8_t last,
                 LastValues& last_values) {
  std::vector<Bridge::SentWatch> sent;
  send_deck_watches(bridge, first, last, sent);
  for (Bridge::SentWatch& watch : sent) {
    bridge.finish_watch(std::move(watch), last_values);
  }
}

StartupWatches send_startup_watches(Bridge& bridge) {
  const auto& [decks_group, decks_key] = kStartupCounts[0];
  const auto& [samplers_group, samplers_key] = kStartupCounts[1];
  // Both counts are read before any watch goes out: behind the watches they
  // would wait for every one of them, and a plugin that answers one request
  // at a time would let them time out.
  auto decks_sent =
      bridge.send_get(std::string(decks_group), std::string(decks_key));
  auto samplers_sent =
      bridge.send_get(std::string(samplers_group), std::string(samplers_key));
  const Result<double> decks = decks_sent.wait();
  const Result<double> samplers = samplers_sent.wait();
  if (!decks) log("start-up: " + decks.error() + "; watching 4 decks");
  if (!samplers) log("start-up: " + samplers.error() + "; watching no sampler");

  StartupWatches watches;
  watches.decks = decks ? rounded_count(*decks) : 0;
  const uint8_t deck_count = decks ? watches.decks : 4;
  const uint8_t sampler_count = samplers ? rounded_count(*samplers) : 0;
  std::vector<Bridge::SentWatch>& sent = watches.sent;
  send_watch(bridge, decks_group, decks_key, sent);
  if (deck_count > 0) send_deck_watches(bridge, 1, deck_count, sent);
  for (unsigned n = 1; n <= sampler_count; ++n) {
    send_watch(bridge, "[Sampler" + std::to_string(n) + "]", kWatchedSamplerKey,
               sent);
  }
  for (const auto& [group, key] : kWatchedFixed) {
    send_watch(bridge, group, key, sent);
  }
  return watches;
}

WatchesDone finish_watches(Bridge& bridge,
                           std::vector<Bridge::SentWatch> sent) {
  WatchesDone done;
  for (Bridge::SentWatch& watch : sent) {
    ControlName control{watch.group, watch.key};
    if (!bridge.finish_watch(std::move(watch), done.last_values)) {
      done.missing.push_back(std::move(control));
    }
  }
  return done;
}

LastValues setup_watches(Bridge& bridge) {
  return finish_watches(bridge, send_startup_watches(bridge).sent).last_values;
}

void keep_watching(const std::shared_ptr<AppState>& state,
                   std::vector<ControlName> missing, Clock::time_point ready) {
  Bridge& bridge = *state->bridge;
  if (missing.empty()) return;
  log("start-up: " + std::to_string(missing.size()) +
      " watches failed; trying them again");
  bool told = false;
  auto tell_if_due = [&] {
    if (told || Clock::now() < ready + state->timing.watches_missing) return;
    told = true;
    log("still not watched: " + std::to_string(missing.size()) + " controls");
    state->speech.say_queued(kAnnouncementsMissing);
  };
  for (;;) {
    // One at a time: a plugin that answers one request at a time still
    // answers the keys between them.
    std::erase_if(missing, [&](const ControlName& control) {
      tell_if_due();
      if (bridge.ended()) return false;
      LastValues unused;
      return bridge.finish_watch(
          bridge.send_watch(control.first, control.second), unused, false);
    });
    if (missing.empty() || bridge.ended()) break;
    tell_if_due();
    std::this_thread::sleep_for(state->timing.watch_retry);
  }
  if (!missing.empty()) return;
  log("start-up: every watch in place");
  if (told) state->speech.say_queued(kAnnouncementsComplete);
}

Announcer::Announcer(std::shared_ptr<AppState> state, LastValues last_values)
    : state_(std::move(state)), last_values_(std::move(last_values)) {}

std::optional<std::string> Announcer::decide(const Changed& change) {
  // Every rule that compares a time compares the moment the change arrived:
  // a decision made after a wait must not fall out of a quiet window that
  // the change itself fell in.
  const Clock::time_point arrived =
      change.arrived == Clock::time_point{} ? Clock::now() : change.arrived;
  // A value the control cannot have is the plugin's fault, like such a
  // reply: nothing is decided from it, and it is told once per control so
  // that a plugin repeating it does not drown the announcements.
  if (auto outside =
          outside_range(change.group, change.key, "value", change.value)) {
    if (!refused_.emplace(change.group, change.key).second) return std::nullopt;
    return fill(kActionFailed, {*outside});
  }
  std::optional<double> previous;
  {
    auto [at, inserted] =
        last_values_.try_emplace({change.group, change.key}, change.value);
    if (!inserted) {
      previous = at->second;
      at->second = change.value;
    }
  }
  if (previous && *previous == change.value) return std::nullopt;

  // New decks are watched whether or not announcements are on, so that they
  // are spoken about once they are.
  if (change.group == "[App]" && change.key == "num_decks") {
    const uint8_t old_count = previous ? rounded_count(*previous) : 0;
    const uint8_t new_count = rounded_count(change.value);
    state_->deck_count.store(new_count);
    if (new_count > old_count) {
      watch_decks(*state_->bridge, old_count + 1, new_count, last_values_);
    }
  }

  if (!state_->announce.load()) return std::nullopt;
  if (toggle_failed(change, arrived)) return std::nullopt;
  if (change.group == "[AutoDJ]" && change.key == "enabled") {
    // Kelvo flips a refused Auto DJ switch back within a few milliseconds,
    // long before the action worker has read the switch back and marked the
    // toggle as failed (`toggle_delay` after its set). Waiting longer than
    // that before deciding lets the mark silence the flicker, so the
    // toggle's own sentence is all that is heard.
    std::this_thread::sleep_for(state_->timing.autodj_settle);
    if (toggle_failed(change, arrived)) return std::nullopt;
  }
  return choose(change, previous, arrived);
}

bool Announcer::toggle_failed(const Changed& change,
                              Clock::time_point arrived) const {
  std::lock_guard lock(state_->pending_mutex);
  const auto& pending = state_->pending_toggle;
  return pending && pending->group == change.group &&
         pending->control == change.key && arrived < pending->deadline;
}

std::optional<std::string> Announcer::clipping(const std::string& group,
                                               Clock::time_point arrived) {
  auto at = last_clip_.find(group);
  if (at != last_clip_.end() &&
      arrived - at->second < state_->timing.clip_quiet) {
    return std::nullopt;
  }
  last_clip_[group] = arrived;
  if (auto deck = deck_number(group)) {
    return fill(kDeckClipping, {std::to_string(*deck)});
  }
  return std::string(kMainClipping);
}

std::optional<std::string> Announcer::choose(const Changed& change,
                                             std::optional<double> previous,
                                             Clock::time_point arrived) {
  const std::string& group = change.group;
  const std::string& key = change.key;
  const double value = change.value;

  if (key == "peak_indicator") {
    if (value == 0) return std::nullopt;
    return clipping(group, arrived);
  }
  if (group == "[Microphone]" && key == "talkover") {
    return std::string(value != 0 ? kMicrophoneOn : kMicrophoneOff);
  }
  if (group == "[Shoutcast]" && key == "status") {
    if (value == 2) return std::string(kBroadcastConnected);
    // Switched off, the broadcast ends too; "Live broadcast off" says that.
    const auto enabled = last_values_.find({"[Shoutcast]", "enabled"});
    if (previous == 2.0 && enabled != last_values_.end() &&
        enabled->second != 0) {
      return std::string(kBroadcastDisconnected);
    }
    if (value == 3) return std::string(kBroadcastFailed);
    return std::nullopt;
  }
  if (group == "[Shoutcast]" && key == "enabled") {
    return std::string(value != 0 ? kBroadcastOn : kBroadcastOff);
  }
  if (group == "[Recording]" && key == "status") {
    if (value == 2) return std::string(kRecordingStarted);
    if (value == 0 && previous && *previous != 0) {
      return std::string(kRecordingStopped);
    }
    return std::nullopt;
  }
  if (group == "[AutoDJ]" && key == "enabled") {
    return std::string(value != 0 ? kAutoDjOn : kAutoDjOff);
  }
  if (auto sampler = numbered_name(group, "[Sampler", "]")) {
    if (key != "play") return std::nullopt;
    return fill(value != 0 ? kSamplerPlaying : kSamplerStopped,
                {std::to_string(*sampler)});
  }
  if (auto deck = deck_number(group)) {
    return deck_change(*deck, change, previous, arrived);
  }
  return std::nullopt;
}

std::optional<std::string> Announcer::deck_change(
    unsigned deck, const Changed& change, std::optional<double> previous,
    Clock::time_point arrived) {
  Bridge& bridge = *state_->bridge;
  const std::string& group = change.group;
  const std::string& key = change.key;
  const double value = change.value;
  const std::string name = std::to_string(deck);

  if (key == "pfl") return fill(kDeckHeadphones, {name, on_off(value)});
  if (key == "keylock") return fill(kDeckKeyLock, {name, on_off(value)});
  if (key == "sync_enabled") return fill(kDeckSync, {name, on_off(value)});
  if (key == "play") {
    {
      // A hot-cue press starts and stops the deck; its own report says it.
      std::lock_guard lock(state_->hotcue_mutex);
      if (arrived < state_->hotcue_quiet_until) return std::nullopt;
    }
    auto loaded = bridge.get(group, "track_loaded");
    if (loaded && *loaded == 0) {
      if (value == 0) return std::nullopt;
      return fill(kDeckNoTrack, {name});
    }
    if (value != 0) return fill(kDeckPlaying, {name});
    // Kelvo clears "end_of_track" as the track stops; its last value here
    // is the one from before the stop.
    const auto ending = last_values_.find({group, "end_of_track"});
    const bool ended =
        (ending != last_values_.end() && ending->second != 0) ||
        bridge.get(group, "time_remaining").value_or(kTrackEnded) < kTrackEnded;
    return fill(ended ? kDeckTrackEnded : kDeckPaused, {name});
  }
  if (key == "loop_enabled") {
    if (value == 0) return fill(kDeckLoopOff, {name});
    const double size = bridge.get(group, "beatloop_size").value_or(0);
    // gettext's plural rules count whole things; a fraction of a beat takes
    // the form of 5, which is the general plural ("other") in every
    // language's rules.
    const bool whole = size >= 0 && size < 1e9 && std::trunc(size) == size;
    const auto count = whole ? static_cast<uint64_t>(size) : uint64_t{5};
    return fill(kDeckLoop.of(count),
                {name, format_value(ValueFormat::number, size)});
  }
  if (key == "end_of_track") {
    if (value == 0) return std::nullopt;
    return fill(kDeckTrackEnding, {name});
  }
  if (key == "track_loaded") {
    if (value == 0) return fill(kDeckEmpty, {name});
    // Kelvo fills in the deck's labels a moment after the load.
    std::this_thread::sleep_for(state_->timing.track_settle);
    auto description =
        deck_track_description(*state_, static_cast<uint8_t>(deck));
    return fill(kDeckLoaded, {name, description.value_or("")});
  }
  if (auto cue = numbered_name(key, "hotcue_", "_status")) {
    // The status flickers while a cue is being set; read it once it settles.
    std::this_thread::sleep_for(state_->timing.hotcue_settle);
    const double settled = bridge.get(group, key).value_or(value);
    // Like every control, the hot cue is compared with its value at its
    // last decision, also one made while announcements were off.
    last_values_[{group, key}] = settled;
    const bool now_set = settled != 0;
    const bool was_set = previous && *previous != 0;
    if (now_set == was_set) return std::nullopt;
    return fill(now_set ? kDeckHotcueSet : kDeckHotcueCleared,
                {name, std::to_string(*cue)});
  }
  return std::nullopt;
}

std::optional<Changed> Settler::arrive(const Changed& change,
                                       Clock::time_point at) {
  auto [it, fresh] = controls_.try_emplace({change.group, change.key});
  Control& control = it->second;
  const bool still = fresh || at - control.last_change >= settle_;
  control.last_change = at;
  if (still && !control.waiting) return change;
  control.waiting = change.value;
  control.arrived = change.arrived;
  return std::nullopt;
}

std::optional<Clock::time_point> Settler::next_due() const {
  std::optional<Clock::time_point> due;
  for (const auto& [key, control] : controls_) {
    if (!control.waiting) continue;
    const Clock::time_point at = control.last_change + settle_;
    if (!due || at < *due) due = at;
  }
  return due;
}

std::vector<Changed> Settler::take_settled(Clock::time_point now) {
  std::vector<std::pair<Clock::time_point, Changed>> settled;
  for (auto& [key, control] : controls_) {
    if (!control.waiting || now - control.last_change < settle_) continue;
    settled.push_back(
        {control.last_change,
         Changed{key.first, key.second, *control.waiting, control.arrived}});
    control.waiting.reset();
  }
  std::stable_sort(
      settled.begin(), settled.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Changed> out;
  out.reserve(settled.size());
  for (auto& [at, change] : settled) out.push_back(std::move(change));
  return out;
}

// Without a word, a connection that ended while Kelvo runs would leave the
// keys and the warnings silent. When Kelvo itself is closing, nothing is
// said: Kelvo ends its connections before it exits.
void tell_lost_connection(AppState& state, Clock::time_point ended,
                          std::string_view why) {
  std::this_thread::sleep_until(ended + state.timing.kelvo_exit_grace);
  if (!state.kelvo_still_running()) return;
  if (!why.empty()) log(std::string(why));
  if (state.lost_told.exchange(1) != 0) return;
  state.speech.say_queued(kConnectionLost);
}

void run_announcer(std::shared_ptr<AppState> state,
                   Receiver<BridgeEvent> events, LastValues last_values,
                   std::function<Clock::time_point()> now) {
  Announcer announcer(state, std::move(last_values));
  Settler settler(state->timing.settle);
  auto speak = [&](const Changed& change) {
    run_guarded("announcer", [&] {
      if (auto sentence = announcer.decide(change)) {
        state->speech.say_queued(*sentence);
      }
    });
  };
  auto speak_settled = [&](Clock::time_point at) {
    for (const Changed& change : settler.take_settled(at)) speak(change);
  };
  auto take_change = [&](const Changed& change) {
    // Values that settled before this change arrived go first.
    speak_settled(change.arrived);
    // A rule that limits its own rate (clipping) hears every change: held
    // to settle, a control that flaps for as long as the trouble lasts
    // would be reported once.
    if (change.key == "peak_indicator") {
      speak(change);
    } else if (auto decide_now = settler.arrive(change, change.arrived)) {
      speak(*decide_now);
    }
  };
  std::optional<Disconnected> ended;
  // False at Disconnected.
  auto take = [&](const BridgeEvent& event) {
    const Changed* change = std::get_if<Changed>(&event);
    if (!change) {
      ended = std::get<Disconnected>(event);
      return false;
    }
    if (change->arrived != Clock::time_point{}) {
      take_change(*change);
    } else {
      Changed stamped = *change;
      stamped.arrived = now();
      take_change(stamped);
    }
    return true;
  };
  for (;;) {
    std::optional<BridgeEvent> event;
    if (auto due = settler.next_due()) {
      const auto wait = *due - now();
      event = events.recv_for(
          wait > Clock::duration::zero() ? wait : Clock::duration::zero());
    } else {
      event = events.recv();
    }
    if (event) {
      // A change already queued is a change, however late it is read: all
      // of them are taken before the clock says what has settled.
      bool connected = take(*event);
      while (connected && (event = events.try_recv())) connected = take(*event);
      if (!connected) break;
    } else if (events.closed()) {
      break;
    }
    speak_settled(now());
  }
  if (ended) {
    run_guarded("announcer", [&] {
      std::optional<Clock::time_point> at;
      if (state->bridge) at = state->bridge->ended();
      if (!at) at = now();
      // not spoken: the log line written before the sentence
      tell_lost_connection(*state, *at,
                           "bridge: connection ended: " + ended->reason);
    });
  }
}

}  // namespace orvalin
