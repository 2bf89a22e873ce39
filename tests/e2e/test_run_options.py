"""Only the four service options, written exactly, are services: anything
else (another letter case, an option the program does not have) starts a
normal run. Here that run ends early, as no Kelvo is installed."""

import os
import unittest

import harness


class OtherOptions(unittest.TestCase):
    def test_unknown_options_start_a_normal_run(self):
        runner = harness.OPTIONS.runner()
        banner = "Orvalin " + harness.OPTIONS.version()
        for args in (["--Version"], ["--help", "--version"]):
            with harness.Sandbox(runner) as box:
                if runner.under_wine:
                    folders = {name: runner.host_path(os.path.dirname(
                        box.path("pf" + name[-3:], "x")))
                        for name in ("ProgramW6432", "ProgramFiles",
                                     "ProgramFiles(x86)")}
                else:
                    folders = {"PATH": os.path.dirname(box.path("bin", "x"))}
                done = box.run(args, env=folders, timeout=120,
                               output_files=True)
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
