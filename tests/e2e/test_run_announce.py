"""Hearing what changes without a key press: a track loaded on deck 1 is
announced with its description after a short wait, playing it is announced,
and on the simulator's fast clock the one-minute warning comes before the
track ends, even after Kelvo stalled long enough for many polls in a row to
fail. That they are queued speech is checked by the announcer's tests and
under Wine by test_run_readers.py."""

import harness
from run_support import QUICK_TIMING, READY, RunCase

# Row 12 of the simulator's library: "Last Light" by The Lanterns, 4:03 long;
# at twelve times real speed a minute is left some 15 s after the start.
KELVO = ["--select", "12", "--clock-speed", "12"]
# An 8-second stall while the deck plays: with replies waited for 400 ms,
# a dozen polls in a row fail.
SCRIPT = ("ctrl+alt+o; ctrl+alt+p; sleep:1000; set:[Kelvosim],stall=8; "
          "sleep:40000")
TIMING = QUICK_TIMING + ",reply_wait=400"
LOADED = "say: Deck 1 loaded. Last Light. The Lanterns"
PLAYING = "say: Deck 1 playing"
WARNING = "say: Deck 1, one minute left"


class Announcements(RunCase):
    def test_load_play_and_last_minute(self):
        # The sentences, their timing and the polling of the remaining time
        # are checked by the announcer's tests; here, that a run makes them.
        box = self.box(kelvo_args=KELVO)
        box.start(env={"ORVALIN_TEST_ACTIONS": SCRIPT,
                       "ORVALIN_TEST_TIMING": TIMING})
        self.end(box, WARNING, 120)
        spoken = [m for m in box.messages() if m.startswith("say: ")]
        self.assertEqual(spoken[:2], ["say: Starting Kelvo", READY])
        heard = [m for m in spoken if m in (LOADED, PLAYING, WARNING)]
        self.assertEqual(heard, [LOADED, PLAYING, WARNING])
        # The polls failed through the stall, logged once.
        self.assertEqual(box.messages().count(
            "time warnings: [App],num_decks: Kelvo did not answer in time"), 1)


if __name__ == "__main__":
    harness.main()
