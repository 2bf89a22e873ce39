"""Start-ups that end early: each speaks and logs its sentence, exits 1, and
starts Kelvo only when the failure comes after the launch (and then leaves
it running)."""

import os
import shutil
import time

import harness
from run_support import HELLO, RunCase, head, started

PLUGIN_MISSING = ("The Kelvo plugin (plugins/generic/liborvalin.so) was not "
                  "found.")
KELVO_RUNNING = "Kelvo is running. Please close it first."
LAUNCHED = ("Kelvo unknown version", "say: Starting Kelvo")


class Refusals(RunCase):
    def assert_failed(self, box, done, before, text, stopped=False):
        self.assertEqual(done.code, 1, done)
        self.assertEqual(box.messages(), before + (
            ["stopped: " + text, "say: " + text] if stopped else
            ["error: " + text, "say: Orvalin error. " + text]))

    def fake_kelvo(self, box):
        """Another Kelvo started by hand (not by Orvalin), from its own
        folder, named in capitals: the comparison folds letter case."""
        path = os.path.join(box.root, "other",
                            os.path.basename(box.kelvo).upper())
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy2(box.kelvo, path)
        other = self.background([path, "--port", "0", "--trace",
                                 box.trace_file, "--exit-after", "60"], {})
        time.sleep(0.3)
        return other

    def test_plugin_missing_is_reported_before_a_running_kelvo(self):
        box = self.box(plugin=False, kelvo_args=["--exit-after", "2"])
        self.assert_failed(box, box.run(), head(box), PLUGIN_MISSING)
        self.assertEqual(box.trace_requests(), [])
        self.assertFalse(box.kelvo_running())
        self.fake_kelvo(box)
        self.assert_failed(box, box.run(), head(box), PLUGIN_MISSING)

    def test_kelvo_already_running(self):
        # The real waits: the refusal is spoken, then given 4 seconds.
        box = self.box(kelvo_args=["--exit-after", "2"], real_timing=True)
        self.fake_kelvo(box)
        begun = time.monotonic()
        self.assert_failed(box, box.run(), head(box), KELVO_RUNNING,
                           stopped=True)
        self.assertGreaterEqual(time.monotonic() - begun, 4)
        # Only the hand-started Kelvo runs; none was launched.
        self.assertEqual(box.trace_requests(), [])

    def test_an_exited_kelvo_not_yet_reaped_does_not_count(self):
        box = self.box(kelvo_args=["--exit-after", "2"])
        other = self.fake_kelvo(box)
        other.kill()  # and not waited for: it stays a zombie meanwhile
        done = box.run()
        self.assertEqual(done.code, 0, done)
        self.assertIsNone(other.returncode)

    def test_failures_before_and_while_starting_kelvo(self):
        # A bad key: nothing starts.
        box = self.box()
        box.write_run_settings(
            ["--exit-after", "2"],
            keys='[[keys]]\nkey = "ctrl+alt+nokey"\naction = "stop_speech"\n')
        self.assert_failed(box, box.run(), head(box),
                           "'ctrl+alt+nokey': unknown key 'nokey'")
        self.assertFalse(box.kelvo_running())
        self.assertEqual(box.trace_requests(), [])
        # A Kelvo that cannot start, one that exits while starting.
        missing = box.kelvo + "-missing"
        box.kelvo = missing
        box.write_run_settings([])
        self.assert_failed(box, box.run(), head(box, *LAUNCHED),
                           "Cannot start Kelvo at " + missing +
                           ": No such file or directory")
        box = self.box(kelvo_args=["--no-signal", "--exit-after", "1"])
        self.assert_failed(box, box.run(), head(box, *LAUNCHED),
                           "Kelvo closed while starting.")

    def test_connect_failure_logs_kelvos_state(self):
        box = self.box(kelvo_args=["--refuse-hello", "--exit-after", "60"])
        self.assert_failed(box, box.run(), started(
            box, "connect failed; Kelvo process status: running"),
            "hello refused")
        self.assertEqual(box.trace_requests(), [HELLO])
        self.assertTrue(box.kelvo_running())

    def test_no_signal_within_the_plugin_wait(self):
        box = self.box(kelvo_args=["--no-signal", "--exit-after", "120"])
        sentence = ("Kelvo unknown version did not load the Orvalin plugin, "
                    "so this Kelvo version is probably not supported. Kelvo "
                    "keeps running, without Orvalin. Please check for an "
                    "Orvalin update.")
        self.assert_failed(box, box.run(timeout=120), head(box, *LAUNCHED),
                           sentence, stopped=True)
        self.assertTrue(box.kelvo_running())


if __name__ == "__main__":
    harness.main()
