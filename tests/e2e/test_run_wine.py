"""Whole runs of orvalin.exe under Wine, in a virtual X display of their own:
real key presses sent by xdotool into the simulator's "Kelvo" window,
speech through the NVDA stub, a key held by another program, the end when
Kelvo closes, and the refusal of an old Qt (see WineCase)."""

import time

import harness
from run_support import EXITING, READY, WineCase, head, started


LAYER = "ctrl+alt+shift+Home"


class WineRun(WineCase):
    """The program as shipped: these runs keep the real waits."""

    def layer(self, box, window, key, start):
        """Presses the layer key, then `key`; waits for a sentence starting
        with `start` after them."""
        self.said_after(box, lambda: self.press(window, LAYER, key), start)

    def box(self, **kwargs):
        return super().box(real_timing=True, **kwargs)

    def start_live(self, box, timeout=60, **env):
        """Starts the run; Kelvo's window once a press of Ctrl+Alt+1 (deck 1,
        already current) there is answered: the keys are registered only
        after the ready sentence, and a press before that is lost."""
        self.start_until(box, **env)
        window = self.display.window("Kelvo")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.press(window, "ctrl+alt+1")
            if any(m.startswith("say: Deck 1. ") for m in box.messages()):
                return window
        self.fail("keys never answered: %r" % box.messages())

    def hold(self, box, window, key, control):
        """The sets of `control` Kelvo gets while `key` is held down in
        `window` for 2 s."""
        before = len(box.sets(control))
        self.display.xdotool("windowfocus", window)
        self.display.xdotool("keydown", key)
        time.sleep(2.0)
        self.display.xdotool("keyup", key)
        time.sleep(1.5)
        return box.sets(control)[before:]

    def test_keys_pressed_in_kelvo_act_and_speak(self):
        args = ["--load", "1=1", "--exit-after", "90"]
        box = self.box(kelvo_args=args)
        # X itself takes Ctrl+Alt+F1..F12 (console switching) and the
        # virtual display's key map cannot be changed: key help gets a
        # second key here.
        box.write_run_settings(args, keys=(
            '[[keys]]\nkey = "ctrl+alt+shift+y"\naction = "key_help"\n'))
        window = self.start_live(box)
        self.press(window, "ctrl+alt+p")
        self.wait_for(box, "say: Deck 1 playing")
        self.assertIn("Deck 1 playing", self.spoken(box))

        # Key help describes instead of acting.
        self.press(window, "ctrl+alt+shift+y", "ctrl+alt+p")
        self.wait_for(box,
                      "say: ctrl alt p: play on or off on the current deck")
        self.press(window, "ctrl+alt+shift+y")
        self.wait_for(box, "say: Key help off")
        self.assertNotIn("say: Deck 1 paused", box.messages())

        # The layer: a plain P reaches Kelvo's window (Kelvo's own shortcut)
        # until the layer key; then the next key is Orvalin's alone.
        self.press(window, "p")
        harness.wait_until(lambda: box.window_keys().count("80") == 1, 10)
        self.assertEqual(box.window_keys().count("80"), 1)
        plays = len(box.sets("play"))
        self.layer(box, window, "p", "Deck 1 paused")
        self.assertEqual(box.window_keys().count("80"), 1)
        self.assertEqual(len(box.sets("play")), plays + 1)
        self.layer(box, window, "2", "Deck 2. ")
        self.layer(box, window, "F12", "Key help on")
        # Key help answers a key of the layer as it answers the direct key.
        self.layer(box, window, "p",
                   "ctrl alt p: play on or off on the current deck")
        self.layer(box, window, "F12", "Key help off")
        self.assertEqual(len(box.sets("play")), plays + 1)
        self.layer(box, window, "Escape", "Cancelled")
        self.assertEqual(box.messages().count("say: Orvalin"), 6)
        self.press(window, "ctrl+alt+1")

        # Holding a repeating key repeats it; holding play toggles once.
        volume_sets = self.hold(box, window, "ctrl+alt+Next", "volume")
        self.assertGreater(len(volume_sets), 1, volume_sets)
        play_sets = self.hold(box, window, "ctrl+alt+p", "play")
        # Wine 8 ignores MOD_NOREPEAT (Windows honours it): there the key
        # repeats like any other.
        self.assertGreaterEqual(len(play_sets), 1, play_sets)

        self.end(box)

    def test_a_cue_pressed_during_a_stall_never_reaches_kelvo(self):
        # Once the keys are live the script stalls Kelvo for 8 s and presses
        # sync, whose read times out after 3 s; the cue is pressed by hand
        # 1.5 s into the stall, and Kelvo answers again only after it.
        box = self.box(kelvo_args=["--load", "1=1", "--exit-after", "120"])
        window = self.start_live(box, ORVALIN_TEST_ACTIONS=(
            "sleep:20000; set:[Kelvosim],stall=8; ctrl+alt+s; sleep:60000"))
        self.wait_for(box, "test: set [Kelvosim],stall=8")
        time.sleep(1.5)
        self.press(window, "ctrl+alt+c")
        self.end(box, "say: Kelvo was busy. 1 key press skipped.")
        self.assertEqual([r for r in box.trace_requests()
                          if r.get("key") == "cue_default"], [])

    def test_key_held_by_another_program_is_reported(self):
        self.assertEqual(self.hold_ctrl_alt_p(), b"registered")

        box = self.box(kelvo_args=["--exit-after", "90"])
        self.start_until(box)
        self.display.window("Kelvo")
        self.wait_for(box,
                      "say: 1 hotkey is used by another program: "
                      "ctrl+alt+p", 30)
        messages = box.messages()
        self.assertEqual(
            messages.count("hotkey ctrl+alt+p is taken by another program"),
            1, messages)
        self.end(box)

    def test_whole_run(self):
        # A second instance, and the lock it finds, are checked natively and
        # by the unit tests.
        box = self.box(kelvo_args=["--exit-after", "90"])
        self.start_until(box)
        self.end(box)
        self.assertEqual(box.messages(), started(box, READY, EXITING))
        self.assertIn("Orvalin ready.", self.spoken(box))

    def test_old_qt_is_refused(self):
        box = self.box(qt="old", kelvo_args=["--exit-after", "5"])
        done = box.run(env=self.env(box), timeout=120)
        self.assertEqual(done.code, 1, done)
        messages = box.messages()
        self.assertEqual(messages[:len(head(box)) + 1],
                         head(box) + ["Kelvo unknown version"])
        self.assertTrue(messages[-2].startswith("stopped: "), messages)
        self.assertIn("6.4.3", messages[-2])
        self.assertEqual(messages[-1], "say: " + messages[-2][9:])
        self.assertIn(messages[-2][9:], self.spoken(box))
        self.assertEqual(box.trace_requests(), [])

    def test_chinese_reaches_nvda_whole(self):
        # Every sentence in Chinese, each as NVDA's interface received it
        # (UTF-16, which the stub writes back as UTF-8), in speech and in
        # braille.
        args = ["--exit-after", "60"]
        box = self.box(kelvo_args=args)
        box.write_run_settings(args, keys='language = "zh_CN"\n')
        box.start(env=self.env(box))
        said = lambda: [m[len("say: "):] for m in box.messages()
                        if m.startswith("say: ")]
        self.assertTrue(harness.wait_until(lambda: len(said()) >= 2, 120),
                        box.messages())
        self.assertIn("Language: zh_CN", box.messages())
        time.sleep(1.0)
        heard = self.spoken(box)
        for sentence in said()[:2]:
            self.assertRegex(sentence, "[\u4e00-\u9fff]")
            self.assertIn("speak " + sentence + "\n", heard)
            self.assertIn("braille " + sentence + "\n", heard)
        self.end(box)


if __name__ == "__main__":
    harness.main()
