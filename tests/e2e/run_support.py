"""Set-up for scenarios of a whole run: the program copied into a folder with
its plugin file, the Kelvo simulator installed as Kelvo, a settings file that
points at it, and helpers to start the program in the background, wait for
log lines and clean up every Kelvo a scenario started.

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

import harness

READY = ("say: Orvalin ready. Deck 1 selected. Control Alt F12 turns key "
         "help on or off.")
EXITING = "Kelvo closed, Orvalin exiting."
TOKEN = "0123456789abcdef0123456789abcdef"


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

    def __init__(self, runner, plugin=True, kelvo_args=(), port=None,
                 settings=True, prefix="orvalin-run-"):
        super().__init__(runner, prefix=prefix)
        wine = runner.under_wine
        self.exe = ".exe" if wine else ""
        self.app_dir = os.path.join(self.root, "app")
        os.makedirs(self.app_dir)
        program = os.path.join(self.app_dir, "orvalin" + self.exe)
        shutil.copy2(runner.program, program)
        # The copy runs, so that the plugin is searched beside it.
        self.runner = harness.Runner(program, wine=runner.wine,
                                     display=runner.display)
        if wine:
            for dll in ("nvdaControllerClient.dll",):
                source = os.path.join(os.path.dirname(runner.program), dll)
                if os.path.exists(source):
                    shutil.copy2(source, self.app_dir)
        self.plugin = os.path.join(
            self.app_dir, "plugins", "generic",
            "orvalin.dll" if wine else "liborvalin.so")
        if plugin:
            os.makedirs(os.path.dirname(self.plugin))
            with open(self.plugin, "wb") as f:
                f.write(b"not a real plugin\n")
        self.kelvo_dir = os.path.join(self.root, "kelvo")
        os.makedirs(self.kelvo_dir)
        self.kelvo = os.path.join(self.kelvo_dir, "kelvo" + self.exe)
        shutil.copy2(kelvosim_program(runner.program), self.kelvo)
        os.chmod(self.kelvo, os.stat(self.kelvo).st_mode | stat.S_IXUSR)
        self.trace = os.path.join(self.root, "trace.jsonl")
        self.port = port or free_port()
        if settings:
            self.write_run_settings(kelvo_args)
        self.process = None

    def kelvo_args(self, *extra):
        return ["--trace", self.runner.host_path(self.trace)] + list(extra)

    def write_run_settings(self, kelvo_args, keys=""):
        args = self.kelvo_args(*kelvo_args)
        self.write_settings(
            "[general]\nkelvo_path = %s\nkelvo_args = [%s]\nport = %d\n%s" % (
                toml_string(self.runner.host_path(self.kelvo)),
                ", ".join(toml_string(a) for a in args), self.port, keys))

    def run_env(self, **extra):
        env = {"ORVALIN_TEST_TOKEN": TOKEN, "ORVALIN_TEST_ACTIONS": None}
        env.update(extra)
        return env

    def run(self, args=(), env=None, timeout=60):
        """Runs the program to its end; a Completed.

        Its output goes to files rather than pipes: a Kelvo that it leaves
        running inherits them and would hold a pipe open.
        """
        self.start(args, env)
        return self.finish(timeout)

    def start(self, args=(), env=None):
        """Starts the program in the background; see finish()."""
        env = self.env(**self.run_env(**(env or {})))
        self.runs = getattr(self, "runs", 0) + 1
        self.out_path = os.path.join(self.root, "stdout%d.txt" % self.runs)
        self.err_path = os.path.join(self.root, "stderr%d.txt" % self.runs)
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.started_run = self.runner.start(list(args), env=env,
                                                 stdout=out, stderr=err)
        self.process = self.started_run.process
        self.started = time.monotonic()
        return self.process

    def finish(self, timeout=60):
        """Waits for the background program; a Completed."""
        process = self.process
        try:
            self.started_run.finish(timeout)
        except harness.TimedOut:
            raise harness.TimedOut("still running after %s s: %r %r" % (
                timeout, self._read(self.out_path), self._read(self.err_path)))
        return harness.Completed([], process.returncode,
                                 self._read(self.out_path),
                                 self._read(self.err_path))

    @staticmethod
    def _read(path):
        with open(path, "rb") as f:
            return f.read()

    def messages(self):
        if not os.path.exists(self.log_file):
            return []
        return self.log_messages()

    def wait_for_message(self, message, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if message in self.messages():
                return True
            if self.process is not None and self.process.poll() is not None:
                return message in self.messages()
            time.sleep(0.05)
        return False

    def trace_requests(self):
        if not os.path.exists(self.trace):
            return []
        with open(self.trace, "rb") as f:
            return [json.loads(line) for line in f.read().splitlines()
                    if line.strip()]

    def kelvo_pids(self):
        """Processes running this sandbox's Kelvo."""
        if self.runner.under_wine:
            names = {"kelvo.exe"}
        else:
            names = {"kelvo"}
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/comm" % entry) as f:
                    comm = f.read().strip()
                if comm.lower() not in names:
                    continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read()
            except OSError:
                continue
            if self.trace.encode() in cmdline or self.runner.host_path(
                    self.trace).encode() in cmdline:
                pids.append(int(entry))
        return pids

    def kelvo_running(self):
        return bool(self.kelvo_pids())

    def wait_kelvo_gone(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.kelvo_pids():
                return True
            time.sleep(0.05)
        return False

    def kill_kelvo(self):
        for pid in self.kelvo_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.wait_kelvo_gone(10)

    def remove(self):
        if self.process is not None and self.process.poll() is None:
            harness._kill_group(self.process)
            self.process.wait()
        self.kill_kelvo()
        super().remove()


def start_fake_kelvo(box, *args):
    """Another Kelvo started by hand (not by Orvalin), from its own folder."""
    folder = os.path.join(box.root, "other")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, os.path.basename(box.kelvo).upper())
    shutil.copy2(box.kelvo, path)
    command = [path, "--port", "0", "--trace", box.trace] + list(args)
    return subprocess.Popen(command, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL,
                            start_new_session=True)


def own_errors(done):
    """Standard error lines of Orvalin itself (Kelvo shares the stream)."""
    return [line for line in done.err.splitlines()
            if not line.startswith("kelvosim:")]


def head(box):
    """The log lines every run starts with."""
    return ["Orvalin 1.0.0",
            "Configuration: " + box.runner.host_path(box.settings_file),
            "Kelvo: " + box.runner.host_path(box.kelvo)]
