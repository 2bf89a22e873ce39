#include "actions/reports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "controls/track.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using ::testing::ElementsAre;
using testrig::Rig;

Action say(SayWhat what) { return act::Say{what}; }

// The reports of one read each check first; the others read the deck's
// controls together with it (see LateAnswersStillGiveTheSentence).
TEST(Reports, EmptyDeckIsSaidAsSuch) {
  auto rig = Rig::start();
  ASSERT_TRUE(rig);
  rig->state().current_deck.store(2);
  for (SayWhat what :
       {SayWhat::status, SayWhat::track, SayWhat::time, SayWhat::tempo,
        SayWhat::grid_offset, SayWhat::hotcues}) {
    SCOPED_TRACE(std::string(say_what_name(what)));
    size_t mark = rig->mark();
    EXPECT_THAT(rig->run(say(what)), ElementsAre("Deck 2 empty"));
    if (what == SayWhat::grid_offset || what == SayWhat::hotcues) {
      EXPECT_THAT(rig->requests_since(mark),
                  ElementsAre("get [Channel2],track_loaded"));
    }
  }
}

// Kelvo stalls for a second while replies are waited for 300 ms: each key
// fails with the time-out, then says its sentence when the answers come.
// Time and tempo alone, and a paused deck, are in the every-key run.
TEST(Reports, LateAnswersStillGiveTheSentence) {
  Timing timing = testrig::quick_timing();
  timing.reply_wait = std::chrono::milliseconds(300);
  // Row 6 is at 127.5 BPM in C major and lasts 5:56; the clock is all but
  // stopped, so that the playing deck stays at 1:05. The loop-in key's
  // release stalls Kelvo before its position is read back.
  auto rig = Rig::start({"--clock-speed", "0.000001", "--load", "1=6", "--set",
                         "[Channel1],playposition=0.18258426966", "--set",
                         "[Channel1],play=1", "--stall-after", "loop_in=1000"},
                        timing);
  ASSERT_TRUE(rig);
  const std::string description =
      deck_track_description(rig->state(), 1).value_or("?");
  const std::string late_loaded =
      "Error: [Channel1],track_loaded: Kelvo did not answer in time";
  struct Case {
    std::string_view key;
    std::string error, late;
  };
  const Case cases[] = {
      {"ctrl+alt+space", late_loaded,
       "Deck 1 playing, 4:51 remaining, 127.5 BPM, C major, 8B"},
      {"ctrl+alt+i", late_loaded, description},
      {"ctrl+alt+1", late_loaded, "Deck 1. " + description},
      {"ctrl+alt+5",
       "Error: [Channel1],loop_start_position: Kelvo did not answer in time",
       "loop in 1:05"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key));
    if (c.key != "ctrl+alt+5") {
      ASSERT_TRUE(rig->set("[Kelvosim]", "stall", 1));
    }
    EXPECT_THAT(rig->press({c.key}), ElementsAre(c.error));
    const std::optional<Speak> late = rig->next_speak();
    EXPECT_EQ(late ? late->text : "nothing", c.late);
    (void)rig->value("[App]", "num_decks");  // Kelvo answers in time again
  }
}

// A shortened title completed from the library's selection is in the
// every-key run.
TEST(Reports, TrackDescriptionKeepsShortenedLabels) {
  // Deck 1 shows row 3's long title shortened with "…", and the library
  // selects row 1. Deck 2 holds row 1, whose texts are short.
  auto rig = Rig::start({"--load", "1=3", "--load", "2=1", "--select", "1"});
  ASSERT_TRUE(rig);
  EXPECT_THAT(
      rig->run(say(SayWhat::track)),
      ElementsAre("Tomorrow Never Comes (Ex\xE2\x80\xA6. The Lanterns"));
  EXPECT_EQ(deck_track_description(rig->state(), 2), "Night Drive. Anon");
  // A deck that Kelvo does not have: no description at all.
  EXPECT_EQ(deck_track_description(rig->state(), 9), std::nullopt);
}

// A selected track is described in the every-key run.
TEST(Reports, TrackWithoutVisibleTextsDeckInfoOrSelection) {
  // Deck 1 says it has a track but its labels show only times, a tempo and
  // empty texts.
  auto rig = Rig::start({"--set", "[Channel1],track_loaded=1"});
  ASSERT_TRUE(rig);
  EXPECT_EQ(deck_track_description(rig->state(), 1), "");
  EXPECT_THAT(rig->run(say(SayWhat::track)),
              ElementsAre("No track information visible in the current skin"));

  auto silent = Rig::start({"--load", "1=1", "--drop-reply", "selectedtrack"});
  ASSERT_TRUE(silent);
  EXPECT_THAT(silent->run(say(SayWhat::selected_track)),
              ElementsAre("Error: no track selected in the library"));
}

TEST(Reports, Hotcues) {
  // Deck 1 (44.1 kHz): hot cues 1 at 0:12 and 3 at 1:48. Deck 2 claims a
  // track without a sample rate and has hot cue 2. A deck without hot cues
  // is in the every-key run.
  auto rig = Rig::start(
      {"--load", "1=3", "--set", "[Channel1],hotcue_1_status=1", "--set",
       "[Channel1],hotcue_1_position=1058400", "--set",
       "[Channel1],hotcue_3_status=1", "--set",
       "[Channel1],hotcue_3_position=9525600", "--set",
       "[Channel2],track_loaded=1", "--set", "[Channel2],hotcue_2_status=1",
       "--set", "[Channel2],hotcue_2_position=1000"});
  ASSERT_TRUE(rig);
  EXPECT_THAT(rig->run(say(SayWhat::hotcues)),
              ElementsAre("Deck 1: hotcue 1 0:12, hotcue 3 1:48"));
  rig->state().current_deck.store(2);
  EXPECT_THAT(rig->run(say(SayWhat::hotcues)), ElementsAre("Deck 2: hotcue 2"));
}

TEST(Reports, EffectsAndTheirFailures) {
  auto rig = Rig::start(
      {"--decks", "3", "--effect", "2,3=org.kelvo.effects.flanger", "--set",
       "[EffectRack1_EffectUnit2],group_[Channel3]_enable=1"});
  ASSERT_TRUE(rig);
  size_t mark = rig->mark();
  EXPECT_THAT(rig->run(say(SayWhat::effects)),
              ElementsAre("Effect unit 1: empty. Effect unit 2, on deck 3: "
                          "Flanger on"));
  // The deck count; per unit three deck switches and three slots; for the
  // one loaded slot its effect, the effect's name and its switch.
  std::vector<std::string> requests = rig->requests_since(mark);
  EXPECT_EQ(requests.size(), 1u + 2 * (3 + 3) + 3);
  EXPECT_EQ(requests.front(), "get [App],num_decks");
  EXPECT_THAT(requests, ::testing::Contains("effectname"));

  // A slot that says it is loaded with an effect Kelvo cannot name ends the
  // report with the plugin's error.
  auto broken =
      Rig::start({"--set", "[EffectRack1_EffectUnit1_Effect1],loaded=1"});
  ASSERT_TRUE(broken);
  EXPECT_THAT(broken->run(say(SayWhat::effects)),
              ElementsAre("Error: no effect with index 0"));
}

}  // namespace
}  // namespace orvalin
