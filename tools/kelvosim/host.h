// What the simulator does as the host application with the plugin loaded:
// the plugin's loaded signal and, on Windows, the "Kelvo" main window.
// Called from the main thread at start-up.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kelvosim {

// The loaded-signal name for a token: the fixed prefix and the token's first
// 16 bytes (the whole token when shorter). Windows adds "Local\".
std::string loaded_signal_name(std::string_view token);

// Creates the loaded signal (a named event on Windows, a bound abstract Unix
// socket on Linux) and keeps it for the life of the process.
orvalin::Status raise_loaded_signal(std::string_view token);

// True while some process holds the loaded signal for `token`.
bool loaded_signal_exists(std::string_view token);

// Whether the host would load the plugin, judged from its Qt variables:
// QT_QPA_GENERIC_PLUGINS is "orvalin" and the first entry of QT_PLUGIN_PATH
// holds the plugin file (plugin_file_name() below its "generic" folder).
bool plugin_would_load(const std::optional<std::string>& generic_plugins,
                       const std::optional<std::string>& plugin_path);

// "orvalin.dll" on Windows, "liborvalin.so" elsewhere.
std::string_view plugin_file_name();

// The separator of QT_PLUGIN_PATH entries: ';' on Windows, ':' elsewhere.
char plugin_path_separator();

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> program_args(int argc, char** argv);

// Shows the host's main window titled "Kelvo" and brings it to the front,
// served by its own thread. Nothing on Linux.
void show_main_window();

}  // namespace kelvosim
