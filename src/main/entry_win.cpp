// The Windows entry point of the GUI-subsystem program (no console).
// <windows.h> must come before <shellapi.h>.
#include <windows.h>
// (keep this order)
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/winstr.h"
#include "main/orvalin_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) {
    args.push_back(orvalin::from_wide(argv[i]));
  }
  if (argv != nullptr) LocalFree(argv);
  return orvalin::orvalin_main(args);
}
