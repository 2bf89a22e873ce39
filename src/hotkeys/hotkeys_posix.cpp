// Hot keys on X11: each binding is grabbed on the root window while a window
// of Kelvo's process is the active one. The active window is the root
// window's _NET_ACTIVE_WINDOW, or the input focus where no window manager
// sets it, followed through property and focus events. The loop waits in
// poll() for the X connection and for the wake-up that posted tasks and the
// quit give from other threads.
//
// A test run without a display gets its keys from the test driver: the loop
// then only runs the posted tasks.
//
// Our headers come first: X11's macros (KeyPress, Status, None) would
// otherwise rewrite their names.
#include "applog/applog.h"
#include "base/os.h"
#include "base/sentences.h"
#include "config/keys.h"
#include "hotkeys/hotkeys.h"
#include "hotkeys/keysyms.h"

namespace orvalin {
using Press = KeyPress;
}  // namespace orvalin

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace orvalin {

namespace {

std::mutex g_quit_mutex;  // guards g_quit_posted
// Stays set until a loop has seen it, so a quit that comes before the loop
// starts still ends it.
bool g_quit_posted = false;

// Readable while tasks or the quit wait for the loop; made once, never
// closed.
int wake_fd() {
  static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

void wake_loop() {
  const uint64_t one = 1;
  // A full counter is readable all the same.
  [[maybe_unused]] const ssize_t written = ::write(wake_fd(), &one, sizeof one);
}

// Takes the wake-up; true when the quit was posted.
bool take_wake_up() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(wake_fd(), &count, sizeof count);
  std::lock_guard lock(g_quit_mutex);
  const bool quit = g_quit_posted;
  g_quit_posted = false;
  return quit;
}

// A run driven by a test, or by the test driver's script, which gives the
// keys itself.
bool test_run() {
  return get_env("ORVALIN_TEST_TOKEN") || get_env("ORVALIN_TEST_ACTIONS");
}

bool has_display() {
  const auto display = get_env("DISPLAY");
  return display && !display->empty();
}

// The last X error, recorded by the handler instead of Xlib's default, which
// ends the program (a window that closed while its properties were read
// gives BadWindow). Main thread only.
int g_x_error = 0;

int record_x_error(Display*, XErrorEvent* error) {
  g_x_error = error->error_code;
  return 0;
}

// The modifier bit of Num Lock on this keyboard (Mod2 on most).
unsigned num_lock_mask(Display* display) {
  const KeyCode num_lock = XKeysymToKeycode(display, XK_Num_Lock);
  XModifierKeymap* map = XGetModifierMapping(display);
  unsigned mask = 0;
  if (map != nullptr && num_lock != 0) {
    for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
      for (int k = 0; k < map->max_keypermod; ++k) {
        if (map->modifiermap[modifier * map->max_keypermod + k] == num_lock) {
          mask = 1u << modifier;
          break;
        }
      }
    }
  }
  if (map != nullptr) XFreeModifiermap(map);
  return mask != 0 ? mask : Mod2Mask;
}

unsigned x_modifiers(uint32_t modifiers) {
  unsigned mask = 0;
  if (modifiers & kModAlt) mask |= Mod1Mask;
  if (modifiers & kModControl) mask |= ControlMask;
  if (modifiers & kModShift) mask |= ShiftMask;
  if (modifiers & kModWin) mask |= Mod4Mask;
  return mask;
}

// Keys the display server acts on itself whatever the grabs, as the
// keyboard map's special keysyms say: Ctrl+Alt+F1 to F12 switch to a text
// console (which would take the screen away mid-set), Ctrl+Alt+Backspace
// may end the server.
bool kept_by_server(Display* display, uint32_t modifiers, uint32_t vk) {
  const KeyCode code = XKeysymToKeycode(display, keysym_of(vk));
  if (code == 0) return false;
  KeySym keysym = NoSymbol;
  unsigned consumed = 0;
  if (!XkbLookupKeySym(display, code, x_modifiers(modifiers), &consumed,
                       &keysym)) {
    return false;
  }
  return keysym == XK_Terminate_Server ||
         (keysym >= XF86XK_Switch_VT_1 && keysym <= XF86XK_LogGrabInfo);
}

// The grabs of the bindings on the root window. Main thread.
class X11Hotkeys final : public HotkeyApi {
 public:
  explicit X11Hotkeys(Display* display)
      : display_(display),
        root_(DefaultRootWindow(display)),
        num_lock_(num_lock_mask(display)) {}

  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override {
    const KeyCode code = XKeysymToKeycode(display_, keysym_of(vk));
    // Start-up refused keys this keyboard lacks; one from a reload stays
    // without a grab.
    if (code == 0) return true;
    const unsigned mask = x_modifiers(modifiers);
    XSync(display_, False);
    g_x_error = 0;
    // Num Lock and Caps Lock are modifiers to X: the key is grabbed with
    // each of their states, so that it works whichever is on.
    for (unsigned locks : lock_variants()) {
      XGrabKey(display_, code, mask | locks, root_, False, GrabModeAsync,
               GrabModeAsync);
    }
    // A refused grab is reported asynchronously.
    XSync(display_, False);
    if (g_x_error == BadAccess) {
      ungrab(code, mask);
      return false;
    }
    grabs_[id] = {code, mask, (modifiers & kModNoRepeat) != 0};
    return true;
  }

  bool kept_by_system(uint32_t modifiers, uint32_t vk) override {
    return kept_by_server(display_, modifiers, vk);
  }

  void unregister_hotkey(int id) override {
    const auto grab = grabs_.find(id);
    if (grab == grabs_.end()) return;
    ungrab(grab->second.code, grab->second.mask);
    // Its release may now go to another window: a key held while Kelvo
    // lost the front must not make the next press look like a repeat.
    held_.erase(grab->second.code);
    grabs_.erase(grab);
    XFlush(display_);
  }

  // The binding a key event is for; nothing for a repeat of a key that does
  // not repeat, or a key that is none of ours.
  std::optional<uint64_t> pressed(const XKeyEvent& event) {
    const unsigned mask =
        event.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
    for (const auto& [id, grab] : grabs_) {
      if (grab.code != event.keycode || grab.mask != mask) continue;
      // With detectable auto-repeat, a held key sends presses without
      // releases in between.
      const bool repeat = !held_.insert(grab.code).second;
      if (repeat && grab.no_repeat) return std::nullopt;
      return static_cast<uint64_t>(id);
    }
    return std::nullopt;
  }

  void released(const XKeyEvent& event) {
    held_.erase(static_cast<KeyCode>(event.keycode));
  }

 private:
  struct Grab {
    KeyCode code = 0;
    unsigned mask = 0;
    bool no_repeat = false;
  };

  std::array<unsigned, 4> lock_variants() const {
    return {0u, LockMask, num_lock_, num_lock_ | LockMask};
  }

  void ungrab(KeyCode code, unsigned mask) {
    // Ungrabbing a combination another client holds leaves its grab alone.
    for (unsigned locks : lock_variants()) {
      XUngrabKey(display_, code, mask | locks, root_);
    }
  }

  Display* const display_;
  const Window root_;
  const unsigned num_lock_;
  std::map<int, Grab> grabs_;
  std::set<KeyCode> held_;
};

// The registry's service: the grabs of the running loop, or nothing (no
// display: every registration succeeds and grabs nothing).
class ForwardingHotkeys final : public HotkeyApi {
 public:
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override {
    return target == nullptr || target->register_hotkey(id, modifiers, vk);
  }
  void unregister_hotkey(int id) override {
    if (target != nullptr) target->unregister_hotkey(id);
  }
  bool kept_by_system(uint32_t modifiers, uint32_t vk) override {
    return target != nullptr && target->kept_by_system(modifiers, vk);
  }
  X11Hotkeys* target = nullptr;  // main thread only
};

ForwardingHotkeys& forwarding_hotkeys() {
  static ForwardingHotkeys api;
  return api;
}

// Which process's window is the active one. Main thread.
class ActiveWindow {
 public:
  explicit ActiveWindow(Display* display)
      : display_(display),
        root_(DefaultRootWindow(display)),
        active_(XInternAtom(display, "_NET_ACTIVE_WINDOW", False)),
        pid_(XInternAtom(display, "_NET_WM_PID", False)) {
    // Focus events on the root window tell of focus coming from or going
    // to no window; those on the focused window, of focus leaving it.
    XSelectInput(display_, root_, PropertyChangeMask | FocusChangeMask);
  }

  bool is_change(const XEvent& event) const {
    if (event.type == PropertyNotify) {
      return event.xproperty.window == root_ && event.xproperty.atom == active_;
    }
    return event.type == FocusIn || event.type == FocusOut;
  }

  // The process of the active window; 0 when there is none or it has no
  // _NET_WM_PID.
  uint32_t pid() {
    Window window = 0;
    if (!window_property(root_, active_, &window)) {
      int revert = 0;
      XGetInputFocus(display_, &window, &revert);
      if (window == PointerRoot) window = None;
      if (window != None && window != root_) {
        XSelectInput(display_, window, FocusChangeMask);
      }
    }
    // The focus may be on a child of the application's top-level window,
    // which carries the process id.
    while (window != None && window != root_) {
      unsigned long pid = 0;
      if (cardinal_property(window, pid_, &pid)) {
        return static_cast<uint32_t>(pid);
      }
      window = parent(window);
    }
    return 0;
  }

 private:
  bool window_property(Window window, Atom name, Window* value) {
    unsigned long number = 0;
    if (!read_property(window, name, XA_WINDOW, &number)) return false;
    *value = static_cast<Window>(number);
    return true;
  }

  bool cardinal_property(Window window, Atom name, unsigned long* value) {
    return read_property(window, name, XA_CARDINAL, value);
  }

  // One 32-bit item, which Xlib hands over as a long.
  bool read_property(Window window, Atom name, Atom type,
                     unsigned long* value) {
    Atom actual = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display_, window, name, 0, 1, False, type, &actual,
                           &format, &items, &after, &data);
    const bool found = status == Success && actual == type && format == 32 &&
                       items == 1 && data != nullptr;
    if (found) *value = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr) XFree(data);
    return found;
  }

  Window parent(Window window) {
    Window root = None;
    Window up = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, window, &root, &up, &children, &count)) {
      return None;
    }
    if (children != nullptr) XFree(children);
    return up;
  }

  Display* const display_;
  const Window root_;
  const Atom active_;
  const Atom pid_;
};

// Runs the posted tasks until the quit; with a display, also the hot keys
// and the active window's changes.
void serve_loop(HotkeyLoop& loop, Display* display, X11Hotkeys* keys) {
  std::optional<ActiveWindow> active;
  if (display != nullptr) {
    active.emplace(display);
    loop.foreground_changed(active->pid());
  }
  for (;;) {
    // Xlib may have read events into its queue already: take those first.
    while (display != nullptr && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == KeyPress) {
        if (auto id = keys->pressed(event.xkey)) loop.hotkey_pressed(*id);
      } else if (event.type == KeyRelease) {
        keys->released(event.xkey);
      } else if (active->is_change(event)) {
        loop.foreground_changed(active->pid());
      }
    }
    std::array<pollfd, 2> waits{};
    waits[0] = {wake_fd(), POLLIN, 0};
    waits[1] = {display != nullptr ? ConnectionNumber(display) : -1, POLLIN, 0};
    // While the key layer waits, wake when it is due to close.
    int timeout = -1;
    if (const auto deadline = loop.layer_deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
    }
    if (::poll(waits.data(), waits.size(), timeout) < 0 && errno != EINTR) {
      log("hot keys: poll failed: " + last_os_error_text());
      break;
    }
    loop.tick();
    if (waits[0].revents & POLLIN) {
      if (take_wake_up()) break;
      run_loop_tasks(loop);
    }
  }
}

}  // namespace

std::optional<std::string> hotkeys_unavailable() {
  if (!has_display()) {
    if (test_run()) return std::nullopt;
    return std::string(kNoDisplay);
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return fill(kCannotOpenDisplay, {get_env("DISPLAY").value_or("")});
  }
  XCloseDisplay(display);
  return std::nullopt;
}

std::optional<std::string> hotkey_missing_on_keyboard(
    const std::vector<HotkeyEntry>& entries) {
  if (!has_display()) return std::nullopt;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return std::nullopt;
  std::optional<std::string> missing;
  for (const HotkeyEntry& entry : entries) {
    if (XKeysymToKeycode(display, keysym_of(entry.vk)) == 0) {
      missing = fill(kKeyNotOnKeyboard, {entry.key});
      break;
    }
  }
  XCloseDisplay(display);
  return missing;
}

std::set<std::string> keys_kept_by_system(
    const std::vector<HotkeyEntry>& entries) {
  std::set<std::string> kept;
  if (!has_display()) return kept;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return kept;
  for (const HotkeyEntry& entry : entries) {
    if (kept_by_server(display, entry.modifiers, entry.vk)) {
      kept.insert(entry.key);
    }
  }
  XCloseDisplay(display);
  return kept;
}

HotkeyRegistry& hotkey_registry() {
  static HotkeyRegistry registry(forwarding_hotkeys());
  return registry;
}

void run_hotkeys(std::shared_ptr<const BindingsInForce> bindings,
                 uint32_t kelvo_pid, Sender<Press> actions, Speech speech,
                 const Timing& timing) {
  HotkeyRegistry& registry = hotkey_registry();
  registry.start(registered_entries(*bindings->current()));
  Display* display = has_display() ? XOpenDisplay(nullptr) : nullptr;
  if (has_display() && display == nullptr) {
    log("hot keys: cannot open display " + get_env("DISPLAY").value_or(""));
  }
  std::optional<X11Hotkeys> keys;
  if (display != nullptr) {
    XSetErrorHandler(record_x_error);
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(display, True, &detectable);
    keys.emplace(display);
    forwarding_hotkeys().target = &*keys;
  }
  // No keyboard layout: X11 has no AltGr clash, AltGr is its own modifier.
  HotkeyLoop loop(registry, kelvo_pid, std::move(bindings), std::move(actions),
                  nullptr, std::move(speech), timing.layer_wait);
  serve_loop(loop, display, keys ? &*keys : nullptr);
  loop.quit();
  forwarding_hotkeys().target = nullptr;
  if (display != nullptr) XCloseDisplay(display);
}

void post_to_loop(uint32_t, LoopTask task) {
  queue_loop_task(std::move(task));
  wake_loop();
}

void post_quit(uint32_t) {
  {
    std::lock_guard lock(g_quit_mutex);
    g_quit_posted = true;
  }
  wake_loop();
}

uint32_t current_thread_id() {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t id = next.fetch_add(1);
  return id;
}

}  // namespace orvalin
