// Hot keys: the bindings are registered as system-wide hot keys only while a
// window of Kelvo's process is in front. run_hotkeys is the main thread's
// message loop; every registration happens on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// Registers (true) or unregisters (false) every entry; nothing when there are
// no entries yet or the state is already as asked. Main thread.
void set_hotkeys_active(bool active);

// The message loop: stores the entries, installs the foreground hook, sets
// the initial state and sends each pressed id to `actions` until the quit
// message arrives; then unregisters everything and closes the sender.
void run_hotkeys(std::vector<HotkeyEntry> entries, uint32_t kelvo_pid,
                 Sender<uint64_t> actions);

// Ends run_hotkeys from any thread (Windows: WM_QUIT to `main_thread`).
void post_quit(uint32_t main_thread);

// The calling thread's id as post_quit needs it.
uint32_t current_thread_id();

// Body of the short thread that, after 5 seconds, speaks the keys that
// other programs hold.
void report_taken_hotkeys(Speech speech);

}  // namespace orvalin
