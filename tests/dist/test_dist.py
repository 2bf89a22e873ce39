"""Checks the release files in dist/ as a Windows user would meet them, and
the package for Debian and Ubuntu users (unpacked with dpkg -x, and lintian).

The portable zip must hold exactly the listed files (no test program or test
library), SHA256SUMS must verify, and the installer is run under Wine in a
fresh prefix of its own: a silent install, an older build installed over it,
a refused upgrade while Orvalin runs, the upgrade, and a silent uninstall
that keeps the user's settings and log. Run by `make dist-test` after
`make dist`; standard library only (and the end-to-end tests' harness).
"""

import gzip
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
DIST = os.path.join(ROOT, "dist")
BUILD = os.path.join(ROOT, "build", "dist")
WINDOWS = os.path.join(ROOT, "build", "windows")
PREFIX = os.path.join(ROOT, "build", "dist-test", "wineprefix")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

VERSION = harness.read_bytes(
    os.path.join(WINDOWS, "version.txt")).decode().strip()
ZIP = os.path.join(DIST, "orvalin-%s-win64-portable.zip" % VERSION)
INSTALLER = os.path.join(DIST, "orvalin-%s-win64.exe" % VERSION)
DEB = os.path.join(DIST, "orvalin_%s_amd64.deb" % VERSION)
# The translations: a guide and a key list in each language.
TRANSLATED = ["%s.%s.txt" % (name, language) for name in ("README", "keys")
              for language in ("de", "es", "fr", "pt_BR", "zh_CN")]
DEB_FILES = ["usr/bin/orvalin", "usr/lib/orvalin/plugins/generic/README.txt",
             "usr/share/applications/orvalin.desktop",
             "usr/share/man/man1/orvalin.1.gz"] + [
                 "usr/share/doc/orvalin/" + name for name in [
                     "README.md", "keys.txt", "README.Linux.txt", "README.txt",
                     "copyright", "changelog.gz"] + TRANSLATED]
PACKAGED = ["orvalin.exe", "README.txt", "keys.txt", "LICENSE.txt",
            "plugins/generic/README.txt"] + TRANSLATED
SHORTCUTS = ["Orvalin.lnk", "Orvalin settings.lnk", "Orvalin keys.lnk",
             "Uninstall Orvalin.lnk"]
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvalin"
# Generous: Wine on a machine that builds other things at the same time.
TIMEOUT = 300


def zip_files():
    with zipfile.ZipFile(ZIP) as z:
        return {name[len("Orvalin/"):]: z.read(name)
                for name in z.namelist() if not name.endswith("/")}


def tree(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes()
            for path in pathlib.Path(folder).rglob("*") if not path.is_dir()}


class Wine:
    """Windows programs in the test's own prefix."""

    def __init__(self):
        self.env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all",
                        WINEARCH="win64")
        shutil.rmtree(PREFIX, ignore_errors=True)
        # make dist's prefix has never had anything installed: a copy of it
        # is a fresh prefix, made in seconds rather than by a Wine boot.
        made = os.path.join(BUILD, "wineprefix")
        if os.path.exists(os.path.join(made, ".orvalin-ready")):
            os.makedirs(os.path.dirname(PREFIX), exist_ok=True)
            subprocess.run(["cp", "-a", made, PREFIX], check=True)
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix")],
                       env=self.env, check=True, timeout=TIMEOUT,
                       stdout=subprocess.DEVNULL)
        self.local = self.folder(self.expand("%LOCALAPPDATA%"))
        self.roaming = self.folder(self.expand("%APPDATA%"))

    def run(self, *args):
        """Runs a program to its end; returns (exit code, stdout bytes)."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(["wine", *args], env=self.env, stdout=out,
                                  stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL,
                                  timeout=TIMEOUT).returncode
            out.seek(0)
            return code, out.read()

    def expand(self, text):
        return self.run("cmd", "/c", "echo", text)[1].decode().strip()

    def folder(self, windows_path):
        """The Linux path of a C: path."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(PREFIX, "drive_c",
                            *windows_path[3:].split("\\"))

    def registry(self, key):
        """The string values of a key, or None when it does not exist."""
        code, out = self.run("reg", "query", key)
        if code != 0:
            return None
        return {name: value.strip() for name, value in re.findall(
            r"(?m)^[ \t]+(\S.*?)[ \t]+REG_\w+[ \t]+(.*)$",
            out.decode("utf-8", "replace"))}

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env)


class Dist(unittest.TestCase):
    def test_zip_holds_exactly_the_release_files(self):
        files = zip_files()
        self.assertEqual(sorted(files), sorted(PACKAGED))
        for name in ("README.txt", "LICENSE.txt", "plugins/generic/README.txt",
                     "keys.txt"):
            text = files[name]
            self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), name)
            self.assertTrue(text.endswith(b"\r\n"), name)
        self.assertIn(b"orvalin.dll", files["plugins/generic/README.txt"])
        self.assertIn(b"The Orvalin developers", files["LICENSE.txt"])
        exe = files["orvalin.exe"]
        self.assertTrue(exe.startswith(b"MZ"))
        self.assertNotIn(b".debug_", exe, "orvalin.exe is not stripped")

    def test_release_build_searches_no_development_folders(self):
        # The candidate lists of both layouts are unit-tested; here, that the
        # released program is linked with the layout compiled as installed,
        # and not with the development one (both define the same function,
        # so the link would fail with both).
        layouts = {}  # object file: compile command
        for entry in json.loads(harness.read_bytes(
                os.path.join(WINDOWS, "compile_commands.json"))):
            if entry["file"].endswith("/src/base/layout.cpp"):
                words = entry["command"].split()
                layouts[words[words.index("-o") + 1]] = entry["command"]
        installed = [o for o in layouts if "orv_layout_installed" in o]
        self.assertEqual(len(installed), 1, layouts)
        self.assertIn("-DORVALIN_DEV_PATHS=0", layouts[installed[0]])
        with open(os.path.join(WINDOWS, "build.ninja")) as f:
            link = next(line for line in f
                        if line.startswith("build installed/orvalin.exe:"))
        inputs = link.split(" | ")[0].split()
        self.assertIn(installed[0], inputs)
        self.assertFalse([i for i in inputs if i.endswith("layout.cpp.obj")
                          and i != installed[0]], link)

    def test_checksums_verify(self):
        with open(os.path.join(DIST, "SHA256SUMS")) as f:
            names = sorted(line.split()[1] for line in f)
        self.assertEqual(names, sorted([os.path.basename(ZIP),
                                        os.path.basename(INSTALLER),
                                        os.path.basename(DEB)]))
        done = subprocess.run(["sha256sum", "--check", "--strict",
                               "SHA256SUMS"], cwd=DIST, capture_output=True)
        self.assertEqual(done.returncode, 0, done)

    def test_install_upgrade_and_uninstall_under_wine(self):
        wine = Wine()
        self.addCleanup(wine.stop)
        win_installer = "Z:" + INSTALLER.replace("/", "\\")
        install_dir = os.path.join(wine.local, "Programs", "Orvalin")
        win_install_dir = wine.expand(r"%LOCALAPPDATA%\Programs\Orvalin")
        win_program = win_install_dir + r"\orvalin.exe"
        menu = os.path.join(wine.roaming, "Microsoft", "Windows",
                            "Start Menu", "Programs", "Orvalin")
        expected = zip_files()

        def check_installed(version, files):
            self.assertEqual(tree(menu).keys(), set(SHORTCUTS))
            entry = wine.registry(UNINSTALL_KEY)
            self.assertIsNotNone(entry)
            uninstaller = '"%s\\uninstall.exe"' % win_install_dir
            self.assertEqual(entry, dict(
                entry, DisplayName="Orvalin", DisplayVersion=version,
                Publisher="The Orvalin developers",
                InstallLocation=win_install_dir, UninstallString=uninstaller,
                QuietUninstallString=uninstaller + " /S"))
            installed = tree(install_dir)
            self.assertTrue(installed.pop("uninstall.exe").startswith(b"MZ"))
            installed.pop("plugins/generic/orvalin.dll", None)
            self.assertEqual(installed, files)

        # A silent install into the fresh prefix.
        self.assertEqual(wine.run(win_installer, "/S")[0], 0)
        check_installed(VERSION, expected)
        with open(os.path.join(menu, "Orvalin settings.lnk"), "rb") as f:
            self.assertIn("--open-settings".encode("utf-16-le"), f.read())
        self.assertEqual(wine.run(win_program, "--version"),
                         (0, (VERSION + "\n").encode()))
        keys = os.path.join(install_dir, "written-keys.txt")
        self.assertEqual(wine.run(win_program, "--write-keys",
                                  win_install_dir + r"\written-keys.txt")[0], 0)
        self.assertEqual(harness.read_bytes(keys), expected["keys.txt"])
        os.remove(keys)

        # An older build, installed over it, as the starting point of an
        # upgrade; the user has put the plugin in its folder.
        old_stage = tempfile.mkdtemp(prefix="orvalin-old-")
        self.addCleanup(shutil.rmtree, old_stage)
        old = dict(expected)
        old["README.txt"] = b"An older build of Orvalin.\r\n"
        for name, data in old.items():
            harness.write_file(os.path.join(old_stage, name), data)
        old_installer = os.path.join(old_stage, "orvalin-old-win64.exe")
        subprocess.run(["makensis", "-V1", "-DVERSION=0.9.0",
                        "-DSTAGE=" + old_stage, "-DOUTFILE=" + old_installer,
                        os.path.join(ROOT, "packaging", "orvalin.nsi")],
                       check=True, timeout=TIMEOUT)
        os.chmod(old_installer, 0o755)
        self.assertEqual(wine.run("Z:" + old_installer.replace("/", "\\"),
                                  "/S")[0], 0)
        check_installed("0.9.0", old)
        plugin = os.path.join(install_dir, "plugins", "generic", "orvalin.dll")
        harness.write_file(plugin, b"the user's plugin")

        # While Orvalin runs, the upgrade is refused and changes nothing. The
        # settings file has a long bad key, so that Orvalin holds its
        # single-instance lock while it speaks and waits after the error.
        settings = os.path.join(wine.roaming, "Orvalin", "config.toml")
        harness.write_file(settings, "[general]\nkelvo_path = "
                           "'C:\\Kelvo\\kelvo.exe'\nkelvo_args = []\n"
                           "port = 52764\n\n[[keys]]\n"
                           'key = "ctrl+alt+%s"\naction = "key_help"\n' % (
                               "q" * 900))
        log = os.path.join(wine.local, "Orvalin", "logs", "app.log")
        running = subprocess.Popen(["wine", win_program], env=wine.env,
                                   stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            def refusal_logged():
                self.assertIsNone(running.poll(), "Orvalin ended too early")
                return b"] error: 'ctrl+alt+q" in harness.read_bytes(log, b"")
            self.assertTrue(harness.wait_until(refusal_logged, TIMEOUT, 0.2),
                            "Orvalin has logged its error")
            self.assertEqual(wine.run(win_installer, "/S")[0], 2)
            # Orvalin held its lock for the whole installer run.
            self.assertIsNone(running.poll())
        finally:
            running.kill()
            running.wait()
        check_installed("0.9.0", old)

        # A file that cannot be put into place (here a file where the plugin
        # folder belongs) rolls the upgrade back: the old files stay.
        plugins = os.path.join(install_dir, "plugins")
        os.rename(plugins, plugins + ".kept")
        os.makedirs(plugins)
        open(os.path.join(plugins, "generic"), "w").close()
        self.assertEqual(wine.run(win_installer, "/S")[0], 2)
        shutil.rmtree(plugins)
        os.rename(plugins + ".kept", plugins)
        check_installed("0.9.0", old)

        # The upgrade, in place.
        self.assertEqual(wine.run(win_installer, "/S")[0], 0)
        check_installed(VERSION, expected)
        self.assertEqual(harness.read_bytes(plugin), b"the user's plugin")

        # The silent uninstall that the uninstall entry names. The
        # uninstaller runs from a copy in the temporary folder and returns at
        # once, so the test waits for its work.
        quiet = wine.registry(UNINSTALL_KEY)["QuietUninstallString"]
        program, argument = re.fullmatch(r'"([^"]+)" (/S)', quiet).groups()
        self.assertEqual(wine.run(program, argument)[0], 0)
        self.assertTrue(harness.wait_until(
            lambda: not os.path.exists(install_dir)
            and not os.path.exists(menu)
            and wine.registry(UNINSTALL_KEY) is None, TIMEOUT, 0.2),
            "the uninstaller has removed Orvalin")
        self.assertTrue(os.path.isfile(settings))
        self.assertTrue(os.path.isfile(log))


class Deb(unittest.TestCase):
    """The package for Debian and Ubuntu users, unpacked into a scratch root
    (installing it would need root)."""

    def test_files_dependencies_and_lintian(self):
        root = tempfile.mkdtemp(prefix="orvalin-deb-")
        self.addCleanup(shutil.rmtree, root, True)
        subprocess.run(["dpkg", "-x", DEB, root], check=True)
        files = tree(root)
        self.assertEqual(sorted(files), sorted(DEB_FILES))
        self.assertIn(b"liborvalin.so",
                      files["usr/lib/orvalin/plugins/generic/README.txt"])
        # The Linux guide, named by the manual page's SEE ALSO.
        self.assertIn(b"What to do when Orvalin says",
                      files["usr/share/doc/orvalin/README.Linux.txt"])
        manual = gzip.decompress(files["usr/share/man/man1/orvalin.1.gz"])
        self.assertIn(b"/usr/share/doc/orvalin/README.Linux.txt",
                      manual[manual.index(b".SH SEE ALSO"):])
        field = subprocess.run(["dpkg-deb", "-f", DEB, "Depends"],
                               capture_output=True, check=True).stdout
        for package in (b"libspeechd2", b"libx11-6", b"libc6"):
            self.assertIn(package, field)
        program = os.path.join(root, "usr", "bin", "orvalin")
        self.assertNotIn(b".debug_", files["usr/bin/orvalin"])
        done = subprocess.run([program, "--version"], capture_output=True,
                              timeout=60)
        self.assertEqual(done.stdout.decode().strip(), VERSION, done)
        lint = subprocess.run(["lintian", "--fail-on", "error", DEB],
                              capture_output=True, timeout=TIMEOUT)
        self.assertEqual(lint.returncode, 0, lint.stdout.decode())


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
