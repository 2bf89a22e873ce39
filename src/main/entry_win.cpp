// The Windows entry point of the GUI-subsystem program (no console).
// <windows.h> must come before <shellapi.h>.
#include <windows.h>
// (keep this order)
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/winstr.h"
#include "main/orvalin_main.h"

namespace {

// What the program prints ends lines with a bare line feed, as on other
// systems; the C runtime would otherwise write CR LF to a redirected stream.
// Without a console or redirection the stream has no descriptor (negative).
void binary_mode(std::FILE* stream) {
  const int fd = _fileno(stream);
  if (fd >= 0) _setmode(fd, _O_BINARY);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Libraries loaded by name from now on (the system's own, and those the
  // system loads for us) come from System32 only, never from the program's
  // folder, the current folder or PATH. Orvalin's own libraries are loaded
  // by their full path, which this does not change. Failing (a system
  // without the call) leaves the standard search.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  binary_mode(stdout);
  binary_mode(stderr);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) {
    args.push_back(orvalin::from_wide(argv[i]));
  }
  if (argv != nullptr) LocalFree(argv);
  return orvalin::orvalin_main(args);
}
