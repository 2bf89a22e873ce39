"""A scripted session from ORVALIN_TEST_ACTIONS with every step form: key
presses (matched ignoring letter case, unknown ones logged), waits, control
settings (good and malformed) and read-outs (good and failing)."""

import unittest

import harness
from run_support import EXITING, READY, RunBox, own_errors

SCRIPT = (" CTRL+ALT+P; sleep:1500; "
          "log:[Channel1],play|[Channel1],volume|[Channel9],play; "
          "set:[Master],crossfader=0.25; set:[Master]crossfader=0.5; "
          "set:[Channel9],play=1e0; log:[Master],crossfader; alt+ctrl+p; "
          "Sleep:100; sleep: 500;; ctrl+alt+p; sleep:+300; "
          "log:[Channel1],play; log:nocomma;")


class Script(unittest.TestCase):
    def setUp(self):
        if harness.OPTIONS.wine:
            self.skipTest("native scenario")
        self.runner = harness.OPTIONS.runner()

    def test_every_step_form(self):
        box = RunBox(self.runner, kelvo_args=["--load", "1=1"])
        self.addCleanup(box.remove)
        box.start(env={"ORVALIN_TEST_ACTIONS": SCRIPT})
        self.assertTrue(box.wait_for_message("test: done", 60),
                        box.messages())
        # The script's end does not end the run; Kelvo's does.
        self.assertIsNone(box.process.poll())
        box.kill_kelvo()
        done = box.finish(timeout=30)
        self.assertEqual(done.code, 0, done)
        self.assertEqual(own_errors(done), [])

        messages = box.messages()
        tests = [m for m in messages if m.startswith("test")]
        self.assertEqual(tests, [
            "test key: CTRL+ALT+P",
            "test: [Channel1],play=1  [Channel1],volume=1  [Channel9],play=?",
            "test: set [Master],crossfader=0.25",
            "test: bad step set:[Master]crossfader=0.5",
            "test: set [Channel9],play=1",
            "test: [Master],crossfader=0.25",
            "test: unknown key alt+ctrl+p",
            "test: unknown key Sleep:100",
            "test key: ctrl+alt+p",
            "test: [Channel1],play=0",
            "test: ",
            "test: done",
        ])
        # The driver starts after the ready message; the presses are spoken
        # by the announcer like real ones.
        self.assertLess(messages.index(READY),
                        messages.index("test key: CTRL+ALT+P"))
        self.assertEqual(messages[-1], EXITING)
        spoken = [m for m in messages if m.startswith("say: Deck 1 ")]
        self.assertEqual(spoken, ["say: Deck 1 playing", "say: Deck 1 paused"])

        sets = [(r["group"], r["key"], r["value"])
                for r in box.trace_requests() if r["cmd"] == "set"]
        self.assertEqual(sets, [
            ("[Channel1]", "play", 1.0),
            ("[Master]", "crossfader", 0.25),
            ("[Channel9]", "play", 1.0),
            ("[Channel1]", "play", 0.0),
        ])


if __name__ == "__main__":
    harness.main()
