"""Whole runs of orvalin.exe under Wine, in a virtual X display of their own:
real key presses sent by xdotool into the simulator's "Kelvo" window,
speech through the NVDA stub, a key held by another program, one instance
at a time, the end when Kelvo closes, and the refusal of an old Qt.

Wine delivers no foreground-change events, so every scenario keeps the
simulator's window in front from the start."""

import os
import shutil
import subprocess
import time
import unittest

import harness
from run_support import EXITING, READY, RunBox, build_dir, head

def qt_dll(program, folder):
    return os.path.join(build_dir(program), "tests", "qtdlls", folder,
                        "Qt6Core.dll")


class Display:
    """An Xvfb display for one test."""

    def __init__(self):
        self.number = None
        self.process = None
        for number in range(140, 200):
            if os.path.exists("/tmp/.X11-unix/X%d" % number) or \
                    os.path.exists("/tmp/.X%d-lock" % number):
                continue
            process = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp"], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    self.number, self.process = number, process
                    return
                if process.poll() is not None:
                    break
                time.sleep(0.05)
            process.kill()
            process.wait()
        raise RuntimeError("no X display could be started")

    @property
    def name(self):
        return ":%d" % self.number

    def stop(self):
        self.process.terminate()
        self.process.wait()

    def xdotool(self, *args, check=True):
        env = dict(os.environ, DISPLAY=self.name)
        done = subprocess.run(["xdotool"] + list(args), env=env,
                              capture_output=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError("xdotool %r: %r" % (args, done))
        return done.stdout.decode().split()


class WineBase(unittest.TestCase):
    """Set-up and helpers of whole runs under Wine; the scenarios are in
    subclasses."""

    @classmethod
    def setUpClass(cls):
        # A Wine prefix of these runs alone: Wine's desktop process belongs
        # to the X display of whoever started it first, and other tests
        # sharing a prefix use displays of their own.
        if not harness.OPTIONS.wine:
            return
        cls.prefix = os.path.join(build_dir(harness.OPTIONS.program),
                                  "e2e-run-wineprefix")
        # scripts/wine-run makes it on first use, inside a test's display:
        # made without one, Wine's desktop would have no display at all.
        os.environ["WINEPREFIX"] = cls.prefix

    @classmethod
    def tearDownClass(cls):
        if harness.OPTIONS.wine:
            subprocess.run(["wineserver", "-k"], capture_output=True,
                           timeout=60)

    def setUp(self):
        if not harness.OPTIONS.wine:
            self.skipTest("Wine scenario")
        for tool in ("Xvfb", "xdotool"):
            if shutil.which(tool) is None:
                self.skipTest(tool + " is missing")
        self.display = Display()
        self.addCleanup(self.display.stop)
        self.runner = harness.OPTIONS.runner()

    def box(self, qt="fits", **kwargs):
        box = RunBox(self.runner, **kwargs)
        self.addCleanup(box.remove)
        dll = qt_dll(self.runner.program, qt)
        if os.path.exists(dll):
            shutil.copy2(dll, box.kelvo_dir)
        box.stub_log = os.path.join(box.root, "nvda.log")
        return box

    def env(self, box, **extra):
        env = {"DISPLAY": self.display.name,
               "ORVALIN_NVDA_STUB_LOG": self.runner.host_path(box.stub_log)}
        env.update(extra)
        return env

    def spoken(self, box):
        if not os.path.exists(box.stub_log):
            return ""
        with open(box.stub_log, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def kelvo_window(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            done = self.display.xdotool("search", "--name", "^Kelvo$",
                                        check=False)
            if done:
                return done[0]
            time.sleep(0.2)
        self.fail("no Kelvo window")

    def press(self, window, *keys):
        self.display.xdotool("windowfocus", window)
        for key in keys:
            self.display.xdotool("key", key)
            time.sleep(1.0)

    def wait_keys_live(self, box, window, timeout=60):
        """Presses Ctrl+Alt+1 (deck 1, already current) until it is answered:
        the keys are registered only after the ready sentence, and a press
        before that is lost."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.press(window, "ctrl+alt+1")
            if any(m.startswith("say: Deck 1. ") for m in box.messages()):
                return
        self.fail("keys never answered: %r" % box.messages())

    def wait_for(self, box, message, timeout=30):
        self.assertTrue(box.wait_for_message(message, timeout),
                        (message, box.messages()))

    def hold_ctrl_alt_p(self):
        """Starts another program that takes Ctrl+Alt+P for 60 s; its first
        line ("registered", or "failed" and the error)."""
        holder_program = os.path.join(build_dir(self.runner.program),
                                      "hotkeyholder.exe")
        if not os.path.exists(holder_program):
            self.skipTest("hotkeyholder.exe is not built")
        holder = subprocess.Popen(
            [self.runner.wine, "cmd", "/c",
             self.runner.host_path(holder_program), "60"],
            env=dict(os.environ, DISPLAY=self.display.name),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: (harness._kill_group(holder), holder.wait(),
                                 holder.stdout.close()))
        return holder.stdout.readline().strip()



class WineRun(WineBase):
    def test_keys_pressed_in_kelvo_act_and_speak(self):
        box = self.box(kelvo_args=["--load", "1=1", "--exit-after", "90"])
        # X itself takes Ctrl+Alt+F1..F12 (console switching) and the
        # virtual display's key map cannot be changed: key help gets a
        # second key here.
        box.write_run_settings(
            ["--load", "1=1", "--exit-after", "90"],
            keys='[[keys]]\nkey = "ctrl+alt+shift+y"\naction = "key_help"\n')
        box.start(env=self.env(box))
        self.wait_for(box, READY, 120)
        window = self.kelvo_window()
        self.wait_keys_live(box, window)
        self.press(window, "ctrl+alt+p")
        self.wait_for(box, "say: Deck 1 playing")
        self.assertIn("Deck 1 playing", self.spoken(box))

        # Key help describes instead of acting.
        self.press(window, "ctrl+alt+shift+y", "ctrl+alt+p")
        self.wait_for(box,
                      "say: ctrl alt p: play on or off on the current deck")
        self.press(window, "ctrl+alt+shift+y")
        self.wait_for(box, "say: Key help off")
        self.assertNotIn("say: Deck 1 paused", box.messages())

        # Holding a repeating key repeats it; holding play toggles once.
        before = len([r for r in box.trace_requests() if r["cmd"] == "set"])
        self.display.xdotool("windowfocus", window)
        self.display.xdotool("keydown", "ctrl+alt+Next")
        time.sleep(2.0)
        self.display.xdotool("keyup", "ctrl+alt+Next")
        time.sleep(1.5)
        volume_sets = [r for r in box.trace_requests()[before:]
                       if r["cmd"] == "set" and r.get("key") == "volume"]
        self.assertGreater(len(volume_sets), 1, volume_sets)
        before = len(box.trace_requests())
        self.display.xdotool("keydown", "ctrl+alt+p")
        time.sleep(2.0)
        self.display.xdotool("keyup", "ctrl+alt+p")
        time.sleep(1.5)
        play_sets = [r for r in box.trace_requests()[before:]
                     if r["cmd"] == "set" and r.get("key") == "play"]
        # Wine 8 ignores MOD_NOREPEAT (Windows honours it): there the key
        # repeats like any other.
        self.assertGreaterEqual(len(play_sets), 1, play_sets)

        box.kill_kelvo()
        done = box.finish(timeout=60)
        self.assertEqual(done.code, 0, done)
        self.assertEqual(box.messages()[-1], EXITING)

    def test_key_held_by_another_program_is_reported(self):
        self.assertEqual(self.hold_ctrl_alt_p(), b"registered")

        box = self.box(kelvo_args=["--exit-after", "90"])
        box.start(env=self.env(box))
        self.wait_for(box, READY, 120)
        self.kelvo_window()
        self.wait_for(box,
                      "say: 1 hotkeys are used by another program: "
                      "ctrl+alt+p", 30)
        messages = box.messages()
        self.assertEqual(
            messages.count("hotkey ctrl+alt+p is taken by another program"),
            1, messages)
        box.kill_kelvo()
        self.assertEqual(box.finish(timeout=60).code, 0)

    def test_second_instance_and_kelvo_closing(self):
        first = self.box(kelvo_args=["--exit-after", "90"])
        first.start(env=self.env(first))
        self.wait_for(first, READY, 120)
        with open(first.log_file, "rb") as f:
            log_before = f.read()
        second = self.box(kelvo_args=["--exit-after", "5"])
        second.roaming, second.local = first.roaming, first.local
        done = second.run(env=self.env(second), timeout=120)
        self.assertEqual(done.code, 1, done)
        self.assertIn("say: Orvalin is already running.", done.out)
        with open(first.log_file, "rb") as f:
            self.assertEqual(f.read(), log_before)
        self.assertEqual(second.trace_requests(), [])

        first.kill_kelvo()
        done = first.finish(timeout=60)
        self.assertEqual(done.code, 0, done)
        self.assertEqual(first.messages(), head(first) + [
            "Kelvo unknown version", "say: Starting Kelvo", "plugin loaded",
            READY, EXITING])
        self.assertIn("Orvalin ready.", self.spoken(first))
        self.assertIn("Orvalin is already running.", self.spoken(second))

    def test_old_qt_is_refused(self):
        box = self.box(qt="old", kelvo_args=["--exit-after", "5"])
        done = box.run(env=self.env(box), timeout=120)
        self.assertEqual(done.code, 1, done)
        messages = box.messages()
        self.assertEqual(messages[:len(head(box)) + 1],
                         head(box) + ["Kelvo unknown version"])
        self.assertTrue(messages[-2].startswith("stopped: "), messages)
        self.assertIn("6.4.3", messages[-2])
        self.assertEqual(messages[-1], "say: " + messages[-2][9:])
        self.assertEqual(box.trace_requests(), [])


if __name__ == "__main__":
    harness.main()
