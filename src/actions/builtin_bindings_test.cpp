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
  Texts spoken;
  uint8_t deck = 1;    // current deck before each press (0: select_deck's own)
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
      {"ctrl+alt+1", {"Deck 1. " + title + ". The Lanterns"}, 0},
      {"ctrl+alt+2", {"Deck 2. empty"}, 0},
      {"ctrl+alt+3", {"Deck 3. empty"}, 0},
      {"ctrl+alt+4", {"Deck 4. empty"}, 0},
      // Transport. Play on the empty deck 2 flickers and stays off.
      {"ctrl+alt+p", {"play could not be switched on"}, 2},
      {"ctrl+alt+c", {}},
      // Watched controls: the announcer speaks them.
      {"ctrl+alt+s ctrl+alt+k ctrl+alt+h", {}},
      {"ctrl+alt+o", {}, 2},
      {"ctrl+alt+e ctrl+alt+comma", {}, 3},
      {"ctrl+alt+period", {}},
      // deck 1 now at 1.875 s
      // Loops.
      {"ctrl+alt+l ctrl+alt+shift+l", {}},
      {"ctrl+alt+shift+period", {"loop 8"}},
      {"ctrl+alt+shift+comma", {"loop 4"}},
      // Hot cues that do not exist yet are set silently.
      {"ctrl+alt+f1 ctrl+alt+f2 ctrl+alt+f3 ctrl+alt+f4", {}},
      {"ctrl+alt+shift+f1 ctrl+alt+shift+f2 ctrl+alt+shift+f3", {}},
      {"ctrl+alt+shift+f4", {}},
      // Mixer.
      {"ctrl+alt+pageup", {"volume 100%"}},
      {"ctrl+alt+pagedown", {"volume 95%"}},
      {"ctrl+alt+shift+pageup", {"gain +10%"}},
      {"ctrl+alt+shift+pagedown", {"gain center"}},
      {"ctrl+alt+r", {"tempo 128.1 BPM"}},
      {"ctrl+alt+shift+r", {"tempo 128 BPM"}},
      {"ctrl+alt+m", {"crossfader right 10%"}},
      {"ctrl+alt+shift+m", {"crossfader center"}},
      {"ctrl+alt+f", {"filter +10%"}},
      {"ctrl+alt+shift+f", {"filter center"}},
      {"ctrl+alt+z", {"low +10%"}},
      {"ctrl+alt+shift+z", {"low center"}},
      {"ctrl+alt+x", {"mid +10%"}},
      {"ctrl+alt+shift+x", {"mid center"}},
      {"ctrl+alt+v", {"high +10%"}},
      {"ctrl+alt+shift+v", {"high center"}},
      // Beat grid.
      {"ctrl+alt+g",
       {"Grid clicks on for deck 1. Play the track: the clicks are the beat "
        "grid."}},
      {"ctrl+alt+w", {"later, total plus 5 milliseconds"}},
      {"ctrl+alt+shift+w", {"earlier, back where it was"}},
      {"ctrl+alt+j", {"grid tempo 128.01 BPM"}},
      {"ctrl+alt+shift+j", {"grid tempo 128.00 BPM"}},
      {"ctrl+alt+shift+g", {"beat set here"}},
      {"ctrl+alt+9", {"halved, 64.00 BPM"}},
      {"ctrl+alt+0", {"doubled, 128.00 BPM"}},
      {"ctrl+alt+shift+b", {"tapped 128.00 BPM"}, 1, true},
      {"ctrl+alt+shift+t", {"On the beat"}},
      {"ctrl+alt+u", {"grid change undone, grid tempo 64.00 BPM"}},
      {"ctrl+alt+shift+k", {"grid lock on"}},
      // Library: loading deck 1 again starts its track over.
      {"ctrl+alt+shift+1 ctrl+alt+shift+2 ctrl+alt+shift+3", {}},
      {"ctrl+alt+shift+4", {}},
      {"ctrl+alt+shift+i",
       {title + ", by The Lanterns. 128 BPM, key Am, 6:55. Track 3 of 12"}},
      {"ctrl+alt+shift+o", {"Preview " + title}},
      {"ctrl+alt+shift+o", {"Preview stopped"}},
      {"ctrl+alt+f11 ctrl+alt+shift+f11", {}},
      // Auto DJ with an empty queue.
      {"ctrl+alt+shift+a",
       {"Auto DJ could not be switched on. Is the Auto DJ queue empty?"}},
      {"ctrl+alt+f10", {"fading"}},
      {"ctrl+alt+shift+f10", {"next track skipped"}},
      {"ctrl+alt+shift+q", {"added to the Auto DJ queue"}},
      // Hot cues 5 to 8 and markers; deck 1 is at its start again.
      {"ctrl+alt+f5", {}},
      {"ctrl+alt+f5", {"Hotcue 5, 0:00"}},
      {"ctrl+alt+f6 ctrl+alt+f7 ctrl+alt+f8", {}},
      {"ctrl+alt+shift+f5 ctrl+alt+shift+f6", {}},
      {"ctrl+alt+f9", {"Deck 1: hotcue 7 0:00, hotcue 8 0:00"}},
      {"ctrl+alt+shift+f7 ctrl+alt+shift+f8", {}},
      {"ctrl+alt+f9", {"Deck 1, no hotcues"}},
      {"ctrl+alt+period", {}},  // the markers at 1.875 s
      {"ctrl+alt+5", {"loop in 0:02"}},
      {"ctrl+alt+6", {"loop out not set"}},
      {"ctrl+alt+7", {"intro start set at 0:02"}},
      {"ctrl+alt+7", {"jumped to intro start, 0:02"}},
      {"ctrl+alt+8", {"outro end set at 0:02"}},
      // Key and tempo; deck 1's track is in A minor.
      {"ctrl+alt+plus", {"key B flat minor, 3A"}},
      {"ctrl+alt+minus", {"key A minor, 8A"}},
      {"ctrl+alt+shift+minus", {"key reset, A minor, 8A"}},
      {"ctrl+alt+shift+plus", {"key matched, A minor, 8A"}},
      {"ctrl+alt+shift+0", {"tempo reset, 128 BPM"}},
      // Samplers: sampler 1 plays, the others are empty.
      {"ctrl+alt+shift+5", {}},
      {"ctrl+alt+shift+6", {"Sampler 2 is empty"}},
      {"ctrl+alt+shift+7", {"Sampler 3 is empty"}},
      {"ctrl+alt+shift+8", {"Sampler 4 is empty"}},
      {"ctrl+alt+shift+9", {"Samplers stopped"}},
      // Recording, live broadcast, microphone.
      {"ctrl+alt+shift+c ctrl+alt+shift+e", {}},
      {"ctrl+alt+shift+s",
       {"microphone not switched on. No microphone input is set up. Choose "
        "one in Kelvo preferences, Sound Hardware, Input."}},
      // Effects.
      {"ctrl+alt+enter", {"effect unit 1 on"}},
      {"ctrl+alt+shift+enter", {"effect unit 2 on"}},
      {"ctrl+alt+shift+f9",
       {"Effect unit 1, on decks 1 and 2: Echo on, Reverb off. Effect unit 2, "
        "on deck 1: empty"}},
      // Information.
      {"ctrl+alt+space",
       {"Deck 1 paused, 6:53 remaining, 128 BPM, A minor, 8A"}},
      {"ctrl+alt+i", {title + ". The Lanterns"}},
      {"ctrl+alt+t", {"0:02 elapsed, 6:53 remaining"}},
      {"ctrl+alt+b", {"128 BPM, A minor, 8A"}},
      {"ctrl+alt+shift+space", {"crossfader center"}},
      // Orvalin.
      {"ctrl+alt+q", {"<stop>"}},
      {"ctrl+alt+a", {"Announcements off"}},
      {"ctrl+alt+a", {"Announcements on"}},
      {"ctrl+alt+d", {"506 widgets written to the plugin log"}},
      {"ctrl+alt+f12",
       {"Key help on. Press any Orvalin key to hear what it does."}},
      {"ctrl+alt+f12", {"Key help off"}},
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
  for (const char* on : {"sync_enabled", "keylock", "pfl", "bpmlock"}) {
    EXPECT_EQ(rig->value("[Channel1]", on), 1) << on;
  }
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
