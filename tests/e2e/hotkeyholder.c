/* Holds Ctrl+Alt+P as a system-wide hot key for a number of seconds (first
   argument, default 30), as another program on the desktop might. Prints
   "registered" once it holds the key. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 30;
  if (!RegisterHotKey(NULL, 1, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'P')) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  printf("registered\n");
  fflush(stdout);
  const ULONGLONG end = GetTickCount64() + (ULONGLONG)seconds * 1000;
  MSG message;
  while (GetTickCount64() < end) {
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
    }
    Sleep(50);
  }
  return 0;
}
