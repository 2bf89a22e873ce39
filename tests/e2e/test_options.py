"""The command line: orvalin --version prints the version and nothing else,
orvalin --write-keys writes the key list of the built-in bindings. Only the
four service options, written exactly, are services: anything else (another
letter case, an option the program does not have) starts a normal run. Here
that run ends early, as no Kelvo is installed."""

import os

import harness
from run_support import QUICK_TIMING, TOKEN


class Options(harness.SandboxCase):
    def test_prints_version_and_ignores_further_arguments(self):
        version = harness.OPTIONS.version()
        for args in (["--version"], ["--version", "extra", "more"],
                     ["--version", "--write-keys", "keys.txt"]):
            done = self.box.run(args, cwd=self.box.root)
            self.assertEqual((done.code, done.stdout, done.stderr),
                             (0, (version + "\n").encode(), b""), done)
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
                messages = box.messages()
                self.assertEqual(messages[0], banner)
                self.assertTrue(any(m.startswith(("error: ", "stopped: "))
                                    for m in messages), messages)

    def test_write_keys_usage_without_a_file(self):
        done = self.box.run(["--write-keys"])
        self.assertEqual((done.code, done.stdout, done.stderr),
                         (1, b"", b"usage: orvalin --write-keys <file>\n"))
        for folder, subfolders, files in os.walk(self.box.root):
            self.assertEqual(files, [], folder)

    def test_write_keys_writes_the_list_and_ignores_a_further_argument(self):
        target = harness.write_file(
            self.box.path("out", "keys.txt"),
            b"old content that is longer than nothing\n" * 2000)
        done = self.box.run(["--write-keys", self.runner.host_path(target),
                             "--version"])
        self.assertEqual((done.code, done.stdout, done.stderr), (0, b"", b""),
                         done)
        data = harness.read_bytes(target)
        # Its text is checked by the key list's unit test; here, that it is
        # written as it is, with CR LF line ends and no other CR.
        self.assertTrue(data.startswith(b"Orvalin - default keys\r\n"),
                        data[:80])
        self.assertIn(b"\r\nCtrl+Alt+P: play on or off on the current "
                      b"deck\r\n", data)
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertEqual(data.count(b"\r"), data.count(b"\r\n"))

        # A path relative to the working directory.
        work = os.path.dirname(self.box.path("work", "x"))
        done = self.box.run(["--write-keys", "keys.txt"], cwd=work)
        self.assertEqual(done.code, 0, done)
        self.assertEqual(harness.read_bytes(os.path.join(work, "keys.txt")),
                         data)

        # The Windows build writes the same bytes as the native build.
        if self.runner.under_wine:
            native = harness.OPTIONS.native_runner()
            if native is None:
                self.skipTest("no native build to compare with")
            reference = self.box.path("native", "keys.txt")
            with harness.native_runs_lock():
                done = native.run(["--write-keys", reference])
            self.assertEqual(done.code, 0, done)
            self.assertEqual(harness.read_bytes(reference), data)

    def test_write_keys_cannot_write(self):
        target = self.box.path("missing-folder-parent", "x")
        missing = os.path.join(os.path.dirname(target), "no", "keys.txt")
        shown = self.runner.host_path(missing)
        done = self.box.run(["--write-keys", shown])
        self.assertEqual((done.code, done.stdout), (1, b""), done)
        self.assertTrue(done.err.startswith("cannot write " + shown + ": "),
                        done)
        self.assertEqual(done.err.count("\n"), 1, done)
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    harness.main()
