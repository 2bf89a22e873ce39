// The names that Orvalin's launcher and the in-host plugin (and its
// stand-in, tools/kelvosim) share: where the plugin file lies, the
// variables that make Kelvo load it and that it reads, and the loaded
// signal by which it tells the launcher that it is there. Any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace orvalin {

// Kelvo's Qt loads the plugin when QT_QPA_GENERIC_PLUGINS names it and the
// first entry of QT_PLUGIN_PATH holds it below its plugin folder.
inline constexpr char kQtGenericPluginsVariable[] = "QT_QPA_GENERIC_PLUGINS";
inline constexpr char kQtPluginPathVariable[] = "QT_PLUGIN_PATH";
inline constexpr char kGenericPluginName[] = "orvalin";
inline constexpr char kPluginFolder[] = "generic";

// The run's token (the hello must carry it) and the port the plugin
// listens on, on 127.0.0.1.
inline constexpr char kTokenVariable[] = "ORVALIN_TOKEN";
inline constexpr char kPortVariable[] = "ORVALIN_PORT";

// The plugin file below kPluginFolder: "orvalin.dll" on Windows,
// "liborvalin.so" elsewhere.
std::string_view plugin_file_name();

// The plugin directory of the installed package, for a program in
// `program_dir`: "../lib/orvalin/plugins" on Linux (/usr/bin/orvalin and
// /usr/lib/orvalin/plugins); none on Windows, where it is beside the
// program.
std::optional<std::filesystem::path> packaged_plugin_dir(
    const std::filesystem::path& program_dir);

// The separator of QT_PLUGIN_PATH entries (";" on Windows, ":" elsewhere).
std::string_view plugin_path_separator();

// How many bytes of the token name the loaded signal.
inline constexpr size_t kSignalTokenBytes = 16;

// The loaded signal's name: "Local\OrvalinPluginLoaded-" (a named event on
// Windows) or "OrvalinPluginLoaded-" (an abstract Unix socket name
// elsewhere), then the token's first 16 bytes (the whole token if shorter).
std::string_view loaded_signal_prefix();
std::string loaded_signal_name(std::string_view token);

// Whether the loaded signal of that name exists now.
bool loaded_signal_exists(const std::string& name);

// The plugin's side: creates the loaded signal of that name and keeps it
// for the life of the process.
Status raise_loaded_signal(const std::string& name);

}  // namespace orvalin
