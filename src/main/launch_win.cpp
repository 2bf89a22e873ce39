// Kelvo on Windows: the process "kelvo.exe" and the random token key.
#include <windows.h>
// <windows.h> first: the others need its types.
#include <bcrypt.h>
#include <tlhelp32.h>

#include <vector>

#include "base/os.h"
#include "base/winlib.h"
#include "base/winstr.h"
#include "main/launch.h"

namespace orvalin {

namespace {

using ProcessPrngFn = BOOL(WINAPI*)(PBYTE data, SIZE_T size);
using GenRandomFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);

// ProcessPrng lives in bcryptprimitives.dll, which not every system has
// (Wine has none): it is looked up at run time so that the program still
// starts there, and BCryptGenRandom is the fallback.
bool process_prng(uint8_t* bytes, size_t size) {
  const auto function =
      system_function<ProcessPrngFn>(L"bcryptprimitives.dll", "ProcessPrng");
  return function != nullptr && function(bytes, size) != FALSE;
}

}  // namespace

std::string_view kelvo_process_name() { return "kelvo.exe"; }

bool is_kelvo_running() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::vector<ListedProcess> processes;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const size_t length = wcsnlen(entry.szExeFile, MAX_PATH);
    std::string name = from_wide(std::wstring_view(entry.szExeFile, length));
    if (is_kelvo_process_name(name)) {
      processes.push_back({entry.th32ProcessID, std::move(name)});
    }
  }
  CloseHandle(snapshot);
  const auto session_of = [](uint64_t pid) -> std::optional<uint32_t> {
    DWORD session = 0;
    // Needs query access to the process, which another user's may deny.
    if (!ProcessIdToSessionId(static_cast<DWORD>(pid), &session)) {
      return std::nullopt;
    }
    return session;
  };
  const std::optional<uint32_t> own = session_of(GetCurrentProcessId());
  // Our own session is always known; if not, every Kelvo counts as before.
  if (!own) return !processes.empty();
  return kelvo_runs_in_session(processes, *own, session_of);
}

Result<TokenKey> random_token_key() {
  uint8_t bytes[16];
  if (!process_prng(bytes, sizeof bytes)) {
    // bcrypt.dll from System32, not imported at load time (see winlib.h).
    const auto gen_random =
        system_function<GenRandomFn>(L"bcrypt.dll", "BCryptGenRandom");
    if (gen_random == nullptr) {
      return fail("cannot draw random numbers: " + last_os_error_text());
    }
    const NTSTATUS status = gen_random(nullptr, bytes, sizeof bytes,
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

}  // namespace orvalin
