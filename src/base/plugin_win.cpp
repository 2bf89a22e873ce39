// The plugin on Windows: a DLL, and the loaded signal as a named event in
// the session's namespace.
#include <windows.h>

#include "base/os.h"
#include "base/plugin.h"
#include "base/sentences.h"
#include "base/winstr.h"

namespace orvalin {

std::string_view plugin_file_name() { return "orvalin.dll"; }

std::optional<std::filesystem::path> packaged_plugin_dir(
    const std::filesystem::path&) {
  return std::nullopt;
}

std::string_view plugin_path_separator() { return ";"; }

std::string_view loaded_signal_prefix() {
  return "Local\\OrvalinPluginLoaded-";
}

bool loaded_signal_exists(const std::string& name) {
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, to_wide(name).c_str());
  if (event == nullptr) return false;
  CloseHandle(event);
  return true;
}

Status raise_loaded_signal(const std::string& name) {
  // The handle is kept open for the life of the process.
  const HANDLE event =
      CreateEventW(nullptr, TRUE, FALSE, to_wide(name).c_str());
  if (event == nullptr) {
    return fail(fill(kNoLoadedSignal, {last_os_error_text()}));
  }
  return {};
}

}  // namespace orvalin
