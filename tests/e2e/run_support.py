"""Set-up for scenarios of a whole run, natively (RunCase) and under Wine
(WineCase): the program copied beside its plugin file, the Kelvo simulator
installed as Kelvo and a settings file that points at it.

Natively Kelvo is `kelvo` and the plugin `plugins/generic/liborvalin.so`;
under Wine they are `kelvo.exe` and `plugins\\generic\\orvalin.dll`.
"""

import json
import os
import shutil
import signal
import socket
import stat
import subprocess
import time
import unittest

import harness

READY = ("say: Orvalin ready. Deck 1 selected. Control Alt F12 turns key "
         "help on or off.")
# Where the X server keeps Ctrl+Alt+F1..F12, key help is reached through the
# layer.
X11_READY = ("say: Orvalin ready. Deck 1 selected. Control Alt Shift Home, "
             "then F12, turns key help on or off.")
EXITING = "Kelvo closed, Orvalin exiting."
LOST = ("say: Lost the connection to Kelvo. Orvalin keys do nothing until "
        "Kelvo is started again.")
TOKEN = "0123456789abcdef0123456789abcdef"
HELLO = {"cmd": "hello", "id": 1, "token": TOKEN}  # the first request
# The program's waits for most runs (ORVALIN_TEST_TIMING): short, but in the
# order of the real ones, and long enough for the simulator's own delays
# (50 ms) and for the announcer to speak between two scripted key presses.
# A run made with real_timing=True keeps the real waits.
QUICK_TIMING = ",".join("%s=%d" % item for item in (
    ("pulse_hold", 5), ("report_delay", 60), ("marker_delay", 60),
    ("toggle_delay", 100), ("autodj_settle", 150), ("settle", 100),
    ("hotcue_settle", 20), ("track_settle", 50), ("plugin_poll", 50),
    ("plugin_limit", 5000), ("kelvo_watch", 100),
    ("reload_quiet", 200), ("time_warning_poll", 250), ("refusal_min", 300),
    ("refusal_per_14_bytes", 20), ("already_running", 300),
    ("speech_retry", 300), ("driver_start", 300), ("driver_key", 400)))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def toml_string(text):
    return json.dumps(text)  # a TOML basic string is JSON-compatible here


def build_dir(program):
    return os.path.dirname(os.path.abspath(program))


def kelvosim_program(program):
    exe = ".exe" if program.endswith(".exe") else ""
    path = os.environ.get("ORVALIN_KELVOSIM_NATIVE") if not exe else None
    return path or os.path.join(build_dir(program), "tools", "kelvosim",
                                "kelvosim" + exe)


class RunBox(harness.Sandbox):
    """A sandbox with the program, its plugin and Kelvo installed."""

    def __init__(self, runner, plugin=True, kelvo_args=(), settings=True,
                 real_timing=False):
        super().__init__(runner, prefix="orvalin-run-")
        wine = runner.under_wine
        self.exe = ".exe" if wine else ""
        program = self.path("app", "orvalin" + self.exe)
        self.app_dir = os.path.dirname(program)
        shutil.copy2(runner.program, program)
        # The copy runs, so that the plugin is searched beside it.
        self.runner = harness.Runner(program, wine=runner.wine)
        dll = os.path.join(os.path.dirname(runner.program),
                           "nvdaControllerClient.dll")
        if wine and os.path.exists(dll):
            shutil.copy2(dll, self.app_dir)
        self.plugin = os.path.join(
            self.app_dir, "plugins", "generic",
            "orvalin.dll" if wine else "liborvalin.so")
        if plugin:
            harness.write_file(self.plugin, b"not a real plugin\n")
        self.kelvo = self.path("kelvo", "kelvo" + self.exe)
        self.kelvo_dir = os.path.dirname(self.kelvo)
        shutil.copy2(kelvosim_program(runner.program), self.kelvo)
        os.chmod(self.kelvo, os.stat(self.kelvo).st_mode | stat.S_IXUSR)
        self.trace_file = os.path.join(self.root, "trace.jsonl")
        self.port = free_port()
        if settings:
            self.write_run_settings(kelvo_args)
        self.timing = None if real_timing else QUICK_TIMING
        self.process = None
        self.runs = 0

    def write_run_settings(self, kelvo_args, keys=""):
        args = ["--trace", self.runner.host_path(self.trace_file)] + list(
            kelvo_args)
        self.write_settings(
            "[general]\nkelvo_path = %s\nkelvo_args = [%s]\nport = %d\n%s" % (
                toml_string(self.runner.host_path(self.kelvo)),
                ", ".join(toml_string(a) for a in args), self.port, keys))

    def run(self, args=(), env=None, timeout=60):
        self.start(args, env)
        return self.finish(timeout)

    def start(self, args=(), env=None):
        env = self.env(**dict({"ORVALIN_TEST_TOKEN": TOKEN,
                               "ORVALIN_TEST_ACTIONS": None,
                               "ORVALIN_TEST_TIMING": self.timing},
                              **(env or {})))
        self.runs += 1
        # Output goes to files: a Kelvo left running would hold a pipe open.
        self.started_run = self.runner.start(
            list(args), env=env,
            output_dir=os.path.dirname(self.path("run%d" % self.runs, "x")))
        self.process = self.started_run.process
        return self.process

    def finish(self, timeout=60):
        return self.started_run.finish(timeout)

    def wait_for_message(self, message, timeout=60):
        """Whether `message` is logged within `timeout` (or by the end)."""
        harness.wait_until(lambda: message in self.messages() or (
            self.process is not None and self.process.poll() is not None),
            timeout)
        return message in self.messages()

    def trace(self):
        """Every line of the simulator's trace: the requests it got, and the
        keys that reached its window."""
        return [json.loads(line) for line in
                harness.read_bytes(self.trace_file, b"").splitlines()
                if line.strip()]

    def trace_requests(self):
        return [r for r in self.trace() if "window_key" not in r]

    def sets(self, key=None):
        """The set requests Kelvo got (of the control `key` only)."""
        return [r for r in self.trace_requests()
                if r["cmd"] == "set" and key in (None, r.get("key"))]

    def window_keys(self):
        """The keys that reached Kelvo's window (Windows: virtual-key codes;
        X11: keysym names)."""
        return [r["window_key"] for r in self.trace() if "window_key" in r]

    def kelvo_pids(self):
        """Processes running this sandbox's Kelvo."""
        traces = (self.trace_file.encode(),
                  self.runner.host_path(self.trace_file).encode())
        return [pid for pid, cmdline in harness.processes("kelvo" + self.exe)
                if any(trace in cmdline for trace in traces)]

    def kelvo_running(self):
        return bool(self.kelvo_pids())

    def wait_kelvo_gone(self, timeout=30):
        return harness.wait_until(lambda: not self.kelvo_pids(), timeout)

    def kill_kelvo(self):
        for pid in self.kelvo_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.wait_kelvo_gone(10)

    def remove(self):
        if self.process is not None and self.process.poll() is None:
            harness.kill_group(self.process)
            self.process.wait()
        self.kill_kelvo()
        super().remove()


class RunCase(unittest.TestCase):
    wine = False

    def setUp(self):
        if bool(harness.OPTIONS.wine) != self.wine:
            self.skipTest("Wine scenario" if self.wine else "native scenario")
        self.runner = harness.OPTIONS.runner()

    def skip_here(self, reason):
        """Skips a case this machine cannot run (a tool or a display
        missing), saying so where `make test` shows it: a skip for want of
        a compositor must not pass for a run that worked."""
        print("skipped here: %s: %s" % (self.id(), reason), flush=True)
        self.skipTest(reason)

    def box(self, **kwargs):
        return self.enterContext(RunBox(self.runner, **kwargs))

    def env(self, box, **extra):
        return extra

    def wait_for(self, box, message, timeout=60):
        self.assertTrue(box.wait_for_message(message, timeout),
                        (message, box.messages()))

    def start_until(self, box, message=READY, timeout=120, **env):
        """Starts the run with `env` added; returns once `message` is
        logged."""
        box.start(env=self.env(box, **env))
        self.wait_for(box, message, timeout)

    def said_after(self, box, act, start, daemon=None):
        """Does `act()`; the first sentence said after it that starts with
        `start`, without "say: ", heard whole by speech `daemon` if given."""
        before = len(box.messages())
        act()
        said = harness.wait_until(lambda: [
            m[len("say: "):] for m in box.messages()[before:]
            if m.startswith("say: " + start)], 30)
        self.assertTrue(said, (start, box.messages()[before:]))
        if daemon:  # the next key's answer would cut off what is being said
            self.assertTrue(harness.wait_until(
                lambda: said[0] in daemon.spoken(), 30), daemon.spoken())
        return said[0]

    def assert_heard(self, daemon, sentences, box):
        """That speech-dispatcher spoke `sentences` in order, in the end: its
        module writes a message sentence by sentence, so the whole list is
        waited for, not the last sentence."""
        def heard():
            return [s for s in daemon.spoken() if s in sentences]
        harness.wait_until(lambda: heard() == sentences, 30)
        self.assertEqual(heard(), sentences, (daemon.spoken(), [
            m for m in box.messages() if m.startswith(("say: ", "speech"))]))

    def background(self, command, env, **streams):
        """A helper program in a session of its own, ended with the test."""
        process = subprocess.Popen(
            command, env=dict(os.environ, **env), start_new_session=True,
            **dict(dict.fromkeys(("stdin", "stdout", "stderr"),
                                 subprocess.DEVNULL), **streams))
        self.addCleanup(lambda: (harness.kill_group(process), process.wait(),
                                 process.stdin and process.stdin.close(),
                                 process.stdout and process.stdout.close()))
        return process

    def end(self, box, after=None, timeout=60):
        """Closes Kelvo (once `after` is logged); the run must end with it,
        normally."""
        if after:
            self.wait_for(box, after, timeout)
        box.kill_kelvo()
        done = box.finish(timeout=60)
        self.assertEqual(done.code, 0, done)
        self.assertEqual(box.messages()[-1], EXITING)
        return done


class WineCase(harness.OwnWinePrefix, RunCase):
    """A run of orvalin.exe in a virtual X display of the test's own, with
    speech through the NVDA stub. Wine delivers no foreground-change events:
    every scenario keeps the simulator's window in front from the start."""

    wine = True
    PREFIX = "e2e-run-wineprefix"

    def setUp(self):
        super().setUp()
        for tool in ("Xvfb", "xdotool"):
            if shutil.which(tool) is None:
                self.skipTest(tool + " is missing")
        self.display = self.enterContext(harness.VirtualDisplay())

    def box(self, qt="fits", nvda_window=True, **kwargs):
        """With `nvda_window`, NVDA's main window is there from the start:
        the program speaks through the NVDA stub only while it is."""
        box = super().box(**kwargs)
        dll = os.path.join(build_dir(self.runner.program), "tests", "qtdlls",
                           qt, "Qt6Core.dll")
        if os.path.exists(dll):
            shutil.copy2(dll, box.kelvo_dir)
        box.stub_log = os.path.join(box.root, "nvda.log")
        if nvda_window:
            box.nvda_window = self.reader_window(box, "wxWindowClassNR",
                                                 "NVDA")
        return box

    def reader_window(self, box, class_name, title="-"):
        """A screen reader's main window (tools/nvdastub/readerwindow.c),
        there until its close()."""
        window = ReaderWindow(self.runner, self.display, box, class_name,
                              title)
        self.addCleanup(window.close)
        return window

    def env(self, box, **extra):
        return dict(self.display.env(), ORVALIN_NVDA_STUB_LOG=(
            self.runner.host_path(box.stub_log)), **extra)

    def spoken(self, box):
        return harness.read_bytes(box.stub_log, b"").decode("utf-8",
                                                            "replace")

    def press(self, window, *keys):
        self.display.xdotool("windowfocus", window)
        for key in keys:
            self.display.xdotool("key", key)
            time.sleep(1.0)

    def hold_ctrl_alt_p(self):
        """Starts another program that takes Ctrl+Alt+P for 60 s; its first
        line ("registered", or "failed" and the error)."""
        holder_program = os.path.join(build_dir(self.runner.program),
                                      "hotkeyholder.exe")
        if not os.path.exists(holder_program):
            self.skipTest("hotkeyholder.exe is not built")
        holder = self.background(
            [self.runner.wine, "cmd", "/c",
             self.runner.host_path(holder_program), "60"],
            self.display.env(), stdout=subprocess.PIPE)
        return holder.stdout.readline().strip()


class ReaderWindow:
    def __init__(self, runner, display, box, class_name, title):
        program = os.path.join(build_dir(runner.program), "readerwindow.exe")
        if not os.path.exists(program):
            raise AssertionError(program + " is not built")
        self.stop_file = box.path("windows", class_name + ".stop")
        self.process = subprocess.Popen(
            [runner.wine, "cmd", "/c", runner.host_path(program), class_name,
             title, runner.host_path(self.stop_file)],
            env=dict(os.environ, **display.env()), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        line = self.process.stdout.readline().strip()
        if line != b"ready":
            self.close()
            raise AssertionError("no %s window: %r" % (class_name, line))

    def close(self):
        """Closes the window and waits for its program to end."""
        if self.process.poll() is None:
            harness.write_file(self.stop_file, b"")
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                harness.kill_group(self.process)
                self.process.wait()
        self.process.stdout.close()


def own_errors(done):
    """Standard error lines of Orvalin itself (Kelvo shares the stream)."""
    return [line for line in done.err.splitlines()
            if not line.startswith("kelvosim:")]


def head(box, *more):
    """The log lines every run starts with, then `more`."""
    return ["Orvalin 1.0.0",
            "Configuration: " + box.runner.host_path(box.settings_file),
            "Kelvo: " + box.runner.host_path(box.kelvo)] + list(more)


def started(box, *more):
    """The log lines of a run up to the plugin loaded, then `more`."""
    return head(box, "Kelvo unknown version", "say: Starting Kelvo",
                "plugin loaded", *more)
