// The single-instance lock on Windows: the named mutex "OrvalinRunning",
// created owned and held until the process ends.
#include <windows.h>

#include "main/platform.h"

namespace orvalin {

bool take_single_instance_lock() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"OrvalinRunning");
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  // The handle is never closed: the system drops it when the process ends.
  return true;
}

bool another_instance_running() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"OrvalinRunning");
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return true;
  }
  // A mutex that exists but may not be opened is still held by someone.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace orvalin
