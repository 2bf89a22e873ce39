// What the simulator does as the host application with the plugin loaded:
// the decision to load it and, on Windows, the "Kelvo" main window. The
// loaded signal and the plugin's names are in base/plugin.h.
// Called from the main thread at start-up.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kelvosim {

// Whether the host would load the plugin, judged from its Qt variables:
// QT_QPA_GENERIC_PLUGINS is "orvalin" and the first entry of QT_PLUGIN_PATH
// holds the plugin file (see base/plugin.h).
bool plugin_would_load(const std::optional<std::string>& generic_plugins,
                       const std::optional<std::string>& plugin_path);

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> program_args(int argc, char** argv);

// Shows the host's main window titled "Kelvo" and brings it to the front,
// served by its own thread. Under X11 (DISPLAY set) the window carries the
// process id (_NET_WM_PID) and is not brought to the front: without a window
// manager the tests give it the focus. In a Wayland session (WAYLAND_DISPLAY
// set) there is such a window only when QT_QPA_PLATFORM asks for xcb. Each
// key pressed in the window (one that no hot key took first) is handed to
// `key_pressed` by its name: the virtual-key code in decimal on Windows, the
// keysym's name under X11.
void show_main_window(std::function<void(const std::string&)> key_pressed);

}  // namespace kelvosim
