#include <windows.h>

#include "base/winlib.h"

namespace orvalin {

void* system_function_address(const wchar_t* library, const char* function) {
  // Never unloaded: the library stays for the run, like a load-time import.
  const HMODULE module =
      LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, function));
}

}  // namespace orvalin
