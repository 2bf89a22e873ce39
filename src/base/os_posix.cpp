#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "base/os.h"
#include "base/utf.h"

namespace orvalin {

namespace {

std::optional<std::filesystem::path> env_dir(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::filesystem::path(value);
}

std::filesystem::path home_dir() {
  if (auto home = env_dir("HOME")) return *home;
  return temp_dir();
}

}  // namespace

std::optional<std::string> get_env(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::string os_error_text(unsigned long code) {
  char buffer[256];
  // GNU strerror_r returns the text (maybe not in buffer); XSI returns int.
  const auto result = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  std::string text;
  if constexpr (std::is_same_v<std::remove_cv_t<decltype(result)>, char*>) {
    text = result ? result : "";
  } else {
    text = result == 0 ? buffer : "";
  }
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

std::string last_os_error_text() {
  return os_error_text(static_cast<unsigned long>(errno));
}

uint64_t current_process_id() { return static_cast<uint64_t>(::getpid()); }

std::optional<std::filesystem::path> executable_path() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return path;
}

std::filesystem::path temp_dir() {
  std::error_code error;
  auto path = std::filesystem::temp_directory_path(error);
  if (error) return "/tmp";
  return path;
}

// The XDG base directories: a relative value is to be ignored.
std::optional<std::filesystem::path> xdg_dir(const char* name) {
  auto dir = env_dir(name);
  if (dir && dir->is_absolute()) return dir;
  return std::nullopt;
}

std::filesystem::path app_settings_dir() {
  return xdg_dir("XDG_CONFIG_HOME").value_or(home_dir() / ".config") /
         "orvalin";
}

std::filesystem::path app_log_dir() {
  return xdg_dir("XDG_STATE_HOME").value_or(home_dir() / ".local" / "state") /
         "orvalin";
}

}  // namespace orvalin
