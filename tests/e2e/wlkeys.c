/* Presses keys in a Wayland session as a keyboard would, for the Wayland
 * end-to-end run: one virtual keyboard (zwp_virtual_keyboard_v1) with the
 * ordinary keymap (evdev, pc105, us), uploaded once, so that X clients of
 * XWayland see the usual key codes and their key grabs match. Reads one
 * combination a line from standard input ("ctrl+alt+1"; key names are
 * keysym names, modifiers ctrl, alt, shift), presses and releases it, and
 * answers "ok" (or "unknown key"). Prints "ready" once set up. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

static struct wl_seat* seat;
static struct zwp_virtual_keyboard_manager_v1* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name,
                   const char* interface, uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (strcmp(interface,
                    zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    manager = wl_registry_bind(registry, name,
                               &zwp_virtual_keyboard_manager_v1_interface, 1);
  }
}

static void global_remove(void* data, struct wl_registry* registry,
                          uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

struct Search {
  xkb_keysym_t keysym;
  xkb_keycode_t found;
};

/* The first key whose first level gives the keysym. */
static void find_key(struct xkb_keymap* keymap, xkb_keycode_t key, void* data) {
  struct Search* search = data;
  const xkb_keysym_t* syms;
  if (search->found) return;
  int n = xkb_keymap_key_get_syms_by_level(keymap, key, 0, 0, &syms);
  if (n > 0 && syms[0] == search->keysym) search->found = key;
}

static xkb_keycode_t keycode_of(struct xkb_keymap* keymap, const char* name) {
  if (strcmp(name, "ctrl") == 0) name = "Control_L";
  if (strcmp(name, "alt") == 0) name = "Alt_L";
  if (strcmp(name, "shift") == 0) name = "Shift_L";
  struct Search search = {
      xkb_keysym_from_name(name, XKB_KEYSYM_CASE_INSENSITIVE), 0};
  if (search.keysym == XKB_KEY_NoSymbol) return 0;
  xkb_keymap_key_for_each(keymap, find_key, &search);
  return search.found;
}

static void send_key(struct zwp_virtual_keyboard_v1* keyboard,
                     struct xkb_state* state, xkb_keycode_t key, int down) {
  static uint32_t time = 0;
  xkb_state_update_key(state, key, down ? XKB_KEY_DOWN : XKB_KEY_UP);
  zwp_virtual_keyboard_v1_key(keyboard, ++time, key - 8, down ? 1 : 0);
  zwp_virtual_keyboard_v1_modifiers(
      keyboard, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
      xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
      xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
      xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
}

static int fail(const char* why) {
  fprintf(stderr, "wlkeys: %s\n", why);
  return 1;
}

int main(void) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return fail("no Wayland display");
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, NULL);
  wl_display_roundtrip(display);
  if (!seat || !manager) return fail("no seat or no virtual keyboard manager");
  struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const struct xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
  struct xkb_keymap* keymap =
      xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) return fail("cannot compile the keymap");
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  const size_t size = strlen(text) + 1;
  int fd = memfd_create("wlkeys-keymap", 0);
  if (fd < 0 || write(fd, text, size) != (ssize_t)size) {
    return fail("cannot pass the keymap");
  }
  struct zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 (uint32_t)size);
  wl_display_roundtrip(display);
  struct xkb_state* state = xkb_state_new(keymap);
  printf("ready\n");

  char line[256];
  while (fgets(line, sizeof line, stdin)) {
    line[strcspn(line, "\r\n")] = 0;
    xkb_keycode_t keys[8];
    int count = 0;
    int unknown = 0;
    for (char* part = strtok(line, "+"); part && count < 8;
         part = strtok(NULL, "+")) {
      keys[count] = keycode_of(keymap, part);
      if (!keys[count]) unknown = 1;
      ++count;
    }
    if (unknown || count == 0) {
      printf("unknown key\n");
      continue;
    }
    for (int i = 0; i < count; ++i) send_key(keyboard, state, keys[i], 1);
    for (int i = count - 1; i >= 0; --i) send_key(keyboard, state, keys[i], 0);
    wl_display_roundtrip(display);
    printf("ok\n");
  }
  zwp_virtual_keyboard_v1_destroy(keyboard);
  wl_display_roundtrip(display);
  return 0;
}
