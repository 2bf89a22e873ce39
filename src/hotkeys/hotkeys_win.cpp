#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "applog/applog.h"
#include "base/winstr.h"
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

class WinKeyboardLayout final : public KeyboardLayout {
 public:
  uint64_t current() override {
    const HWND window = GetForegroundWindow();
    const DWORD thread =
        window ? GetWindowThreadProcessId(window, nullptr) : DWORD{0};
    return reinterpret_cast<uintptr_t>(GetKeyboardLayout(thread));
  }

  std::string typed(uint64_t layout, uint32_t modifiers, uint32_t vk) override {
    const HKL hkl = reinterpret_cast<HKL>(static_cast<uintptr_t>(layout));
    BYTE state[256] = {};
    // AltGr reaches programs as left Ctrl with right Alt.
    if (modifiers & MOD_CONTROL) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
    if (modifiers & MOD_ALT) state[VK_MENU] = state[VK_RMENU] = 0x80;
    if (modifiers & MOD_SHIFT) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
    if (modifiers & MOD_WIN) state[VK_LWIN] = 0x80;
    const UINT scan = MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, hkl);
    wchar_t buffer[8];
    // Flag 4: a dead key does not stay pending in the keyboard state
    // (Windows 10 1607 and later).
    const int got = ToUnicodeEx(vk, scan, state, buffer, 8, 4, hkl);
    if (got == 0) return {};
    // Negative: a dead key, which types its character with the next key.
    std::wstring text(buffer, got < 0 ? 1 : std::min(got, 8));
    // Control characters (Ctrl+letter, Enter, Tab) are not typing.
    std::erase_if(text, [](wchar_t c) { return c < 0x20 || c == 0x7F; });
    return from_wide(text);
  }
};

// The loop of the running run_hotkeys, for the foreground hook, which runs
// on the same thread while it waits in GetMessageW. Written before the hook
// is installed and cleared after it is removed.
std::atomic<HotkeyLoop*> g_loop{nullptr};

// Tells the loop that tasks are queued for it (a thread message: no window).
constexpr UINT kRunTasks = WM_APP + 1;

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

std::optional<std::string> hotkeys_unavailable() { return std::nullopt; }

std::optional<std::string> hotkey_missing_on_keyboard(
    const std::vector<HotkeyEntry>&) {
  return std::nullopt;
}

std::set<std::string> keys_kept_by_system(const std::vector<HotkeyEntry>&) {
  // Windows keeps only Ctrl+Alt+Delete, whose registration fails as a taken
  // key's does.
  return {};
}

HotkeyRegistry& hotkey_registry() {
  static WinHotkeys api;
  static HotkeyRegistry registry(api);
  return registry;
}

void run_hotkeys(std::shared_ptr<const BindingsInForce> bindings,
                 uint32_t kelvo_pid, Sender<KeyPress> actions, Speech speech,
                 const Timing& timing) {
  HotkeyRegistry& registry = hotkey_registry();
  registry.start(registered_entries(*bindings->current()));
  WinKeyboardLayout layout;
  HotkeyLoop loop(registry, kelvo_pid, std::move(bindings), std::move(actions),
                  &layout, std::move(speech), timing.layer_wait);
  g_loop.store(&loop);
  HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                      on_foreground, 0, 0, WINEVENT_OUTOFCONTEXT);
  // Without the hook the keys keep their start state for the whole run:
  // the log must say why. (SetWinEventHook need not set a last error.)
  if (hook == nullptr) log(foreground_watch_failure(GetLastError()));
  loop.foreground_changed(window_pid(GetForegroundWindow()));
  // A thread timer: WM_TIMER arrives in this queue without a window. It
  // looks whether Kelvo's keyboard layout was switched (no event tells
  // another process of it), and which window is in front: a foreground
  // event that never came (Wine sends none) must not leave Kelvo without
  // its keys for the rest of the set.
  const UINT_PTR timer = SetTimer(
      nullptr, 0, static_cast<UINT>(timing.layout_check.count()), nullptr);
  // A one-shot thread timer for the waiting key layer's end, set when the
  // layer opens (0: none set).
  UINT_PTR layer_timer = 0;
  const auto follow_layer = [&] {
    const auto deadline = loop.layer_deadline();
    if (!deadline && layer_timer != 0) {
      KillTimer(nullptr, layer_timer);
      layer_timer = 0;
    } else if (deadline && layer_timer == 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      layer_timer = SetTimer(nullptr, 0,
                             static_cast<UINT>(std::max<int64_t>(
                                 left.count(), USER_TIMER_MINIMUM)),
                             nullptr);
    }
  };

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
    // Whatever one message throws is logged; the loop serves the next.
    run_guarded("main", [&] {
      // Posted messages come in the order they were posted, so a press made
      // before a reload's task is handed on with the bindings it was made
      // with.
      if (msg.message == WM_HOTKEY) {
        loop.hotkey_pressed(static_cast<uint64_t>(msg.wParam));
      } else if (msg.message == kRunTasks && msg.hwnd == nullptr) {
        run_loop_tasks(loop);
      } else if (msg.message == WM_TIMER && msg.hwnd == nullptr &&
                 msg.wParam == timer) {
        loop.foreground_changed(window_pid(GetForegroundWindow()));
      } else if (msg.message == WM_TIMER && msg.hwnd == nullptr &&
                 layer_timer != 0 && msg.wParam == layer_timer) {
        // Thread timers repeat: this one is set again below if the layer
        // still waits (a timer may come a little early).
        KillTimer(nullptr, layer_timer);
        layer_timer = 0;
        loop.tick();
      } else {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      follow_layer();
    });
  }

  if (layer_timer != 0) KillTimer(nullptr, layer_timer);
  if (timer != 0) KillTimer(nullptr, timer);
  if (hook) UnhookWinEvent(hook);
  g_loop.store(nullptr);
  loop.quit();
}

void post_to_loop(uint32_t main_thread, LoopTask task) {
  queue_loop_task(std::move(task));
  // Should the post fail, the task runs with the next one posted.
  PostThreadMessageW(main_thread, kRunTasks, 0, 0);
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
