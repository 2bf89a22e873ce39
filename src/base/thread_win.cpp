#include <windows.h>

#include "base/thread.h"
#include "base/winstr.h"

namespace orvalin {

void set_thread_name(std::string_view name) {
  // SetThreadDescription exists from Windows 10 1607 on; look it up so that
  // the program still starts where it is missing.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set_description =
      reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set_description == nullptr) return;
  const std::wstring wide = to_wide(name);
  set_description(GetCurrentThread(), wide.c_str());
}

}  // namespace orvalin
