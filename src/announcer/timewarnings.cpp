#include <cmath>
#include <thread>

#include "announcer/announcer.h"
#include "applog/applog.h"
#include "base/sentences.h"

namespace orvalin {

namespace {

constexpr double kWarnAt = 60;  // seconds remaining

}  // namespace

Status TimeWarnings::poll() {
  Bridge& bridge = *state_->bridge;
  auto decks = bridge.get("[App]", "num_decks");
  if (!decks) return fail(decks.error());
  const uint8_t deck_count = rounded_count(*decks);
  std::optional<std::string> failure;

  for (unsigned deck = 1; deck <= deck_count; ++deck) {
    const auto number = static_cast<uint8_t>(deck);
    const std::string group = deck_group(number);
    bool playing = false;
    if (auto play = bridge.get(group, "play"); play && *play != 0) {
      auto loaded = bridge.get(group, "track_loaded");
      playing = loaded && *loaded != 0;
    }
    // A paused or empty deck forgets its history: resuming below the mark
    // is not a crossing.
    if (!playing) {
      last_remaining_.erase(number);
      continue;
    }
    auto remaining = bridge.get(group, "time_remaining");
    if (!remaining) {
      // No warning can come for this deck while it fails: the poll fails,
      // so that the loop logs it, after looking at the other decks.
      if (!failure) failure = std::move(remaining.error());
      continue;
    }

    const double now = *remaining;
    auto [at, inserted] = last_remaining_.try_emplace(number, now);
    std::optional<double> before;
    if (!inserted) {
      before = at->second;
      at->second = now;
    }
    if (before && *before > kWarnAt && now > 0 && now <= kWarnAt &&
        state_->announce.load()) {
      state_->speech.say_queued(fill(kOneMinuteLeft, {std::to_string(deck)}));
    }
  }
  if (failure) return fail(std::move(*failure));
  return {};
}

void run_time_warnings(std::shared_ptr<AppState> state) {
  const auto interval = state->timing.time_warning_poll;
  const std::shared_ptr<Bridge> bridge = state->bridge;
  TimeWarnings warnings(std::move(state));
  // A busy Kelvo (a library rescan) may not answer for a minute; the
  // warnings are wanted again as soon as it does. One log line for a run of
  // failures is enough.
  bool failing = false;
  while (!bridge->ended()) {
    std::this_thread::sleep_for(interval);
    run_guarded("time-warnings", [&] {
      const Status polled = warnings.poll();
      if (!polled && !failing && !bridge->ended()) {
        log("time warnings: " + polled.error());
      }
      failing = !polled;
    });
  }
}

}  // namespace orvalin
