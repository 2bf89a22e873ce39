/* Stands in for a running screen reader's main window, which the program
   looks for: a hidden top-level window of the class (first argument) and
   title (second argument, "-" for none). Prints "ready" once the window
   exists, and closes it and ends when the file named by the third argument
   appears. Never shipped. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    printf("usage: readerwindow CLASS TITLE STOPFILE\n");
    return 2;
  }
  WNDCLASSW window_class = {0};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.lpszClassName = argv[1];
  if (!RegisterClassW(&window_class)) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  const wchar_t* title = lstrcmpW(argv[2], L"-") == 0 ? L"" : argv[2];
  HWND window =
      CreateWindowExW(0, argv[1], title, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                      NULL, NULL, window_class.hInstance, NULL);
  if (window == NULL) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) {
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    Sleep(50);
  }
  DestroyWindow(window);
  printf("closed\n");
  return 0;
}
