"""A whole run: start-up, the plugin hand-shake, the bridge, the ready
message, and the end within a second when Kelvo closes. The first keeps the
real waits, against a plugin that answers each request after its own random
0-300 ms and puts lines that are no reply (not JSON, an array, an object
with text after it, an empty line) between its replies, some of which end
in CR LF."""

import os
import stat
import time

import harness
from run_support import (EXITING, HELLO, READY, RunCase, head,
                         kelvosim_program, own_errors, started)


class FullRun(RunCase):
    def test_start_to_end(self):
        box = self.box(kelvo_args=["--exit-after", "5", "--reply-delay-ms",
                                   "0-300", "--junk"], real_timing=True)
        # An inherited plugin path stays after the plugin directory.
        self.start_until(box, timeout=60, QT_PLUGIN_PATH="/nonexistent/qt")
        self.assertTrue(box.wait_kelvo_gone(60))
        gone = time.monotonic()
        done = box.finish(timeout=30)
        # Kelvo closing ends the run within a second: the watcher looks
        # every half second; allow for a slow machine.
        self.assertLess(time.monotonic() - gone, 2.5)
        self.assertEqual(done.code, 0, done)
        expected = started(box, READY, EXITING)
        self.assertEqual(box.messages(), expected)
        self.assertEqual(done.out, "".join(m + "\n" for m in expected))
        self.assertEqual(own_errors(done), [])
        requests = box.trace_requests()
        # The hello carries the run's token and comes first.
        self.assertEqual(requests[0], HELLO)
        self.assertEqual([r["id"] for r in requests],
                         list(range(1, len(requests) + 1)))
        # Every watch in place (none logged as failed, see the messages):
        # num_decks, 16 controls of each of 4 decks, 4 samplers, 6 more.
        watched = [(r["group"], r["key"]) for r in requests
                   if r["cmd"] == "watch"]
        self.assertEqual(len(set(watched)), 1 + 4 * 16 + 4 + 6)
        self.assertIn(("[Channel1]", "play"), watched)

    def test_new_settings_file_is_welcomed_before_starting_kelvo(self):
        # No settings file: it is created (as by --open-settings) with the
        # Kelvo found on PATH, here a script that runs the simulator for a
        # few seconds on the default port.
        box = self.box(settings=False)
        wrapper = harness.write_file(
            box.path("bin", "kelvo"),
            '#!/bin/sh\nexec "%s" --trace "%s" --exit-after 3\n' % (
                kelvosim_program(self.runner.program), box.trace_file),
            stat.S_IRWXU)
        path = os.path.dirname(wrapper) + os.pathsep + os.environ.get("PATH",
                                                                      "")
        # A test token too short to use: the run makes its own.
        done = box.run(env={"PATH": path,
                            "ORVALIN_TEST_TOKEN": "too-short-token"})
        self.assertEqual(done.code, 0, done)
        # The wrapper is a script without an LD_LIBRARY_PATH of its own.
        self.assertEqual(box.messages(), head(box)[:2] + [
            "Kelvo: " + wrapper,
            "say: Welcome to Orvalin. Your settings file was created.",
            "Kelvo unknown version",
            "Kelvo is started through a script; Qt version not checked",
        ] + started(box, READY, EXITING)[4:])
        harness.assert_new_settings(
            self, box.read_settings(),
            b"kelvo_path = '" + wrapper.encode() + b"'",
            self.runner.under_wine)
        hello = box.trace_requests()[0]
        self.assertEqual(hello["cmd"], "hello")
        self.assertRegex(hello["token"], r"^[0-9a-f]{32}$")


if __name__ == "__main__":
    harness.main()
