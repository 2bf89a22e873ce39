"""The conformance session of docs/plugin-protocol.md (section 13), played
against the simulator as the reference plugin, and against four broken
ones that each fail one of its checks: no Auto DJ events, positions counted
for one channel, a recording that never reports it is starting, and
clipping of a [Main] watch sent as [Master]. Natively only: the session
itself is the same everywhere."""

import harness
from run_support import RunCase

# The conformance session of docs/plugin-protocol.md, section 13, on the
# Kelvo it prepares; the simulator makes the main output clip at the end.
CONFORMANCE_KELVO = [
    "--select", "3", "--effect", "1,1=org.kelvo.effects.echo",
    "--effect", "1,2=org.kelvo.effects.reverb",
    "--set", "[EffectRack1_EffectUnit1_Effect2],enabled=0",
    "--set", "[EffectRack1_EffectUnit1],group_[Channel2]_enable=1"]
CONFORMANCE_SESSION = (
    "ctrl+alt+shift+i; ctrl+alt+shift+1; sleep:1500; ctrl+alt+1; ctrl+alt+p; "
    "sleep:800; ctrl+alt+space; ctrl+alt+p; sleep:800; ctrl+alt+shift+1; "
    "sleep:1500; ctrl+alt+p; sleep:2500; ctrl+alt+p; "
    "ctrl+alt+pagedown; ctrl+alt+shift+pageup; ctrl+alt+m; "
    "ctrl+alt+z; ctrl+alt+7; ctrl+alt+7; ctrl+alt+5; ctrl+alt+f1; "
    "ctrl+alt+f9; ctrl+alt+f1; ctrl+alt+shift+f9; ctrl+alt+g; "
    "ctrl+alt+shift+t; ctrl+alt+g; "
    "set:[Recording],toggle_recording=1; log:[Recording],status; "
    "sleep:1000; ctrl+alt+shift+c; ctrl+alt+shift+e; sleep:1000; "
    "ctrl+alt+shift+a; sleep:1500; ctrl+alt+shift+q; ctrl+alt+shift+a; "
    "ctrl+alt+shift+a; ctrl+alt+d; set:[Kelvosim],clip=1; sleep:1500")
AUTODJ_ON = "say: Auto DJ on"
RECORDING_STARTING = "test: [Recording],status=1"
MAIN_CLIPPING = "say: Main output clipping"


class Conformance(RunCase):
    def test_the_session_catches_four_broken_plugins(self):
        def session(*faults):
            box = self.box(kelvo_args=CONFORMANCE_KELVO + list(faults))
            box.start(env={"ORVALIN_TEST_ACTIONS": CONFORMANCE_SESSION})
            self.end(box, "test: done", 120)
            return box.messages()

        def hotcue_times(messages):
            """The jump's time and the report's position of hot cue 1."""
            return [[m[len(start):] for m in messages if m.startswith(start)]
                    for start in ("say: Hotcue 1, ", "say: Deck 1: hotcue 1 ")]

        reference = session()
        jumps, reports = hotcue_times(reference)
        self.assertEqual(len(jumps), 1, reference)
        self.assertEqual(reports, jumps, reference)
        for heard in (AUTODJ_ON, RECORDING_STARTING, MAIN_CLIPPING):
            self.assertIn(heard, reference)
        self.assertNotIn("watch failed", " ".join(reference))
        # Each broken plugin fails its check.
        self.assertNotIn(AUTODJ_ON, session("--no-events", "[AutoDJ]"))
        jumps, reports = hotcue_times(session("--one-channel-positions"))
        self.assertNotEqual(reports, jumps)
        self.assertNotIn(RECORDING_STARTING,
                         session("--no-recording-starting"))
        self.assertNotIn(MAIN_CLIPPING,
                         session("--events-as", "[Main]=[Master]"))


if __name__ == "__main__":
    harness.main()
