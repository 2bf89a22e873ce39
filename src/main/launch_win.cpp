// Kelvo's plugin on Windows: a DLL, the process "kelvo.exe", and the loaded
// signal as a named event.
#include <windows.h>
// <windows.h> first: the others need its types.
#include <bcrypt.h>
#include <tlhelp32.h>

#include "base/os.h"
#include "base/winstr.h"
#include "main/launch.h"

namespace orvalin {

namespace {

using ProcessPrngFn = BOOL(WINAPI*)(PBYTE data, SIZE_T size);

// ProcessPrng lives in bcryptprimitives.dll, which not every system has
// (Wine has none): it is looked up at run time so that the program still
// starts there, and BCryptGenRandom is the fallback.
bool process_prng(uint8_t* bytes, size_t size) {
  HMODULE module = LoadLibraryExW(L"bcryptprimitives.dll", nullptr,
                                  LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return false;
  auto function = reinterpret_cast<ProcessPrngFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "ProcessPrng")));
  const bool ok = function != nullptr && function(bytes, size) != FALSE;
  // The module stays loaded: it is a system library that others use too.
  return ok;
}

}  // namespace

std::filesystem::path plugin_relative_path() {
  return std::filesystem::path(L"generic") / L"orvalin.dll";
}

std::string plugin_not_found_message() {
  return "The Kelvo plugin (plugins\\generic\\orvalin.dll) was not found.";
}

std::string_view kelvo_process_name() { return "kelvo.exe"; }

bool is_kelvo_running() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    const size_t length = wcsnlen(entry.szExeFile, MAX_PATH);
    found = is_kelvo_process_name(
        from_wide(std::wstring_view(entry.szExeFile, length)));
  }
  CloseHandle(snapshot);
  return found;
}

Result<TokenKey> random_token_key() {
  uint8_t bytes[16];
  if (!process_prng(bytes, sizeof bytes)) {
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, sizeof bytes,
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
      return fail("cannot draw random numbers: " +
                  os_error_text(static_cast<unsigned long>(status)));
    }
  }
  TokenKey key;
  for (int i = 7; i >= 0; --i) {
    key.k0 = (key.k0 << 8) | bytes[i];
    key.k1 = (key.k1 << 8) | bytes[8 + i];
  }
  return key;
}

uint64_t current_process_id() { return GetCurrentProcessId(); }

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

}  // namespace orvalin
