#include "model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kelvosim {
namespace {

// A model with its changes recorded, and short-hands for the tests.
struct Fixture {
  explicit Fixture(ModelOptions options = {}) : model(options) {
    model.set_listener(
        [this](const Change& change) { changes.push_back(change); });
  }
  double get(const std::string& group, const std::string& key,
             Prop prop = Prop::value) {
    auto value = model.get(group, key, prop);
    EXPECT_TRUE(value.has_value()) << group << "," << key;
    return value.value_or(NAN);
  }
  double set(const std::string& group, const std::string& key, double value,
             Prop prop = Prop::value) {
    auto result = model.set(group, key, prop, value);
    EXPECT_TRUE(result.has_value()) << group << "," << key;
    return result.value_or(NAN);
  }
  void press(const std::string& group, const std::string& key) {
    set(group, key, 1);
    set(group, key, 0);
  }
  // The values a control took, in order, since the last call.
  std::vector<double> taken(const std::string& group, const std::string& key) {
    std::vector<double> values;
    for (const auto& change : changes) {
      if (change.group == group && change.key == key)
        values.push_back(change.value);
    }
    return values;
  }
  void ticks(double seconds, double step = 0.02) {
    for (double done = 0; done < seconds - 1e-9; done += step) model.tick(step);
  }

  Model model;
  std::vector<Change> changes;
};

ModelOptions loaded(int row, double clock_speed = 1) {
  ModelOptions options;
  options.loads.push_back({"[Channel1]", row});
  options.clock_speed = clock_speed;
  return options;
}

TEST(Model, MapsValuesOntoParameters) {
  Fixture f;
  EXPECT_EQ(f.get("[Channel1]", "volume", Prop::parameter), 1.0);
  EXPECT_EQ(f.set("[Channel1]", "volume", 0.25, Prop::parameter), 0.25);
  // Crossfader -1..1; [Main] and [Master] are the same group.
  EXPECT_EQ(f.get("[Master]", "crossfader", Prop::parameter), 0.5);
  // A parameter set answers with the parameter in force.
  EXPECT_EQ(f.set("[Main]", "crossfader", 0.75, Prop::parameter), 0.75);
  EXPECT_EQ(f.get("[Master]", "crossfader"), 0.5);
  EXPECT_EQ(f.set("[Master]", "crossfader", -3), -1.0);  // clamped
  // Gain and EQ knobs: 0..4 with 1 at the centre.
  EXPECT_EQ(f.get("[Channel2]", "pregain", Prop::parameter), 0.5);
  EXPECT_EQ(f.set("[Channel2]", "pregain", 0.25, Prop::parameter), 0.25);
  EXPECT_EQ(f.get("[Channel2]", "pregain"), 0.5);
  EXPECT_EQ(f.set("[Channel2]", "pregain", 2.5), 2.5);
  EXPECT_EQ(f.get("[Channel2]", "pregain", Prop::parameter), 0.75);
  const std::string eq = "[EqualizerRack1_[Channel3]_Effect1]";
  EXPECT_EQ(f.get(eq, "parameter1"), 1.0);

  auto unknown = f.model.get("[Channel1]", "no_such_key", Prop::value);
  ASSERT_FALSE(unknown.has_value());
  EXPECT_EQ(unknown.error(), "unknown control");
  EXPECT_FALSE(f.model.set("[Channel5]", "play", Prop::value, 1).has_value());
  EXPECT_FALSE(f.model.set("[Channel1]", "play", Prop::value, NAN).has_value());
  // Read-only controls ignore sets and answer their value.
  EXPECT_EQ(f.set("[Channel1]", "track_loaded", 1), 0.0);
  EXPECT_EQ(f.get("[App]", "num_decks"), 4.0);
}

TEST(Model, ClockMovesPlayingDecksAndEndsTracks) {
  Fixture f(loaded(12, 10));  // "Last Light", 243 s, clock ten times as fast
  EXPECT_EQ(f.get("[Channel1]", "track_loaded"), 1.0);
  EXPECT_EQ(f.get("[Channel1]", "duration"), 243.0);
  EXPECT_EQ(f.get("[Channel1]", "track_samplerate"), 44100.0);
  f.ticks(1);
  EXPECT_EQ(f.get("[Channel1]", "time_elapsed"), 0.0);  // paused
  f.set("[Channel1]", "play", 1);
  f.ticks(1);
  EXPECT_NEAR(f.get("[Channel1]", "time_elapsed"), 10, 0.01);
  EXPECT_NEAR(f.get("[Channel1]", "time_remaining"), 233, 0.01);
  EXPECT_EQ(f.get("[Channel1]", "end_of_track"), 0.0);
  f.set("[Channel1]", "playposition", 200.0 / 243);
  f.ticks(2);  // 20 s more: 23 s left
  EXPECT_EQ(f.get("[Channel1]", "end_of_track"), 1.0);
  f.ticks(3);  // past the end
  EXPECT_EQ(f.get("[Channel1]", "play"), 0.0);
  EXPECT_EQ(f.get("[Channel1]", "time_remaining"), 0.0);
  EXPECT_EQ(f.taken("[Channel1]", "end_of_track"), (std::vector<double>{1, 0}));
  EXPECT_EQ(f.taken("[Channel1]", "play"), (std::vector<double>{1, 0}));
}

TEST(Model, LoadsEjectsAndRefusesPlayWithoutTrack) {
  ModelOptions options;
  options.select = 3;
  Fixture f(options);
  // Play on an empty deck shows 1 for a moment, then 0.
  EXPECT_EQ(f.set("[Channel3]", "play", 1), 1.0);
  f.ticks(0.1);
  EXPECT_EQ(f.get("[Channel3]", "play"), 0.0);
  EXPECT_EQ(f.taken("[Channel3]", "play"), (std::vector<double>{1, 0}));

  f.press("[Channel2]", "LoadSelectedTrack");
  EXPECT_EQ(f.get("[Channel2]", "track_loaded"), 1.0);
  EXPECT_EQ(f.get("[Channel2]", "file_bpm"), 128.0);
  EXPECT_EQ(f.get("[Channel2]", "visual_key"), 22.0);  // A minor
  auto labels = f.model.deck_info(2);
  ASSERT_TRUE(labels.has_value());
  ASSERT_EQ(labels->size(), 5u);
  EXPECT_EQ((*labels)[0].text, "Tomorrow Never Comes (Ex\xE2\x80\xA6");
  EXPECT_EQ((*labels)[1].text, "The Lanterns");
  EXPECT_EQ((*labels)[2].text, "0:00");
  EXPECT_EQ((*labels)[3].text, "6:55");
  EXPECT_EQ((*labels)[4].text, "128.0");
  EXPECT_FALSE(f.model.deck_info(5).has_value());

  auto selected = f.model.selected_track();
  ASSERT_TRUE(selected.has_value());
  EXPECT_EQ(selected->row, 3u);
  EXPECT_EQ(selected->rows, 12u);
  EXPECT_EQ(selected->fields.at("title"),
            "Tomorrow Never Comes (Extended Sunrise Mix)");
  EXPECT_EQ(selected->fields.at("duration"), "6:55");
  EXPECT_EQ(selected->fields.at("key"), "Am");

  // A playing deck is neither ejected nor replaced.
  f.set("[Channel2]", "play", 1);
  f.press("[Channel2]", "eject");
  f.press("[Channel2]", "LoadSelectedTrack");
  EXPECT_EQ(f.get("[Channel2]", "file_bpm"), 128.0);
  f.set("[Channel2]", "play", 0);
  f.press("[Channel2]", "eject");
  EXPECT_EQ(f.get("[Channel2]", "track_loaded"), 0.0);
  EXPECT_EQ(f.get("[Channel2]", "visual_bpm"), 0.0);

  f.press("[PreviewDeck1]", "LoadSelectedTrackAndPlay");
  EXPECT_EQ(f.get("[PreviewDeck1]", "play"), 1.0);
  EXPECT_EQ(f.get("[PreviewDeck1]", "track_loaded"), 1.0);
}

TEST(Model, HotCuesMarkersAndLoopsUseSamplePositions) {
  Fixture f(loaded(5));  // "Undertow", 48 kHz, 122 BPM
  f.set("[Channel1]", "playposition", 10.0 / 401);
  EXPECT_EQ(f.get("[Channel1]", "hotcue_2_position"), -1.0);
  f.press("[Channel1]", "hotcue_2_activate");
  EXPECT_EQ(f.get("[Channel1]", "hotcue_2_status"), 1.0);
  EXPECT_NEAR(f.get("[Channel1]", "hotcue_2_position"), 10 * 48000 * 2, 1e-6);
  f.set("[Channel1]", "playposition", 0.5);
  // On a paused deck the cue plays while held and returns when released.
  f.changes.clear();
  f.set("[Channel1]", "hotcue_2_activate", 1);
  EXPECT_EQ(f.get("[Channel1]", "play"), 1.0);
  f.ticks(1);
  f.set("[Channel1]", "hotcue_2_activate", 0);
  EXPECT_EQ(f.taken("[Channel1]", "play"), (std::vector<double>{1, 0}));
  EXPECT_NEAR(f.get("[Channel1]", "time_elapsed"), 10, 1e-9);
  // While playing, it jumps.
  f.set("[Channel1]", "playposition", 0.5);
  f.set("[Channel1]", "play", 1);
  f.press("[Channel1]", "hotcue_2_activate");
  EXPECT_NEAR(f.get("[Channel1]", "time_elapsed"), 10, 1e-9);
  EXPECT_EQ(f.get("[Channel1]", "play"), 1.0);
  f.set("[Channel1]", "play", 0);
  f.press("[Channel1]", "hotcue_2_clear");
  EXPECT_EQ(f.get("[Channel1]", "hotcue_2_status"), 0.0);
  EXPECT_EQ(f.get("[Channel1]", "hotcue_2_position"), -1.0);

  f.press("[Channel1]", "intro_start_activate");
  EXPECT_EQ(f.get("[Channel1]", "intro_start_enabled"), 1.0);
  EXPECT_NEAR(f.get("[Channel1]", "intro_start_position"), 960000, 1e-6);
  EXPECT_EQ(f.get("[Channel1]", "outro_end_position"), -1.0);

  // A 4-beat loop at 122 BPM from 10 s, doubled.
  f.press("[Channel1]", "beatloop_activate");
  EXPECT_EQ(f.get("[Channel1]", "loop_enabled"), 1.0);
  const double beat = 60.0 / 122;
  EXPECT_NEAR(f.get("[Channel1]", "loop_end_position"), (10 + 4 * beat) * 96000,
              1e-3);
  f.press("[Channel1]", "loop_double");
  EXPECT_EQ(f.get("[Channel1]", "beatloop_size"), 8.0);
  EXPECT_NEAR(f.get("[Channel1]", "loop_end_position"), (10 + 8 * beat) * 96000,
              1e-3);
  f.press("[Channel1]", "reloop_toggle");
  EXPECT_EQ(f.get("[Channel1]", "loop_enabled"), 0.0);
  f.press("[Channel1]", "reloop_toggle");
  EXPECT_EQ(f.get("[Channel1]", "loop_enabled"), 1.0);

  // loop_in / loop_out set a loop by hand; loop_out before loop_in does not.
  f.set("[Channel1]", "playposition", 0.5);
  f.press("[Channel1]", "loop_in");
  EXPECT_EQ(f.get("[Channel1]", "loop_enabled"), 0.0);
  EXPECT_NEAR(f.get("[Channel1]", "loop_start_position"), 200.5 * 96000, 1e-3);
  EXPECT_EQ(f.get("[Channel1]", "loop_end_position"), -1.0);
  f.set("[Channel1]", "playposition", 0.6);
  f.press("[Channel1]", "loop_out");
  EXPECT_EQ(f.get("[Channel1]", "loop_enabled"), 1.0);
  EXPECT_NEAR(f.get("[Channel1]", "loop_end_position"), 240.6 * 96000, 1e-3);
}

TEST(Model, BeatGridFollowsAdjustmentsAndTaps) {
  Fixture f(loaded(2));  // "Harbour Lights", 124 BPM
  const std::string d = "[Channel1]";
  f.set(d, "playposition", 10.0 / 372);
  f.press(d, "beats_translate_curpos");
  EXPECT_NEAR(f.get(d, "beat_distance"), 0, 1e-9);
  f.set(d, "playposition", (10 + 60.0 / 124 / 4) / 372);
  EXPECT_NEAR(f.get(d, "beat_distance"), 0.25, 1e-6);
  // One step moves the grid 5 ms later; setting 0 afterwards moves nothing.
  f.set(d, "beats_translate_move", 1);
  f.set(d, "beats_translate_move", 0);
  EXPECT_NEAR(f.get(d, "beat_distance"), 0.25 - 0.005 * 124 / 60, 1e-6);
  f.press(d, "beats_undo_adjustment");
  EXPECT_NEAR(f.get(d, "beat_distance"), 0.25, 1e-6);

  f.press(d, "beats_adjust_faster");
  EXPECT_NEAR(f.get(d, "file_bpm"), 124.01, 1e-9);
  f.press(d, "beats_adjust_slower");
  f.press(d, "beats_adjust_slower");
  EXPECT_NEAR(f.get(d, "file_bpm"), 123.99, 1e-9);
  f.press(d, "beats_undo_adjustment");
  EXPECT_NEAR(f.get(d, "file_bpm"), 124.0, 1e-9);
  f.press(d, "beats_set_halve");
  EXPECT_EQ(f.get(d, "file_bpm"), 62.0);
  f.press(d, "beats_set_double");
  EXPECT_EQ(f.get(d, "file_bpm"), 124.0);
  f.set(d, "bpmlock", 1);
  f.press(d, "beats_set_double");
  EXPECT_EQ(f.get(d, "file_bpm"), 124.0);
  f.set(d, "bpmlock", 0);

  // Four taps half a second apart: 120 BPM.
  for (int i = 0; i < 4; ++i) {
    f.press(d, "bpm_tap");
    f.ticks(0.5, 0.05);
  }
  EXPECT_NEAR(f.get(d, "file_bpm"), 120.0, 1e-6);
}

TEST(Model, TempoAndKeyControls) {
  ModelOptions options = loaded(1);            // 130 BPM, D minor
  options.loads.push_back({"[Channel2]", 2});  // 124 BPM, A major
  Fixture f(options);
  const std::string d = "[Channel1]";
  f.press(d, "rate_perm_up_small");
  EXPECT_NEAR(f.get(d, "visual_bpm"), 130.13, 1e-9);
  f.press(d, "rate_set_zero");
  EXPECT_EQ(f.get(d, "visual_bpm"), 130.0);
  EXPECT_EQ(f.get(d, "visual_key"), 15.0);
  f.press(d, "pitch_up");
  EXPECT_EQ(f.get(d, "visual_key"), 16.0);  // E flat minor
  f.press(d, "pitch_down");
  f.press(d, "pitch_down");
  EXPECT_EQ(f.get(d, "visual_key"), 14.0);
  f.press(d, "reset_key");
  EXPECT_EQ(f.get(d, "visual_key"), 15.0);
  // Matched to deck 2's A major: its relative minor, F sharp minor.
  f.press(d, "sync_key");
  EXPECT_EQ(f.get(d, "visual_key"), 19.0);
  f.set(d, "sync_enabled", 1);
  EXPECT_NEAR(f.get(d, "visual_bpm"), 124.0, 1e-9);
}

TEST(Model, AutoDjRecordingBroadcastAndMicrophone) {
  {
    Fixture f;
    // Refused with an empty queue: it flips back at once, and both changes
    // are reported a little later.
    EXPECT_EQ(f.set("[AutoDJ]", "enabled", 1), 1.0);
    f.ticks(0.1);
    EXPECT_EQ(f.get("[AutoDJ]", "enabled"), 0.0);
    EXPECT_TRUE(f.taken("[AutoDJ]", "enabled").empty());
    f.ticks(0.3);
    EXPECT_EQ(f.taken("[AutoDJ]", "enabled"), (std::vector<double>{1, 0}));

    f.press("[Recording]", "toggle_recording");
    f.ticks(0.5);
    f.press("[Recording]", "toggle_recording");
    EXPECT_EQ(f.taken("[Recording]", "status"), (std::vector<double>{1, 2, 0}));

    f.set("[Shoutcast]", "enabled", 1);
    f.ticks(0.5);
    EXPECT_EQ(f.taken("[Shoutcast]", "status"), (std::vector<double>{1, 2}));
    f.set("[Shoutcast]", "enabled", 0);
    EXPECT_EQ(f.get("[Shoutcast]", "status"), 0.0);

    EXPECT_EQ(f.get("[Microphone]", "input_configured"), 1.0);
    EXPECT_EQ(f.set("[Microphone]", "talkover", 1), 1.0);
  }
  {
    ModelOptions options;
    options.autodj_queue = 3;
    options.mic_input = false;
    Fixture f(options);
    EXPECT_EQ(f.set("[AutoDJ]", "enabled", 1), 1.0);
    f.ticks(0.1);
    EXPECT_EQ(f.get("[AutoDJ]", "enabled"), 1.0);
    EXPECT_EQ(f.get("[Channel1]", "play"), 1.0);
    EXPECT_EQ(f.get("[Channel1]", "duration"), library()[0].duration);
    EXPECT_EQ(f.get("[Channel2]", "duration"), library()[1].duration);
    f.press("[AutoDJ]", "fade_now");
    EXPECT_EQ(f.get("[Channel1]", "play"), 0.0);
    EXPECT_EQ(f.get("[Channel2]", "play"), 1.0);
    EXPECT_EQ(f.get("[Channel1]", "duration"), library()[2].duration);

    EXPECT_EQ(f.set("[Microphone]", "talkover", 1), 0.0);
  }
}

TEST(Model, DecksGrowAndLoudDecksClip) {
  ModelOptions options;
  options.decks = 2;
  options.grow_decks_after_ms = 500;
  options.clip_decks = {2};
  options.loads.push_back({"[Channel2]", 4});
  Fixture f(options);
  EXPECT_EQ(f.get("[App]", "num_decks"), 2.0);
  EXPECT_FALSE(f.model.exists("[Channel3]", "play"));
  EXPECT_FALSE(
      f.model.exists("[EffectRack1_EffectUnit1]", "group_[Channel3]_enable"));
  f.ticks(0.6);
  EXPECT_EQ(f.taken("[App]", "num_decks"), (std::vector<double>{4}));
  EXPECT_TRUE(f.model.exists("[Channel4]", "hotcue_8_status"));
  EXPECT_TRUE(
      f.model.exists("[EffectRack1_EffectUnit1]", "group_[Channel3]_enable"));

  f.set("[Channel2]", "play", 1);
  f.ticks(1.6);
  EXPECT_EQ(f.taken("[Channel2]", "peak_indicator"),
            (std::vector<double>{1, 0, 1}));
  EXPECT_EQ(f.taken("[Master]", "peak_indicator"),
            (std::vector<double>{1, 0, 1}));
  EXPECT_EQ(f.get("[Main]", "peak_indicator"), 1.0);
  f.set("[Channel2]", "play", 0);
  f.ticks(0.1);
  EXPECT_EQ(f.get("[Main]", "peak_indicator"), 0.0);
  EXPECT_EQ(f.get("[Channel2]", "peak_indicator"), 0.0);
}

TEST(Model, EffectSlots) {
  ModelOptions options;
  options.effects.push_back({4, 3, "org.kelvo.effects.metronome"});
  options.effects.push_back({1, 1, "org.kelvo.effects.echo"});
  Fixture f(options);
  EXPECT_EQ(f.model.effect_index("org.kelvo.effects.metronome"), 6);
  EXPECT_EQ(f.model.effect_index("org.kelvo.effects.unknown"), 0);
  EXPECT_EQ(f.model.effect_name(3).value_or(""), "Echo");
  EXPECT_FALSE(f.model.effect_name(0).has_value());

  const std::string slot = "[EffectRack1_EffectUnit4_Effect3]";
  EXPECT_EQ(f.get(slot, "loaded"), 1.0);
  EXPECT_EQ(f.get(slot, "loaded_effect"), 6.0);
  EXPECT_EQ(f.get(slot, "enabled"), 1.0);
  EXPECT_TRUE(f.model.exists("[EffectRack1_EffectUnit4_Effect4]", "loaded"));
  EXPECT_FALSE(f.model.exists("[EffectRack1_EffectUnit1_Effect4]", "loaded"));
  f.press(slot, "clear");
  EXPECT_EQ(f.get(slot, "loaded"), 0.0);
  EXPECT_EQ(f.get(slot, "loaded_effect"), 0.0);
  f.set(slot, "loaded_effect", 8);
  EXPECT_EQ(f.get(slot, "loaded"), 1.0);
  EXPECT_EQ(f.get("[EffectRack1_EffectUnit1_Effect1]", "loaded_effect"), 3.0);
  EXPECT_EQ(f.get("[EffectRack1_EffectUnit2]", "group_[Channel4]_enable"), 0.0);

  ModelOptions without;
  without.metronome = false;
  Fixture g(without);
  EXPECT_EQ(g.model.effect_index("org.kelvo.effects.metronome"), 0);
  EXPECT_FALSE(g.model.set(slot, "loaded_effect", Prop::value, 6).has_value());
}

TEST(Model, InitialValuesAndSamplers) {
  ModelOptions options;
  options.samplers = 2;
  options.values.push_back({"[Channel1]", "volume", 0.5});
  options.values.push_back({"[Microphone]", "input_configured", 0});
  options.values.push_back({"[Main]", "crossfader", -1});
  options.loads.push_back({"[Sampler2]", 7});
  Fixture f(options);
  EXPECT_EQ(f.get("[Channel1]", "volume"), 0.5);
  EXPECT_EQ(f.get("[Microphone]", "input_configured"), 0.0);
  EXPECT_EQ(f.get("[Master]", "crossfader"), -1.0);
  EXPECT_EQ(f.get("[App]", "num_samplers"), 2.0);
  EXPECT_FALSE(f.model.exists("[Sampler3]", "play"));
  EXPECT_EQ(f.get("[Sampler1]", "track_loaded"), 0.0);
  f.press("[Sampler2]", "cue_gotoandplay");
  EXPECT_EQ(f.get("[Sampler2]", "play"), 1.0);
  f.ticks(1);
  f.press("[Sampler2]", "stop");
  EXPECT_EQ(f.get("[Sampler2]", "play"), 0.0);
  EXPECT_EQ(f.get("[Sampler2]", "time_elapsed"), 0.0);
}

}  // namespace
}  // namespace kelvosim
