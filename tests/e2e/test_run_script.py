"""A scripted session from ORVALIN_TEST_ACTIONS against Kelvo: key presses,
waits, control settings and read-outs (good and failing), a malformed step
and an unknown key. Every other end-to-end run relies on the driver too."""

import harness
from run_support import READY, RunCase, own_errors

SCRIPT = ("CTRL+ALT+P; sleep:1500; "
          "log:[Channel1],play|[Channel1],volume|[Channel9],play; "
          "set:[Master],crossfader=0.25; set:[Channel9],play=1e0; "
          "log:[Master],crossfader; set:[Master]crossfader=1; no+such+key; "
          "ctrl+alt+p; sleep:300; log:[Channel1],play")


class Script(RunCase):
    def test_every_step_form(self):
        box = self.box(kelvo_args=["--load", "1=1"])
        self.start_until(box, "test: done", 60, ORVALIN_TEST_ACTIONS=SCRIPT)
        # The script's end does not end the run; Kelvo's does.
        self.assertIsNone(box.process.poll())
        self.assertEqual(own_errors(self.end(box)), [])

        messages = box.messages()
        self.assertEqual([m for m in messages if m.startswith("test")], [
            "test key: CTRL+ALT+P",
            "test: [Channel1],play=1  [Channel1],volume=1  [Channel9],play=?",
            "test: set [Master],crossfader=0.25",
            "test: set [Channel9],play=1",
            "test: [Master],crossfader=0.25",
            "test: bad step set:[Master]crossfader=1",
            "test: unknown key no+such+key",
            "test key: ctrl+alt+p",
            "test: [Channel1],play=0",
            "test: done",
        ])
        # The driver starts after the ready message; the presses are spoken
        # by the announcer like real ones.
        self.assertLess(messages.index(READY),
                        messages.index("test key: CTRL+ALT+P"))
        self.assertEqual([m for m in messages if m.startswith("say: Deck 1 ")],
                         ["say: Deck 1 playing", "say: Deck 1 paused"])
        self.assertEqual([(r["group"], r["key"], r["value"])
                          for r in box.sets()],
                         [("[Channel1]", "play", 1.0),
                          ("[Master]", "crossfader", 0.25),
                          ("[Channel9]", "play", 1.0),
                          ("[Channel1]", "play", 0.0)])


if __name__ == "__main__":
    harness.main()
