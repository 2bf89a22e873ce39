// Opens a file in Notepad without waiting for it.
#include <windows.h>

#include <string>

#include "main/platform.h"

namespace orvalin {

void open_in_editor(const std::filesystem::path& file) {
  // A Windows path cannot hold a double quote, and this one ends in the file
  // name, so plain quotes keep it one argument.
  std::wstring command = L"notepad.exe \"" + file.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // No handles are inherited: Notepad must not hold a caller's redirected
  // output open. A failure to start is ignored.
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

}  // namespace orvalin
