// Hot keys: the bindings are registered as system-wide hot keys only while a
// window of Kelvo's process is in front. run_hotkeys is the main thread's
// message loop; every registration happens on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/actions.h"
#include "base/channel.h"
#include "config/config.h"
#include "speech/speech.h"

namespace orvalin {

// The platform's hot-key service, a seam for tests. Called on the main
// thread only.
class HotkeyApi {
 public:
  virtual ~HotkeyApi() = default;
  virtual bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) = 0;
  virtual void unregister_hotkey(int id) = 0;
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
  // be registered is logged and listed once per run.
  void set_active(bool active);

  bool registered() const;
  // The key texts that failed to register, in the order they first failed.
  std::vector<std::string> taken() const;

 private:
  HotkeyApi& api_;
  mutable std::mutex mutex_;  // guards entries_, registered_ and taken_
  std::optional<std::vector<HotkeyEntry>> entries_;
  bool registered_ = false;
  std::vector<std::string> taken_;
};

// What the message loop does with the events it receives, apart from the
// platform's calls: keeps the registry in step with the foreground window
// and hands pressed ids to the action worker. Main thread.
class HotkeyLoop {
 public:
  HotkeyLoop(HotkeyRegistry& registry, uint32_t kelvo_pid,
             Sender<KeyPress> actions)
      : registry_(registry),
        kelvo_pid_(kelvo_pid),
        actions_(std::move(actions)) {}

  // A window of process `pid` (0 when unknown) came to the front; also
  // called once for the window in front when the loop starts.
  void foreground_changed(uint32_t pid);
  // A hot key arrived now; the press is stamped with this moment.
  void hotkey_pressed(uint64_t id);
  // Unregisters every key and closes the action sender.
  void quit();

 private:
  HotkeyRegistry& registry_;
  const uint32_t kelvo_pid_;
  Sender<KeyPress> actions_;
};

// The sentence for keys that other programs hold; nothing when none.
std::optional<std::string> taken_hotkeys_sentence(
    const std::vector<std::string>& taken);

// The process-wide registry on the platform's hot-key service.
HotkeyRegistry& hotkey_registry();

// Registers (true) or unregisters (false) every entry of hotkey_registry().
// Main thread.
void set_hotkeys_active(bool active);

// The message loop: stores the entries, installs the foreground hook, sets
// the initial state and sends each press to `actions` until the quit
// message arrives; then unregisters everything and closes the sender.
void run_hotkeys(std::vector<HotkeyEntry> entries, uint32_t kelvo_pid,
                 Sender<KeyPress> actions);

// Ends run_hotkeys from any thread (Windows: WM_QUIT to `main_thread`). A
// quit posted before the loop has started ends it as soon as it starts.
void post_quit(uint32_t main_thread);

// The calling thread's id as post_quit needs it. On Windows this also gives
// the thread its message queue, so a quit posted before the loop starts is
// not lost.
uint32_t current_thread_id();

// Body of the short thread that, after 5 seconds, speaks the keys that
// other programs hold.
void report_taken_hotkeys(Speech speech);

}  // namespace orvalin
