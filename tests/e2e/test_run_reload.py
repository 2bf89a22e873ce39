"""Saving the settings file while Kelvo runs: a new key works at once, a
broken file is refused aloud and the keys in force stay. Natively the keys
are pressed by the test driver (which looks each step up in the bindings in
force); under Wine they are real key presses, and a removed key is free
again for another program. A removed file is checked by the unit tests."""

import time

import harness
from run_support import RunCase, WineCase

KEY = "ctrl+alt+shift+y"
BINDING = ('[[keys]]\nkey = "ctrl+alt+shift+y"\naction = "say_control"\n'
           'group = "[Master]"\ncontrol = "crossfader"\nlabel = "fader"\n')
# Key help moved from Ctrl+Alt+F12 to Ctrl+Alt+Shift+H, as the guide shows.
KEY_HELP_MOVED = ('[[keys]]\nkey = "ctrl+alt+f12"\naction = "none"\n'
                  '[[keys]]\nkey = "ctrl+alt+shift+h"\naction = "key_help"\n')
RELOADED = "say: Settings reloaded"
FADER = "say: fader "


def count(box, prefix):
    return len([m for m in box.messages() if m.startswith(prefix)])


def refusal(box):
    return ("say: Settings not reloaded. error in " +
            box.runner.host_path(box.settings_file) + ": ")


class ReloadChecks:
    def wait_count(self, box, prefix, at_least, timeout=30):
        harness.wait_until(lambda: count(box, prefix) >= at_least or
                           box.process.poll() is not None, timeout)
        self.assertGreaterEqual(count(box, prefix), at_least,
                                (prefix, box.messages()))

    def save(self, box, text):
        # Written in two parts, as editors often do: one reload follows.
        with open(box.settings_file, "wb") as f:
            f.write(text[:10].encode())
            f.flush()
            time.sleep(0.1)
            f.write(text[10:].encode())


class ReloadNative(ReloadChecks, RunCase):
    def test_saved_settings_apply_while_kelvo_runs(self):
        box = self.box()
        original = box.read_settings().decode()
        # The ready sentence names key help's key as the file has it.
        box.write_settings(original + KEY_HELP_MOVED)
        # The driver presses the new key again and again, for as long as
        # needed.
        box.start(env={"ORVALIN_TEST_ACTIONS": ";".join([KEY] * 500)})
        self.wait_for(box, "say: Orvalin ready. Deck 1 selected. Control Alt "
                      "Shift H turns key help on or off.")

        # A new binding: known from the next step on, and heard.
        self.save(box, original + BINDING)
        self.wait_count(box, RELOADED, 1)
        self.wait_count(box, FADER, 2)
        messages = box.messages()
        self.assertEqual(messages.count(RELOADED), 1, messages)
        self.assertNotIn("test: unknown key " + KEY,
                         messages[messages.index("test key: " + KEY):])

        # A broken file changes nothing: the new key still works.
        self.save(box, original + "[[keys]\n")
        self.wait_count(box, refusal(box), 1)
        heard = count(box, FADER)
        self.wait_count(box, FADER, heard + 2)
        refused = [m for m in box.messages() if m.startswith(refusal(box))]
        self.assertIn("line ", refused[0])

        self.end(box)


class ReloadWine(ReloadChecks, WineCase):
    def test_keys_follow_the_saved_file(self):
        args = ["--exit-after", "120"]
        box = self.box(kelvo_args=args)
        original = box.read_settings().decode()
        self.start_until(box)
        window = self.display.window("Kelvo")

        self.save(box, original + BINDING)
        self.wait_count(box, RELOADED, 1)
        self.press(window, KEY)
        self.wait_count(box, FADER, 1)

        self.save(box, original + "[[keys]\n")
        self.wait_count(box, refusal(box), 1)
        self.press(window, KEY)
        self.wait_count(box, FADER, 2)

        # Ctrl+Alt+P switched off: another program can take it.
        self.save(box, original +
                  '[[keys]]\nkey = "ctrl+alt+p"\naction = "none"\n')
        self.wait_count(box, RELOADED, 2)
        self.assertEqual(self.hold_ctrl_alt_p(), b"registered")

        self.end(box)
        spoken = self.spoken(box)
        self.assertIn("Settings reloaded", spoken)
        self.assertIn("Settings not reloaded. error in ", spoken)


if __name__ == "__main__":
    harness.main()
