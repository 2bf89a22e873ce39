"""orvalin --version prints the version and nothing else."""

import os
import unittest

import harness


class Version(unittest.TestCase):
    def test_prints_version_and_ignores_further_arguments(self):
        runner = harness.OPTIONS.runner()
        version = harness.OPTIONS.version()
        with harness.Sandbox(runner) as box:
            for args in (["--version"], ["--version", "extra", "more"],
                         ["--version", "--write-keys", "keys.txt"]):
                done = box.run(args)
                self.assertEqual(done.code, 0, done)
                self.assertEqual(done.stdout, (version + "\n").encode(), done)
                self.assertEqual(done.stderr, b"", done)
            # A service that needs no settings touches neither file.
            self.assertFalse(os.path.exists(box.log_file))
            self.assertFalse(os.path.exists(box.settings_file))
            self.assertFalse(os.path.exists(os.path.join(box.root, "keys.txt")))


if __name__ == "__main__":
    harness.main()
