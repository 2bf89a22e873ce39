"""orvalin --find-kelvo prints where Kelvo is installed.

Natively Kelvo is looked for on PATH. Under Wine the test sets up each of
the Windows hints in the test prefix (the program's own registry value, an
uninstall entry, the LOCALAPPDATA folder) and removes them afterwards.
"""

import os
import stat

import harness

OWN_KEY = r"HKCU\Software\Orvalin"
UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def make_file(path, executable=False):
    return harness.write_file(path, b"#!/bin/sh\n",
                              stat.S_IRWXU if executable else None)


class FindKelvo(harness.SandboxCase):
    def assert_found(self, done, path):
        self.assertEqual((done.code, done.out, done.stderr),
                         (0, path + "\n", b""), done)

    def assert_not_found(self, done):
        self.assertEqual((done.code, done.stdout, done.stderr),
                         (1, b"", b"Kelvo not found\n"), done)

    def test_native_path_search(self):
        if self.runner.under_wine:
            self.skipTest("PATH search is the native search")
        plain, good, later = (os.path.dirname(make_file(
            self.box.path(name, "kelvo"), executable=name != "plain"))
            for name in ("plain", "good", "later"))
        # A settings file naming another Kelvo plays no part.
        self.box.write_settings(
            "[general]\nkelvo_path = '%s'\n" % os.path.join(later, "kelvo"))

        # A folder named kelvo is passed over like a file that cannot run.
        folder = self.box.path("folder", "kelvo", "x")
        folder = os.path.dirname(os.path.dirname(folder))
        done = self.box.run(["--find-kelvo"], env={"PATH": plain + ":" + folder})
        self.assert_not_found(done)
        done = self.box.run(["--find-kelvo", "extra"],
                            env={"PATH": ":".join([plain, good, later])})
        self.assert_found(done, os.path.join(good, "kelvo"))
        # A relative entry gives an absolute path.
        done = self.box.run(["--find-kelvo"], env={"PATH": "good"},
                            cwd=os.path.dirname(good))
        self.assert_found(done, os.path.join(good, "kelvo"))
        self.assertFalse(os.path.exists(self.box.log_file))

    def test_windows_hints(self):
        if not self.runner.under_wine:
            self.skipTest("registry and folders are the Windows search")
        runner = self.runner
        # Program folders of our own, so that nothing installed in the prefix
        # is found; LOCALAPPDATA as the sandbox gives.
        folders = self.box.no_kelvo_env()

        def find():
            return self.box.run(["--find-kelvo"], env=folders)

        had_own_key = runner.wine_command("reg", "query", OWN_KEY,
                                          check=False).returncode == 0
        entry = UNINSTALL + r"\OrvalinE2E-%d" % os.getpid()

        def clean_up():
            runner.reg_delete(entry)
            runner.reg_delete(OWN_KEY, "KelvoPath" if had_own_key else None)
        self.addCleanup(clean_up)
        clean_up()

        self.assert_not_found(find())

        # The LOCALAPPDATA folder.
        local_kelvo = make_file(os.path.join(self.box.local, "Programs",
                                             "Kelvo", "kelvo.exe"))
        self.assert_found(find(), runner.host_path(local_kelvo))

        # An uninstall entry comes before the folders, the program's own value
        # before both (their rules are checked by the unit tests).
        installed = make_file(self.box.path("installed", "kelvo.exe"))
        runner.reg_add(entry, "DisplayName", "Kelvo")
        runner.reg_add(entry, "InstallLocation",
                       runner.host_path(os.path.dirname(installed)))
        self.assert_found(find(), runner.host_path(installed))

        own = make_file(self.box.path("own place", "kelvo.exe"))
        runner.reg_add(OWN_KEY, "KelvoPath", runner.host_path(own))
        self.assert_found(find(), runner.host_path(own))

        clean_up()
        os.remove(local_kelvo)
        self.assert_not_found(find())


if __name__ == "__main__":
    harness.main()
