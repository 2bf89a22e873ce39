#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <functional>
#include <string>

#include "base/os.h"
#include "base/thread.h"
#include "base/winstr.h"
#include "host.h"

namespace kelvosim {

namespace {

// Set before the window exists; read by its thread alone.
std::function<void(const std::string&)> g_key_pressed;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  // Kelvo has plain-key shortcuts of its own: a key that reaches its window
  // would act in Kelvo.
  if (message == WM_KEYDOWN && g_key_pressed) {
    g_key_pressed(std::to_string(static_cast<unsigned>(wparam)));
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void run_main_window() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"KelvoMainWindow";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(
      0, L"KelvoMainWindow", L"Kelvo", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
      CW_USEDEFAULT, 640, 400, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  SetForegroundWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // Closing the window ends the host, as closing Kelvo's main window does.
  ExitProcess(0);
}

}  // namespace

std::vector<std::string> program_args(int, char**) {
  // The narrow arguments are in the ANSI code page; take the UTF-16 ones.
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(orvalin::from_wide(wide[i]));
  LocalFree(wide);
  return args;
}

void show_main_window(std::function<void(const std::string&)> key_pressed) {
  g_key_pressed = std::move(key_pressed);
  orvalin::spawn_detached("main-window", run_main_window,
                          "failed to spawn thread");
}

}  // namespace kelvosim
