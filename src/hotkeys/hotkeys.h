// Hot keys: the bindings are registered as system-wide hot keys only while a
// window of Kelvo's process is in front. run_hotkeys is the main thread's
// message loop; every registration happens on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "actions/actions.h"
#include "base/channel.h"
#include "base/timing.h"
#include "config/config.h"
#include "config/keys.h"
#include "speech/speech.h"

namespace orvalin {

// The platform's hot-key service, a seam for tests. Called on the main
// thread only.
class HotkeyApi {
 public:
  virtual ~HotkeyApi() = default;
  virtual bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) = 0;
  virtual void unregister_hotkey(int id) = 0;
  // Whether the system acts on the combination itself, whoever registers it
  // (X11: Ctrl+Alt+F1 to F12 switch to a text console). Such a key is never
  // registered; the key layer reaches its action.
  virtual bool kept_by_system(uint32_t /*modifiers*/, uint32_t /*vk*/) {
    return false;
  }
};

// The hot-key ids of the key layer's keys while it waits: kLayerIdBase plus
// the key's position in layer_keys(). Below it, an id is the entry's
// position in the registry (Windows allows ids up to 0xBFFF).
inline constexpr int kLayerIdBase = 0x8000;

// A key the layer takes while it waits, and what it does: the binding (an
// index into the entries) it reaches, or closing the layer, or neither (a
// key that is none of Orvalin's).
struct LayerKey {
  KeyCombination combination;
  std::optional<size_t> binding;
  bool cancels = false;
};

// The layer's keys for `entries`: each entry with Ctrl+Alt by its key
// without them (Ctrl+Alt+Shift+L as Shift+L), Escape to close, and every
// other key Orvalin can name, alone and with Shift, so that no key pressed
// in the layer reaches Kelvo.
std::vector<LayerKey> layer_keys(const std::vector<HotkeyEntry>& entries);

// The entries registered while Kelvo is in front: the bindings' keys, then
// the layer key (when the layer is on).
std::vector<HotkeyEntry> registered_entries(const BindingTables& tables);

// The key texts among `entries` that the system keeps (see kept_by_system),
// for the ready sentence; none on Windows.
std::set<std::string> keys_kept_by_system(
    const std::vector<HotkeyEntry>& entries);

// The ready sentence, naming the key that turns key help on: its own key
// unless the system keeps it (`kept`), else the layer key and then the key
// without Control Alt; no key when neither reaches it.
std::string ready_sentence(const BindingTables& tables,
                           const std::set<std::string>& kept);

// What a keyboard layout types, a seam for tests (Windows: the layout of the
// thread that owns the window in front, and ToUnicodeEx). Main thread.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // The layout of the window in front now, as an opaque id.
  virtual uint64_t current() = 0;
  // The text (UTF-8) that `vk` with `modifiers` (kMod* bits) types on
  // `layout`; empty when it types no character.
  virtual std::string typed(uint64_t layout, uint32_t modifiers,
                            uint32_t vk) = 0;
};

// The registration state: the entries, whether they are registered now, and
// the key texts that another program held. set_active and start run on the
// main thread; taken() may be read from any thread.
class HotkeyRegistry {
 public:
  explicit HotkeyRegistry(HotkeyApi& api) : api_(api) {}

  // Stores the entries (an entry's position is its hot-key id); nothing is
  // registered yet.
  void start(std::vector<HotkeyEntry> entries);

  // Registers (true) or unregisters (false) every entry; nothing when there
  // are no entries yet or the state is already as asked. A key that cannot
  // be registered is logged and listed once per run. Returns the keys found
  // taken for the first time.
  std::vector<std::string> set_active(bool active);

  // Puts `entries` in place of the current ones (a settings reload), with
  // the ids of those left to typing: the old ids are unregistered and, if
  // the keys were registered, the new ones are registered at once. Returns
  // the keys found taken for the first time.
  std::vector<std::string> replace(std::vector<HotkeyEntry> entries,
                                   std::set<size_t> left_to_typing = {});

  // Leaves the entries at these ids unregistered from now on (they type a
  // character on the keyboard layout in use); registered entries follow at
  // once.
  void set_left_to_typing(std::set<size_t> ids);

  // Registers `keys` as the layer's (ids kLayerIdBase + position) in place
  // of those registered before; empty: unregisters them. A key that cannot
  // be registered is logged once per run and is left to Kelvo.
  void set_layer_keys(const std::vector<KeyCombination>& keys);

  bool registered() const;
  // The entries in force.
  std::vector<HotkeyEntry> entries() const;
  // The key texts that failed to register, in the order they first failed.
  std::vector<std::string> taken() const;

 private:
  // Registers or unregisters every entry; keys newly found taken are added
  // to `newly_taken`. mutex_ held.
  void apply_locked(bool active, std::vector<std::string>& newly_taken);

  HotkeyApi& api_;
  // guards entries_, registered_, left_to_typing_, taken_, kept_,
  // layer_count_ and layer_failed_
  mutable std::mutex mutex_;
  std::optional<std::vector<HotkeyEntry>> entries_;
  bool registered_ = false;
  std::set<size_t> left_to_typing_;
  std::vector<std::string> taken_;
  std::set<std::string> kept_;  // logged as kept by the system
  size_t layer_count_ = 0;      // layer keys registered now
  std::set<std::pair<uint32_t, uint32_t>> layer_failed_;  // logged
};

// What the message loop does with the events it receives, apart from the
// platform's calls: keeps the registry in step with the foreground window,
// runs the key layer and hands each press, with the bindings in force, to
// the action worker. Main thread.
class HotkeyLoop {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Without `layout` no key is ever left to typing. The layer closes by
  // itself `layer_wait` after it opened, as `now` tells.
  HotkeyLoop(HotkeyRegistry& registry, uint32_t kelvo_pid,
             std::shared_ptr<const BindingsInForce> bindings,
             Sender<KeyPress> actions, KeyboardLayout* layout = nullptr,
             Speech speech = {},
             std::chrono::milliseconds layer_wait = Timing{}.layer_wait,
             Clock now = std::chrono::steady_clock::now);

  // A window of process `pid` (0 when unknown) is in front: called for each
  // foreground event, once when the loop starts, and now and then while it
  // waits (which catches a keyboard layout switched while Kelvo stays in
  // front, and a foreground event that never came). For Kelvo the keyboard
  // layout is checked first.
  void foreground_changed(uint32_t pid);
  // A hot key arrived now; the press is stamped with this moment.
  void hotkey_pressed(uint64_t id);
  // When the waiting layer closes by itself; nothing while it is closed.
  // The platform loop calls tick() once that moment has come.
  std::optional<std::chrono::steady_clock::time_point> layer_deadline() const;
  void tick();
  // Puts reloaded tables' keys in force (HotkeyRegistry::replace), leaving
  // to typing those that type a character on the layout in use, and closes
  // a waiting layer. Returns the keys found taken now; when Kelvo is not in
  // front, those found when it next comes to the front are spoken then.
  std::vector<std::string> replace_entries(const BindingTables& tables);
  // While key help is on, keys left to typing are registered too, so that
  // their help can be heard.
  void set_key_help(bool on);
  // Unregisters every key and closes the action sender.
  void quit();

 private:
  // AltGr is Ctrl+Alt on Windows: a Ctrl+Alt binding that types a character
  // on Kelvo's keyboard layout (German AltGr+Q is "@") is left to typing.
  void check_layout();
  // The ids of `entries` that type a character on `layout`; each key is
  // logged the first time it is left to typing on that layout, and the
  // sentence is spoken when any key was newly logged.
  std::set<size_t> left_to_typing(const std::vector<HotkeyEntry>& entries,
                                  uint64_t layout);
  void open_layer();
  // Unregisters the layer's keys; `said` is spoken unless empty.
  void close_layer(std::string_view said = {});
  void send_press(size_t index, bool left_to_typing);
  // Takes the layer key of `tables`.
  void use_layer_key(const BindingTables& tables);

  HotkeyRegistry& registry_;
  const uint32_t kelvo_pid_;
  const std::shared_ptr<const BindingsInForce> bindings_;
  Sender<KeyPress> actions_;
  KeyboardLayout* layout_;
  Speech speech_;
  bool kelvo_in_front_ = false;
  bool key_help_ = false;
  std::set<size_t> left_;  // left to typing on the layout last checked
  std::optional<uint64_t> checked_layout_;
  std::set<std::pair<uint64_t, std::string>> logged_;  // layout, key text
  // The keys found taken when Kelvo is next in front are spoken: the run's
  // first keys, however late Kelvo's window first comes to the front, and a
  // reload's.
  bool report_taken_ = true;

  // The key layer: the entry id of its key (none: the layer is off) and the
  // key as spoken; while it waits, its keys and when it closes.
  std::optional<size_t> layer_id_;
  std::string layer_key_spoken_;
  std::vector<LayerKey> layer_keys_;
  std::optional<std::chrono::steady_clock::time_point> layer_deadline_;
  const std::chrono::milliseconds layer_wait_;
  const Clock now_;
};

// The log line for a key left to typing, and the sentence spoken for the
// `count` keys a layout leaves to typing.
std::string left_to_typing_line(const std::string& key,
                                const std::string& typed);
// `layer_key` is the layer key as spoken; empty when the layer is off.
std::string left_to_typing_sentence(size_t count,
                                    std::string_view layer_key = {});

// The sentence for keys that other programs hold; nothing when none.
std::optional<std::string> taken_hotkeys_sentence(
    const std::vector<std::string>& taken);

// The log line when the foreground watch cannot be installed: `error` is the
// system's error code, 0 when it gave none.
std::string foreground_watch_failure(unsigned long error);

// Why this session cannot give global hot keys (X11: no display to reach);
// nothing when it can, always on Windows.
std::optional<std::string> hotkeys_unavailable();

// The settings error for the first entry whose key this keyboard does not
// have (X11: no key gives its keysym); nothing when all are there, always on
// Windows.
std::optional<std::string> hotkey_missing_on_keyboard(
    const std::vector<HotkeyEntry>& entries);

// The process-wide registry on the platform's hot-key service.
HotkeyRegistry& hotkey_registry();

// Registers (true) or unregisters (false) every entry of hotkey_registry().
// Main thread.
void set_hotkeys_active(bool active);

// The message loop: stores the hot-key entries in force, installs the
// foreground hook, sets the initial state, sends each press to `actions` and
// runs the tasks posted to it until the quit message arrives; then
// unregisters everything and closes the sender. Keys left to typing are
// spoken through `speech`; Kelvo's keyboard layout is looked at every
// `timing.layout_check` (Windows), and the layer waits `timing.layer_wait`.
void run_hotkeys(std::shared_ptr<const BindingsInForce> bindings,
                 uint32_t kelvo_pid, Sender<KeyPress> actions,
                 Speech speech = {}, const Timing& timing = {});

// Work for the thread of run_hotkeys (the owner of the hot keys).
using LoopTask = std::function<void(HotkeyLoop&)>;

// Runs `task` on the thread of run_hotkeys, in turn with the presses that
// reach it. Any thread; a task posted before the loop starts runs once it
// has started, one posted after it ended never.
void post_to_loop(uint32_t main_thread, LoopTask task);

// For the platform loops: queues a task, and runs those queued (loop
// thread).
void queue_loop_task(LoopTask task);
void run_loop_tasks(HotkeyLoop& loop);

// Ends run_hotkeys from any thread (Windows: WM_QUIT to `main_thread`). A
// quit posted before the loop has started ends it as soon as it starts.
void post_quit(uint32_t main_thread);

// The calling thread's id as post_quit needs it. On Windows this also gives
// the thread its message queue, so a quit posted before the loop starts is
// not lost.
uint32_t current_thread_id();

}  // namespace orvalin
