// Our headers first: X11's macros (Status, None) would rewrite their names.
// clang-format off
#include "base/os.h"
#include "base/thread.h"
#include "host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <functional>
#include <string>
// clang-format on

namespace kelvosim {

namespace {

// The window's connection, served by the thread "main-window" alone.
void serve_main_window(Display* display,
                       const std::function<void(const std::string&)>& key) {
  XEvent event;
  for (;;) {
    XNextEvent(display, &event);
    // Kelvo has plain-key shortcuts of its own: a key that reaches its
    // window would act in Kelvo.
    if (event.type == KeyPress && key) {
      const char* name = XKeysymToString(XLookupKeysym(&event.xkey, 0));
      key(name != nullptr ? name : "?");
    }
  }
}

}  // namespace

std::vector<std::string> program_args(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void show_main_window(std::function<void(const std::string&)> key_pressed) {
  const auto name = orvalin::get_env("DISPLAY");
  if (!name || name->empty()) return;
  // As a Qt 6 program: in a Wayland session its window is a native Wayland
  // one, which no X11 client sees, unless QT_QPA_PLATFORM asks for xcb. The
  // simulator has no Wayland window to show instead.
  const auto wayland = orvalin::get_env("WAYLAND_DISPLAY");
  const auto platform = orvalin::get_env("QT_QPA_PLATFORM");
  if (wayland && !wayland->empty() &&
      !(platform && platform->starts_with("xcb"))) {
    return;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 640, 480,
                          0, BlackPixel(display, DefaultScreen(display)),
                          WhitePixel(display, DefaultScreen(display)));
  XStoreName(display, window, "Kelvo");
  // What window managers and Orvalin read to tell whose window it is.
  const unsigned long pid = static_cast<unsigned long>(::getpid());
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False),
                  XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XSelectInput(display, window, KeyPressMask);
  XMapWindow(display, window);
  XFlush(display);
  orvalin::spawn_detached(
      "main-window",
      [display, key = std::move(key_pressed)] {
        serve_main_window(display, key);
      },
      "failed to spawn thread");
}

}  // namespace kelvosim
