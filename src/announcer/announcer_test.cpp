#include "announcer/announcer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "testing/rig.h"

namespace orvalin {
namespace {

using testrig::Rig;

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// Hands change events to the announcer for up to `wait`, or until `until`
// holds for one (a failure if it never does); returns the sentences decided
// on the way.
std::vector<std::string> pump(
    Rig& rig, Announcer& announcer, std::chrono::milliseconds wait,
    const std::function<bool(const Changed&)>& until = nullptr) {
  std::vector<std::string> sentences;
  const auto deadline = Clock::now() + wait;
  while (Clock::now() < deadline) {
    auto event = rig.events().recv_for(deadline - Clock::now());
    const auto* change = event ? std::get_if<Changed>(&*event) : nullptr;
    if (!change) break;
    if (auto sentence = announcer.decide(*change)) {
      sentences.push_back(*sentence);
    }
    if (until && until(*change)) return sentences;
  }
  if (until) ADD_FAILURE() << "the awaited change did not come";
  return sentences;
}

// Until `group` `key` has been seen with `value`.
std::vector<std::string> pump_until(Rig& rig, Announcer& announcer,
                                    const std::string& group,
                                    const std::string& key, double value) {
  SCOPED_TRACE(group + "," + key + " to " + std::to_string(value));
  return pump(rig, announcer, 10s, [&](const Changed& change) {
    return change.group == group && change.key == key && change.value == value;
  });
}

// Sets a control and hands the announcer the events up to its change.
std::vector<std::string> set_and_pump(Rig& rig, Announcer& announcer,
                                      const std::string& group,
                                      const std::string& key, double value) {
  rig.set(group, key, value);
  return pump_until(rig, announcer, group, key, value);
}

size_t watch_requests(const Rig& rig) {
  return std::ranges::count(rig.requests_since(0), std::string("watch"));
}

TEST(SetupWatches, WatchesDecksSamplersAndTheFixedControls) {
  // The decks grow a while after the simulator starts: long enough for the
  // watches to be set up first on a loaded machine, under Wine too.
  auto rig = Rig::start({"--decks", "2", "--samplers", "3", "--load", "1=2",
                         "--grow-decks-after-ms", "4000"});
  ASSERT_TRUE(rig);
  LastValues values = setup_watches(rig->bridge());
  ASSERT_EQ(values.at({"[App]", "num_decks"}), 2)
      << "the decks grew before the watches were set up";
  // num_decks, 16 controls a deck, a sampler's play, the six fixed ones.
  EXPECT_EQ(watch_requests(*rig), 1u + 2 * 16 + 3 + 6);
  EXPECT_EQ(values.size(), 1u + 2 * 16 + 3 + 6);
  EXPECT_EQ(values.at({"[Channel1]", "track_loaded"}), 1);
  EXPECT_EQ(values.at({"[Channel2]", "hotcue_8_status"}), 0);
  EXPECT_TRUE(values.contains({"[Sampler3]", "play"}));
  EXPECT_TRUE(values.contains({"[Main]", "peak_indicator"}));
  EXPECT_FALSE(values.contains({"[Channel3]", "play"}));
  EXPECT_FALSE(values.contains({"[Sampler4]", "play"}));
  // The counts go first: behind the watches, a plugin that answers one
  // request at a time would let them time out.
  const auto requests = rig->requests_since(0);
  ASSERT_GE(requests.size(), 4u);
  EXPECT_THAT(std::vector(requests.begin(), requests.begin() + 4),
              ElementsAre("hello", "get [App],num_decks",
                          "get [App],num_samplers", "watch"));

  // A growing deck count watches the new decks.
  Announcer grown(rig->shared_state(), std::move(values));
  const size_t before = watch_requests(*rig);
  EXPECT_THAT(pump_until(*rig, grown, "[App]", "num_decks", 4), IsEmpty());
  EXPECT_EQ(watch_requests(*rig), before + 2 * 16);
  EXPECT_TRUE(grown.last_values().contains({"[Channel4]", "pfl"}));
  EXPECT_THAT(set_and_pump(*rig, grown, "[Channel4]", "pfl", 1),
              ElementsAre("Deck 4 headphones on"));

  // Watches refused for a while at start-up are tried again until all are
  // in place, with a word while some are still missing and once they are
  // not. Their changes are then heard.
  Timing timing = testrig::quick_timing();
  timing.watch_retry = 20ms;
  timing.watches_missing = 300ms;
  auto slow = Rig::start(
      {"--decks", "1", "--samplers", "0", "--watch-fails-ms", "3000"}, timing);
  ASSERT_TRUE(slow);
  StartupWatches sent = send_startup_watches(slow->bridge());
  EXPECT_EQ(sent.decks, 1);
  WatchesDone done = finish_watches(slow->bridge(), std::move(sent.sent));
  EXPECT_EQ(done.missing.size(), 1u + 16 + 6);
  EXPECT_THAT(done.last_values, IsEmpty());
  keep_watching(slow->shared_state(), std::move(done.missing), Clock::now());
  EXPECT_THAT(slow->spoken(),
              ElementsAre("queued: Some announcements are not available yet",
                          "queued: Announcements complete"));
  Announcer announcer(slow->shared_state(), {});
  EXPECT_THAT(set_and_pump(*slow, announcer, "[Channel1]", "pfl", 1),
              ElementsAre("Deck 1 headphones on"));
}

TEST(Announcer, SpeaksEachRuleOnce) {
  // A new track's labels fill in a moment after its load, within the real
  // wait before they are read.
  Timing timing = testrig::quick_timing();
  timing.track_settle = Timing{}.track_settle;
  auto rig = Rig::start({"--load", "1=10", "--load", "Sampler1=2", "--select",
                         "3", "--labels-after-ms", "50"},
                        timing);
  ASSERT_TRUE(rig);
  Announcer announcer(rig->shared_state(), setup_watches(rig->bridge()));
  // Each step sets controls, then hands over the events up to the change
  // of its last control (or of `until`) and expects these sentences.
  struct Step {
    std::vector<Changed> sets;
    std::optional<Changed> until;
    std::vector<std::string> spoken;
  };
  const Step steps[] = {
      {{{"[Channel1]", "pfl", 1}}, {}, {"Deck 1 headphones on"}},
      {{{"[Channel1]", "keylock", 1}}, {}, {"Deck 1 key lock on"}},
      {{{"[Channel1]", "sync_enabled", 0.5}}, {}, {"Deck 1 sync on"}},
      {{{"[Channel1]", "sync_enabled", 0}}, {}, {"Deck 1 sync off"}},
      {{{"[Channel1]", "play", 1}}, {}, {"Deck 1 playing"}},
      {{{"[Channel1]", "play", 0}}, {}, {"Deck 1 paused"}},
      {{{"[Channel1]", "beatloop_size", 0.5},
        {"[Channel1]", "beatloop_activate", 1}},
       Changed{"[Channel1]", "loop_enabled", 1},
       {"Deck 1 loop 0.5 beats"}},
      {{{"[Channel1]", "reloop_toggle", 1}},
       Changed{"[Channel1]", "loop_enabled", 0},
       {"Deck 1 loop off"}},
      {{{"[Channel1]", "beatloop_size", 1},
        {"[Channel1]", "beatloop_activate", 1}},
       Changed{"[Channel1]", "loop_enabled", 1},
       {"Deck 1 loop 1 beat"}},
      {{{"[Channel1]", "reloop_toggle", 1}},
       Changed{"[Channel1]", "loop_enabled", 0},
       {"Deck 1 loop off"}},
      {{{"[Channel1]", "hotcue_3_set", 1}},
       Changed{"[Channel1]", "hotcue_3_status", 1},
       {"Deck 1 hotcue 3 set"}},
      {{{"[Channel1]", "hotcue_3_clear", 1}},
       Changed{"[Channel1]", "hotcue_3_status", 0},
       {"Deck 1 hotcue 3 cleared"}},
      {{{"[Microphone]", "talkover", 1}}, {}, {"Microphone on"}},
      {{{"[Microphone]", "talkover", 0}}, {}, {"Microphone off"}},
      {{{"[Sampler1]", "play", 1}}, {}, {"Sampler 1 playing"}},
      {{{"[Sampler1]", "play", 0}}, {}, {"Sampler 1 stopped"}},
      // Broadcast: connecting (1) is not spoken, connected (2) is.
      {{{"[Shoutcast]", "enabled", 1}},
       Changed{"[Shoutcast]", "status", 2},
       {"Live broadcast on", "Live broadcast connected"}},
      // Recording 0 -> 1 -> 2 -> 0.
      {{{"[Recording]", "toggle_recording", 1}},
       Changed{"[Recording]", "status", 2},
       {"Recording started"}},
      {{{"[Recording]", "toggle_recording", 0},
        {"[Recording]", "toggle_recording", 1}},
       Changed{"[Recording]", "status", 0},
       {"Recording stopped"}},
  };
  auto& a = announcer;
  auto& r = *rig;
  for (const Step& step : steps) {
    for (const Changed& set : step.sets) r.set(set.group, set.key, set.value);
    const Changed until = step.until.value_or(step.sets.back());
    EXPECT_EQ(pump_until(r, a, until.group, until.key, until.value),
              step.spoken)
        << step.sets[0].group << "," << step.sets[0].key;
  }

  // Loading a track speaks its description a moment later; ejecting it
  // says the deck is empty.
  r.set("[Channel2]", "LoadSelectedTrack", 1);
  EXPECT_THAT(pump_until(r, a, "[Channel2]", "track_loaded", 1),
              ElementsAre("Deck 2 loaded. Tomorrow Never Comes (Extended "
                          "Sunrise Mix). The Lanterns"));
  r.set("[Channel2]", "eject", 1);
  EXPECT_THAT(pump_until(r, a, "[Channel2]", "track_loaded", 0),
              ElementsAre("Deck 2 empty"));

  // Play on an empty deck: Kelvo shows play for a moment.
  r.set("[Channel3]", "play", 1);
  EXPECT_THAT(pump_until(r, a, "[Channel3]", "play", 0),
              ElementsAre("Deck 3 has no track loaded"));

  // Near the end of the track.
  r.set("[Channel1]", "playposition", 0.99);
  r.set("[Channel1]", "play", 1);
  EXPECT_THAT(pump_until(r, a, "[Channel1]", "end_of_track", 1),
              ElementsAre("Deck 1 playing", "Deck 1 track ending"));
  r.set("[Channel1]", "play", 0);
  EXPECT_THAT(pump_until(r, a, "[Channel1]", "end_of_track", 0),
              ElementsAre("Deck 1 track ended"));
  // Without the end-of-track mark, a stop with under a second left has
  // ended the track; with more left, it is a pause.
  const double duration = r.value("[Channel1]", "duration");
  for (auto [left, said] : {std::pair{0.5, "Deck 1 track ended"},
                            std::pair{1.5, "Deck 1 paused"}}) {
    r.set("[Channel1]", "playposition", 1 - left / duration);
    EXPECT_EQ(a.decide({"[Channel1]", "play", 1}), "Deck 1 playing");
    EXPECT_EQ(a.decide({"[Channel1]", "play", 0}), said) << left;
  }
  // The broadcast drops while it is still switched on.
  EXPECT_EQ(a.decide({"[Shoutcast]", "status", 0}),
            "Live broadcast disconnected");
}

TEST(Announcer, RepeatsQuietTimesAndRefusedTogglesAreSilent) {
  // A hot cue being set reads as off for 100 ms: the real settle wait
  // outlasts that.
  Timing timing = testrig::quick_timing();
  timing.hotcue_settle = Timing{}.hotcue_settle;
  timing.clip_quiet = 1s;
  auto rig = Rig::start(
      {"--load", "1=10", "--hotcue-settle-ms", "100",
       "--autodj-flicker-at-once", "--load", "2=4", "--clip-deck", "2"},
      timing);
  ASSERT_TRUE(rig);
  Announcer announcer(rig->shared_state(), setup_watches(rig->bridge()));

  const Changed talkover{"[Microphone]", "talkover", 1};
  EXPECT_EQ(announcer.decide(talkover), "Microphone on");
  EXPECT_EQ(announcer.decide(talkover), std::nullopt);
  // A value the control cannot have is an error, told once per control,
  // and never taken for the control's value.
  const Changed outside{"[Microphone]", "talkover", 2};
  EXPECT_EQ(announcer.decide(outside),
            "Error: Kelvo sent 2 for [Microphone],talkover, outside 0..1");
  EXPECT_EQ(announcer.decide(outside), std::nullopt);
  EXPECT_EQ(announcer.decide({"[Microphone]", "talkover", 0}),
            "Microphone off");
  // A control that was never watched is still tracked and spoken about.
  EXPECT_EQ(announcer.decide({"[Channel9]", "pfl", 1}), "Deck 9 headphones on");
  EXPECT_EQ(announcer.decide({"[Channel1]", "rate", 0.5}), std::nullopt);
  EXPECT_EQ(announcer.decide({"[Sampler2]", "pfl", 1}), std::nullopt);
  EXPECT_EQ(announcer.decide({"[Shoutcast]", "status", 3}),
            "Live broadcast failed to connect");

  rig->state().announce.store(0);
  EXPECT_THAT(set_and_pump(*rig, announcer, "[Channel1]", "pfl", 1), IsEmpty());
  rig->state().announce.store(1);
  // Nothing is caught up; the next real change is spoken.
  EXPECT_THAT(pump(*rig, announcer, 300ms), IsEmpty());
  EXPECT_THAT(set_and_pump(*rig, announcer, "[Channel1]", "pfl", 0),
              ElementsAre("Deck 1 headphones off"));

  const auto quiet_until = [&](Clock::time_point until) {
    std::lock_guard lock(rig->state().hotcue_mutex);
    rig->state().hotcue_quiet_until = until;
  };
  quiet_until(Clock::now() + 2s);
  EXPECT_THAT(set_and_pump(*rig, announcer, "[Channel1]", "play", 1),
              IsEmpty());
  quiet_until(Clock::now());
  // Decided after the window closed, a change that arrived within it is
  // still quiet.
  EXPECT_EQ(announcer.decide({"[Channel1]", "play", 0, Clock::now() - 1s}),
            std::nullopt);
  EXPECT_EQ(announcer.decide({"[Channel1]", "play", 1}), "Deck 1 playing");
  EXPECT_THAT(set_and_pump(*rig, announcer, "[Channel1]", "play", 0),
              ElementsAre("Deck 1 paused"));

  // Events whose value Kelvo has already taken back: the re-read decides,
  // and a cue never heard as set is not heard as cleared either.
  EXPECT_EQ(announcer.decide({"[Channel1]", "hotcue_4_status", 1}),
            std::nullopt);
  EXPECT_EQ(announcer.decide({"[Channel1]", "hotcue_4_status", 0}),
            std::nullopt);
  auto hotcue = [&](const char* action, double status) {
    rig->set("[Channel1]", std::string("hotcue_4_") + action, 1);
    return pump_until(*rig, announcer, "[Channel1]", "hotcue_4_status", status);
  };
  EXPECT_THAT(hotcue("set", 1), ElementsAre("Deck 1 hotcue 4 set"));

  // A hot cue is compared with its value at its last decision, also one
  // made while announcements were off.
  rig->state().announce.store(0);
  EXPECT_THAT(hotcue("clear", 0), IsEmpty());
  rig->state().announce.store(1);
  EXPECT_THAT(hotcue("set", 1), ElementsAre("Deck 1 hotcue 4 set"));

  // An empty Auto DJ queue: Kelvo refuses, and its switch flickers on and
  // off before the toggle is read back.
  // As the action worker does it: set, read back later, mark failed.
  rig->set("[AutoDJ]", "enabled", 1);
  std::thread worker([&] {
    std::this_thread::sleep_for(rig->state().timing.toggle_delay);
    std::lock_guard lock(rig->state().pending_mutex);
    rig->state().pending_toggle =
        PendingToggle{"[AutoDJ]", "enabled", Clock::now() + 1s};
  });
  EXPECT_THAT(pump_until(*rig, announcer, "[AutoDJ]", "enabled", 0), IsEmpty());
  worker.join();

  EXPECT_THAT(announcer.decide({"[Main]", "peak_indicator", 1}),
              testing::Optional(std::string("Main output clipping")));
  EXPECT_EQ(announcer.decide({"[Main]", "peak_indicator", 0}), std::nullopt);
  EXPECT_EQ(announcer.decide({"[Main]", "peak_indicator", 1}), std::nullopt);

  // Deck 2 clips 0.4 s of every 1.5 s while it plays: both of its peaks
  // within 2 s are heard, each after a quiet time.
  std::vector<std::string> sentences =
      set_and_pump(*rig, announcer, "[Channel2]", "play", 1);
  auto more = pump(*rig, announcer, 2000ms);
  sentences.insert(sentences.end(), more.begin(), more.end());
  EXPECT_EQ(std::ranges::count(sentences, "Deck 2 clipping"), 2);
  EXPECT_EQ(std::ranges::count(sentences, "Deck 2 playing"), 1);
}

// The announcer loop on a clock of the test's own, with every change
// already queued: a first change is decided at once, later ones within
// 300 ms once they settle (those settled before a later arrival first),
// against the value of the last decision. Everything it says waits for
// what is being said, and the loop ends, with a word, when the connection
// ends while Kelvo runs.
TEST(RunAnnouncer, DecidesFirstChangesAtOnceAndBurstsOnceSettled) {
  auto [speech, speech_rx] = make_channel<SpeechCommand>();
  Timing timing;
  timing.kelvo_exit_grace = 0ms;
  auto state = std::make_shared<AppState>(Speech(speech), nullptr, timing);
  auto [events, events_rx] = make_channel<BridgeEvent>();
  const Clock::time_point start = Clock::now();
  auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
  auto arrive = [&](const char* group, const char* key, double value, int ms) {
    events.send(Changed{group, key, value, at(ms)});
  };
  arrive("[Microphone]", "talkover", 1, 0);
  arrive("[Microphone]", "talkover", 0, 100);
  arrive("[Microphone]", "talkover", 1, 399);  // settles at 699 where it was
  arrive("[Microphone]", "talkover", 0, 999);
  arrive("[Recording]", "status", 1, 1000);
  arrive("[Recording]", "status", 2, 1100);
  for (int i = 0; i < 1000; ++i) {
    arrive("[Microphone]", "talkover", i % 2 == 0 ? 1 : 0, 2000 + i);
  }
  std::thread announcer([&, events_rx = std::move(events_rx)]() mutable {
    run_announcer(
        state, std::move(events_rx),
        {{{"[Microphone]", "talkover"}, 0}, {{"[Recording]", "status"}, 0}},
        [&] { return at(3299); });
  });
  // As Rig::spoken() writes it.
  auto next_heard = [&]() -> std::optional<std::string> {
    auto command = speech_rx.recv_for(2s);
    const auto* speak = command ? std::get_if<Speak>(&*command) : nullptr;
    if (!speak) return std::nullopt;
    return (speak->interrupt ? "" : "queued: ") + speak->text;
  };
  std::vector<std::string> heard;
  std::optional<std::string> text;
  while (heard.size() < 5 && (text = next_heard())) heard.push_back(*text);
  events.send(Disconnected{});
  announcer.join();
  if (auto lost = next_heard()) heard.push_back(*lost);
  EXPECT_THAT(heard,
              ElementsAre("queued: Microphone on", "queued: Microphone off",
                          "queued: Recording started", "queued: Microphone on",
                          "queued: Microphone off",
                          "queued: Lost the connection to Kelvo. Orvalin keys "
                          "do nothing until Kelvo is started again."));

  // Kelvo closing ends its connection a moment before it exits, within the
  // exit grace: nothing is said.
  timing.kelvo_exit_grace = 300ms;
  AppState closing(Speech(speech), nullptr, timing);
  const Clock::time_point end = Clock::now();
  closing.kelvo_running = [end] { return Clock::now() < end + 150ms; };
  tell_lost_connection(closing, end);
  EXPECT_FALSE(speech_rx.try_recv().has_value());
}

}  // namespace
}  // namespace orvalin
