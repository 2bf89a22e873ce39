/* Another X11 program on the desktop: shows a window named "Holder" (without
   a process id) and grabs Ctrl+Alt+P on the root window, until it is ended.
   Prints "grabbed" once it holds the key. */
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <stdio.h>

static int refused = 0;

static int on_error(Display* display, XErrorEvent* error) {
  (void)display;
  refused = error->error_code;
  return 0;
}

int main(void) {
  Display* display = XOpenDisplay(NULL);
  if (display == NULL) {
    printf("failed no display\n");
    return 1;
  }
  XSetErrorHandler(on_error);
  const Window root = DefaultRootWindow(display);
  const Window window =
      XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
  XStoreName(display, window, "Holder");
  XMapWindow(display, window);
  XGrabKey(display, XKeysymToKeycode(display, XK_p), ControlMask | Mod1Mask,
           root, False, GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  if (refused) {
    printf("failed %d\n", refused);
    return 1;
  }
  printf("grabbed\n");
  fflush(stdout);
  XEvent event;
  for (;;) XNextEvent(display, &event);
}
