#include "actions/actions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/keylist.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::IsEmpty;
using testrig::quick_timing;
using testrig::Rig;
using Texts = std::vector<std::string>;

TEST(ResolveDeck, ReplacesEveryPlaceholder) {
  EXPECT_EQ(resolve_deck("[Channel{deck}]", 2), "[Channel2]");
  EXPECT_EQ(resolve_deck("[QuickEffectRack1_[Channel{deck}]]", 3),
            "[QuickEffectRack1_[Channel3]]");
  EXPECT_EQ(resolve_deck("group_[Channel{deck}]_enable", 255),
            "group_[Channel255]_enable");
  EXPECT_EQ(resolve_deck("{deck}{deck}x{deck}", 0), "00x0");
  EXPECT_EQ(resolve_deck("[Master]", 4), "[Master]");
  EXPECT_EQ(resolve_deck("{deck", 1), "{deck");
  EXPECT_EQ(resolve_deck("", 1), "");
}

// The age limit at its edge, the skipped-presses sentence, and the keys
// that never reach Kelvo and so are never late: key help, the
// announcements switch, and every key while key help is on. The clock
// stands still.
TEST(ActionWorker, SkipsPressesOlderThanTwoSecondsAndSaysHowMany) {
  using std::chrono::milliseconds;
  auto rig = Rig::start();
  ASSERT_TRUE(rig);
  const std::vector<KeyAction> table = {
      {"ctrl+alt+x", act::Set{{"[Channel1]", "pfl"}, 1, std::nullopt}},
      {"ctrl+alt+f12", act::KeyHelp{}},
      {"ctrl+alt+a", act::ToggleAnnounce{}}};
  const Clock::time_point now = Clock::now();
  auto run = [&](std::vector<std::pair<uint64_t, int>> presses) {
    auto [queue, queue_rx] = make_channel<KeyPress>();
    for (auto [index, age_ms] : presses) {
      queue.send(KeyPress{index, now - milliseconds(age_ms)});
    }
    queue.reset();
    run_action_worker(rig->shared_state(), table, std::move(queue_rx),
                      [&] { return now; });
    return rig->spoken();
  };
  const size_t mark = rig->mark();
  EXPECT_THAT(
      run({{0, 2001}, {0, 2500}, {2, 9000}, {0, 2000}, {0, 2001}, {1, 9000}}),
      ElementsAre("queued: Kelvo was busy. 3 key presses skipped.",
                  "Announcements off",
                  "Key help on. Press any Orvalin key to hear what it "
                  "does."));
  EXPECT_THAT(run({{0, 3000}, {1, 2001}, {0, 2001}}),
              ElementsAre("ctrl alt x: " + describe_action(table[0].action),
                          "Key help off",
                          "queued: Kelvo was busy. 1 key press skipped."));
  // Key help sent nothing to Kelvo.
  EXPECT_EQ(rig->requests_since(mark), Texts{"set [Channel1],pfl=1.0"});
  EXPECT_EQ(skipped_presses_sentence(100000),
            "Kelvo was busy. 100000 key presses skipped.");
}

// Kelvo stalls for a second, and replies are waited for 300 ms. A press
// that times out makes Kelvo busy: the next press is not sent but Kelvo is
// asked until it answers in time, and that press and every other made
// before then are skipped; a key that stays within Orvalin is handled at
// once meanwhile. A pulse whose press timed out is still released, in the
// beat-grid tools too; a key whose answer comes late says its result then.
TEST(ActionWorker, NothingIsSentToABusyKelvoAndAPressIsAlwaysReleased) {
  Timing timing = quick_timing();
  timing.reply_wait = std::chrono::milliseconds(300);
  timing.kelvo_exit_grace = std::chrono::milliseconds(600);
  auto rig =
      Rig::start({"--load", "1=1", "--late-set", "bpm_tap=600", "--late-set",
                  "beats_translate_move=600", "--late-set", "crossfader=600"},
                 timing);
  ASSERT_TRUE(rig);
  const auto stall = [&] { ASSERT_TRUE(rig->set("[Kelvosim]", "stall", 1)); };
  const auto no_reply = [](const std::string& control) {
    return "Error: " + control + ": Kelvo did not answer in time";
  };
  stall();
  size_t mark = rig->mark();
  EXPECT_THAT(
      rig->press({"ctrl+alt+h", "ctrl+alt+c", "ctrl+alt+a", "ctrl+alt+c"}),
      ElementsAre(no_reply("[Channel1],pfl"), "Announcements off",
                  "queued: Kelvo was busy. 2 key presses skipped."));
  std::vector<std::string> sent = rig->requests_since(mark);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], "get [Channel1],pfl");
  // Asked until answered: the first asks timed out, the last did not.
  EXPECT_THAT(std::vector(sent.begin() + 1, sent.end()),
              Each(Eq("get [App],num_decks")));
  EXPECT_FALSE(rig->state().bridge->busy());
  // Presses made after the answer are carried out.
  EXPECT_THAT(rig->press({"ctrl+alt+a"}), ElementsAre("Announcements on"));

  stall();
  mark = rig->mark();
  EXPECT_EQ(rig->press({"ctrl+alt+c"}),
            Texts{no_reply("[Channel1],cue_default")});
  // The held cue played the paused deck; its release stopped it again.
  double play = rig->value("[Channel1]", "play");
  for (int tries = 0; play == -12345 && tries < 10; ++tries) {
    play = rig->value("[Channel1]", "play");  // until the stall is over
  }
  EXPECT_EQ(play, 0);
  EXPECT_THAT(rig->requests_since(mark),
              testing::IsSupersetOf({"set [Channel1],cue_default=1.0",
                                     "set [Channel1],cue_default=0.0"}));

  // Each time-out leaves Kelvo busy until a request is answered in time.
  const auto answered = [&] { (void)rig->value("[App]", "num_decks"); };
  mark = rig->mark();
  EXPECT_EQ(rig->run(act::BeatgridTap{}),
            Texts{no_reply("[Channel1],bpm_tap")});
  answered();
  EXPECT_EQ(rig->run(act::BeatgridMove{1}),
            Texts{no_reply("[Channel1],beats_translate_move")});
  EXPECT_THAT(rig->requests_since(mark),
              testing::IsSupersetOf(
                  {"set [Channel1],bpm_tap=1.0", "set [Channel1],bpm_tap=0.0",
                   "set [Channel1],beats_translate_move=1.0",
                   "set [Channel1],beats_translate_move=0.0"}));

  answered();
  EXPECT_EQ(rig->press({"ctrl+alt+m"}), Texts{no_reply("[Master],crossfader")});
  const std::optional<Speak> late = rig->next_speak();
  ASSERT_TRUE(late);
  EXPECT_EQ(late->text, "crossfader right 10%");
  EXPECT_EQ(rig->value("[Master]", "crossfader", "parameter"), 0.55);

  // Once the connection has ended, a key that needs Kelvo is quiet while
  // Kelvo closes (it exits within the exit grace after its connection
  // ended) and says so while Kelvo still runs; one that stays within
  // Orvalin works.
  ASSERT_TRUE(rig->set("[Kelvosim]", "close", 1));
  for (int tries = 0; !rig->bridge().ended() && tries < 1000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(rig->bridge().ended());
  const Clock::time_point exits =
      *rig->bridge().ended() + timing.kelvo_exit_grace / 2;
  rig->state().kelvo_running = [exits] { return Clock::now() < exits; };
  EXPECT_THAT(rig->press({"ctrl+alt+h", "ctrl+alt+a"}),
              ElementsAre("Announcements off"));
  rig->state().kelvo_running = nullptr;
  EXPECT_THAT(rig->press({"ctrl+alt+h", "ctrl+alt+a"}),
              ElementsAre("Not connected to Kelvo", "Announcements on"));
}

TEST(ActionWorker, ToggleSpeaksUnwatchedControlsAndLeavesWatchedToAnnouncer) {
  auto rig = Rig::start({"--load", "1=1"});
  ASSERT_TRUE(rig);
  // Watched, announcements on: the announcer speaks, the worker is silent.
  EXPECT_THAT(rig->press({"ctrl+alt+p"}), IsEmpty());
  EXPECT_EQ(rig->value("[Channel1]", "play"), 1);
  // Unwatched: label from the control's spoken name.
  EXPECT_THAT(rig->press({"ctrl+alt+shift+k", "ctrl+alt+shift+k"}),
              ElementsAre("grid lock on", "grid lock off"));
  // Announcements off: the worker speaks watched controls too.
  EXPECT_THAT(
      rig->press({"ctrl+alt+a", "ctrl+alt+p", "ctrl+alt+h", "ctrl+alt+a"}),
      ElementsAre("Announcements off", "play off", "headphones on",
                  "Announcements on"));
  EXPECT_EQ(rig->value("[Channel1]", "play"), 0);
  EXPECT_EQ(rig->value("[Channel1]", "pfl"), 1);
  // The placeholder in the control key follows the current deck.
  EXPECT_THAT(rig->press({"ctrl+alt+2", "ctrl+alt+enter"}),
              ElementsAre("Deck 2. empty", "effect unit 1 on"));
  EXPECT_EQ(rig->value("[EffectRack1_EffectUnit1]", "group_[Channel2]_enable"),
            1);
  EXPECT_EQ(rig->value("[EffectRack1_EffectUnit1]", "group_[Channel1]_enable"),
            0);
  // Every switch took effect: none is left pending.
  std::lock_guard lock(rig->state().pending_mutex);
  EXPECT_FALSE(rig->state().pending_toggle.has_value());
}

TEST(ActionWorker, ToggleThatDoesNotSwitchRecordsPendingToggle) {
  auto rig = Rig::start({"--autodj-queue", "0"});
  ASSERT_TRUE(rig);
  auto before = Clock::now();
  EXPECT_THAT(
      rig->press({"ctrl+alt+shift+a"}),
      ElementsAre(
          "Auto DJ could not be switched on. Is the Auto DJ queue empty?"));
  {
    std::lock_guard lock(rig->state().pending_mutex);
    ASSERT_TRUE(rig->state().pending_toggle.has_value());
    const PendingToggle& pending = *rig->state().pending_toggle;
    EXPECT_EQ(pending.group, "[AutoDJ]");
    EXPECT_EQ(pending.control, "enabled");
    // The quiet time after the read-back.
    const Timing& timing = rig->state().timing;
    EXPECT_GE(pending.deadline,
              before + timing.toggle_delay + timing.pending_toggle_quiet);
    EXPECT_LE(pending.deadline, Clock::now() + timing.pending_toggle_quiet);
  }
  // Play on an empty deck stays off; the label comes from the control name.
  EXPECT_EQ(rig->press({"ctrl+alt+p"}), Texts{"play could not be switched on"});
  std::lock_guard lock(rig->state().pending_mutex);
  EXPECT_EQ(rig->state().pending_toggle->group, "[Channel1]");
  EXPECT_EQ(rig->state().pending_toggle->control, "play");
}

// Built-in keys against a simulator set up for them: what is spoken, and
// exactly what is sent to Kelvo.
TEST(ActionWorker, KeysSpeakAndSendExactly) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string_view> keys;
    Texts spoken, requests;
  };
  const Case cases[] = {
      // Stop samplers stops only playing ones.
      {{"--samplers", "0"},
       {"ctrl+alt+shift+9"},
       {"Samplers stopped"},
       {"get [App],num_samplers"}},
      {{"--samplers", "2", "--load", "Sampler2=1", "--set",
        "[Sampler2],play=1"},
       {"ctrl+alt+shift+9"},
       {"Samplers stopped"},
       {"get [App],num_samplers", "get [Sampler1],play", "get [Sampler2],play",
        "set [Sampler2],stop=1.0", "set [Sampler2],stop=0.0"}},
      // The microphone is not switched on without an input; switching it
      // off never asks.
      {{"--no-mic-input"},
       {"ctrl+alt+shift+s"},
       {"microphone not switched on. No microphone input is set up. Choose "
        "one in Kelvo preferences, Sound Hardware, Input."},
       {"get [Microphone],talkover", "get [Microphone],input_configured"}},
      {{"--set", "[Microphone],talkover=1"},
       {"ctrl+alt+a", "ctrl+alt+shift+s"},
       {"Announcements off", "microphone off"},
       {"get [Microphone],talkover", "set [Microphone],talkover=0.0",
        "get [Microphone],talkover"}},
      // A grid button on a locked grid: Kelvo ignores it, and the read-back
      // says why instead of its report.
      {{"--load", "1=1", "--set", "[Channel1],bpmlock=1"},
       {"ctrl+alt+j"},
       {"Grid is locked"},
       {"set [Channel1],beats_adjust_faster=1.0",
        "set [Channel1],beats_adjust_faster=0.0", "get [Channel1],bpmlock"}},
      // A press on an empty sampler presses nothing.
      {{"--load", "[Sampler1]=1"},
       {"ctrl+alt+shift+6", "ctrl+alt+shift+5"},
       {"Sampler 2 is empty"},
       {"get [Sampler2],track_loaded", "get [Sampler1],track_loaded",
        "set [Sampler1],cue_gotoandplay=1.0",
        "set [Sampler1],cue_gotoandplay=0.0"}},
  };
  for (const Case& c : cases) {
    auto rig = Rig::start(c.options);
    ASSERT_TRUE(rig);
    const size_t mark = rig->mark();
    EXPECT_EQ(rig->press(c.keys), c.spoken) << c.keys[0];
    EXPECT_EQ(rig->requests_since(mark), c.requests) << c.keys[0];
  }
}

// A confirm alone, and a press with neither, are in the every-key run.
TEST(ActionWorker, PressPulsesAndItsReportWinsOverTheConfirm) {
  auto rig =
      Rig::start({"--load", "1=1", "--set", "[Channel1],beatloop_size=4"});
  ASSERT_TRUE(rig);
  size_t mark = rig->mark();
  EXPECT_THAT(rig->press({"ctrl+alt+shift+period"}), ElementsAre("loop 8"));
  EXPECT_THAT(rig->requests_since(mark),
              ElementsAre("set [Channel1],loop_double=1.0",
                          "set [Channel1],loop_double=0.0",
                          "get [Channel1],beatloop_size"));
  // Report and confirm together: only the report is spoken.
  act::Press both{
      {"[Channel{deck}]", "loop_halve"},
      Report{{"[Channel{deck}]", "beatloop_size"}, "size", ValueFormat::number},
      "halved",
      std::nullopt};
  EXPECT_THAT(rig->run(both), ElementsAre("size 4"));
}

TEST(ActionWorker, HotcuePressJumpsOrSetsAndQuietsPlayAnnouncements) {
  // Row 1 runs at 44.1 kHz; hot cue 2 lies at 1:05 (positions count the
  // samples of both channels). The deck is paused at its start.
  auto rig =
      Rig::start({"--load", "1=1", "--set", "[Channel1],hotcue_2_status=1",
                  "--set", "[Channel1],hotcue_2_position=5733000"});
  ASSERT_TRUE(rig);
  // Hot cue 4 does not exist yet: the press sets it, silently here.
  auto before = Clock::now();
  EXPECT_THAT(rig->press({"ctrl+alt+f4"}), IsEmpty());
  {
    std::lock_guard lock(rig->state().hotcue_mutex);
    const auto quiet = rig->state().timing.hotcue_quiet;
    EXPECT_GE(rig->state().hotcue_quiet_until, before + quiet);
    EXPECT_LE(rig->state().hotcue_quiet_until, Clock::now() + quiet);
  }
  EXPECT_NE(rig->value("[Channel1]", "hotcue_4_status"), 0);
  // Hot cue 2 exists: the press jumps and says where the deck is now.
  size_t mark = rig->mark();
  EXPECT_THAT(rig->press({"ctrl+alt+f2"}), ElementsAre("Hotcue 2, 1:05"));
  EXPECT_THAT(rig->requests_since(mark),
              ElementsAre("get [Channel1],hotcue_2_status",
                          "set [Channel1],hotcue_2_activate=1.0",
                          "set [Channel1],hotcue_2_activate=0.0",
                          "get [Channel1],time_elapsed"));
}

// A full volume raised again is in the every-key run.
TEST(ActionWorker, AdjustClampsAndFollowsTheDeck) {
  auto rig = Rig::start();
  ASSERT_TRUE(rig);
  rig->state().bridge->set("[Master]", "crossfader", "parameter", 0.02);
  EXPECT_THAT(rig->press({"ctrl+alt+shift+m", "ctrl+alt+shift+space"}),
              ElementsAre("crossfader left 100%", "crossfader left 100%"));
  EXPECT_EQ(rig->value("[Master]", "crossfader", "parameter"), 0.0);

  size_t mark = rig->mark();
  EXPECT_THAT(
      rig->press({"ctrl+alt+3", "ctrl+alt+z", "ctrl+alt+1", "ctrl+alt+z"}),
      ElementsAre("Deck 3. empty", "low +10%", "Deck 1. empty", "low +10%"));
  EXPECT_THAT(
      rig->requests_since(mark),
      ElementsAre("get [Channel3],track_loaded", "deckinfo",
                  "get! [EqualizerRack1_[Channel3]_Effect1],parameter1",
                  "set! [EqualizerRack1_[Channel3]_Effect1],parameter1=0.55",
                  "get [Channel1],track_loaded", "deckinfo",
                  "get! [EqualizerRack1_[Channel1]_Effect1],parameter1",
                  "set! [EqualizerRack1_[Channel1]_Effect1],parameter1=0.55"));
  EXPECT_EQ(parameters_on_wrong_scale(rig->bridge()), false);

  // A plugin that reads parameters on the control's own scale: the centred
  // crossfader would read as full left. Found out at start-up, and then no
  // key steps a value or reports a parameter; nothing is thrown to an end.
  auto wrong = Rig::start({"--wrong-scale"});
  ASSERT_TRUE(wrong);
  EXPECT_EQ(parameters_on_wrong_scale(wrong->bridge()), true);
  wrong->state().scale_wrong.store(1);
  mark = wrong->mark();
  EXPECT_THAT(wrong->press({"ctrl+alt+m", "ctrl+alt+shift+space"}),
              Each(Eq("The Kelvo plugin reports values on a wrong scale; "
                      "keys that step a value are off")));
  EXPECT_THAT(wrong->requests_since(mark), IsEmpty());
  EXPECT_EQ(wrong->value("[Master]", "crossfader"), 0);
}

TEST(ActionWorker, SelectDeckKeyHelpAndOrvalinKeys) {
  auto rig = Rig::start({"--decks", "2"});
  ASSERT_TRUE(rig);
  // A deck that Kelvo does not have, by the count read at start-up, is
  // never chosen: the deck keys would all fail on it.
  rig->state().deck_count.store(2);
  size_t mark = rig->mark();
  EXPECT_THAT(rig->press({"ctrl+alt+4"}), ElementsAre("Kelvo has 2 decks"));
  EXPECT_EQ(rig->state().current_deck.load(), 1);
  EXPECT_THAT(rig->requests_since(mark), IsEmpty());

  EXPECT_THAT(
      rig->press({"ctrl+alt+f12", "ctrl+alt+p", "ctrl+alt+shift+f1",
                  "ctrl+alt+f12", "ctrl+alt+2"}),
      ElementsAre("Key help on. Press any Orvalin key to hear what it does.",
                  "ctrl alt p: play on or off on the current deck",
                  "ctrl alt shift f1: clear hotcue 1 on the current deck",
                  "Key help off", "Deck 2. empty"));

  // Deck 2 is current and empty: a marker has nothing to mark.
  mark = rig->mark();
  EXPECT_EQ(rig->press({"ctrl+alt+5"}), Texts{"Error: no track loaded"});
  EXPECT_EQ(rig->requests_since(mark), Texts{"get [Channel2],track_loaded"});
}

TEST(ActionWorker, KeysLeftToTypingAreOnlyDescribedInKeyHelp) {
  auto rig = Rig::start();
  ASSERT_TRUE(rig);
  std::vector<bool> told;
  rig->state().key_help_changed = [&told](bool on) { told.push_back(on); };
  const std::vector<KeyAction> table = {{"ctrl+alt+f12", act::KeyHelp{}},
                                        {"ctrl+alt+q", act::ToggleAnnounce{}}};
  const auto now = Clock::now();
  KeyPress typing{1, now};
  typing.left_to_typing = true;
  size_t mark = rig->mark();
  EXPECT_THAT(rig->run_presses(table, {{0, now}, typing, {0, now}, typing}),
              ElementsAre("Key help on. Press any Orvalin key to hear what it "
                          "does.",
                          "ctrl alt q: left to typing on this keyboard",
                          "Key help off"));
  EXPECT_THAT(told, ElementsAre(true, false));
  EXPECT_THAT(rig->requests_since(mark), IsEmpty());
}

TEST(ActionWorker, APressRunsTheBindingsItWasMadeWith) {
  auto rig = Rig::start();
  ASSERT_TRUE(rig);
  auto tables = [](Action action) {
    auto made = std::make_shared<BindingTables>();
    made->actions.push_back({"ctrl+alt+x", std::move(action)});
    return std::shared_ptr<const BindingTables>(std::move(made));
  };
  // Both presses were queued before the worker took the first: a reload in
  // between changes only the second. An index beyond the bindings does
  // nothing.
  BindingsInForce in_force(tables(act::ToggleAnnounce{}));
  KeyPress before = in_force.press(0);
  in_force.replace(tables(act::StopSpeech{}));
  const size_t mark = rig->mark();
  EXPECT_THAT(rig->run_presses({KeyAction{"ctrl+alt+x", act::Say{}}},
                               {before, in_force.press(0), in_force.press(1),
                                in_force.press(~0ull)}),
              ElementsAre("Announcements off", "<stop>"));
  EXPECT_THAT(rig->requests_since(mark), IsEmpty());
}

}  // namespace
}  // namespace orvalin
