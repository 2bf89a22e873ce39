// A test double of the NVDA controller client library. Tests put it where the
// program looks for nvdaControllerClient.dll; it records every speak and
// cancel call as one line of the file named by ORVALIN_NVDA_STUB_LOG and
// claims NVDA runs unless the file named by ORVALIN_NVDA_STUB_OFF exists.
// Never shipped.
#include <windows.h>

#include <string>

namespace {

// Empty when the variable is not set. Read at every call, so that a test can
// change it while the library is loaded.
std::wstring env(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD got = GetEnvironmentVariableW(name, value.data(),
                                              static_cast<DWORD>(value.size()));
    if (got == 0) return std::wstring();
    if (got < value.size()) {
      value.resize(got);
      return value;
    }
    value.resize(got);
  }
}

std::string utf8(const wchar_t* text) {
  const int wide_length = lstrlenW(text);
  if (wide_length == 0) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr,
                                         0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide_length, bytes.data(), length,
                      nullptr, nullptr);
  return bytes;
}

// Without ORVALIN_NVDA_STUB_LOG nothing is recorded: programs that find the
// stub but are not testing speech just talk to a silent "NVDA".
void record(const std::string& line) {
  const std::wstring path = env(L"ORVALIN_NVDA_STUB_LOG");
  if (path.empty()) return;
  const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = line + "\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" {

__declspec(dllexport) unsigned long __stdcall nvdaController_testIfRunning() {
  const std::wstring off = env(L"ORVALIN_NVDA_STUB_OFF");
  if (!off.empty() &&
      GetFileAttributesW(off.c_str()) != INVALID_FILE_ATTRIBUTES)
    return RPC_S_SERVER_UNAVAILABLE;
  return 0;
}

__declspec(dllexport) unsigned long __stdcall nvdaController_speakText(
    const wchar_t* text) {
  record("speak " + utf8(text != nullptr ? text : L""));
  return 0;
}

__declspec(dllexport) unsigned long __stdcall nvdaController_cancelSpeech() {
  record("cancel");
  return 0;
}

}  // extern "C"
