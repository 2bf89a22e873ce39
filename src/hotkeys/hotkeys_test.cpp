#include "hotkeys/hotkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <tuple>

#include "config/keys.h"
#include "hotkeys/testlayouts.h"

namespace orvalin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Records every call; refuses the virtual keys in `held_elsewhere`; the
// combinations in `kept` are the system's own.
class FakeHotkeys : public HotkeyApi {
 public:
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override {
    registrations.emplace_back(id, modifiers, vk);
    if (held_elsewhere.count(vk)) return false;
    live.insert(id);
    keys[id] = {modifiers & ~kModNoRepeat, vk};
    return true;
  }
  void unregister_hotkey(int id) override {
    unregistrations.push_back(id);
    live.erase(id);
    keys.erase(id);
  }
  bool kept_by_system(uint32_t modifiers, uint32_t vk) override {
    return kept.contains({modifiers, vk});
  }
  // The id a key is registered with now; -1 when it is not.
  int id_of(uint32_t modifiers, uint32_t vk) const {
    for (const auto& [id, key] : keys) {
      if (key == std::pair{modifiers, vk}) return id;
    }
    return -1;
  }
  size_t layer_keys() const {
    return std::ranges::count_if(live,
                                 [](int id) { return id >= kLayerIdBase; });
  }

  std::vector<std::tuple<int, uint32_t, uint32_t>> registrations;
  std::vector<int> unregistrations;
  std::set<int> live;
  std::map<int, std::pair<uint32_t, uint32_t>> keys;  // of `live`
  std::set<uint32_t> held_elsewhere;
  std::set<std::pair<uint32_t, uint32_t>> kept;
};

constexpr uint32_t kCtrlAlt = kModControl | kModAlt;
constexpr uint32_t kKelvo = 4242;  // Kelvo's process id

// The entries of bindings that do not repeat, with these keys.
std::vector<HotkeyEntry> entries_of(std::initializer_list<std::string> keys) {
  std::vector<HotkeyEntry> entries;
  for (const std::string& key : keys) {
    entries.push_back(hotkey_entry({.key = key, .action = "toggle"}).value());
  }
  return entries;
}

std::vector<HotkeyEntry> sample_entries() {
  auto entries = entries_of({"ctrl+alt+p", "ctrl+alt+pageup", "ctrl+alt+s"});
  entries[1].repeat = true;
  return entries;
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
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, kKelvo, no_bindings(), std::move(sender));

  loop.foreground_changed(0);  // unknown window: inactive
  EXPECT_FALSE(registry.registered());
  EXPECT_THAT(api.registrations, IsEmpty());

  loop.foreground_changed(kKelvo);
  EXPECT_EQ(api.live, (std::set<int>{0, 1, 2}));
  loop.foreground_changed(kKelvo);  // a Kelvo dialog: still active
  EXPECT_EQ(api.registrations.size(), 3u);

  loop.quit();
  EXPECT_THAT(api.live, IsEmpty());
  EXPECT_FALSE(registry.registered());
  EXPECT_TRUE(receiver.closed());
}

TEST(HotkeyLoop, TakenKeysAreSaidWhenKelvoComesToTheFront) {
  FakeHotkeys api;
  api.held_elsewhere = {'Q', 'S'};
  HotkeyRegistry registry(api);
  registry.start(sample_entries());
  auto [speech_tx, speech_rx] = make_channel<SpeechCommand>();
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry, kKelvo, no_bindings(), std::move(sender), nullptr,
                  Speech(std::move(speech_tx)));
  testing::internal::CaptureStdout();
  // However late Kelvo's window first comes to the front; once per run.
  loop.foreground_changed(1234);
  loop.foreground_changed(kKelvo);
  loop.foreground_changed(1234);
  loop.foreground_changed(kKelvo);
  // A reload's new keys: when Kelvo is next in front, once per reload.
  std::vector<HotkeyEntry> next = sample_entries();
  next.push_back({"ctrl+alt+q", kCtrlAlt, 'Q', false});
  loop.foreground_changed(1234);  // saved from the editor
  EXPECT_THAT(loop.replace_entries({next, {}, {}}), IsEmpty());
  loop.foreground_changed(kKelvo);
  loop.foreground_changed(kKelvo);  // the timer
  loop.foreground_changed(1234);
  loop.foreground_changed(kKelvo);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            taken("ctrl+alt+s") +
                "say: 1 hotkey is used by another program: ctrl+alt+s\n" +
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
  registry.start(
      entries_of({"ctrl+alt+p", "ctrl+alt+q", "ctrl+alt+e", "ctrl+alt+7",
                  "ctrl+alt+a", "ctrl+alt+s", "ctrl+q"}));
  FakeLayout layout;
  auto [sender, receiver] = make_channel<KeyPress>();
  // What is said shows in the log.
  HotkeyLoop loop(registry, kKelvo, no_bindings(), std::move(sender), &layout);
  struct Step {
    uint64_t layout;
    std::set<int> live;
    std::string logged = "";
    uint32_t front = kKelvo;
  };
  // The log lines of a key left to typing, and of the sentence said.
  const auto types = [](const std::string& key, const std::string& typed) {
    return "ctrl+alt+" + key + " types " + typed +
           " on this keyboard layout; left to typing\n";
  };
  const auto said = [](int keys) {
    return "say: " + std::to_string(keys) +
           " Orvalin keys are left to typing on this keyboard. The log names "
           "them.\n";
  };
  const Step steps[] = {
      {FakeLayout::kUs, {0, 1, 2, 3, 4, 5, 6}},
      {FakeLayout::kGerman,
       {0, 4, 5, 6},
       types("q", "@") + types("e", "\xE2\x82\xAC") + types("7", "{") +
           said(3)},
      {FakeLayout::kPolish,
       {0, 1, 2, 3, 6},
       types("a", "\xC4\x85") + types("s", "\xC5\x9B") + said(2)},
      // Said once per layout; a layout switched back to is quiet.
      {FakeLayout::kGerman, {0, 4, 5, 6}},
      {FakeLayout::kUs, {}, "", 1234},  // another program in front
      {FakeLayout::kUs, {0, 1, 2, 3, 4, 5, 6}},
  };
  loop.foreground_changed(kKelvo);
  for (const Step& step : steps) {
    layout.now = step.layout;
    testing::internal::CaptureStdout();
    loop.foreground_changed(step.front);
    loop.foreground_changed(step.front);  // the timer
    EXPECT_EQ(testing::internal::GetCapturedStdout(), step.logged);
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
  EXPECT_THAT(
      loop.replace_entries(
          {entries_of({"ctrl+alt+q", "ctrl+alt+w", "ctrl+alt+m"}), {}, {}}),
      IsEmpty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            types("m", "\xC2\xB5") + said(2));
  EXPECT_EQ(api.live, (std::set<int>{1}));
  EXPECT_EQ(left_to_typing_sentence(1),
            "1 Orvalin key is left to typing on this keyboard. The log names "
            "them.");
  loop.quit();
}

using Clock = std::chrono::steady_clock;

// The key layer: one entry key, then one plain key.

constexpr uint32_t kEscape = 0x1B, kF12 = 0x7B, kHome = 0x24;

BindingTables built_in_tables(std::string_view layer_key = kDefaultLayerKey) {
  auto tables = build_binding_tables(builtin_config().keys, layer_key);
  EXPECT_TRUE(tables) << tables.error();
  return *tables;
}

size_t index_of(const BindingTables& tables, std::string_view key) {
  for (size_t i = 0; i < tables.hotkeys.size(); ++i) {
    if (tables.hotkeys[i].key == key) return i;
  }
  ADD_FAILURE() << key;
  return 0;
}

const LayerKey* find(const std::vector<LayerKey>& keys, uint32_t modifiers,
                     uint32_t vk) {
  const auto it = std::ranges::find(keys, KeyCombination{modifiers, vk},
                                    &LayerKey::combination);
  return it == keys.end() ? nullptr : &*it;
}

TEST(KeyLayer, EachCtrlAltBindingByItsKeyWithoutCtrlAlt) {
  // Ctrl+P and Alt+Shift+Q are not Ctrl+Alt: not in the layer.
  std::vector<HotkeyEntry> entries =
      entries_of({"ctrl+alt+2", "ctrl+alt+shift+l", "ctrl+alt+f12",
                  "ctrl+alt+pageup", "ctrl+alt+shift+pagedown", "ctrl+alt+plus",
                  "ctrl+alt+minus", "ctrl+alt+comma", "ctrl+alt+shift+period",
                  "ctrl+alt+enter", "ctrl+alt+space", "ctrl+alt+win+w",
                  "ctrl+p", "alt+shift+q", "ctrl+alt+escape"});
  entries[3].repeat = entries[4].repeat = true;  // the page keys
  const std::vector<LayerKey> keys = layer_keys(entries);
  // The first twelve, each by its key and other modifiers.
  for (size_t binding = 0; binding < 12; ++binding) {
    const HotkeyEntry& entry = entries[binding];
    const LayerKey* key = find(keys, entry.modifiers & ~kCtrlAlt, entry.vk);
    ASSERT_NE(key, nullptr) << binding;
    EXPECT_EQ(key->binding, binding);
    EXPECT_FALSE(key->cancels);
  }
  // Escape closes the layer, whatever a binding says; P, Shift+Q and the
  // other named keys are taken from Kelvo but reach no binding.
  ASSERT_NE(find(keys, 0, kEscape), nullptr);
  EXPECT_TRUE(find(keys, 0, kEscape)->cancels);
  const std::pair<uint32_t, uint32_t> unbound[] = {
      {0, 'P'}, {kModShift, 'Q'}, {0, 'Z'}, {kModShift, 0x87}, {0, 0x2E}};
  for (const auto& [modifiers, vk] : unbound) {
    const LayerKey* key = find(keys, modifiers, vk);
    ASSERT_NE(key, nullptr) << vk;
    EXPECT_FALSE(key->binding || key->cancels) << vk;
  }
  // Each combination once: every named key alone and with Shift, plus the
  // Windows-key binding.
  std::set<std::pair<uint32_t, uint32_t>> distinct;
  for (const LayerKey& key : keys) {
    distinct.emplace(key.combination.modifiers, key.combination.vk);
  }
  EXPECT_EQ(distinct.size(), keys.size());
  EXPECT_EQ(keys.size(), 2 * named_key_codes().size() + 1);
}

// What the loop says, from the log the speech handle writes.
class LayerRun {
 public:
  explicit LayerRun(BindingTables tables)
      : tables_(std::make_shared<BindingTables>(std::move(tables))) {
    registry_.start(registered_entries(*tables_));
    auto [speech_tx, speech_rx] = make_channel<SpeechCommand>();
    auto [press_tx, press_rx] = make_channel<KeyPress>();
    speech_rx_.emplace(std::move(speech_rx));
    presses_.emplace(std::move(press_rx));
    loop_.emplace(registry_, kKelvo, std::make_shared<BindingsInForce>(tables_),
                  std::move(press_tx), nullptr, Speech(std::move(speech_tx)),
                  std::chrono::milliseconds(4000), [this] { return now; });
    loop_->foreground_changed(kKelvo);
  }

  // Presses a registered key; false when it is not registered.
  bool press(uint32_t modifiers, uint32_t vk) {
    const int id = api_.id_of(modifiers, vk);
    if (id < 0) return false;
    loop_->hotkey_pressed(static_cast<uint64_t>(id));
    return true;
  }
  void open() {
    ASSERT_TRUE(press(kCtrlAlt | kModShift, kHome));
    ASSERT_TRUE(loop_->layer_deadline());
  }
  // The texts said since the last call, queued ones as "queued: " + text.
  std::vector<std::string> said() {
    std::vector<std::string> out;
    while (auto command = speech_rx_->try_recv()) {
      const Speak& speak = std::get<Speak>(*command);
      out.push_back((speak.interrupt ? "" : "queued: ") + speak.text);
    }
    return out;
  }
  // The binding indexes pressed since the last call; each press carries the
  // time it was made, in order.
  std::vector<uint64_t> pressed() {
    std::vector<uint64_t> out;
    while (auto press = presses_->try_recv()) {
      EXPECT_FALSE(press->left_to_typing);
      EXPECT_LE(last_made_, press->made);
      last_made_ = press->made;
      out.push_back(press->index);
    }
    return out;
  }

  Clock::time_point now{};
  Clock::time_point last_made_ = Clock::now();
  FakeHotkeys api_;
  HotkeyRegistry registry_{api_};
  std::shared_ptr<BindingTables> tables_;
  std::optional<Receiver<SpeechCommand>> speech_rx_;
  std::optional<Receiver<KeyPress>> presses_;
  std::optional<HotkeyLoop> loop_;
};

TEST(KeyLayer, OneKeyThenBack) {
  LayerRun run(built_in_tables());
  const size_t deck2 = index_of(*run.tables_, "ctrl+alt+2");
  const size_t key_help = index_of(*run.tables_, "ctrl+alt+f12");
  const size_t direct = run.api_.live.size();

  // Closed: plain keys belong to Kelvo.
  EXPECT_FALSE(run.press(0, '2'));
  run.open();
  EXPECT_THAT(run.said(), ElementsAre("Orvalin"));
  EXPECT_GT(run.api_.layer_keys(), 100u);
  ASSERT_TRUE(run.press(0, '2'));
  EXPECT_THAT(run.pressed(), ElementsAre(deck2));
  EXPECT_EQ(run.api_.layer_keys(), 0u);  // one key, then back
  EXPECT_EQ(run.api_.live.size(), direct);
  EXPECT_FALSE(run.loop_->layer_deadline());

  // Key help's key through the layer is an ordinary press: the worker
  // describes it or runs it as for the direct key.
  run.open();
  ASSERT_TRUE(run.press(0, kF12));
  EXPECT_THAT(run.pressed(), ElementsAre(key_help));

  // Escape, an unbound key and the layer key again each close it, saying
  // so, at once.
  run.open();
  ASSERT_TRUE(run.press(0, kEscape));
  run.open();
  ASSERT_TRUE(run.press(kModShift, 'Y'));
  run.open();
  ASSERT_TRUE(run.press(kCtrlAlt | kModShift, kHome));
  EXPECT_THAT(run.said(),
              ElementsAre("Orvalin", "Orvalin", "Cancelled", "Orvalin",
                          "Not an Orvalin key", "Orvalin", "Cancelled"));
  EXPECT_THAT(run.pressed(), IsEmpty());
  EXPECT_EQ(run.api_.layer_keys(), 0u);

  // Four quiet seconds close it without a word; a press queued for a key
  // of the closed layer is not carried out.
  run.open();
  const int two = run.api_.id_of(0, '2');
  run.now += std::chrono::milliseconds(3999);
  run.loop_->tick();
  EXPECT_TRUE(run.loop_->layer_deadline());
  run.now += std::chrono::milliseconds(1);
  run.loop_->tick();
  EXPECT_FALSE(run.loop_->layer_deadline());
  EXPECT_EQ(run.api_.layer_keys(), 0u);
  run.loop_->hotkey_pressed(static_cast<uint64_t>(two));
  EXPECT_THAT(run.pressed(), IsEmpty());

  // A direct key is the one key; Kelvo leaving the front and a reload close
  // the layer too.
  run.open();
  ASSERT_TRUE(run.press(kCtrlAlt, '2'));
  EXPECT_THAT(run.pressed(), ElementsAre(deck2));
  EXPECT_EQ(run.api_.layer_keys(), 0u);
  run.open();
  run.loop_->foreground_changed(1234);
  EXPECT_FALSE(run.loop_->layer_deadline());
  EXPECT_TRUE(run.api_.live.empty());
  run.loop_->foreground_changed(kKelvo);
  run.open();
  run.loop_->replace_entries(built_in_tables(""));
  EXPECT_FALSE(run.loop_->layer_deadline());
  EXPECT_EQ(run.api_.layer_keys(), 0u);
  // The layer is off now: its key is no longer registered.
  EXPECT_EQ(run.api_.id_of(kCtrlAlt | kModShift, kHome), -1);
  EXPECT_THAT(run.said(),
              ElementsAre("Orvalin", "Orvalin", "Orvalin", "Orvalin"));
  run.loop_->quit();
}

TEST(KeyLayer, KeysTheSystemKeepsAreReachedThroughTheLayer) {
  BindingTables tables = built_in_tables();
  LayerRun run(tables);
  std::set<std::string> kept;
  for (uint32_t n = 1; n <= 12; ++n) {
    run.api_.kept.emplace(kCtrlAlt, 0x6F + n);
    kept.insert("ctrl+alt+f" + std::to_string(n));
  }
  testing::internal::CaptureStdout();
  run.loop_->foreground_changed(1234);
  run.loop_->foreground_changed(kKelvo);
  run.loop_->foreground_changed(1234);
  run.loop_->foreground_changed(kKelvo);
  // Never registered, never taken, logged once.
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(run.api_.id_of(kCtrlAlt, 0x70), -1);
  EXPECT_THAT(run.registry_.taken(), IsEmpty());
  EXPECT_EQ(log.find("hotkey ctrl+alt+f1 is kept by the system; reachable "
                     "through the layer key\n"),
            0u);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 12);
  testing::internal::CaptureStdout();
  run.open();
  ASSERT_TRUE(run.press(0, 0x70));
  EXPECT_THAT(run.pressed(),
              ElementsAre(index_of(*run.tables_, "ctrl+alt+f1")));
  run.loop_->quit();
  testing::internal::GetCapturedStdout();

  // The ready sentence names the key that reaches key help.
  EXPECT_EQ(ready_sentence(tables, kept),
            "Orvalin ready. Deck 1 selected. Control Alt Shift Home, then "
            "F12, turns key help on or off.");
  std::vector<Binding> rebound = builtin_config().keys;
  rebound.push_back({.key = "ctrl+alt+shift+y", .action = "key_help"});
  auto with_own_key = build_binding_tables(rebound, "ctrl+alt+insert");
  ASSERT_TRUE(with_own_key);
  EXPECT_EQ(ready_sentence(*with_own_key, kept),
            "Orvalin ready. Deck 1 selected. Control Alt Shift Y turns key "
            "help on or off.");
  EXPECT_EQ(ready_sentence(built_in_tables(""), kept),
            "Orvalin ready. Deck 1 selected.");
  // A layer key that is also a binding's key is refused.
  auto clash = build_binding_tables(builtin_config().keys, "alt+ctrl+p");
  ASSERT_FALSE(clash);
  EXPECT_EQ(clash.error(),
            "layer_key \"alt+ctrl+p\" is also the key of a binding "
            "(\"ctrl+alt+p\"); give one of them another key");
}

// A published layout's AltGr map as Windows' ToUnicodeEx gives it.
class PublishedKeyboard : public KeyboardLayout {
 public:
  uint64_t current() override { return index; }
  std::string typed(uint64_t layout, uint32_t modifiers, uint32_t vk) override {
    if ((modifiers & kCtrlAlt) != kCtrlAlt) return {};
    const bool shift = (modifiers & kModShift) != 0;
    for (const testlayouts::AltGrKey& key :
         testlayouts::kPublishedLayouts[layout].keys) {
      if (key.vk == vk && key.shift == shift) return std::string(key.typed);
    }
    return {};
  }
  uint64_t index = 0;
};

TEST(KeyLayer, EveryDefaultActionOnEveryPublishedLayout) {
  const BindingTables tables = built_in_tables();
  ASSERT_EQ(tables.hotkeys.size(), 103u);
  const std::vector<LayerKey> keys = layer_keys(tables.hotkeys);
  const size_t layer_id = tables.hotkeys.size();
  // Keys left to typing without the layer, as counted when the layer came:
  // every layout loses some, none loses an action now.
  const std::map<std::string_view, size_t> lost_before = {
      {"German", 10}, {"French", 11},
      {"Spanish", 8}, {"Polish (Programmers)", 17},
      {"Czech", 27},  {"US", 0}};
  for (size_t i = 0; i < testlayouts::kPublishedLayouts.size(); ++i) {
    const auto& published = testlayouts::kPublishedLayouts[i];
    FakeHotkeys api;
    HotkeyRegistry registry(api);
    registry.start(registered_entries(tables));
    PublishedKeyboard keyboard;
    keyboard.index = i;
    auto [press_tx, press_rx] = make_channel<KeyPress>();
    HotkeyLoop loop(registry, kKelvo,
                    std::make_shared<BindingsInForce>(
                        std::make_shared<BindingTables>(tables)),
                    std::move(press_tx), &keyboard);
    testing::internal::CaptureStdout();
    loop.foreground_changed(kKelvo);
    const std::string out = testing::internal::GetCapturedStdout();
    // The layer key types nothing, so it is registered.
    EXPECT_TRUE(api.live.contains(static_cast<int>(layer_id)))
        << published.name;
    size_t lost = 0;
    for (size_t b = 0; b < tables.hotkeys.size(); ++b) {
      if (api.live.contains(static_cast<int>(b))) continue;
      ++lost;
      bool reached = false;
      for (const LayerKey& key : keys) reached |= key.binding == b;
      EXPECT_TRUE(reached) << published.name << " " << tables.hotkeys[b].key;
    }
    // The sentence names the layer key as the way to the lost keys.
    if (lost > 0) {
      EXPECT_THAT(out, HasSubstr("say: " + std::to_string(lost) +
                                 " Orvalin keys type characters on this "
                                 "keyboard; press Control Alt Shift Home "
                                 "first, then the key without Control Alt. "
                                 "The log names them.\n"))
          << published.name;
    } else {
      EXPECT_THAT(out, Not(HasSubstr("say:"))) << published.name;
    }
    if (auto before = lost_before.find(published.name);
        before != lost_before.end()) {
      EXPECT_EQ(lost, before->second) << published.name;
    }
    std::cout << published.name << ": " << tables.hotkeys.size() - lost
              << " of 103 default keys direct, 103 with the layer\n";
    loop.quit();
  }
}

}  // namespace
}  // namespace orvalin
