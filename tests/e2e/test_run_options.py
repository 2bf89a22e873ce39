"""Only the four service options, written exactly, are services: anything
else (another letter case, an option the program does not have) starts a
normal run. Here that run ends early, as no Kelvo is installed."""

import os
import unittest

import harness
from run_support import QUICK_TIMING, TOKEN


class OtherOptions(unittest.TestCase):
    def test_unknown_options_start_a_normal_run(self):
        runner = harness.OPTIONS.runner()
        banner = "Orvalin " + harness.OPTIONS.version()
        for args in (["--Version"], ["--help", "--version"]):
            with harness.Sandbox(runner) as box:
                env = dict(box.no_kelvo_env(), ORVALIN_TEST_TOKEN=TOKEN,
                           ORVALIN_TEST_TIMING=QUICK_TIMING)
                done = box.run(args, env=env, timeout=120, output_files=True)
                self.assertEqual(done.code, 1, done)
                self.assertTrue(done.out.startswith(banner + "\n"), done)
                # The run read (and so created) the settings file, and
                # logged why it ended.
                self.assertTrue(os.path.exists(box.settings_file))
                messages = box.log_messages()
                self.assertEqual(messages[0], banner)
                self.assertTrue(any(m.startswith(("error: ", "stopped: "))
                                    for m in messages), messages)


if __name__ == "__main__":
    harness.main()
