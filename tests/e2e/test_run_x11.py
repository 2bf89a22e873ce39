"""Whole native runs as on a Linux desktop: a virtual X display where the
simulator shows its "Kelvo" window (with its process id), real key presses
sent by xdotool, and speech through a private speech-dispatcher whose output
module writes what it speaks to a file. Another X program, xkeyholder, holds
Ctrl+Alt+P and shows a window of its own. There is no window manager: the
focus tells which window is active."""

import ctypes
import os
import shutil
import subprocess
import time

import harness
from run_support import X11_READY, RunCase, build_dir

# Row 12 of the simulator's library: "Last Light" by The Lanterns.
KELVO = ["--select", "12", "--exit-after", "120"]
# The X server keeps Ctrl+Alt+F1..F12 (console switching): they are never
# taken, not reported as another program's, and reached through the layer.
LAYER = "ctrl+alt+shift+Home"
TAKEN = "1 hotkey is used by another program: ctrl+alt+p"


def set_active_window(display, window):
    """Sets the root window's _NET_ACTIVE_WINDOW, as a window manager
    does."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XChangeProperty.argtypes = [ctypes.c_void_p] + [ctypes.c_ulong] * 3 + [
        ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x.XOpenDisplay(display.encode())
    value = (ctypes.c_ulong * 1)(int(window))
    x.XChangeProperty(connection, x.XDefaultRootWindow(connection),
                      x.XInternAtom(connection, b"_NET_ACTIVE_WINDOW", 0),
                      33, 32, 0, value, 1)  # XA_WINDOW, PropModeReplace
    x.XCloseDisplay(connection)


class X11Run(RunCase):
    def setUp(self):
        super().setUp()
        for tool in ("Xvfb", "xdotool", "speech-dispatcher"):
            if shutil.which(tool) is None:
                self.skip_here(tool + " is missing")
        self.display = self.enterContext(harness.VirtualDisplay())

    def hold_ctrl_alt_p(self):
        holder = self.background(
            [os.path.join(build_dir(self.runner.program), "xkeyholder")],
            self.display.env(), stdout=subprocess.PIPE)
        self.assertEqual(holder.stdout.readline().strip(), b"grabbed")
        return self.display.window("Holder")

    def press(self, window, key, box, answer, daemon=None):
        """Presses `key` with `window` focused; the sentence it is answered
        with (the first new one starting with `answer`; see said_after)."""
        self.display.xdotool("windowfocus", "--sync", window)
        return self.said_after(
            box, lambda: self.display.xdotool("key", key), answer, daemon)

    def test_keys_speech_and_a_taken_key(self):
        holder = self.hold_ctrl_alt_p()
        box = self.box(kelvo_args=KELVO)
        box.write_run_settings(KELVO)
        daemon = self.enterContext(
            harness.SpeechDaemon(os.path.join(box.root, "speechd")))
        box.start(env=dict(self.display.env(), **daemon.env()))
        kelvo = self.display.window("Kelvo")
        # Kelvo's window comes to the front well after ready: the keys
        # another program holds are named then.
        self.display.xdotool("windowfocus", "--sync", holder)
        self.wait_for(box, X11_READY, 120)
        time.sleep(3)
        self.assertNotIn("say: " + TAKEN, box.messages())
        self.display.xdotool("windowfocus", "--sync", kelvo)
        self.wait_for(box, "say: " + TAKEN, 30)

        sentences = [X11_READY[len("say: "):], TAKEN]
        for key, answer in (("ctrl+alt+1", "Deck 1"),
                            ("ctrl+alt+o", "Deck 1 loaded. Last Light"),
                            (LAYER, "Orvalin"),
                            ("F1", "Deck 1 hotcue 1 set"),
                            (LAYER, "Orvalin"),
                            ("F12", "Key help on"),
                            ("ctrl+alt+1", "ctrl alt 1"),
                            (LAYER, "Orvalin"),
                            ("F12", "Key help off")):
            sentences.append(self.press(kelvo, key, box, answer, daemon))
        # Many keep Num Lock on, some Caps Lock: the keys work either way.
        for lock in ("Num_Lock", "Caps_Lock", "Num_Lock", "Caps_Lock"):
            self.display.xdotool("key", lock)
            sentences.append(self.press(kelvo, "ctrl+alt+2", box, "Deck 2",
                                        daemon))

        # With another window active the keys are not Orvalin's: the one
        # with the focus, and where a window manager names the active window,
        # that one whatever has the focus.
        for active in ("focus", "window manager"):
            if active == "focus":
                self.display.xdotool("windowfocus", "--sync", holder)
            else:
                set_active_window(self.display.name, holder)
            time.sleep(0.5)
            before = box.messages()
            self.display.xdotool("key", "ctrl+alt+1")
            time.sleep(1.5)
            self.assertEqual(box.messages(), before, active)
            if active != "focus":
                set_active_window(self.display.name, kelvo)
            sentences.append(self.press(kelvo, "ctrl+alt+2", box, "Deck 2",
                                        daemon))

        # speech-dispatcher restarted between two keys, then gone during a
        # key and back a moment later: no sentence is lost. (Each stop waits
        # for what was said to be spoken, and each key after a restart for
        # the held sentence: a key's answer cuts off what is being said. One
        # key while it is gone: a second key's answer cuts off the first's
        # as soon as both reach the daemon, and whether they reach it
        # together, held, or one after the other depends on when the speech
        # thread next tries to connect. The unit tests hold several.)
        self.assert_heard(daemon, sentences, box)
        daemon.stop()
        daemon.start()
        sentences.append(self.press(kelvo, "ctrl+alt+1", box, "Deck 1"))
        self.assert_heard(daemon, sentences, box)
        daemon.stop()
        sentences.append(self.press(kelvo, "ctrl+alt+2", box, "Deck 2"))
        daemon.start()
        self.assert_heard(daemon, sentences, box)
        sentences.append(self.press(kelvo, "ctrl+alt+1", box, "Deck 1"))

        # Every sentence reached speech-dispatcher, in order.
        self.assert_heard(daemon, sentences, box)
        self.end(box)
        self.assertEqual(box.messages().count("hotkey ctrl+alt+p is taken "
                                              "by another program"), 1)

    def test_kelvo_started_by_a_script(self):
        """A launcher script that does not exec: Kelvo's window and listener
        belong to its child. A Qt of its own is checked when the script's
        LD_LIBRARY_PATH names it, before the older one Orvalin's own
        LD_LIBRARY_PATH leads to; the run ends when the child has ended, and
        not before (the script left in the background)."""
        for case in ("own Qt", "no LD_LIBRARY_PATH", "background"):
            with self.subTest(case):
                # A display of its own for each case, as for each test.
                display = self.enterContext(harness.VirtualDisplay())
                box = self.box(kelvo_args=KELVO)
                # Kelvo's own Qt 6.8, and a Qt 6.4 too old for it where
                # Orvalin's own LD_LIBRARY_PATH leads, as a system one would.
                qt, old_qt = (os.path.join(box.root, name)
                              for name in ("qt", "system"))
                for folder, version in ((qt, "6.8.0"), (old_qt, "6.4.2")):
                    real = "libQt6Core.so." + version
                    harness.write_file(os.path.join(folder, real), "stub\n")
                    os.symlink(real, os.path.join(folder, "libQt6Core.so.6"))
                body = {
                    "own Qt": 'LD_LIBRARY_PATH="%s:$LD_LIBRARY_PATH"\n'
                              'export LD_LIBRARY_PATH\n"$KELVO" "$@"\n'
                              'echo ended\n' % qt,
                    "no LD_LIBRARY_PATH": '"$KELVO" "$@"\necho ended\n',
                    "background": '"$KELVO" "$@" &\nexit 0\n'}[case]
                # Kelvo becomes a launcher script (its own name not Kelvo's)
                # running `body`, which starts the real program as "$KELVO".
                real = os.path.join(box.kelvo_dir, "bin", "kelvo")
                os.renames(box.kelvo, real)
                box.kelvo = harness.write_file(
                    os.path.join(box.kelvo_dir, "kelvo-launcher"),
                    '#!/bin/sh\nKELVO="%s"\n%s' % (real, body), 0o755)
                box.write_run_settings(KELVO)
                # Orvalin refuses while any Kelvo runs: one still ending
                # from the case before must have gone first.
                kelvos = lambda: harness.processes("kelvo", zombies=False)
                harness.wait_until(lambda: not kelvos(), 60)
                self.assertEqual(kelvos(), [])
                box.start(env=dict(display.env(), LD_LIBRARY_PATH=old_qt))
                if not display.wait_for_window("^Kelvo$", 120):
                    self.fail(("no Kelvo window", box.messages(), kelvos()))
                kelvo = display.window("Kelvo")
                display.xdotool("windowfocus", "--sync", kelvo)
                self.wait_for(box, X11_READY, 120)
                messages = box.messages()
                self.assertEqual(
                    "Kelvo is started through a script; Qt version not "
                    "checked" in messages, case != "own Qt", messages)
                self.assertFalse([m for m in messages
                                  if "held by another program" in m], messages)
                self.assertIsNone(box.process.poll())
                display.xdotool("windowfocus", "--sync", kelvo)
                self.said_after(box, lambda: display.xdotool(
                    "key", "ctrl+alt+2"), "Deck 2")
                self.end(box)

    def test_without_display_or_speech_dispatcher(self):
        box = self.box()
        done = box.run(env={"DISPLAY": None, "ORVALIN_TEST_TOKEN": None,
                            "SPEECHD_ADDRESS": "unix_socket:" + os.path.join(
                                box.root, "none.sock")})
        self.assertEqual(done.code, 1, done)
        refusal = "Orvalin needs an X11 session or XWayland: no DISPLAY."
        messages = box.messages()
        self.assertEqual(messages[:3], ["Orvalin 1.0.0", "stopped: " + refusal,
                                        "say: " + refusal], messages)
        unavailable = [m for m in messages[3:]
                       if m.startswith("speech-dispatcher unavailable: ")]
        self.assertEqual(len(unavailable), 1, messages)


if __name__ == "__main__":
    harness.main()
