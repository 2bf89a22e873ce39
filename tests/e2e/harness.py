"""Runs the built program for end-to-end tests, natively or under Wine, in a
Sandbox of temporary settings and log folders. Standard library only.

Under Wine the program is run through Wine's shell, `wine-run cmd /c
run.bat`, with a batch file that sets APPDATA, LOCALAPPDATA and the like
before it starts orvalin.exe: Wine replaces the profile folder variables
given on the Linux side and drops every variable whose name starts with QT_.
Other variables pass through the Linux environment. Texts given to the batch
file must be ASCII without "%" or double quotes.
"""

import argparse
import contextlib
import dataclasses
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

# Variables that Wine sets itself (or drops) for a Windows program: they must
# be set inside Wine's shell.
_WINE_SHELL_VARIABLES = {
    "APPDATA", "LOCALAPPDATA", "USERPROFILE", "TEMP", "TMP", "ProgramW6432",
    "ProgramFiles", "ProgramFiles(x86)", "ProgramData", "PATH",
}


# What Wine's start.exe prints when Wine cannot start a program at all.
_WINE_COULD_NOT_START = b"Application could not be started"


def _is_shell_variable(name):
    return name in _WINE_SHELL_VARIABLES or name.upper().startswith("QT_")


@dataclasses.dataclass
class Completed:
    args: list
    code: int
    stdout: bytes
    stderr: bytes

    out = property(lambda self: self.stdout.decode("utf-8", "replace"))
    err = property(lambda self: self.stderr.decode("utf-8", "replace"))


class Started:
    def __init__(self, args, process, batch_dir, output_dir):
        self.args, self.process = args, process
        self._batch_dir, self._output_dir = batch_dir, output_dir

    def finish(self, timeout=60):
        """A Completed; an AssertionError, with the process group killed,
        after `timeout` seconds."""
        try:
            try:
                piped = self.process.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                kill_group(self.process)
                output = self._output(self.process.communicate())
                raise AssertionError("%r did not end within %s s; stdout "
                                     "%r, stderr %r" % (self.args, timeout,
                                                        *output))
        finally:
            if self._batch_dir:
                shutil.rmtree(self._batch_dir, ignore_errors=True)
        return Completed(self.args, self.process.returncode,
                         *self._output(piped))

    def _output(self, piped):
        if not self._output_dir:
            return [data or b"" for data in piped]
        return [read_bytes(os.path.join(self._output_dir, name))
                for name in ("stdout", "stderr")]


class Runner:
    def __init__(self, program, wine=None):
        self.program = os.path.abspath(program)
        self.wine = os.path.abspath(wine) if wine else None
        self.under_wine = wine is not None

    def host_path(self, path):
        """A Linux path as the program sees it (a Z: path under Wine)."""
        path = os.path.abspath(path)
        return "Z:" + path.replace("/", "\\") if self.under_wine else path

    def run(self, args, env=None, cwd=None, timeout=60, output_files=False):
        """A Completed. `env` values are in the program's path form, or None
        to remove a variable. With `output_files` the output goes to files:
        a child left running would hold a pipe open (under Wine every child
        holds the caller's output)."""
        done = self._run_once(args, env, cwd, timeout, output_files)
        if self.under_wine and done.code == 1 and \
                done.stdout.startswith(_WINE_COULD_NOT_START):
            # Seen once on a loaded machine, and not since: Wine could not
            # start orvalin.exe and handed it to its start.exe, which failed
            # too. The program never ran, so running it again hides nothing
            # of it.
            print("wine could not start the program; once more: %r" %
                  done.stdout, file=sys.stderr)
            done = self._run_once(args, env, cwd, timeout, output_files)
        return done

    def _run_once(self, args, env, cwd, timeout, output_files):
        with (tempfile.TemporaryDirectory(prefix="orvalin-output-")
              if output_files else contextlib.nullcontext()) as folder:
            return self.start(args, env=env, cwd=cwd,
                              output_dir=folder).finish(timeout)

    def start(self, args, env=None, cwd=None, output_dir=None):
        """The program in the background, a Started; its output goes to
        files "stdout" and "stderr" in `output_dir` if given (see run)."""
        env = dict(env or {})
        linux_env = dict(os.environ)
        for name, value in env.items():
            if self.under_wine and _is_shell_variable(name):
                continue
            if value is None:
                linux_env.pop(name, None)
            else:
                linux_env[name] = value
        # Wine's shell reads a batch file while it runs it: the file stays
        # until the run has ended.
        batch_dir = None
        command = [self.program] + list(args)
        if self.under_wine:
            text = self._batch(args, env).encode("ascii")
            batch_dir = tempfile.mkdtemp(prefix="orvalin-batch-")
            batch = write_file(os.path.join(batch_dir, "run.bat"), text)
            command = [self.wine, "cmd", "/c", self.host_path(batch)]
        outputs = [subprocess.PIPE] * 2
        if output_dir:
            outputs = [open(os.path.join(output_dir, name), "wb")
                       for name in ("stdout", "stderr")]
        try:
            process = subprocess.Popen(
                command, stdin=subprocess.DEVNULL, stdout=outputs[0],
                stderr=outputs[1], env=linux_env, cwd=cwd,
                start_new_session=True)
        except BaseException:
            if batch_dir:
                shutil.rmtree(batch_dir, ignore_errors=True)
            raise
        finally:
            if output_dir:
                for f in outputs:
                    f.close()
        return Started(list(args), process, batch_dir, output_dir)

    def _batch(self, args, env):
        # Not one `cmd /c` line: Wine would escape the quotes of arguments
        # with spaces in a way cmd does not undo.
        lines = ["@echo off"]
        for name, value in env.items():
            if _is_shell_variable(name):
                setting = "%s=%s" % (name, value or "")
                _check_batch_text([setting])
                lines.append('set "%s"' % setting)
        words = [self.host_path(self.program)] + list(args)
        _check_batch_text(words)
        lines.append(" ".join(_windows_quote(word) for word in words))
        lines.append("exit /b %errorlevel%")
        return "\r\n".join(lines) + "\r\n"

    def wine_command(self, *args, check=True, env=None):
        """`env` adds to the environment: the first Wine program of a prefix
        ties Wine's desktop to its display (DISPLAY)."""
        done = subprocess.run(
            [self.wine] + list(args), stdin=subprocess.DEVNULL,
            capture_output=True, timeout=60, env=dict(os.environ, **(env or {})))
        if check and done.returncode != 0:
            raise AssertionError("wine %r failed with %d: %r %r" % (
                args, done.returncode, done.stdout, done.stderr))
        return done

    def reg_add(self, key, name, data):
        self.wine_command("reg", "add", key, "/v", name, "/t", "REG_SZ",
                          "/d", data, "/f")

    def reg_delete(self, key, name=None):
        value = ["/v", name] if name is not None else []
        self.wine_command("reg", "delete", key, *value, "/f", check=False)


def _check_batch_text(lines):
    for line in lines:
        if any(c in line for c in '%"\r\n') or not line.isascii():
            raise ValueError("cannot pass %r through a batch file" % line)


def _windows_quote(word):
    # For cmd and for the C runtime's command-line parser.
    if word and not any(c in word for c in " \t&|<>^()"):
        return word
    # Backslashes before the closing quote are doubled; others stay.
    trailing = len(word) - len(word.rstrip("\\"))
    return '"' + word + "\\" * trailing + '"'


def kill_group(process):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGKILL)


def read_bytes(path, missing=None):
    """The file's bytes; `missing` when there is no file, if given."""
    if missing is not None and not os.path.exists(path):
        return missing
    with open(path, "rb") as f:
        return f.read()


def write_file(path, data, mode=None):
    """Writes `data` (text or bytes) to `path`, its folder made; `mode`: its
    permissions."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    if mode is not None:
        os.chmod(path, mode)
    return path


def processes(name, zombies=True):
    """This user's processes named `name` (letter case folded), as (id,
    command line) pairs; without `zombies`, the live ones only."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.stat("/proc/" + entry).st_uid != os.getuid():
                continue
            head, _, tail = read_bytes("/proc/%s/stat" % entry).decode(
                "utf-8", "replace").rpartition(")")
            if head.partition("(")[2].lower() != name or (
                    not zombies and tail.split()[0] == "Z"):
                continue
            found.append((int(entry), read_bytes("/proc/%s/cmdline" % entry)))
        except OSError:
            continue
    return found


def wait_until(check, timeout, step=0.05):
    """The last result of `check`, polled until true or `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(step)


class Background(contextlib.AbstractContextManager):
    """A server of the test's own in `process`; a context manager (so
    TestCase.enterContext stops it at the test's end)."""

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                kill_group(self.process)
                self.process.wait()


class VirtualDisplay(Background):
    """A private X server (Xvfb); stopping it ends the programs of its
    windows."""

    def __init__(self):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                 "-screen", "0", "1024x768x24"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        finally:
            os.close(write_end)
        # Xvfb writes its display number once it accepts connections.
        with os.fdopen(read_end, "rb", buffering=0) as f:
            number = f.readline()
        if not number.strip().isdigit():
            self.stop()
            raise AssertionError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def env(self):
        return {"DISPLAY": self.name}

    def xdotool(self, *args, check=True):
        done = subprocess.run(["xdotool"] + list(args),
                              env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError("xdotool %r: %r" % (args, done))
        return done.stdout.decode("utf-8", "replace").split()

    def wait_for_window(self, pattern, timeout=30, names=True):
        """The matching windows (their names, or their ids without `names`)
        once there is one; [] on timeout."""
        windows = wait_until(lambda: self.xdotool(
            "search", "--name", pattern, check=False), timeout, 0.2)
        if not names:
            return windows
        return [" ".join(self.xdotool("getwindowname", w, check=False))
                for w in windows]

    def window(self, name, timeout=120):
        """The id of the window named `name`, once there is one. A program
        started on a loaded machine may take long to show it."""
        windows = self.wait_for_window("^%s$" % name, timeout, names=False)
        if not windows:
            raise AssertionError("no %s window" % name)
        return windows[0]


class SpeechDaemon(Background):
    """A private speech-dispatcher in `folder`: its socket is there, and its
    one output module appends each sentence it speaks to `spoken.txt` (ALSA's
    null device stands in for a sound card). Clients reach it through env().
    """

    def __init__(self, folder):
        self.folder = folder
        self.socket = os.path.join(folder, "speechd.sock")
        self.spoken_file = os.path.join(folder, "spoken.txt")
        logs = os.path.join(folder, "log")
        os.makedirs(logs, exist_ok=True)
        write_file(os.path.join(folder, "speechd.conf"),
                   'CommunicationMethod "unix_socket"\nSocketPath "%s"\n'
                   'AddModule "file" "sd_generic" "file.conf"\n'
                   'DefaultModule file\nAudioOutputMethod "alsa"\n'
                   'LogDir "%s"\n' % (self.socket, logs))
        write_file(os.path.join(folder, "modules", "file.conf"),
                   "GenericExecuteSynth \"printf '%%s\\\\n' \\'$DATA\\' "
                   ">> %s\"\nGenericCmdDependency \"printf\"\n"
                   '%s' % (self.spoken_file, "".join(
                       # Text goes to the module as UTF-8 in every language
                       # (the generic module's default is ISO 8859-1).
                       'GenericLanguage "%s" "%s" "utf-8"\n'
                       'AddVoice "%s" "MALE1" "default"\n' % (code, code, code)
                       for code in ("en", "de", "es", "fr", "pt-BR", "zh"))))
        self.alsa = write_file(os.path.join(folder, "asound.conf"),
                               "pcm.!default { type null }\n")
        self.start()

    def start(self):
        """Starts the daemon (again, after stop()); its output file is
        kept."""
        if os.path.exists(self.socket):
            os.remove(self.socket)
        # -s: in the foreground, so that stop() ends it.
        self.process = subprocess.Popen(
            ["speech-dispatcher", "-s", "-P", os.path.join(self.folder, "pid"),
             "-C", self.folder, "-t", "600"],
            env=dict(os.environ, ALSA_CONFIG_PATH=self.alsa),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        if not wait_until(lambda: os.path.exists(self.socket), 30):
            self.stop()
            raise AssertionError("speech-dispatcher did not start")

    def env(self):
        return {"SPEECHD_ADDRESS": "unix_socket:" + self.socket}

    def spoken(self):
        """The messages spoken so far: the module writes a message sentence
        by sentence, each further sentence on a line starting with a
        space."""
        messages = []
        for line in read_bytes(self.spoken_file, b"").decode(
                "utf-8", "replace").split("\n"):
            if line.startswith(" ") and messages:
                messages[-1] += line
            elif line:
                messages.append(line)
        return messages


class Sandbox(contextlib.AbstractContextManager):
    """Temporary settings (APPDATA; natively XDG_CONFIG_HOME) and log
    (LOCALAPPDATA; natively XDG_STATE_HOME) folders, kept when
    ORVALIN_KEEP_SANDBOX is set."""

    def __init__(self, runner, prefix="orvalin-e2e-"):
        self.runner = runner
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.roaming = os.path.join(self.root, "roaming")
        self.local = os.path.join(self.root, "local")
        os.makedirs(self.roaming)
        os.makedirs(self.local)

    def __exit__(self, *exc):
        self.remove()

    def remove(self):
        if not os.environ.get("ORVALIN_KEEP_SANDBOX"):
            shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        """A path inside the sandbox (Linux form), its folder created."""
        full = os.path.join(self.root, *parts)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        return full

    def env(self, **extra):
        env = {"APPDATA": self.runner.host_path(self.roaming),
               "LOCALAPPDATA": self.runner.host_path(self.local)}
        if not self.runner.under_wine:
            env.update(XDG_CONFIG_HOME=self.roaming, XDG_STATE_HOME=self.local)
        env.update(extra)
        return env

    def no_kelvo_env(self):
        """Program folders (Wine) or a PATH (natively) of the sandbox's own,
        so that no Kelvo is found."""
        if not self.runner.under_wine:
            return {"PATH": os.path.dirname(self.path("bin", "x"))}
        return {n: self.runner.host_path(os.path.dirname(
            self.path("pf" + n[-3:], "x")))
            for n in ("ProgramW6432", "ProgramFiles", "ProgramFiles(x86)")}

    def run(self, args, env=None, **kwargs):
        return self.runner.run(args, env=self.env(**(env or {})), **kwargs)

    @property
    def settings_file(self):
        if not self.runner.under_wine:
            return os.path.join(self.roaming, "orvalin", "config.toml")
        return os.path.join(self.roaming, "Orvalin", "config.toml")

    @property
    def log_file(self):
        if not self.runner.under_wine:
            return os.path.join(self.local, "orvalin", "app.log")
        return os.path.join(self.local, "Orvalin", "logs", "app.log")

    def write_settings(self, content):
        write_file(self.settings_file, content)

    def read_settings(self):
        return read_bytes(self.settings_file)

    def messages(self, readers=False):
        """The log's messages in file order (none without a log); a message
        that spans several lines is one entry. The speech thread's lines on
        the screen readers ("speech: found ...", "speech: now ...") are left
        out unless `readers`: that thread writes them at its own pace, so
        their place among the other threads' lines varies."""
        text = read_bytes(self.log_file, b"").decode("utf-8", "replace")
        messages = []
        for line in text.split("\n"):
            match = _LOG_LINE.match(line)
            if match:
                messages.append(match.group(1))
            elif messages and line:
                messages[-1] += "\n" + line
        if readers:
            return messages
        return [m for m in messages if not _READER_LINE.match(m)]


_LOG_LINE = re.compile(r"^\[ *\d+\.\d{3}\] (.*)$")
_READER_LINE = re.compile(r"^speech: (found|now) ")


def builtin_config_text(source_dir):
    path = os.path.join(source_dir, "src", "config", "builtin.cpp")
    source = read_bytes(path).decode("utf-8")
    match = re.search(r'R"toml\((.*?)\)toml"', source, re.S)
    if not match:
        raise AssertionError("no built-in text found in " + path)
    return match.group(1).encode("utf-8")


def assert_new_settings(case, text, kelvo_line, wine):
    """That `text` is a new settings file: under Wine the built-in text with
    `kelvo_line` as its kelvo_path line (None: Kelvo not found, the line
    left), byte for byte; natively the same settings, with Linux's own
    comments (and an empty kelvo_path when Kelvo was not found)."""
    builtin = builtin_config_text(OPTIONS.source)
    default = b"kelvo_path = 'C:\\Program Files\\Kelvo\\kelvo.exe'"
    if wine:
        case.assertEqual(text, builtin.replace(default, kelvo_line or default))
        return
    expected = builtin.replace(default, kelvo_line or b'kelvo_path = ""')

    def settings(t):
        return [line for line in t.split(b"\n") if not line.startswith(b"#")]
    case.assertEqual(settings(text), settings(expected))
    case.assertIn(b"\n# This file is created on first run in "
                  b"~/.config/orvalin/config.toml\n", b"\n" + text)


class SandboxCase(unittest.TestCase):
    def setUp(self):
        self.runner = OPTIONS.runner()
        self.box = self.enterContext(Sandbox(self.runner))


class OwnWinePrefix:
    """Under Wine, the class's runs use a prefix of their own, named PREFIX,
    beside the program, made inside the first test's display: Wine's desktop
    process belongs to the X display of whoever started the prefix, and other
    tests sharing one use displays of their own."""

    PREFIX = None

    @classmethod
    def setUpClass(cls):
        if OPTIONS.wine:
            cls.old_prefix = os.environ.get("WINEPREFIX")
            os.environ["WINEPREFIX"] = os.path.join(
                os.path.dirname(os.path.abspath(OPTIONS.program)), cls.PREFIX)

    @classmethod
    def tearDownClass(cls):
        if OPTIONS.wine:
            subprocess.run(["wineserver", "-k"], capture_output=True,
                           timeout=60)
            if cls.old_prefix is None:
                os.environ.pop("WINEPREFIX", None)
            else:
                os.environ["WINEPREFIX"] = cls.old_prefix


class Options(argparse.Namespace):
    """program, source, wine and native_program, as main() reads them."""

    def runner(self):
        return Runner(self.program, wine=self.wine)

    def version(self):
        """The version the build was made with: the build's version.txt,
        beside the program."""
        folder = os.path.dirname(os.path.abspath(self.program))
        return read_bytes(os.path.join(folder, "version.txt")).decode().strip()

    def native_runner(self):
        if self.native_program and os.access(self.native_program, os.X_OK):
            return Runner(self.native_program)


OPTIONS = None


@contextlib.contextmanager
def native_runs_lock():
    """Holds the machine's lock for runs of a native orvalin. Two of them at
    once share the single-instance lock and the name of Kelvo's process, and
    the test suites of several builds run side by side (ctest's RESOURCE_LOCK
    only keeps one suite's runs apart)."""
    path = os.path.join(tempfile.gettempdir(), "orvalin-native-runs.lock")
    with open(path, "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield  # closing the file lets the lock go


def main():
    """Runs the script's cases; unknown arguments go to unittest."""
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True,
                        help="the built orvalin or orvalin.exe")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--wine", help="scripts/wine-run: run under Wine")
    parser.add_argument("--native-program",
                        help="a native orvalin to compare outputs with")
    OPTIONS, rest = parser.parse_known_args(sys.argv[1:], Options())
    # A case that runs itself again as another user does so inside its own
    # hold of the lock.
    held = os.environ.get("ORVALIN_NATIVE_RUNS_LOCKED") == "1"
    with (contextlib.nullcontext() if OPTIONS.wine or held
          else native_runs_lock()):
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
