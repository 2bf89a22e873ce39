// Functions of Windows' own libraries that are not imported at load time:
// the loader looks for load-time imports in the program's folder first,
// which lets a planted "version.dll" beside orvalin.exe run. These are
// loaded from System32 only. Included only by *_win.cpp files; any thread.
#pragma once

namespace orvalin {

// The address of `function` in System32's `library` (loaded once and kept),
// or null. Cast it to the function's type with system_function<Fn>.
void* system_function_address(const wchar_t* library, const char* function);

template <class Fn>
Fn system_function(const wchar_t* library, const char* function) {
  return reinterpret_cast<Fn>(system_function_address(library, function));
}

}  // namespace orvalin
