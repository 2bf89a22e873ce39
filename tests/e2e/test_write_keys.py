"""orvalin --write-keys writes the key list of the built-in bindings."""

import os

import harness


class WriteKeys(harness.SandboxCase):
    def test_usage_without_a_file(self):
        done = self.box.run(["--write-keys"])
        self.assertEqual(done.code, 1, done)
        self.assertEqual(done.stdout, b"", done)
        self.assertEqual(done.stderr, b"usage: orvalin --write-keys <file>\n")
        for folder, subfolders, files in os.walk(self.box.root):
            self.assertEqual(files, [], folder)

    def test_writes_the_list_and_ignores_a_further_argument(self):
        target = self.box.path("out", "keys.txt")
        with open(target, "wb") as f:
            f.write(b"old content that is longer than nothing\n" * 2000)
        done = self.box.run(["--write-keys", self.runner.host_path(target),
                             "--version"])
        self.assertEqual(done.code, 0, done)
        self.assertEqual(done.stdout, b"", done)
        self.assertEqual(done.stderr, b"", done)
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

    def test_cannot_write(self):
        target = self.box.path("missing-folder-parent", "x")
        missing = os.path.join(os.path.dirname(target), "no", "keys.txt")
        shown = self.runner.host_path(missing)
        done = self.box.run(["--write-keys", shown])
        self.assertEqual(done.code, 1, done)
        self.assertEqual(done.stdout, b"", done)
        self.assertTrue(done.err.startswith("cannot write " + shown + ": "),
                        done)
        self.assertEqual(done.err.count("\n"), 1, done)
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    harness.main()
