#include <windows.h>

#include <atomic>

#include "applog/applog.h"
#include "hotkeys/hotkeys.h"

namespace orvalin {

namespace {

class WinHotkeys final : public HotkeyApi {
 public:
  // No window: presses arrive as WM_HOTKEY in this thread's queue.
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override {
    return RegisterHotKey(nullptr, id, modifiers, vk) != 0;
  }
  void unregister_hotkey(int id) override { UnregisterHotKey(nullptr, id); }
};

// The loop of the running run_hotkeys, for the foreground hook, which runs
// on the same thread while it waits in GetMessageW. Written before the hook
// is installed and cleared after it is removed.
std::atomic<HotkeyLoop*> g_loop{nullptr};

uint32_t window_pid(HWND window) {
  if (!window) return 0;
  DWORD pid = 0;
  if (!GetWindowThreadProcessId(window, &pid)) return 0;
  return pid;
}

void CALLBACK on_foreground(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG,
                            DWORD, DWORD) noexcept {
  // Nothing may unwind into the system's caller.
  try {
    if (HotkeyLoop* loop = g_loop.load()) {
      loop->foreground_changed(window_pid(window));
    }
  } catch (...) {
  }
}

}  // namespace

HotkeyRegistry& hotkey_registry() {
  static WinHotkeys api;
  static HotkeyRegistry registry(api);
  return registry;
}

void run_hotkeys(std::vector<HotkeyEntry> entries, uint32_t kelvo_pid,
                 Sender<KeyPress> actions) {
  HotkeyRegistry& registry = hotkey_registry();
  registry.start(std::move(entries));
  HotkeyLoop loop(registry, kelvo_pid, std::move(actions));
  g_loop.store(&loop);
  HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                      on_foreground, 0, 0, WINEVENT_OUTOFCONTEXT);
  loop.foreground_changed(window_pid(GetForegroundWindow()));

  bool failing = false;
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) {
      // Only invalid arguments make GetMessageW fail, and ours are fixed;
      // should it happen anyway, keep serving Kelvo without spinning.
      if (!failing) {
        log("GetMessageW failed with error " + std::to_string(GetLastError()) +
            "; retrying");
        failing = true;
      }
      Sleep(100);
      continue;
    }
    failing = false;
    if (msg.message == WM_HOTKEY) {
      loop.hotkey_pressed(static_cast<uint64_t>(msg.wParam));
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  if (hook) UnhookWinEvent(hook);
  g_loop.store(nullptr);
  loop.quit();
}

void post_quit(uint32_t main_thread) {
  PostThreadMessageW(main_thread, WM_QUIT, 0, 0);
}

uint32_t current_thread_id() {
  // Posting to a thread without a message queue fails; make sure it has one
  // before anyone can post the quit message to it.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  return GetCurrentThreadId();
}

}  // namespace orvalin
