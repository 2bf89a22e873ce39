"""Hearing what changes without a key press: a track loaded on deck 1 is
announced with its description after a short wait, playing it is announced,
and on the simulator's fast clock the one-minute warning comes before the
track ends. All of it is queued speech: nothing interrupts it."""

import unittest

import harness
import test_run_wine
from run_support import READY, RunBox

# Row 12 of the simulator's library: "Last Light" by The Lanterns, 4:03 long.
KELVO = ["--select", "12", "--clock-speed", "20"]
SCRIPT = "ctrl+alt+o; ctrl+alt+p; sleep:15000"
LOADED = "say: Deck 1 loaded. Last Light. The Lanterns"
PLAYING = "say: Deck 1 playing"
WARNING = "say: Deck 1, one minute left"


class Announcements(unittest.TestCase):
    def setUp(self):
        if harness.OPTIONS.wine:
            self.skipTest("native scenario")
        self.runner = harness.OPTIONS.runner()

    def test_load_play_and_last_minute(self):
        box = RunBox(self.runner, kelvo_args=KELVO)
        self.addCleanup(box.remove)
        box.start(env={"ORVALIN_TEST_ACTIONS": SCRIPT})
        self.assertTrue(box.wait_for_message(WARNING, 90), box.messages())
        box.kill_kelvo()
        done = box.finish(timeout=30)
        self.assertEqual(done.code, 0, done)

        messages = box.messages()
        spoken = [m for m in messages if m.startswith("say: ")]
        self.assertEqual(spoken[:2], ["say: Starting Kelvo", READY])
        # The load is described once, after the press and before playing.
        self.assertEqual(spoken.count(LOADED), 1, spoken)
        self.assertLess(messages.index("test key: ctrl+alt+o"),
                        messages.index(LOADED))
        self.assertLess(spoken.index(LOADED), spoken.index(PLAYING))
        self.assertLess(spoken.index(PLAYING), spoken.index(WARNING))
        self.assertEqual(spoken.count(WARNING), 1, spoken)

        # The warning came from polling the remaining time, not from an event.
        polled = [r for r in box.trace_requests()
                  if r.get("cmd") == "get" and r.get("key") == "time_remaining"]
        self.assertTrue(polled)


class WineAnnouncements(test_run_wine.WineBase):
    def test_announcements_are_queued_not_interrupting(self):
        box = self.box(kelvo_args=KELVO)
        box.start(env=self.env(box, ORVALIN_TEST_ACTIONS=SCRIPT))
        self.wait_for(box, WARNING, 120)
        box.kill_kelvo()
        done = box.finish(timeout=60)
        self.assertEqual(done.code, 0, done)
        self.assertIn(LOADED, box.messages())

        # The stub's log: the ready message interrupts (cancel first); the
        # announcements and the warning are spoken after what is being said.
        calls = self.spoken(box).splitlines()
        for sentence in (LOADED, PLAYING, WARNING):
            call = "speak " + sentence[len("say: "):]
            self.assertIn(call, calls)
            index = calls.index(call)
            self.assertNotEqual(calls[index - 1], "cancel", calls)
        ready = calls.index("speak " + READY[len("say: "):])
        self.assertEqual(calls[ready - 1], "cancel", calls)


if __name__ == "__main__":
    harness.main()
