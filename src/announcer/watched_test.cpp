#include <gtest/gtest.h>

#include "controls/names.h"

namespace orvalin {
namespace {

TEST(WatchedControl, DeckKeysOnNumberedDecksOnly) {
  for (const char* key :
       {"pfl", "play", "keylock", "sync_enabled", "loop_enabled",
        "end_of_track", "track_loaded", "peak_indicator", "hotcue_1_status",
        "hotcue_08_status", "hotcue_+3_status"}) {
    EXPECT_TRUE(is_watched_control("[Channel1]", key)) << key;
  }
  for (const char* deck : {"[Channel255]", "[Channel007]", "[Channel+2]"}) {
    EXPECT_TRUE(is_watched_control(deck, "play")) << deck;
  }
  for (const char* other : {"[Channel256]", "[Channel]", "[Channel+]",
                            "[Channel-1]", "[Channel1 ]", "[PreviewDeck1]"}) {
    EXPECT_FALSE(is_watched_control(other, "play")) << other;
  }
  for (const char* key :
       {"volume", "quantize", "hotcue_1_activate", "hotcue_256_status",
        "hotcue__status", "hotcue_x_status", "bpmlock"}) {
    EXPECT_FALSE(is_watched_control("[Channel1]", key)) << key;
  }
}

TEST(WatchedControl, SamplersAndFixedControls) {
  EXPECT_TRUE(is_watched_control("[Sampler3]", "play"));
  EXPECT_FALSE(is_watched_control("[Sampler3]", "pfl"));
  EXPECT_FALSE(is_watched_control("[Sampler]", "play"));
  EXPECT_TRUE(is_watched_control("[Main]", "peak_indicator"));
  EXPECT_FALSE(is_watched_control("[Master]", "peak_indicator"));
  EXPECT_TRUE(is_watched_control("[AutoDJ]", "enabled"));
  EXPECT_TRUE(is_watched_control("[Recording]", "status"));
  EXPECT_FALSE(is_watched_control("[Recording]", "toggle_recording"));
  EXPECT_TRUE(is_watched_control("[Shoutcast]", "enabled"));
  EXPECT_TRUE(is_watched_control("[Shoutcast]", "status"));
  EXPECT_TRUE(is_watched_control("[Microphone]", "talkover"));
  EXPECT_FALSE(is_watched_control("[Microphone1]", "talkover"));
  EXPECT_FALSE(is_watched_control("[EffectRack1_EffectUnit1]",
                                  "group_[Channel1]_enable"));
}

}  // namespace
}  // namespace orvalin
