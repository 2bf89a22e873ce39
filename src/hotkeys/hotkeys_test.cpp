#include "hotkeys/hotkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

std::vector<HotkeyEntry> sample_entries() {
  return {
      {"ctrl+alt+p", kCtrlAlt, 'P', false},
      {"ctrl+alt+pageup", kCtrlAlt, 0x21, true},
      {"ctrl+alt+s", kCtrlAlt, 'S', false},
  };
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size())) {
    ++n;
  }
  return n;
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
  registry.start(sample_entries());

  testing::internal::CaptureStdout();
  registry.set_active(true);
  registry.set_active(false);
  registry.set_active(true);  // retried at every switch back, logged once
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(api.registrations.size(), 6u);
  EXPECT_EQ(count(out, "hotkey ctrl+alt+p is taken by another program"), 1u);
  EXPECT_EQ(count(out, "hotkey ctrl+alt+s is taken by another program"), 1u);
  EXPECT_EQ(count(out, "ctrl+alt+pageup"), 0u);
  EXPECT_THAT(registry.taken(), ElementsAre("ctrl+alt+p", "ctrl+alt+s"));
  EXPECT_EQ(taken_hotkeys_sentence(registry.taken()),
            "2 hotkeys are used by another program: ctrl+alt+p, ctrl+alt+s");

  // A key freed meanwhile works at the next switch; the list is never
  // cleared, and a key taken later is added at the end.
  api.held_elsewhere = {0x21};
  registry.set_active(false);
  registry.set_active(true);
  EXPECT_EQ(api.live, (std::set<int>{0, 2}));
  EXPECT_THAT(registry.taken(),
              ElementsAre("ctrl+alt+p", "ctrl+alt+s", "ctrl+alt+pageup"));
}

TEST(HotkeyRegistry, SameKeyTextInTwoBindingsIsListedOnce) {
  FakeHotkeys api;
  api.held_elsewhere = {'P'};
  HotkeyRegistry registry(api);
  registry.start({{"ctrl+alt+p", kCtrlAlt, 'P', false},
                  {"ctrl+alt+p", kCtrlAlt, 'P', true}});
  testing::internal::CaptureStdout();
  registry.set_active(true);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(count(out, "hotkey ctrl+alt+p is taken by another program"), 1u);
  EXPECT_THAT(registry.taken(), ElementsAre("ctrl+alt+p"));
}

TEST(TakenHotkeysSentence, NothingWhenNoKeyIsTaken) {
  EXPECT_EQ(taken_hotkeys_sentence({}), std::nullopt);
  EXPECT_EQ(taken_hotkeys_sentence({"ctrl+alt+f1"}),
            "1 hotkeys are used by another program: ctrl+alt+f1");
}

TEST(HotkeyLoop, FollowsTheForegroundAndUnregistersAtQuit) {
  constexpr uint32_t kKelvo = 4242;
  FakeHotkeys api;
  HotkeyRegistry registry(api);
  registry.start(sample_entries());
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, kKelvo, std::move(sender));

  loop.foreground_changed(0);  // unknown window: inactive
  EXPECT_FALSE(registry.registered());
  EXPECT_THAT(api.registrations, IsEmpty());

  loop.foreground_changed(kKelvo);
  EXPECT_EQ(api.live, (std::set<int>{0, 1, 2}));
  loop.foreground_changed(kKelvo);  // a Kelvo dialog: still active
  EXPECT_EQ(api.registrations.size(), 3u);

  loop.hotkey_pressed(2);
  loop.hotkey_pressed(0);
  EXPECT_EQ(receiver.try_recv().value_or(KeyPress{99}).index, 2u);
  EXPECT_EQ(receiver.try_recv().value_or(KeyPress{99}).index, 0u);

  loop.foreground_changed(1234);  // another program
  EXPECT_THAT(api.live, IsEmpty());
  loop.foreground_changed(kKelvo);
  EXPECT_EQ(api.live, (std::set<int>{0, 1, 2}));

  loop.quit();
  EXPECT_THAT(api.live, IsEmpty());
  EXPECT_FALSE(registry.registered());
  EXPECT_TRUE(receiver.closed());
}

}  // namespace
}  // namespace orvalin
