// Small operating-system queries shared by the modules. Any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvalin {

// The value of an environment variable; nullopt when it is not set or is not
// valid Unicode.
std::optional<std::string> get_env(std::string_view name);

// The system's text for an error code (GetLastError / errno numbering of the
// platform), never empty: a code without text is described by its number.
std::string os_error_text(unsigned long code);

// Text of the calling thread's last OS error (GetLastError / errno).
std::string last_os_error_text();

// Text for a std::error_code from the standard library, with the same
// fallback as os_error_text.
std::string error_code_text(const std::error_code& error);

// This program's process id.
uint64_t current_process_id();

// Full path of the running program, if it can be determined.
std::optional<std::filesystem::path> executable_path();

// The system's folder for temporary files.
std::filesystem::path temp_dir();

// The settings folder: %APPDATA%\Orvalin on Windows (the temporary folder
// when APPDATA is not set). Elsewhere $XDG_CONFIG_HOME/orvalin, where
// XDG_CONFIG_HOME defaults to ~/.config.
std::filesystem::path app_settings_dir();

// The log folder: %LOCALAPPDATA%\Orvalin\logs on Windows (the temporary
// folder when LOCALAPPDATA is not set). Elsewhere $XDG_STATE_HOME/orvalin,
// where XDG_STATE_HOME defaults to ~/.local/state.
std::filesystem::path app_log_dir();

// True when the file system can report metadata for `path` (any kind of
// entry). Errors count as "does not exist".
bool path_exists(const std::filesystem::path& path);

}  // namespace orvalin
