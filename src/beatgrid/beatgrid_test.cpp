#include "beatgrid/beatgrid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "testing/rig.h"

namespace orvalin {
namespace {

using testrig::Rig;

using ::testing::ElementsAre;

constexpr char kUnit[] = "[EffectRack1_EffectUnit4]";
constexpr char kMetronomeId[] = "org.kelvo.effects.metronome";
constexpr char kClicksOn1[] =
    "Grid clicks on for deck 1. Play the track: the clicks are the beat grid.";
constexpr char kClicksOn2[] =
    "Grid clicks on for deck 2. Play the track: the clicks are the beat grid.";

std::string slot(int n) {
  return "[EffectRack1_EffectUnit4_Effect" + std::to_string(n) + "]";
}

std::string effect(int slot_number, const std::string& id) {
  return "4," + std::to_string(slot_number) + "=" + id;
}

TEST(GridClicks, UsesTheMetronomeAlreadyInTheUnitAndLeavesItThere) {
  auto rig =
      Rig::start({"--load", "1=10", "--effect", effect(3, kMetronomeId)});
  ASSERT_TRUE(rig);
  const double metronome = rig->value(slot(3), "loaded_effect");

  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  EXPECT_THAT(rig->spoken(), ElementsAre(kClicksOn1));
  EXPECT_EQ(rig->value(kUnit, "group_[Channel1]_enable"), 1);
  EXPECT_EQ(rig->value(slot(3), "button_parameter1"), 1);
  EXPECT_EQ(rig->value(slot(3), "enabled"), 1);
  for (int s : {1, 2, 4}) EXPECT_EQ(rig->value(slot(s), "loaded"), 0) << s;

  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  EXPECT_THAT(rig->spoken(), ElementsAre("Grid clicks off for deck 1"));
  EXPECT_EQ(rig->value(kUnit, "group_[Channel1]_enable"), 0);
  EXPECT_EQ(rig->value(slot(3), "loaded"), 1);
  EXPECT_EQ(rig->value(slot(3), "loaded_effect"), metronome);
}

TEST(GridClicks, LoadsIntoTheFirstEmptySlotAndRestoresTheUnit) {
  auto rig = Rig::start({"--load", "1=10", "--effect",
                         effect(1, "org.kelvo.effects.echo"), "--effect",
                         effect(2, "org.kelvo.effects.reverb"), "--set",
                         "[EffectRack1_EffectUnit4],mix=0.25", "--set",
                         "[EffectRack1_EffectUnit4],mix_mode=1", "--set",
                         "[EffectRack1_EffectUnit4],enabled=0"});
  ASSERT_TRUE(rig);
  auto index = rig->bridge().effect_index(kMetronomeId);
  ASSERT_TRUE(index);

  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  EXPECT_THAT(rig->spoken(), ElementsAre(kClicksOn1));
  EXPECT_EQ(rig->value(slot(3), "loaded"), 1);
  EXPECT_EQ(rig->value(slot(3), "loaded_effect"), *index);
  EXPECT_EQ(rig->value(slot(4), "loaded"), 0);
  EXPECT_EQ(rig->value(kUnit, "mix"), 1);
  EXPECT_EQ(rig->value(kUnit, "mix_mode"), 0);
  EXPECT_EQ(rig->value(kUnit, "enabled"), 1);

  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  EXPECT_THAT(rig->spoken(), ElementsAre("Grid clicks off for deck 1"));
  EXPECT_EQ(rig->value(slot(3), "loaded"), 0);
  EXPECT_EQ(rig->value(slot(1), "loaded"), 1);
  EXPECT_EQ(rig->value(slot(2), "loaded"), 1);
  EXPECT_EQ(rig->value(kUnit, "mix"), 0.25);
  EXPECT_EQ(rig->value(kUnit, "mix_mode"), 1);
  EXPECT_EQ(rig->value(kUnit, "enabled"), 0);
  EXPECT_EQ(rig->value(kUnit, "group_[Channel1]_enable"), 0);
}

TEST(GridClicks, RefusesAMissingMetronomeAndReadsBackTheUnit) {
  auto missing = Rig::start({"--load", "1=10", "--no-metronome"});
  ASSERT_TRUE(missing);
  EXPECT_EQ(error_text(toggle_grid_clicks(missing->shared_state(), 1)),
            "The Metronome effect is not available. Enable it in Kelvo "
            "preferences, Effects.");

  // Kelvo does not put the unit on the deck: the clicks are not heard, so
  // they are not said to be on, and the unit is put back as it was.
  auto ignoring =
      Rig::start({"--load", "1=10", "--ignore-set", "group_[Channel1]_enable",
                  "--set", "[EffectRack1_EffectUnit4],mix=0.25"});
  ASSERT_TRUE(ignoring);
  for (int press = 0; press < 2; ++press) {
    ASSERT_TRUE(toggle_grid_clicks(ignoring->shared_state(), 1));
    EXPECT_THAT(ignoring->spoken(),
                ElementsAre("Grid clicks could not be switched on for deck 1"));
  }
  EXPECT_EQ(ignoring->value(slot(1), "loaded"), 0);
  EXPECT_EQ(ignoring->value(kUnit, "mix"), 0.25);

  // No slot is free for the metronome: refused, and nothing changes.
  auto full = Rig::start({"--load", "1=1", "--effect",
                          effect(1, "org.kelvo.effects.echo"), "--effect",
                          effect(2, "org.kelvo.effects.reverb"), "--effect",
                          effect(3, "org.kelvo.effects.phaser"), "--effect",
                          effect(4, "org.kelvo.effects.flanger")});
  ASSERT_TRUE(full);
  EXPECT_EQ(error_text(toggle_grid_clicks(full->shared_state(), 1)),
            "Effect unit 4 is full. Remove an effect from it first.");
  EXPECT_EQ(full->value(kUnit, "group_[Channel1]_enable"), 0);
}

TEST(GridClicks, MoveToAnotherDeckSpeaksOnlyTheOnSentence) {
  auto rig = Rig::start({"--load", "1=10", "--load", "2=3"});
  ASSERT_TRUE(rig);
  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 2));
  EXPECT_THAT(rig->spoken(), ElementsAre(kClicksOn1, kClicksOn2));
  EXPECT_EQ(rig->value(kUnit, "group_[Channel1]_enable"), 0);
  EXPECT_EQ(rig->value(kUnit, "group_[Channel2]_enable"), 1);
  // The metronome loaded for deck 1 was cleared and loaded again: one slot.
  int loaded = 0;
  for (int s = 1; s <= 4; ++s) loaded += rig->value(slot(s), "loaded") != 0;
  EXPECT_EQ(loaded, 1);

  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 2));
  EXPECT_THAT(rig->spoken(), ElementsAre("Grid clicks off for deck 2"));
  for (int s = 1; s <= 4; ++s) EXPECT_EQ(rig->value(slot(s), "loaded"), 0);
}

TEST(GridMove, KeepsATotalPerDeckThatClicksOnResets) {
  auto rig = Rig::start({"--load", "1=10", "--load", "3=4"});
  ASSERT_TRUE(rig);
  for (auto [deck, beats] :
       {std::pair{1, 1}, {1, 1}, {3, -2}, {1, -1}, {1, -1}}) {
    ASSERT_TRUE(move_grid(rig->shared_state(), deck, beats));
  }
  EXPECT_THAT(rig->spoken(), ElementsAre("later, total plus 5 milliseconds",
                                         "later, total plus 10 milliseconds",
                                         "earlier, total minus 10 milliseconds",
                                         "earlier, total plus 5 milliseconds",
                                         "earlier, back where it was"));
  EXPECT_EQ(rig->value("[Channel1]", "beats_translate_move"), 0);

  ASSERT_TRUE(move_grid(rig->shared_state(), 1, 3));
  ASSERT_TRUE(toggle_grid_clicks(rig->shared_state(), 1));
  ASSERT_TRUE(move_grid(rig->shared_state(), 1, -1));
  ASSERT_TRUE(move_grid(rig->shared_state(), 3, -1));
  // Deck 1's grid, from its first beat at the track's start, moved 10 ms.
  ASSERT_TRUE(say_grid_offset(rig->state(), 1));
  EXPECT_THAT(rig->spoken(),
              ElementsAre("later, total plus 15 milliseconds", kClicksOn1,
                          "earlier, total minus 5 milliseconds",
                          "earlier, total minus 15 milliseconds",
                          "10 milliseconds before the beat"));

  // An empty deck: refused before anything is sent to Kelvo.
  EXPECT_EQ(error_text(move_grid(rig->shared_state(), 2, 1)),
            "no track loaded");
  EXPECT_EQ(error_text(tap_tempo(rig->shared_state(), 2)), "no track loaded");
  EXPECT_EQ(error_text(say_grid_offset(rig->state(), 2)), "no track loaded");
  for (const std::string& line : rig->sim().trace()) {
    if (line.find("[Channel2]") == std::string::npos) continue;
    EXPECT_THAT(line, testing::HasSubstr("\"cmd\":\"get\"")) << line;
  }
  EXPECT_THAT(rig->spoken(), testing::IsEmpty());

  // A locked grid: Kelvo ignores the move and the tap, and the read-back
  // after them says so; nothing is said to have moved, nor counted.
  ASSERT_TRUE(rig->set("[Channel1]", "bpmlock", 1));
  ASSERT_TRUE(move_grid(rig->shared_state(), 1, 1));
  ASSERT_TRUE(tap_tempo(rig->shared_state(), 1));
  EXPECT_THAT(rig->spoken(), ElementsAre("Grid is locked", "Grid is locked"));
  EXPECT_FALSE(rig->next_speak(rig->state().timing.tap_quiet * 2));
  ASSERT_TRUE(rig->set("[Channel1]", "bpmlock", 0));
  ASSERT_TRUE(move_grid(rig->shared_state(), 1, 1));
  EXPECT_THAT(rig->spoken(), ElementsAre("later, back where it was"));
}

TEST(TapTempo, ARunOfTapsGivesOneSentence) {
  // The quiet time must outlast a 500 ms gap plus a tap's own requests on a
  // loaded machine, or an earlier tap's thread speaks.
  Timing timing = testrig::quick_timing();
  timing.tap_quiet = std::chrono::milliseconds(2000);
  std::string why;
  auto rig = Rig::start({"--load", "1=1"}, timing, &why);  // a 130 BPM track
  ASSERT_TRUE(rig) << why;
  for (int tap = 0; tap < 4; ++tap) {
    if (tap > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(tap_tempo(rig->shared_state(), 1));
  }
  auto sentence = rig->next_speak(std::chrono::seconds(10));
  ASSERT_TRUE(sentence);
  char expected[64];
  std::snprintf(expected, sizeof expected, "tapped %.2f BPM",
                rig->value("[Channel1]", "file_bpm"));
  EXPECT_EQ(sentence->text, expected);
  // Taps at least 500 ms apart set the grid to 120 BPM or a little less.
  EXPECT_LT(rig->value("[Channel1]", "file_bpm"), 125);
  // The earlier taps' threads stay silent.
  EXPECT_FALSE(rig->next_speak(rig->state().timing.tap_quiet));
}

TEST(GridOffset, SpeaksTheDistanceToTheNearestBeat) {
  // Row 10 is a 120 BPM track whose grid starts at 0: 500 ms a beat.
  auto rig = Rig::start(
      {"--load", "1=10", "--load", "2=10", "--load", "3=10", "--load", "4=10",
       "--set", "[Channel1],beat_distance=0.25", "--set",
       "[Channel2],beat_distance=0.9", "--set",
       "[Channel3],beat_distance=0.002", "--set", "[Channel4],file_bpm=0"});
  ASSERT_TRUE(rig);
  for (uint8_t deck = 1; deck <= 4; ++deck) {
    ASSERT_TRUE(say_grid_offset(rig->state(), deck));
  }
  EXPECT_THAT(rig->spoken(),
              ElementsAre("125 milliseconds after the beat",
                          "50 milliseconds before the beat", "On the beat",
                          "This track has no beat grid"));
}

TEST(ClearLeftOnClicks, SwitchesOffDecksOnlyWhenTheUnitHoldsTheMetronome) {
  auto rig = Rig::start(
      {"--effect", effect(2, kMetronomeId), "--set",
       "[EffectRack1_EffectUnit4],group_[Channel1]_enable=1", "--set",
       "[EffectRack1_EffectUnit4],group_[Channel3]_enable=1"});
  ASSERT_TRUE(rig);
  testing::internal::CaptureStdout();
  clear_left_on_clicks(rig->bridge());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "grid clicks left on for deck 1 last time: turned off\n"
            "grid clicks left on for deck 3 last time: turned off\n");
  for (const std::string deck : {"1", "2", "3", "4"}) {
    EXPECT_EQ(rig->value(kUnit, "group_[Channel" + deck + "]_enable"), 0);
  }

  // Without the metronome in the unit the assignment is someone else's.
  auto other =
      Rig::start({"--effect", effect(1, "org.kelvo.effects.echo"), "--set",
                  "[EffectRack1_EffectUnit4],group_[Channel2]_enable=1"});
  ASSERT_TRUE(other);
  clear_left_on_clicks(other->bridge());
  EXPECT_EQ(other->value(kUnit, "group_[Channel2]_enable"), 1);
}

}  // namespace
}  // namespace orvalin
