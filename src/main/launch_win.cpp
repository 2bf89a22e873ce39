// Kelvo on Windows: the process "kelvo.exe" and the random token key.
#include <windows.h>
// <windows.h> first: the others need its types.
#include <bcrypt.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <map>
#include <vector>

#include "base/os.h"
#include "base/sentences.h"
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

using EnumerateProcessesFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD,
                                           PWTS_PROCESS_INFOW*, DWORD*);
using FreeMemoryFn = void(WINAPI*)(PVOID);

// Every process's session, as the session manager lists them: nothing has
// to be opened, so an elevated Kelvo, which we may not open, is still found
// in ours. (Another user's processes are listed to administrators only;
// those are never ours.) Empty when the list cannot be had. wtsapi32.dll
// is not a known DLL: it is taken from System32 at run time (see winlib.h).
std::map<uint64_t, uint32_t> process_sessions() {
  const auto enumerate = system_function<EnumerateProcessesFn>(
      L"wtsapi32.dll", "WTSEnumerateProcessesW");
  const auto free_memory =
      system_function<FreeMemoryFn>(L"wtsapi32.dll", "WTSFreeMemory");
  std::map<uint64_t, uint32_t> sessions;
  PWTS_PROCESS_INFOW list = nullptr;
  DWORD count = 0;
  if (enumerate == nullptr || free_memory == nullptr ||
      !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) {
    return sessions;
  }
  for (DWORD i = 0; i < count; ++i) {
    sessions.emplace(list[i].ProcessId, list[i].SessionId);
  }
  free_memory(list);
  return sessions;
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
  if (processes.empty()) return false;
  const std::map<uint64_t, uint32_t> sessions = process_sessions();
  const auto session_of = [&](uint64_t pid) -> std::optional<uint32_t> {
    const auto found = sessions.find(pid);
    if (found == sessions.end()) return std::nullopt;
    return found->second;
  };
  std::optional<uint32_t> own = session_of(GetCurrentProcessId());
  if (DWORD session = 0;
      !own && ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
    own = session;
  }
  // Without the list or our own session, every Kelvo counts.
  if (sessions.empty() || !own) return true;
  return kelvo_runs_in_session(processes, *own, session_of);
}

Result<TokenKey> random_token_key() {
  uint8_t bytes[16];
  if (!process_prng(bytes, sizeof bytes)) {
    // bcrypt.dll from System32, not imported at load time (see winlib.h).
    const auto gen_random =
        system_function<GenRandomFn>(L"bcrypt.dll", "BCryptGenRandom");
    if (gen_random == nullptr) {
      return fail(fill(kNoRandomNumbers, {last_os_error_text()}));
    }
    const NTSTATUS status = gen_random(nullptr, bytes, sizeof bytes,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
      return fail(fill(kNoRandomNumbers,
                       {os_error_text(static_cast<unsigned long>(status))}));
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
