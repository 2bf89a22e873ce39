"""A whole native run in a Wayland session with XWayland, as on a GNOME or
KDE desktop: a headless sway with XWayland, the simulator's Kelvo window
shown as an X11 window only when QT_QPA_PLATFORM=xcb reaches it (as a Qt 6
program does; a platform the user sets is left as it is), keys pressed through a virtual keyboard (wlkeys, with the
ordinary keymap) and speech through a private speech-dispatcher.

sway refuses to run as root, and XWayland then serves only the clients of
its own user: run as root, the case runs itself again as the user nobody.
Where the compositor cannot start, the case is skipped with the reason."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import harness
from run_support import X11_READY as READY, RunCase, build_dir

KELVO = ["--select", "12", "--exit-after", "120"]
NOBODY = 65534


class SwaySession:
    """A headless sway with XWayland in `folder`, started at once."""

    def __init__(self, folder):
        self.folder = folder
        self.runtime = os.path.join(folder, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        env_file = os.path.join(folder, "session.env")
        script = harness.write_file(
            os.path.join(folder, "session.sh"),
            "#!/bin/sh\nenv > '%s.part' && mv '%s.part' '%s'\n" % (
                env_file, env_file, env_file), 0o755)
        config = harness.write_file(os.path.join(folder, "sway.config"),
                                    "xwayland enable\nexec %s\n" % script)
        self.log = os.path.join(folder, "sway.log")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime,
                   WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                   WLR_RENDERER="pixman")
        for name in ("WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                ["sway", "-c", config], env=env, stdin=subprocess.DEVNULL,
                stdout=log, stderr=log, start_new_session=True)
        self.variables = {}
        if harness.wait_until(lambda: os.path.exists(env_file), 30):
            self.variables = dict(line.partition("=")[::2] for line in harness
                                  .read_bytes(env_file).decode().split("\n"))

    def failure(self):
        """Why the session is not there, or None."""
        if self.variables.get("WAYLAND_DISPLAY") and \
                self.variables.get("DISPLAY"):
            return None
        tail = harness.read_bytes(self.log).decode("utf-8", "replace")[-600:]
        return "sway with XWayland did not start: " + tail

    def env(self):
        return {"XDG_RUNTIME_DIR": self.runtime,
                "WAYLAND_DISPLAY": self.variables["WAYLAND_DISPLAY"],
                "DISPLAY": self.variables["DISPLAY"],
                "SWAYSOCK": self.variables.get("SWAYSOCK", ""),
                "QT_QPA_PLATFORM": None}

    def swaymsg(self, *args):
        return subprocess.run(["swaymsg"] + list(args),
                              env=dict(os.environ, **self.own_env()),
                              capture_output=True, timeout=30)

    def own_env(self):
        return {k: v for k, v in self.env().items() if v is not None}

    def has_window(self, title):
        tree = self.swaymsg("-t", "get_tree", "-r")

        def walk(node):
            if node.get("name") == title:
                return True
            return any(walk(child) for child in
                       node.get("nodes", []) + node.get("floating_nodes", []))
        return tree.returncode == 0 and walk(json.loads(tree.stdout))

    def focus(self, title):
        if not harness.wait_until(lambda: self.has_window(title), 30):
            raise AssertionError("no %s window" % title)
        done = self.swaymsg('[title="^%s$"] focus' % title)
        if done.returncode != 0:
            raise AssertionError(done)

    def stop(self):
        harness.kill_group(self.process)
        self.process.wait()


class WaylandRun(RunCase):
    def setUp(self):
        super().setUp()
        for tool in ("sway", "Xwayland", "foot", "swaymsg",
                     "speech-dispatcher", "setpriv"):
            if shutil.which(tool) is None:
                self.skip_here(tool + " is missing")
        self.wlkeys = os.path.join(build_dir(self.runner.program), "wlkeys")
        if not os.path.exists(self.wlkeys):
            self.skip_here("wlkeys was not built (libwayland-dev and "
                          "libxkbcommon-dev are missing)")

    def run_as_nobody(self):
        home = tempfile.mkdtemp(prefix="orvalin-nobody-")
        self.addCleanup(shutil.rmtree, home, True)
        os.chown(home, NOBODY, NOBODY)
        name = "%s.%s" % (type(self).__name__, self._testMethodName)
        command = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                   "--clear-groups", sys.executable, os.path.abspath(__file__),
                   "--program", harness.OPTIONS.program,
                   "--source", harness.OPTIONS.source, name]
        done = subprocess.run(command, capture_output=True, timeout=280,
                              env=dict(os.environ, HOME=home,
                                       ORVALIN_NATIVE_RUNS_LOCKED="1"))
        report = done.stderr.decode("utf-8", "replace")
        if done.returncode == 0 and " ... skipped " in report:
            self.skip_here(report.split(" ... skipped ", 1)[1].split("\n")[0])
        self.assertEqual(done.returncode, 0, report)

    def test_keys_in_a_wayland_session(self):
        if os.getuid() == 0:
            self.run_as_nobody()
            return
        box = self.box(kelvo_args=KELVO)
        session = SwaySession(os.path.join(box.root, "session"))
        self.addCleanup(session.stop)
        if session.failure():
            self.skip_here(session.failure())
        keys = self.background([self.wlkeys], session.own_env(),
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.assertEqual(keys.stdout.readline().strip(), b"ready")

        def press(combination):
            keys.stdin.write(combination.encode() + b"\n")
            keys.stdin.flush()
            self.assertEqual(keys.stdout.readline().strip(), b"ok")

        daemon = self.enterContext(
            harness.SpeechDaemon(os.path.join(box.root, "speechd")))
        box.start(env=dict(session.env(), **daemon.env()))
        session.focus("Kelvo")
        self.wait_for(box, READY, 120)
        self.assertIn("Wayland session: Kelvo gets QT_QPA_PLATFORM=xcb",
                      box.messages())
        # The X server keeps Ctrl+Alt+F1..F12: never grabbed, nor named as
        # another program's; the layer reaches them.
        self.assertTrue(box.wait_for_message(
            "hotkey ctrl+alt+f12 is kept by the system; reachable through "
            "the layer key", 30), box.messages())
        self.assert_heard(daemon, [READY[len("say: "):]], box)

        def answered(key, answer):
            return self.said_after(box, lambda: press(key), answer, daemon)

        sentences = [READY[len("say: "):],
                     answered("ctrl+alt+1", "Deck 1"),
                     answered("ctrl+alt+o", "Deck 1 loaded. Last Light"),
                     answered("ctrl+alt+shift+Home", "Orvalin"),
                     answered("F1", "Deck 1 hotcue 1 set")]

        # A native Wayland window with the focus gets the keys itself.
        self.background(["foot", "--title", "Other", "sleep", "120"],
                        session.own_env())
        session.focus("Other")
        time.sleep(0.5)
        before = box.messages()
        press("ctrl+alt+2")
        time.sleep(1.5)
        self.assertEqual(box.messages(), before)

        session.focus("Kelvo")
        sentences.append(answered("ctrl+alt+2", "Deck 2"))
        self.assert_heard(daemon, sentences, box)
        self.end(box)

        # The user's own platform is left as it is, and said to be in the
        # way of the keys.
        box.start(env=dict(session.env(), QT_QPA_PLATFORM="wayland"))
        sentence = ("say: Orvalin keys need Kelvo in an X11 window, but "
                    "QT_QPA_PLATFORM is set to wayland.")
        self.wait_for(box, sentence)
        self.wait_for(box, READY, 120)
        self.assertEqual(box.messages().count(sentence), 1, box.messages())
        self.assertFalse(session.has_window("Kelvo"))
        self.end(box)


if __name__ == "__main__":
    harness.main()
