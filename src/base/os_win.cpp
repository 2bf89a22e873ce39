#include <windows.h>

#include <vector>

#include "base/os.h"
#include "base/winstr.h"

namespace orvalin {

namespace {

std::optional<std::wstring> env_wide(const std::wstring& name) {
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  for (;;) {
    const DWORD got = GetEnvironmentVariableW(name.c_str(), value.data(),
                                              static_cast<DWORD>(value.size()));
    if (got == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (got < value.size()) {
      value.resize(got);
      return value;
    }
    value.resize(got);
  }
}

bool valid_utf16(std::wstring_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::optional<std::filesystem::path> env_dir(const wchar_t* name) {
  auto value = env_wide(name);
  if (!value || value->empty()) return std::nullopt;
  return std::filesystem::path(*value);
}

}  // namespace

std::optional<std::string> get_env(std::string_view name) {
  auto value = env_wide(to_wide(name));
  if (!value || !valid_utf16(*value)) return std::nullopt;
  return from_wide(*value);
}

std::string os_error_text(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) {
    text = from_wide(std::wstring_view(buffer, length));
  }
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  // Wine has no text for many Winsock and COM codes.
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

std::string last_os_error_text() { return os_error_text(GetLastError()); }

uint64_t current_process_id() { return GetCurrentProcessId(); }

std::optional<std::filesystem::path> executable_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(nullptr, buffer.data(),
                                         static_cast<DWORD>(buffer.size()));
    if (got == 0) return std::nullopt;
    if (got < buffer.size()) {
      buffer.resize(got);
      return std::filesystem::path(buffer);
    }
    if (buffer.size() >= 32768) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path temp_dir() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD got = GetTempPathW(MAX_PATH + 2, buffer);
  if (got == 0 || got > MAX_PATH + 1) return std::filesystem::path(L"C:\\");
  return std::filesystem::path(std::wstring(buffer, got));
}

std::filesystem::path app_settings_dir() {
  return env_dir(L"APPDATA").value_or(temp_dir()) / "Orvalin";
}

std::filesystem::path app_log_dir() {
  return env_dir(L"LOCALAPPDATA").value_or(temp_dir()) / "Orvalin" / "logs";
}

}  // namespace orvalin
