"""Runs the built program for end-to-end tests, natively or under Wine.

A scenario script builds a Runner from its command line (parse_options),
makes a Sandbox of temporary settings and log folders, runs the program with
arguments and environment, and checks the Completed result, the settings
file and the log. Standard library only.

Under Wine the program is run through Wine's shell, `wine-run cmd /c
run.bat`, with a batch file that sets APPDATA, LOCALAPPDATA and the like
before it starts orvalin.exe: Wine replaces the profile folder variables
given on the Linux side and drops every variable whose name starts with QT_.
Other variables pass through the Linux environment. Texts given to the batch
file must be ASCII without "%" or double quotes.
"""

import argparse
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
def _is_shell_variable(name):
    return name in _WINE_SHELL_VARIABLES or name.upper().startswith("QT_")


class Completed:
    """One finished run: exit code and the captured bytes of both streams."""

    def __init__(self, args, code, stdout, stderr):
        self.args = args
        self.code = code
        self.stdout = stdout
        self.stderr = stderr

    @property
    def out(self):
        return self.stdout.decode("utf-8", "replace")

    @property
    def err(self):
        return self.stderr.decode("utf-8", "replace")

    def __repr__(self):
        return "Completed(args=%r, code=%r, stdout=%r, stderr=%r)" % (
            self.args, self.code, self.stdout, self.stderr)


class TimedOut(AssertionError):
    pass


class Started:
    """A program started by Runner.start, in its own process group."""

    def __init__(self, args, process, batch_dir=None):
        self.args = args
        self.process = process
        self._batch_dir = batch_dir

    def finish(self, timeout=60):
        """Waits for the end and returns a Completed (output that went to
        files rather than pipes is empty here). Raises TimedOut after
        `timeout` seconds, with the program killed."""
        try:
            try:
                stdout, stderr = self.process.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.kill()
                stdout, stderr = self.process.communicate()
                raise TimedOut("%r did not end within %s s; stdout %r, "
                               "stderr %r" % (self.args, timeout, stdout,
                                              stderr))
        finally:
            self._remove_batch()
        return Completed(self.args, self.process.returncode, stdout or b"",
                         stderr or b"")

    def kill(self):
        """Kills the whole process group (Wine's shell and the program)."""
        _kill_group(self.process)

    def _remove_batch(self):
        if self._batch_dir:
            shutil.rmtree(self._batch_dir, ignore_errors=True)
            self._batch_dir = None


class Runner:
    """Runs one build's program: natively, or a .exe through scripts/wine-run."""

    def __init__(self, program, wine=None, display=False):
        self.program = os.path.abspath(program)
        self.wine = os.path.abspath(wine) if wine else None
        # Start the program inside a virtual X display (xvfb-run -a), for
        # runs that open windows.
        self.display = display

    @property
    def under_wine(self):
        return self.wine is not None

    def host_path(self, path):
        """A Linux path as the program sees it (a Z: path under Wine)."""
        path = os.path.abspath(path)
        if not self.under_wine:
            return path
        return "Z:" + path.replace("/", "\\")

    def run(self, args, env=None, cwd=None, timeout=60, display=None,
            output_files=False):
        """Runs the program with `args` to its end and returns a Completed.

        `env` maps variable names to values (already in the program's path
        form, see host_path) or to None to remove the variable. The program
        always gets a fresh copy of this process's environment plus `env`.
        Raises TimedOut after `timeout` seconds (the program is killed).
        With `output_files` the output is caught in files rather than pipes,
        for programs that leave a child running that would hold a pipe open
        (under Wine every child holds the caller's output open).
        """
        if not output_files:
            started = self.start(args, env=env, cwd=cwd, display=display)
            return started.finish(timeout)
        folder = tempfile.mkdtemp(prefix="orvalin-output-")
        try:
            out_path = os.path.join(folder, "stdout")
            err_path = os.path.join(folder, "stderr")
            with open(out_path, "wb") as out, open(err_path, "wb") as err:
                started = self.start(args, env=env, cwd=cwd, display=display,
                                     stdout=out, stderr=err)
            done = started.finish(timeout)
            with open(out_path, "rb") as out, open(err_path, "rb") as err:
                return Completed(done.args, done.code, out.read(), err.read())
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def start(self, args, env=None, cwd=None, display=None,
              stdout=subprocess.PIPE, stderr=subprocess.PIPE):
        """Starts the program in the background and returns a Started.

        Arguments as for run(). `stdout` and `stderr` may be open files
        instead of pipes: a program that leaves a child running (Kelvo, an
        editor) would otherwise hold the pipe open after it ended.
        """
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
        if self.under_wine:
            text = self._batch(args, env)
            batch_dir = tempfile.mkdtemp(prefix="orvalin-batch-")
            batch = os.path.join(batch_dir, "run.bat")
            with open(batch, "wb") as f:
                f.write(text.encode("ascii"))
            command = [self.wine, "cmd", "/c", self.host_path(batch)]
        else:
            command = [self.program] + list(args)
        if self.display if display is None else display:
            command = ["xvfb-run", "-a"] + command
        try:
            process = subprocess.Popen(
                command, stdin=subprocess.DEVNULL, stdout=stdout,
                stderr=stderr, env=linux_env, cwd=cwd,
                start_new_session=True)
        except BaseException:
            if batch_dir:
                shutil.rmtree(batch_dir, ignore_errors=True)
            raise
        return Started(list(args), process, batch_dir)

    def _batch(self, args, env):
        """A batch file that sets the shell variables and runs the program.

        A batch file rather than one `cmd /c` line: Wine would escape the
        quotes of arguments with spaces in a way cmd does not undo.
        """
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

    def wine_command(self, *args, check=True, timeout=60):
        """Runs a Wine command in the test prefix (e.g. "reg", "add", ...)."""
        if not self.under_wine:
            raise RuntimeError("not running under Wine")
        done = subprocess.run(
            [self.wine] + list(args), stdin=subprocess.DEVNULL,
            capture_output=True, timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError("wine %r failed with %d: %r %r" % (
                args, done.returncode, done.stdout, done.stderr))
        return done

    def reg_add(self, key, name, data, kind="REG_SZ"):
        """Sets a registry value in the Wine prefix."""
        self.wine_command("reg", "add", key, "/v", name, "/t", kind, "/d",
                          data, "/f")

    def reg_delete(self, key, name=None):
        """Deletes a registry key (or one value); a missing key is fine."""
        args = ["reg", "delete", key]
        if name is not None:
            args += ["/v", name]
        self.wine_command(*args, "/f", check=False)


def _check_batch_text(lines):
    for line in lines:
        if any(c in line for c in '%"\r\n') or not line.isascii():
            raise ValueError("cannot pass %r through a batch file" % line)


def _windows_quote(word):
    """Quotes one argument (without quotes of its own) for cmd and for the C
    runtime's command-line parser."""
    if word and not any(c in word for c in " \t&|<>^()"):
        return word
    # Backslashes before the closing quote are doubled; others stay.
    trailing = len(word) - len(word.rstrip("\\"))
    return '"' + word + "\\" * trailing + '"'


def _kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


class VirtualDisplay:
    """A private X server (Xvfb) for runs that open windows.

    Pass env() to the program; stopping the server (leaving the `with`
    block) ends the windows' programs with it.
    """

    def __init__(self, timeout=30):
        read_end, write_end = os.pipe()
        try:
            self.server = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                 "-screen", "0", "1024x768x24"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        finally:
            os.close(write_end)
        # Xvfb writes its display number once it accepts connections.
        number = b""
        deadline = time.monotonic() + timeout
        with os.fdopen(read_end, "rb", buffering=0) as f:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = f.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            self.stop()
            raise AssertionError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def env(self):
        return {"DISPLAY": self.name}

    def window_names(self, pattern="."):
        """Names of the windows whose name matches the regular expression."""
        env = dict(os.environ, DISPLAY=self.name)
        found = subprocess.run(["xdotool", "search", "--name", pattern],
                               env=env, capture_output=True, timeout=30)
        names = []
        for window in found.stdout.split():
            name = subprocess.run(["xdotool", "getwindowname", window],
                                  env=env, capture_output=True, timeout=30)
            if name.returncode == 0:
                names.append(name.stdout.decode("utf-8", "replace").strip())
        return names

    def wait_for_window(self, pattern, timeout=30):
        """The names of matching windows once there is one; [] on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            names = self.window_names(pattern)
            if names or time.monotonic() >= deadline:
                return names
            time.sleep(0.2)

    def stop(self):
        if self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()


class Sandbox:
    """Temporary settings (APPDATA) and log (LOCALAPPDATA) folders.

    Use as a context manager; the folder is removed afterwards unless the
    variable ORVALIN_KEEP_SANDBOX is set.
    """

    def __init__(self, runner, prefix="orvalin-e2e-"):
        self.runner = runner
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.roaming = os.path.join(self.root, "roaming")
        self.local = os.path.join(self.root, "local")
        os.makedirs(self.roaming)
        os.makedirs(self.local)

    def __enter__(self):
        return self

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
        """The variables that point the program at this sandbox, plus extra."""
        env = {"APPDATA": self.runner.host_path(self.roaming),
               "LOCALAPPDATA": self.runner.host_path(self.local)}
        env.update(extra)
        return env

    def run(self, args, env=None, **kwargs):
        """Runner.run with this sandbox's folders (env adds to them)."""
        return self.runner.run(args, env=self.env(**(env or {})), **kwargs)

    @property
    def settings_file(self):
        return os.path.join(self.roaming, "Orvalin", "config.toml")

    @property
    def log_file(self):
        return os.path.join(self.local, "Orvalin", "logs", "app.log")

    def write_settings(self, content):
        """Writes config.toml (text is written as UTF-8 bytes unchanged)."""
        if isinstance(content, str):
            content = content.encode("utf-8")
        os.makedirs(os.path.dirname(self.settings_file), exist_ok=True)
        with open(self.settings_file, "wb") as f:
            f.write(content)

    def read_settings(self):
        with open(self.settings_file, "rb") as f:
            return f.read()

    def read_log(self):
        """The log's entries as (seconds, message) pairs, in file order.

        A message that spans several lines is one entry.
        """
        with open(self.log_file, "rb") as f:
            return parse_log(f.read().decode("utf-8", "replace"))

    def log_messages(self):
        return [message for _, message in self.read_log()]


_LOG_LINE = re.compile(r"^\[ *(\d+\.\d{3})\] (.*)$")


def parse_log(text):
    entries = []
    for line in text.split("\n"):
        match = _LOG_LINE.match(line)
        if match:
            entries.append((float(match.group(1)), match.group(2)))
        elif entries and line:
            seconds, message = entries[-1]
            entries[-1] = (seconds, message + "\n" + line)
    return entries


def builtin_config_text(source_dir):
    """The built-in configuration text, as the program carries it."""
    path = os.path.join(source_dir, "src", "config", "builtin.cpp")
    with open(path, "rb") as f:
        source = f.read().decode("utf-8")
    match = re.search(r'R"toml\((.*?)\)toml"', source, re.S)
    if not match:
        raise AssertionError("no built-in text found in " + path)
    return match.group(1).encode("utf-8")


class Options:
    """What a scenario script was given on its command line."""

    def __init__(self, program, source, wine=None, native_program=None):
        self.program = program
        self.source = source
        self.wine = wine
        self.native_program = native_program

    def runner(self, display=False):
        return Runner(self.program, wine=self.wine, display=display)

    def version(self):
        """The version the build was made with: the build's version.txt,
        beside the program."""
        folder = os.path.dirname(os.path.abspath(self.program))
        with open(os.path.join(folder, "version.txt")) as f:
            return f.read().strip()

    def native_runner(self):
        """A Runner of the native build given with --native-program, or None
        when there is none."""
        if self.native_program and os.access(self.native_program, os.X_OK):
            return Runner(self.native_program)
        return None


OPTIONS = None


def parse_options(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True,
                        help="the built orvalin or orvalin.exe")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--wine", help="scripts/wine-run: run under Wine")
    parser.add_argument("--native-program",
                        help="a native orvalin to compare outputs with")
    options, rest = parser.parse_known_args(argv)
    return Options(options.program, options.source, options.wine,
                   options.native_program), rest


def main():
    """Runs the calling script's unittest cases with the harness options.

    The options are in harness.OPTIONS; the remaining arguments go to
    unittest (for example a test name).
    """
    global OPTIONS
    OPTIONS, rest = parse_options(sys.argv[1:])
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
