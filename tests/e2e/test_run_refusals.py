"""Start-ups that end early: each speaks and logs its sentence, exits 1, and
starts Kelvo only when the failure comes after the launch (and then leaves
it running)."""

import time
import unittest

import harness
from run_support import READY, TOKEN, RunBox, head, start_fake_kelvo

PLUGIN_MISSING = ("The Kelvo plugin (plugins/generic/liborvalin.so) was not "
                  "found.")
KELVO_RUNNING = "Kelvo is running. Please close it first."


class Refusals(unittest.TestCase):
    def setUp(self):
        if harness.OPTIONS.wine:
            self.skipTest("native scenario")
        self.runner = harness.OPTIONS.runner()

    def box(self, **kwargs):
        box = RunBox(self.runner, **kwargs)
        self.addCleanup(box.remove)
        return box

    def assert_failed(self, box, done, before, text):
        self.assertEqual(done.code, 1, done)
        self.assertEqual(box.messages(), before + [
            "error: " + text, "say: Orvalin error. " + text])

    def test_plugin_missing_is_reported_before_a_running_kelvo(self):
        box = self.box(plugin=False, kelvo_args=["--exit-after", "2"])
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box), PLUGIN_MISSING)
        self.assertEqual(box.trace_requests(), [])
        self.assertFalse(box.kelvo_running())

        other = start_fake_kelvo(box, "--exit-after", "60")
        self.addCleanup(lambda: (other.kill(), other.wait()))
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box), PLUGIN_MISSING)

    def test_kelvo_already_running(self):
        box = self.box(kelvo_args=["--exit-after", "2"])
        # Named in capitals: the comparison folds letter case.
        other = start_fake_kelvo(box, "--exit-after", "60")
        self.addCleanup(lambda: (other.kill(), other.wait()))
        time.sleep(0.3)
        started = time.monotonic()
        done = box.run(timeout=60)
        self.assertEqual(done.code, 1, done)
        self.assertEqual(box.messages(), head(box) + [
            "stopped: " + KELVO_RUNNING, "say: " + KELVO_RUNNING])
        # The refusal is spoken, then given at least 4 seconds.
        self.assertGreaterEqual(time.monotonic() - started, 4)
        # Only the hand-started Kelvo runs; none was launched.
        self.assertEqual(box.trace_requests(), [])

    def test_an_exited_kelvo_not_yet_reaped_does_not_count(self):
        box = self.box(kelvo_args=["--exit-after", "2"])
        other = start_fake_kelvo(box, "--exit-after", "60")
        self.addCleanup(other.wait)
        time.sleep(0.3)
        other.kill()  # and not waited for: it stays a zombie meanwhile
        done = box.run(timeout=60)
        self.assertEqual(done.code, 0, done)
        self.assertIsNone(other.returncode)

    def test_bad_key_in_settings_starts_nothing(self):
        box = self.box()
        box.write_run_settings(
            ["--exit-after", "2"],
            keys='[[keys]]\nkey = "ctrl+alt+nokey"\naction = "stop_speech"\n')
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box),
                           "'ctrl+alt+nokey': unknown key 'nokey'")
        self.assertFalse(box.kelvo_running())
        self.assertEqual(box.trace_requests(), [])

    def test_kelvo_that_cannot_start(self):
        box = self.box()
        missing = box.kelvo + "-missing"
        box.kelvo = missing
        box.write_run_settings([])
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box) + [
            "Kelvo unknown version", "say: Starting Kelvo"],
            "Cannot start Kelvo at " + missing + ": No such file or directory")

    def test_kelvo_exits_while_starting(self):
        box = self.box(kelvo_args=["--no-signal", "--exit-after", "1"])
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box) + [
            "Kelvo unknown version", "say: Starting Kelvo"],
            "Kelvo closed while starting.")

    def test_connect_failure_logs_kelvos_state(self):
        box = self.box(kelvo_args=["--refuse-hello", "--exit-after", "60"])
        done = box.run(timeout=60)
        self.assert_failed(box, done, head(box) + [
            "Kelvo unknown version", "say: Starting Kelvo", "plugin loaded",
            "connect failed; Kelvo process status: running"],
            "hello refused")
        self.assertEqual(box.trace_requests(),
                         [{"cmd": "hello", "id": 1, "token": TOKEN}])
        # Kelvo is left running.
        self.assertTrue(box.kelvo_running())

    def test_connect_failure_when_kelvo_exits_before_serving(self):
        # The plugin serves another port than the configured one, and Kelvo
        # exits two seconds later: the connect gives up then.
        from run_support import free_port
        box = self.box(kelvo_args=["--port", str(free_port()), "--exit-after",
                                   "2", "--exit-code", "3"])
        done = box.run(timeout=60)
        self.assertEqual(done.code, 1, done)
        messages = box.messages()
        self.assertEqual(messages[:-2], head(box) + [
            "Kelvo unknown version", "say: Starting Kelvo", "plugin loaded",
            "connect failed; Kelvo process status: exited with code 3"])
        self.assertTrue(messages[-2].startswith(
            "error: cannot connect to the Kelvo plugin: "), messages)
        self.assertEqual(messages[-1],
                         "say: Orvalin error. " + messages[-2][len("error: "):])
        self.assertEqual(box.trace_requests(), [])

    def test_no_signal_within_thirty_seconds(self):
        box = self.box(kelvo_args=["--no-signal", "--exit-after", "120"])
        started = time.monotonic()
        done = box.run(timeout=120)
        sentence = ("Kelvo unknown version did not load the Orvalin plugin, "
                    "so this Kelvo version is probably not supported. Kelvo "
                    "keeps running, without Orvalin. Please check for a "
                    "Orvalin update.")
        self.assertEqual(done.code, 1, done)
        self.assertEqual(box.messages(), head(box) + [
            "Kelvo unknown version", "say: Starting Kelvo",
            "stopped: " + sentence, "say: " + sentence])
        self.assertGreaterEqual(time.monotonic() - started, 30)
        self.assertTrue(box.kelvo_running())
        self.assertNotIn(READY, box.messages())


if __name__ == "__main__":
    harness.main()
