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
  EXPECT_TRUE(is_watched_control("[Channel255]", "play"));
  EXPECT_TRUE(is_watched_control("[Channel007]", "play"));
  EXPECT_TRUE(is_watched_control("[Channel+2]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel256]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel+]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel-1]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel1 ]", "play"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "volume"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "quantize"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "hotcue_1_activate"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "hotcue_256_status"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "hotcue__status"));
  EXPECT_FALSE(is_watched_control("[Channel1]", "hotcue_x_status"));
  EXPECT_FALSE(is_watched_control("[PreviewDeck1]", "play"));
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
  EXPECT_FALSE(is_watched_control("[Channel1]", "bpmlock"));
}

}  // namespace
}  // namespace orvalin
