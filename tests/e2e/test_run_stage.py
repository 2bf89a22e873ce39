"""On stage with a Kelvo that misbehaves (a cue is never left held, a lost
connection is told once, sustained clipping is repeated), the simulator's
faults set off by the test script: Stage's cases natively and under Wine,
NativeStage's natively only."""

import time

import harness
from run_support import LOST, QUICK_TIMING, RunCase, WineCase

LOADED = ["--load", "1=1"]
# An 8-second stall. The sync toggle's first read waits in it and times out
# after 3 s; the cue pressed 1.5 s into the stall then waits for Kelvo to
# answer again, and must never reach it. The headphones after the stall do.
STALL_SCRIPT = ("set:[Kelvosim],stall=8; ctrl+alt+s; sleep:1100; ctrl+alt+c; "
                "sleep:8000; ctrl+alt+h; log:[Channel1],play; sleep:60000")
NO_ANSWER = ("say: Error: [Channel1],sync_enabled: Kelvo did not answer in "
             "time")
SKIPPED = "Kelvo was busy. 1 key press skipped."
HEADPHONES = "say: Deck 1 headphones on"
BURST_SCRIPT = ("set:[Kelvosim],burst=100000; sleep:3000; "
                "set:[Kelvosim],flap=3; sleep:60000")
# The burst's changes arrive over a second or more of the sanitized build;
# on a machine busy with builds the reader can be held back in the middle
# for longer than the quick settle, which would split the burst in two.
BURST_TIMING = QUICK_TIMING + ",settle=1000"
# Each line far over the limit, then time for the program to read past it
# before the key (under Wine on a loaded machine, 64 MiB took longer than a
# reply may).
LONG_SCRIPT = ("set:[Kelvosim],long_line=8388608; sleep:3000; ctrl+alt+h; "
               "set:[Kelvosim],nested_line=500000; sleep:3000; ctrl+alt+s; "
               "sleep:60000")
DISCARDED = "bridge: discarded a line longer than 1048576 bytes"
# Row 1 runs at 44.1 kHz; hot cue 2 lies at 1:05.
HOTCUE = ["--load", "1=1", "--set", "[Channel1],hotcue_2_status=1",
          "--set", "[Channel1],hotcue_2_position=5733000"]
# Twelve seconds of clipping against a five-second limit, a fifth as long;
# the settle as long as the real one, which the flapping never satisfies.
FAULTS_SCRIPT = ("ctrl+alt+3; set:[Channel1],play=1; ctrl+alt+pagedown; "
                 "set:[Kelvosim],clip=2.4; sleep:3500; "
                 "set:[Kelvosim],close=1; sleep:1500; ctrl+alt+h; "
                 "sleep:60000")
NO_TIME = "time warnings: [Channel1],time_remaining: Kelvo sent no value"
FAULTS_TIMING = QUICK_TIMING + ",settle=300,clip_quiet=1000"
NOT_CONNECTED = "say: Not connected to Kelvo"
WRONG_SCALE = ("The Kelvo plugin reports values on a wrong scale; keys that "
               "step a value are off")


class Stage:
    def run_box(self, script, kelvo_args=LOADED, **env):
        box = self.box(kelvo_args=kelvo_args)
        self.start_until(box, ORVALIN_TEST_ACTIONS=script, **env)
        return box

    def test_a_press_during_a_stall_never_reaches_kelvo(self):
        box = self.run_box(STALL_SCRIPT)
        self.end(box, "test: [Channel1],play=0", 90)
        messages = box.messages()
        self.assertLess(messages.index(NO_ANSWER),
                        messages.index("say: " + SKIPPED))
        self.assertLess(messages.index("say: " + SKIPPED),
                        messages.index(HEADPHONES))
        requests = box.trace_requests()
        self.assertEqual([r for r in requests
                          if r.get("key") == "cue_default"], [])
        # Only the press after the stall reached Kelvo.
        stall = [r.get("group") for r in requests].index("[Kelvosim]")
        pfl = [r["cmd"] for r in requests[stall:] if r.get("key") == "pfl"]
        self.assertEqual(pfl[:2], ["get", "set"], pfl)

    def test_burst_is_announced_as_it_settles(self):
        box = self.run_box(BURST_SCRIPT, ORVALIN_TEST_TIMING=BURST_TIMING)
        harness.wait_until(lambda: any(m.startswith("say: Deck 1 loaded. ")
                                       for m in box.messages()), 120, 0.1)
        time.sleep(1.0)
        self.end(box)
        about_play = [m for m in box.messages()
                      if m.startswith("say: Deck 1") and
                      ("playing" in m or "paused" in m or "no track" in m)]
        self.assertEqual(about_play,
                         ["say: Deck 1 playing", "say: Deck 1 paused"])
        # Ejected and loaded three times at once: the first change at once,
        # then the settled state.
        about_track = [m[:len("say: Deck 1 loaded.")]
                       for m in box.messages()
                       if m.startswith(("say: Deck 1 empty",
                                        "say: Deck 1 loaded."))]
        self.assertEqual(about_track,
                         ["say: Deck 1 empty", "say: Deck 1 loaded."])

    def test_keys_work_after_a_long_and_a_nested_line(self):
        box = self.run_box(LONG_SCRIPT)
        self.wait_for(box, "say: Deck 1 sync on", 120)
        # The announcer speaks the change before the toggle reads it back:
        # Kelvo closed under that read would make it an error.
        def read_back():
            sync = [r["cmd"] for r in box.trace_requests()
                    if r.get("key") == "sync_enabled"]
            return "set" in sync and sync[-1] == "get"
        self.assertTrue(harness.wait_until(read_back, 60, 0.1))
        time.sleep(0.5)
        self.end(box)
        messages = box.messages()
        self.assertEqual(messages.count(DISCARDED), 1, messages)
        self.assertLess(messages.index(DISCARDED), messages.index(HEADPHONES))

    def test_faults_of_the_plugin_are_told_and_change_nothing(self):
        box = self.run_box(FAULTS_SCRIPT,
                           LOADED + ["--no-value", "volume", "--no-value",
                                     "time_remaining", "--decks", "2"],
                           ORVALIN_TEST_TIMING=FAULTS_TIMING)
        self.end(box, NOT_CONNECTED)
        messages = box.messages()
        # Deck 3 of two: told so by the count read at start-up.
        self.assertIn("say: Kelvo has 2 decks", messages)
        # The time warnings cannot work without the remaining time: logged
        # once for the whole run of failed polls.
        self.assertEqual(messages.count(NO_TIME), 1, messages)
        # A reading without a value: nothing is set from it.
        self.assertIn("say: Error: [Channel1],volume: Kelvo sent no value",
                      messages)
        self.assertEqual(box.sets("volume"), [])
        self.assertEqual(messages.count("say: Main output clipping"), 3,
                         messages)
        # The plugin closed the connection while Kelvo ran: said once,
        # before the key that then says so at once.
        self.assertEqual(
            messages.count("bridge: connection ended: end of stream"), 1)
        self.assertEqual(messages.count(LOST), 1, messages)
        self.assertLess(messages.index(LOST), messages.index(NOT_CONNECTED))

    def test_settings_service_leaves_the_run_log_alone(self):
        box = self.run_box("sleep:60000")
        before = harness.read_bytes(box.log_file)
        # The sandbox's own run, not RunBox's: the run goes on meanwhile.
        # Under Wine, Notepad holds the service's output open: files.
        env = self.env(box) if self.wine else {"VISUAL": "true"}
        done = harness.Sandbox.run(box, ["--open-settings"], env=env,
                                   timeout=120, output_files=True)
        self.assertEqual(done.code, 0, done)
        self.assertIn("Orvalin " + harness.OPTIONS.version(), done.err)
        self.end(box)
        after = harness.read_bytes(box.log_file)
        self.assertTrue(after.startswith(before), (before, after))
        self.assertNotIn(b"\0", after)


class NativeStage(Stage, RunCase):
    def test_a_late_answer_is_told_as_late(self):
        # Kelvo starts the deck at once, but answers the set 3.5 s later.
        box = self.run_box("ctrl+alt+p; sleep:5000; log:[Channel1],play; "
                           "sleep:60000",
                           LOADED + ["--late-set", "play=3500"])
        self.end(box, "test: [Channel1],play=1")
        messages = box.messages()
        self.assertIn("say: Deck 1 playing", messages)
        self.assertIn("say: Error: [Channel1],play: Kelvo did not answer in "
                      "time", messages)
        self.assertEqual([r["value"] for r in box.sets("play")], [1])

    def test_a_plugin_on_a_wrong_scale_moves_nothing(self):
        # Parameters read on the controls' own scale: the centred crossfader
        # reads as full left, and a step from it would throw it there; its
        # report would say "left 100%".
        box = self.run_box("ctrl+alt+m; ctrl+alt+shift+m; "
                           "ctrl+alt+shift+space; "
                           "log:[Master],crossfader; sleep:60000",
                           LOADED + ["--wrong-scale"])
        self.end(box, "test: [Master],crossfader=0")
        messages = box.messages()
        self.assertEqual(messages.count("say: " + WRONG_SCALE), 4, messages)
        self.assertEqual(box.sets("crossfader"), [])

    def test_slow_kelvo_keeps_a_hot_cue_quiet(self):
        # Every request answered 120 ms late; one deck keeps start-up short.
        # Start-up's requests, sent together, are answered one by one for
        # seconds (the last ones too late: Kelvo counts as busy until it
        # answers in time again); the hot cue is pressed after that.
        box = self.run_box("sleep:10000; ctrl+alt+f2; sleep:60000",
                           HOTCUE + ["--decks", "1", "--samplers", "0",
                                     "--reply-delay-ms", "120"])
        self.wait_for(box, "say: Hotcue 2, 1:05")
        time.sleep(1.5)
        self.end(box)
        spoken = [m for m in box.messages() if m.startswith("say: ")]
        self.assertEqual(spoken[-1], "say: Hotcue 2, 1:05", spoken)
        self.assertFalse([m for m in spoken if m.startswith("say: Deck 1")],
                         spoken)

    def test_a_plugin_answering_one_at_a_time_loses_no_watch(self):
        # 30 ms a request, one after another: start-up's watches take longer
        # than a reply may, and the later ones time out. The counts go
        # first, and the watches that failed are made after ready.
        box = self.run_box("sleep:15000; set:[Sampler4],play=1; "
                           "sleep:60000",
                           ["--samplers", "4", "--load", "Sampler4=2",
                            "--reply-delay-ms", "30"])
        self.wait_for(box, "say: Sampler 4 playing", 90)
        # The set's own reply waits behind the watches made after ready:
        # the script logs it only then, and closing Kelvo before would log
        # it after Orvalin's last line.
        self.end(box, "test: set [Sampler4],play=1", 30)
        messages = box.messages()
        self.assertIn("start-up: every watch in place", messages)
        self.assertFalse([m for m in messages if m.startswith("start-up: [")],
                         messages)

    def test_closing_kelvo_is_quiet(self):
        # The press waits in a stall when Kelvo closes.
        box = self.run_box("set:[Kelvosim],stall=30; ctrl+alt+p; "
                           "sleep:60000")
        self.wait_for(box, "test key: ctrl+alt+p")
        time.sleep(0.5)
        self.end(box)
        messages = box.messages()
        self.assertFalse([m for m in messages if m.startswith(
            ("say: Error", "say: Lost", "bridge: connection ended"))],
            messages)


class WineStage(Stage, WineCase):
    pass


if __name__ == "__main__":
    harness.main()
