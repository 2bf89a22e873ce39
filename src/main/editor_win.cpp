// Opens a file in Notepad without waiting for it.
#include <windows.h>

#include <string>

#include "main/platform.h"

namespace orvalin {

void open_in_editor(const std::filesystem::path& file) {
  // A Windows path cannot hold a double quote, and this one ends in the file
  // name, so plain quotes keep it one argument.
  // Notepad by its full path in the system folder: a search would try the
  // current folder (Downloads, say) first.
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring notepad = std::wstring(system, length) + L"\\notepad.exe";
  std::wstring command = L"\"" + notepad + L"\" \"" + file.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // No handles are inherited: Notepad must not hold a caller's redirected
  // output open. A failure to start is ignored.
  if (CreateProcessW(notepad.c_str(), command.data(), nullptr, nullptr, FALSE,
                     0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

}  // namespace orvalin
