"""The command line: orvalin --version prints the version and nothing else.
Only the four service options, written exactly, are services: anything else
(another letter case, an option the program does not have) starts a normal
run. Here that run ends early, as no Kelvo is installed."""

import os

import harness
from run_support import QUICK_TIMING, TOKEN


class Options(harness.SandboxCase):
    def test_prints_version_and_ignores_further_arguments(self):
        version = harness.OPTIONS.version()
        for args in (["--version"], ["--version", "extra", "more"],
                     ["--version", "--write-keys", "keys.txt"]):
            done = self.box.run(args, cwd=self.box.root)
            self.assertEqual(done.code, 0, done)
            self.assertEqual(done.stdout, (version + "\n").encode(), done)
            self.assertEqual(done.stderr, b"", done)
        # A service that needs no settings touches neither file.
        self.assertFalse(os.path.exists(self.box.log_file))
        self.assertFalse(os.path.exists(self.box.settings_file))
        self.assertFalse(os.path.exists(os.path.join(self.box.root,
                                                     "keys.txt")))

    def test_unknown_options_start_a_normal_run(self):
        banner = "Orvalin " + harness.OPTIONS.version()
        for args in (["--Version"], ["--help", "--version"]):
            with harness.Sandbox(self.runner) as box:
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
