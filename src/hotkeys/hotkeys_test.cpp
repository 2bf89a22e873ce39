#include "hotkeys/hotkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "config/keys.h"

namespace orvalin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every call; refuses the virtual keys in `held_elsewhere`.
class FakeHotkeys : public HotkeyApi {
 public:
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override {
    registrations.emplace_back(id, modifiers, vk);
    if (held_elsewhere.count(vk)) return false;
    live.insert(id);
    return true;
  }
  void unregister_hotkey(int id) override {
    unregistrations.push_back(id);
    live.erase(id);
  }

  std::vector<std::tuple<int, uint32_t, uint32_t>> registrations;
  std::vector<int> unregistrations;
  std::set<int> live;
  std::set<uint32_t> held_elsewhere;
};

constexpr uint32_t kCtrlAlt = kModControl | kModAlt;
constexpr uint32_t kKelvo = 4242;  // Kelvo's process id

std::vector<HotkeyEntry> sample_entries() {
  return {
      {"ctrl+alt+p", kCtrlAlt, 'P', false},
      {"ctrl+alt+pageup", kCtrlAlt, 0x21, true},
      {"ctrl+alt+s", kCtrlAlt, 'S', false},
  };
}

std::shared_ptr<BindingsInForce> no_bindings() {
  return std::make_shared<BindingsInForce>(std::make_shared<BindingTables>());
}

// The log line of a key another program holds.
std::string taken(const std::string& key) {
  return "hotkey " + key + " is taken by another program\n";
}

TEST(HotkeyRegistry, RegistersWithNoRepeatUnlessTheEntryRepeats) {
  FakeHotkeys api;
  HotkeyRegistry registry(api);

  registry.set_active(true);  // no entries yet
  EXPECT_THAT(api.registrations, IsEmpty());

  registry.start(sample_entries());
  EXPECT_FALSE(registry.registered());
  registry.set_active(true);
  EXPECT_THAT(api.registrations,
              ElementsAre(std::make_tuple(0, kCtrlAlt | kModNoRepeat, 'P'),
                          std::make_tuple(1, kCtrlAlt, 0x21),
                          std::make_tuple(2, kCtrlAlt | kModNoRepeat, 'S')));
  EXPECT_TRUE(registry.registered());

  registry.set_active(true);  // already active: nothing
  EXPECT_EQ(api.registrations.size(), 3u);
  EXPECT_THAT(api.unregistrations, IsEmpty());

  registry.set_active(false);
  EXPECT_THAT(api.unregistrations, ElementsAre(0, 1, 2));
  EXPECT_FALSE(registry.registered());
  registry.set_active(false);
  EXPECT_EQ(api.unregistrations.size(), 3u);
}

TEST(HotkeyRegistry, TakenKeysAreLoggedOnceAndListedInBindingOrder) {
  FakeHotkeys api;
  api.held_elsewhere = {'P', 'S'};
  HotkeyRegistry registry(api);
  // The same key text in two bindings is listed once.
  std::vector<HotkeyEntry> entries = sample_entries();
  entries.push_back({"ctrl+alt+p", kCtrlAlt, 'P', true});
  registry.start(entries);

  testing::internal::CaptureStdout();
  registry.set_active(true);
  registry.set_active(false);
  registry.set_active(true);  // retried at every switch back, logged once
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            taken("ctrl+alt+p") + taken("ctrl+alt+s"));
  EXPECT_EQ(api.registrations.size(), 8u);
  EXPECT_THAT(registry.taken(), ElementsAre("ctrl+alt+p", "ctrl+alt+s"));
  EXPECT_EQ(taken_hotkeys_sentence(registry.taken()),
            "2 hotkeys are used by another program: ctrl+alt+p, ctrl+alt+s");
  EXPECT_EQ(taken_hotkeys_sentence({}), std::nullopt);

  // A key freed meanwhile works at the next switch; the list is never
  // cleared, and a key taken later is added at the end.
  api.held_elsewhere = {0x21};
  registry.set_active(false);
  registry.set_active(true);
  EXPECT_EQ(api.live, (std::set<int>{0, 2, 3}));
  EXPECT_THAT(registry.taken(),
              ElementsAre("ctrl+alt+p", "ctrl+alt+s", "ctrl+alt+pageup"));
}

TEST(HotkeyRegistry, ReplaceSwapsTheRegisteredKeysAndReportsNewlyTaken) {
  FakeHotkeys api;
  api.held_elsewhere = {'P', 'Q'};
  HotkeyRegistry registry(api);
  registry.start(sample_entries());
  testing::internal::CaptureStdout();
  // Inactive: nothing is registered now, the new keys wait for Kelvo.
  EXPECT_THAT(registry.replace({sample_entries()[2]}), IsEmpty());
  EXPECT_THAT(api.registrations, IsEmpty());
  registry.set_active(true);
  EXPECT_EQ(api.live, (std::set<int>{0}));

  // Active: the old ids go, the new keys are registered at once; a key
  // already reported is not reported again.
  std::vector<HotkeyEntry> next = sample_entries();
  next.push_back({"ctrl+alt+q", kCtrlAlt, 'Q', false});
  api.unregistrations.clear();
  EXPECT_THAT(registry.replace(next), ElementsAre("ctrl+alt+p", "ctrl+alt+q"));
  EXPECT_THAT(api.unregistrations, ElementsAre(0));
  EXPECT_EQ(api.live, (std::set<int>{1, 2}));
  EXPECT_THAT(registry.replace(next), IsEmpty());
  registry.set_active(false);
  EXPECT_THAT(api.live, IsEmpty());
  EXPECT_EQ(api.unregistrations.size(), 1u + 4u + 4u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            taken("ctrl+alt+p") + taken("ctrl+alt+q"));
}

TEST(HotkeyLoop, FollowsTheForegroundAndUnregistersAtQuit) {
  FakeHotkeys api;
  HotkeyRegistry registry(api);
  registry.start(sample_entries());
  auto tables = std::make_shared<BindingTables>();
  auto in_force = std::make_shared<BindingsInForce>(tables);
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, kKelvo, in_force, std::move(sender));

  loop.foreground_changed(0);  // unknown window: inactive
  EXPECT_FALSE(registry.registered());
  EXPECT_THAT(api.registrations, IsEmpty());

  loop.foreground_changed(kKelvo);
  EXPECT_EQ(api.live, (std::set<int>{0, 1, 2}));
  loop.foreground_changed(kKelvo);  // a Kelvo dialog: still active
  EXPECT_EQ(api.registrations.size(), 3u);

  // Each press carries the bindings in force when it was made.
  loop.hotkey_pressed(2);
  auto reloaded = std::make_shared<BindingTables>();
  in_force->replace(reloaded);
  loop.hotkey_pressed(0);
  std::optional<KeyPress> first = receiver.try_recv();
  std::optional<KeyPress> second = receiver.try_recv();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->index, 2u);
  EXPECT_EQ(first->bindings, tables);
  EXPECT_EQ(second->index, 0u);
  EXPECT_EQ(second->bindings, reloaded);
  EXPECT_LE(first->made, second->made);

  loop.quit();
  EXPECT_THAT(api.live, IsEmpty());
  EXPECT_FALSE(registry.registered());
  EXPECT_TRUE(receiver.closed());
}

TEST(HotkeyLoop, KeysTakenAfterAReloadAreSaidWhenKelvoComesToTheFront) {
  FakeHotkeys api;
  api.held_elsewhere = {'Q'};
  HotkeyRegistry registry(api);
  registry.start(sample_entries());
  auto [speech_tx, speech_rx] = make_channel<SpeechCommand>();
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, kKelvo, no_bindings(), std::move(sender), nullptr,
                  Speech(std::move(speech_tx)));
  std::vector<HotkeyEntry> next = sample_entries();
  next.push_back({"ctrl+alt+q", kCtrlAlt, 'Q', false});
  loop.foreground_changed(1234);  // saved from the editor
  testing::internal::CaptureStdout();
  EXPECT_THAT(loop.replace_entries({next, {}, {}}), IsEmpty());
  loop.foreground_changed(kKelvo);
  loop.foreground_changed(kKelvo);  // the timer
  loop.foreground_changed(1234);
  loop.foreground_changed(kKelvo);  // once per reload
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            taken("ctrl+alt+q") +
                "say: 1 hotkey is used by another program: ctrl+alt+q\n");
  // Queued after what is being said.
  EXPECT_FALSE(std::get<Speak>(speech_rx.try_recv().value()).interrupt);
}

TEST(HotkeyLoop, ATaskThatThrowsIsLoggedAndTheNextStillRuns) {
  FakeHotkeys api;
  HotkeyRegistry registry(api);
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, 1, no_bindings(), std::move(sender));
  bool ran = false;
  queue_loop_task([](HotkeyLoop&) { throw std::runtime_error("boom"); });
  queue_loop_task([&](HotkeyLoop&) { ran = true; });
  testing::internal::CaptureStdout();
  run_loop_tasks(loop);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "main: boom\n");
  EXPECT_TRUE(ran);
}

// German and Polish AltGr characters as Windows' layouts give them for
// Ctrl+Alt; the US layout types nothing with Ctrl+Alt.
class FakeLayout : public KeyboardLayout {
 public:
  static constexpr uint64_t kUs = 0x04090409, kGerman = 0x04070407,
                            kPolish = 0x04150415;
  uint64_t current() override {
    ++asked;
    return now;
  }
  std::string typed(uint64_t layout, uint32_t modifiers, uint32_t vk) override {
    const std::map<std::tuple<uint64_t, uint32_t, uint32_t>, std::string> table{
        {{kGerman, kCtrlAlt, 'Q'}, "@"},
        {{kGerman, kCtrlAlt, 'E'}, "\xE2\x82\xAC"},
        {{kGerman, kCtrlAlt, '7'}, "{"},
        {{kGerman, kCtrlAlt, 'M'}, "\xC2\xB5"},
        {{kGerman, kModControl, 'Q'}, "\x11"},
        {{kPolish, kCtrlAlt, 'A'}, "\xC4\x85"},
        {{kPolish, kCtrlAlt, 'S'}, "\xC5\x9B"}};
    const auto found = table.find({layout, modifiers, vk});
    return found == table.end() ? "" : found->second;
  }
  uint64_t now = kUs;
  int asked = 0;
};

TEST(HotkeyLoop, CtrlAltKeysThatTypeOnKelvosLayoutAreLeftToTyping) {
  FakeHotkeys api;
  HotkeyRegistry registry(api);
  registry.start({{"ctrl+alt+p", kCtrlAlt, 'P', false},
                  {"ctrl+alt+q", kCtrlAlt, 'Q', false},
                  {"ctrl+alt+e", kCtrlAlt, 'E', false},
                  {"ctrl+alt+7", kCtrlAlt, '7', false},
                  {"ctrl+alt+a", kCtrlAlt, 'A', false},
                  {"ctrl+alt+s", kCtrlAlt, 'S', false},
                  {"ctrl+q", kModControl, 'Q', false}});
  FakeLayout layout;
  auto [sender, receiver] = make_channel<KeyPress>();
  // What is said shows in the log.
  HotkeyLoop loop(registry, kKelvo, no_bindings(), std::move(sender), &layout);
  struct Step {
    uint32_t front;
    uint64_t layout;
    std::set<int> live;
    std::string logged;
    std::vector<std::string> said;
  };
  const std::string tail = " on this keyboard layout; left to typing\n";
  const Step steps[] = {
      {kKelvo, FakeLayout::kUs, {0, 1, 2, 3, 4, 5, 6}, "", {}},
      {kKelvo,
       FakeLayout::kGerman,
       {0, 4, 5, 6},
       "ctrl+alt+q types @" + tail + "ctrl+alt+e types \xE2\x82\xAC" + tail +
           "ctrl+alt+7 types {" + tail,
       {"3 Orvalin keys are left to typing on this keyboard. The log names "
        "them."}},
      {kKelvo,
       FakeLayout::kPolish,
       {0, 1, 2, 3, 6},
       "ctrl+alt+a types \xC4\x85" + tail + "ctrl+alt+s types \xC5\x9B" + tail,
       {"2 Orvalin keys are left to typing on this keyboard. The log names "
        "them."}},
      // Said once per layout; a layout switched back to is quiet.
      {kKelvo, FakeLayout::kGerman, {0, 4, 5, 6}, "", {}},
      {1234, FakeLayout::kUs, {}, "", {}},
      {kKelvo, FakeLayout::kUs, {0, 1, 2, 3, 4, 5, 6}, "", {}},
  };
  loop.foreground_changed(kKelvo);
  for (const Step& step : steps) {
    layout.now = step.layout;
    testing::internal::CaptureStdout();
    loop.foreground_changed(step.front);
    loop.foreground_changed(step.front);  // the timer
    std::string logged = step.logged;
    for (const std::string& text : step.said) logged += "say: " + text + "\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), logged);
    EXPECT_EQ(api.live, step.live) << step.layout;
  }
  // Another program in front: its layout is not Kelvo's concern.
  const int asked = layout.asked;
  loop.foreground_changed(1234);
  loop.foreground_changed(1234);
  EXPECT_EQ(layout.asked, asked);
  // With key help on, keys left to typing are registered for their help,
  // and their presses say so.
  layout.now = FakeLayout::kGerman;
  loop.foreground_changed(kKelvo);
  loop.set_key_help(true);
  EXPECT_EQ(api.live, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  loop.hotkey_pressed(1);
  loop.hotkey_pressed(0);
  EXPECT_TRUE(receiver.try_recv().value().left_to_typing);
  EXPECT_FALSE(receiver.try_recv().value().left_to_typing);
  loop.set_key_help(false);
  EXPECT_EQ(api.live, (std::set<int>{0, 4, 5, 6}));

  // Reloaded keys are checked before they are registered; a key newly left
  // to typing is logged, and the sentence said again.
  testing::internal::CaptureStdout();
  EXPECT_THAT(loop.replace_entries({{{"ctrl+alt+q", kCtrlAlt, 'Q', false},
                                     {"ctrl+alt+w", kCtrlAlt, 'W', false},
                                     {"ctrl+alt+m", kCtrlAlt, 'M', false}},
                                    {},
                                    {}}),
              IsEmpty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ctrl+alt+m types \xC2\xB5" + tail +
                "say: 2 Orvalin keys are left to typing on this keyboard. The "
                "log names them.\n");
  EXPECT_EQ(api.live, (std::set<int>{1}));
  EXPECT_EQ(left_to_typing_sentence(1),
            "1 Orvalin key is left to typing on this keyboard. The log names "
            "them.");
  loop.quit();
}

}  // namespace
}  // namespace orvalin
