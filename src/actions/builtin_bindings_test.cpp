// Every built-in binding, run by index through the action worker against
// the Kelvo simulator, with what it says.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/rig.h"

namespace orvalin {
namespace {

using testrig::Rig;
using Texts = std::vector<std::string>;

// Keys (one or more, apart by spaces) pressed one by one, each saying
// `spoken`.
struct Step {
  std::string keys;
  uint8_t deck;  // current deck before each press (select_deck sets its own)
  Texts spoken;
  bool later = false;  // one more sentence follows from another thread
};

TEST(BuiltinBindings, EveryKeyAgainstTheSimulator) {
  // Deck 1 holds row 3, whose long title the skin shortens; row 3 is also
  // the library's selection, so the description completes it. Sampler 1
  // holds a track, Auto DJ's queue is empty, the microphone has no input,
  // and effect unit 1 holds Echo (on) and Reverb (off) and is on deck 2.
  auto rig = Rig::start(
      {"--load", "1=3", "--load", "Sampler1=2", "--select", "3",
       "--autodj-queue", "0", "--no-mic-input", "--effect",
       "1,1=org.kelvo.effects.echo", "--effect", "1,2=org.kelvo.effects.reverb",
       "--set", "[EffectRack1_EffectUnit1_Effect2],enabled=0", "--set",
       "[EffectRack1_EffectUnit1],group_[Channel2]_enable=1"});
  ASSERT_TRUE(rig);
  ASSERT_EQ(rig->builtin().size(), 103u);

  const std::string title = "Tomorrow Never Comes (Extended Sunrise Mix)";
  const std::vector<Step> steps = {
      // Deck selection.
      {"ctrl+alt+1", 0, {"Deck 1. " + title + ". The Lanterns"}},
      {"ctrl+alt+2", 0, {"Deck 2. empty"}},
      {"ctrl+alt+3", 0, {"Deck 3. empty"}},
      {"ctrl+alt+4", 0, {"Deck 4. empty"}},
      // Transport. Play on the empty deck 2 flickers and stays off.
      {"ctrl+alt+p", 2, {"play could not be switched on"}},
      {"ctrl+alt+c", 1, {}},
      // Watched controls: the announcer speaks them.
      {"ctrl+alt+s ctrl+alt+k ctrl+alt+h", 1, {}},
      {"ctrl+alt+o", 2, {}},
      {"ctrl+alt+e ctrl+alt+comma", 3, {}},
      {"ctrl+alt+period", 1, {}},  // deck 1 now at 1.875 s
      // Loops.
      {"ctrl+alt+l ctrl+alt+shift+l", 1, {}},
      {"ctrl+alt+shift+period", 1, {"loop 8"}},
      {"ctrl+alt+shift+comma", 1, {"loop 4"}},
      // Hot cues that do not exist yet are set silently.
      {"ctrl+alt+f1 ctrl+alt+f2 ctrl+alt+f3 ctrl+alt+f4", 1, {}},
      {"ctrl+alt+shift+f1 ctrl+alt+shift+f2 ctrl+alt+shift+f3", 1, {}},
      {"ctrl+alt+shift+f4", 1, {}},
      // Mixer.
      {"ctrl+alt+pageup", 1, {"volume 100%"}},
      {"ctrl+alt+pagedown", 1, {"volume 95%"}},
      {"ctrl+alt+shift+pageup", 1, {"gain +10%"}},
      {"ctrl+alt+shift+pagedown", 1, {"gain center"}},
      {"ctrl+alt+r", 1, {"tempo 128.1 BPM"}},
      {"ctrl+alt+shift+r", 1, {"tempo 128 BPM"}},
      {"ctrl+alt+m", 1, {"crossfader right 10%"}},
      {"ctrl+alt+shift+m", 1, {"crossfader center"}},
      {"ctrl+alt+f", 1, {"filter +10%"}},
      {"ctrl+alt+shift+f", 1, {"filter center"}},
      {"ctrl+alt+z", 1, {"low +10%"}},
      {"ctrl+alt+shift+z", 1, {"low center"}},
      {"ctrl+alt+x", 1, {"mid +10%"}},
      {"ctrl+alt+shift+x", 1, {"mid center"}},
      {"ctrl+alt+v", 1, {"high +10%"}},
      {"ctrl+alt+shift+v", 1, {"high center"}},
      // Beat grid.
      {"ctrl+alt+g",
       1,
       {"Grid clicks on for deck 1. Play the track: the clicks are the beat "
        "grid."}},
      {"ctrl+alt+w", 1, {"later, total plus 5 milliseconds"}},
      {"ctrl+alt+shift+w", 1, {"earlier, back where it was"}},
      {"ctrl+alt+j", 1, {"grid tempo 128.01 BPM"}},
      {"ctrl+alt+shift+j", 1, {"grid tempo 128.00 BPM"}},
      {"ctrl+alt+shift+g", 1, {"beat set here"}},
      {"ctrl+alt+9", 1, {"halved, 64.00 BPM"}},
      {"ctrl+alt+0", 1, {"doubled, 128.00 BPM"}},
      {"ctrl+alt+shift+b", 1, {"tapped 128.00 BPM"}, true},
      {"ctrl+alt+shift+t", 1, {"On the beat"}},
      {"ctrl+alt+u", 1, {"grid change undone, grid tempo 64.00 BPM"}},
      {"ctrl+alt+shift+k", 1, {"grid lock on"}},
      // Library: loading deck 1 again starts its track over.
      {"ctrl+alt+shift+1 ctrl+alt+shift+2 ctrl+alt+shift+3", 1, {}},
      {"ctrl+alt+shift+4", 1, {}},
      {"ctrl+alt+shift+i",
       1,
       {title + ", by The Lanterns. 128 BPM, key Am, 6:55. Track 3 of 12"}},
      {"ctrl+alt+shift+o", 1, {"Preview " + title}},
      {"ctrl+alt+shift+o", 1, {"Preview stopped"}},
      {"ctrl+alt+f11 ctrl+alt+shift+f11", 1, {}},
      // Auto DJ with an empty queue.
      {"ctrl+alt+shift+a",
       1,
       {"Auto DJ could not be switched on. Is the Auto DJ queue empty?"}},
      {"ctrl+alt+f10", 1, {"fading"}},
      {"ctrl+alt+shift+f10", 1, {"next track skipped"}},
      {"ctrl+alt+shift+q", 1, {"added to the Auto DJ queue"}},
      // Hot cues 5 to 8 and markers; deck 1 is at its start again.
      {"ctrl+alt+f5", 1, {}},
      {"ctrl+alt+f5", 1, {"Hotcue 5, 0:00"}},
      {"ctrl+alt+f6 ctrl+alt+f7 ctrl+alt+f8", 1, {}},
      {"ctrl+alt+shift+f5 ctrl+alt+shift+f6", 1, {}},
      {"ctrl+alt+f9", 1, {"Deck 1: hotcue 7 0:00, hotcue 8 0:00"}},
      {"ctrl+alt+shift+f7 ctrl+alt+shift+f8", 1, {}},
      {"ctrl+alt+f9", 1, {"Deck 1, no hotcues"}},
      {"ctrl+alt+period", 1, {}},  // the markers at 1.875 s
      {"ctrl+alt+5", 1, {"loop in 0:02"}},
      {"ctrl+alt+6", 1, {"loop out not set"}},
      {"ctrl+alt+7", 1, {"intro start set at 0:02"}},
      {"ctrl+alt+7", 1, {"jumped to intro start, 0:02"}},
      {"ctrl+alt+8", 1, {"outro end set at 0:02"}},
      // Key and tempo; deck 1's track is in A minor.
      {"ctrl+alt+plus", 1, {"key B flat minor, 3A"}},
      {"ctrl+alt+minus", 1, {"key A minor, 8A"}},
      {"ctrl+alt+shift+minus", 1, {"key reset, A minor, 8A"}},
      {"ctrl+alt+shift+plus", 1, {"key matched, A minor, 8A"}},
      {"ctrl+alt+shift+0", 1, {"tempo reset, 128 BPM"}},
      // Samplers: sampler 1 plays, the others are empty.
      {"ctrl+alt+shift+5", 1, {}},
      {"ctrl+alt+shift+6", 1, {"Sampler 2 is empty"}},
      {"ctrl+alt+shift+7", 1, {"Sampler 3 is empty"}},
      {"ctrl+alt+shift+8", 1, {"Sampler 4 is empty"}},
      {"ctrl+alt+shift+9", 1, {"Samplers stopped"}},
      // Recording, live broadcast, microphone.
      {"ctrl+alt+shift+c ctrl+alt+shift+e", 1, {}},
      {"ctrl+alt+shift+s",
       1,
       {"microphone not switched on. No microphone input is set up. Choose "
        "one in Kelvo preferences, Sound Hardware, Input."}},
      // Effects.
      {"ctrl+alt+enter", 1, {"effect unit 1 on"}},
      {"ctrl+alt+shift+enter", 1, {"effect unit 2 on"}},
      {"ctrl+alt+shift+f9",
       1,
       {"Effect unit 1, on decks 1 and 2: Echo on, Reverb off. Effect unit 2, "
        "on deck 1: empty"}},
      // Information.
      {"ctrl+alt+space",
       1,
       {"Deck 1 paused, 6:53 remaining, 128 BPM, A minor, 8A"}},
      {"ctrl+alt+i", 1, {title + ". The Lanterns"}},
      {"ctrl+alt+t", 1, {"0:02 elapsed, 6:53 remaining"}},
      {"ctrl+alt+b", 1, {"128 BPM, A minor, 8A"}},
      {"ctrl+alt+shift+space", 1, {"crossfader center"}},
      // Orvalin.
      {"ctrl+alt+q", 1, {"<stop>"}},
      {"ctrl+alt+a", 1, {"Announcements off"}},
      {"ctrl+alt+a", 1, {"Announcements on"}},
      {"ctrl+alt+d", 1, {"506 widgets written to the plugin log"}},
      {"ctrl+alt+f12",
       1,
       {"Key help on. Press any Orvalin key to hear what it does."}},
      {"ctrl+alt+f12", 1, {"Key help off"}},
  };

  std::set<std::string> pressed;
  for (const Step& step : steps) {
    std::istringstream keys(step.keys);
    for (std::string key; keys >> key;) {
      SCOPED_TRACE(key);
      if (step.deck != 0) rig->state().current_deck.store(step.deck);
      Texts spoken = rig->press({key});
      if (step.later) {
        auto later = rig->next_speak(std::chrono::seconds(10));
        if (later) spoken.push_back(later->text);
      }
      EXPECT_EQ(spoken, step.spoken);
      pressed.insert(key);
    }
  }
  // What the presses left in Kelvo.
  EXPECT_EQ(rig->value("[Library]", "focused_widget"), 3);
  EXPECT_EQ(rig->value("[Channel1]", "sync_enabled"), 1);
  EXPECT_EQ(rig->value("[Channel1]", "keylock"), 1);
  EXPECT_EQ(rig->value("[Channel1]", "pfl"), 1);
  EXPECT_EQ(rig->value("[Channel1]", "bpmlock"), 1);
  EXPECT_EQ(rig->value("[Channel1]", "play"), 0);
  EXPECT_EQ(rig->value("[Channel1]", "volume", "parameter"), 0.95);
  EXPECT_EQ(rig->value("[Master]", "crossfader"), 0);
  for (const char* deck : {"[Channel2]", "[Channel3]", "[Channel4]"}) {
    EXPECT_EQ(rig->value(deck, "track_loaded"), 1) << deck;
  }
  EXPECT_EQ(rig->value("[EffectRack1_EffectUnit1]", "group_[Channel1]_enable"),
            1);
  EXPECT_EQ(rig->value("[EffectRack1_EffectUnit4]", "group_[Channel1]_enable"),
            1);
  EXPECT_EQ(rig->value("[Sampler1]", "play"), 0);
  EXPECT_EQ(rig->value("[PreviewDeck1]", "play"), 0);
  EXPECT_EQ(rig->value("[AutoDJ]", "enabled"), 0);
  EXPECT_EQ(rig->value("[Shoutcast]", "enabled"), 1);
  EXPECT_NE(rig->value("[Recording]", "status"), 0);
  EXPECT_EQ(rig->value("[Microphone]", "talkover"), 0);

  for (const KeyAction& binding : rig->builtin()) {
    EXPECT_TRUE(pressed.contains(binding.key)) << binding.key << " not run";
  }
}

}  // namespace
}  // namespace orvalin
