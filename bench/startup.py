#!/usr/bin/env python3
"""Start-up time and idle cost of a whole Orvalin run against kelvosim.

    bench/startup.py [--build build/release] [--runs 10] [--idle-seconds 60]
                     [--slow-runs 5] [--slow-kelvo-seconds 10]

Start-up: from the moment the process is started until its ready message
reaches standard output, minus the time spent waiting for the plugin's
loaded signal (from "say: Starting Kelvo" to "plugin loaded" in the log,
which is the simulator's start plus the signal poll's grain). Reported as
the median and the worst of the runs.

A slow plugin: the time from "plugin loaded" to the ready message in the
log, against a simulator that delays each reply by its own random 0-300 ms
(replies overtaking each other), and one that answers one request at a
time, 20 ms each. Reported as the median and the worst of --slow-runs runs,
with the number of requests start-up sent (from the simulator's trace)
and how many watches were placed only after the ready message.

Idle: one run left alone after the ready message for --idle-seconds; the CPU
time (user + system) that Orvalin's process used meanwhile, as a share of one
core, its peak resident memory (VmHWM) at the end, and the requests it sent a
second meanwhile.

Natively only (Linux /proc). Every run uses its own temporary folders, and
holds the machine's lock for runs of a native orvalin (as the end-to-end
tests do): two at once would share the single-instance lock.
"""

import argparse
import fcntl
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

READY = "say: Orvalin ready."
LOG_LINE = re.compile(r"^\[ *(\d+\.\d{3})\] (.*)$")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Session:
    def __init__(self, build, kelvo_seconds, kelvo_args=()):
        self.root = tempfile.mkdtemp(prefix="orvalin-bench-")
        app = os.path.join(self.root, "app")
        os.makedirs(os.path.join(app, "plugins", "generic"))
        shutil.copy2(os.path.join(build, "orvalin"), app)
        open(os.path.join(app, "plugins", "generic", "liborvalin.so"),
             "wb").close()
        self.program = os.path.join(app, "orvalin")
        kelvo = os.path.join(self.root, "kelvo", "kelvo")
        os.makedirs(os.path.dirname(kelvo))
        shutil.copy2(os.path.join(build, "tools", "kelvosim", "kelvosim"),
                     kelvo)
        self.settings = os.path.join(self.root, "config", "orvalin",
                                     "config.toml")
        os.makedirs(os.path.dirname(self.settings))
        self.trace = os.path.join(self.root, "trace.jsonl")
        args = ["--exit-after", str(kelvo_seconds), "--trace",
                self.trace] + list(kelvo_args)
        with open(self.settings, "w") as f:
            f.write("[general]\nkelvo_path = %s\nkelvo_args = [%s]\n"
                    "port = %d\n" % (json.dumps(kelvo),
                                     ", ".join(json.dumps(a) for a in args),
                                     free_port()))
        self.log = os.path.join(self.root, "state", "orvalin", "app.log")
        self.env = dict(os.environ)
        # A fixed token gives the run the silent voice: the machine's own
        # speech-dispatcher is neither started nor timed here.
        self.env.update({"XDG_CONFIG_HOME": os.path.join(self.root, "config"),
                         "XDG_STATE_HOME": os.path.join(self.root, "state"),
                         "ORVALIN_TEST_TOKEN": "0123456789abcdef" * 2})
        for name in ("ORVALIN_TEST_ACTIONS", "SPEECHD_ADDRESS", "DISPLAY"):
            self.env.pop(name, None)

    def take_lock(self):
        """The machine-wide lock of whole native runs (single instance)."""
        self.lock = open(os.path.join(tempfile.gettempdir(),
                                      "orvalin-native-runs.lock"), "a")
        fcntl.flock(self.lock, fcntl.LOCK_EX)

    def start(self):
        self.take_lock()
        self.started = time.perf_counter()
        self.process = subprocess.Popen(
            [self.program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, env=self.env, start_new_session=True)

    def wait_ready(self):
        for raw in self.process.stdout:
            if raw.decode("utf-8", "replace").startswith(READY):
                return time.perf_counter() - self.started
        raise RuntimeError("no ready message")

    def log_times(self):
        """The first time each message was logged, by message."""
        times = {}
        with open(self.log, encoding="utf-8") as f:
            for line in f:
                match = LOG_LINE.match(line.rstrip("\n"))
                if match:
                    times.setdefault(match.group(2), float(match.group(1)))
        return times

    def plugin_wait_seconds(self):
        times = self.log_times()
        return times["plugin loaded"] - times["say: Starting Kelvo"]

    def loaded_to_ready_seconds(self):
        # The log may get the ready line a moment after standard output.
        for _ in range(100):
            times = self.log_times()
            ready = [t for m, t in times.items() if m.startswith(READY)]
            if ready:
                return ready[0] - times["plugin loaded"]
            time.sleep(0.05)
        raise RuntimeError("no ready message in the log")

    def wait_logged(self, message, timeout):
        """Whether `message` is logged within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if message in self.log_times():
                return True
            time.sleep(0.1)
        return False

    def failed_watches(self):
        return [m for m in self.log_times() if m.startswith("watch failed")]

    def requests(self):
        """Requests the simulator received so far, the hello included."""
        with open(self.trace, "rb") as f:
            return sum(1 for line in f if line.strip())

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks

    def peak_resident_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def end(self):
        # Orvalin ends by itself when the simulator exits; drain its output.
        self.process.stdout.read()
        code = self.process.wait(timeout=120)
        self.lock.close()
        shutil.rmtree(self.root, ignore_errors=True)
        return code


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--idle-seconds", type=float, default=60)
    parser.add_argument("--slow-runs", type=int, default=5)
    # How long the simulator of a slow run lives: longer than its start-up.
    parser.add_argument("--slow-kelvo-seconds", type=float, default=10)
    options = parser.parse_args()
    build = os.path.abspath(options.build)

    own = []
    waits = []
    for _ in range(options.runs):
        session = Session(build, kelvo_seconds=3)
        session.start()
        ready = session.wait_ready()
        wait = session.plugin_wait_seconds()
        if session.end() != 0:
            print("a run did not end with exit code 0", file=sys.stderr)
            return 1
        own.append((ready - wait) * 1000)
        waits.append(wait * 1000)
    print("start-up to ready, without the plugin wait: median %.1f ms, "
          "worst %.1f ms (%d runs; plugin wait median %.0f ms)" % (
              statistics.median(own), max(own), len(own),
              statistics.median(waits)))

    for name, args in (("random 0-300 ms a reply", ["--reply-delay-ms",
                                                     "0-300"]),
                       ("20 ms a reply, one at a time", ["--reply-delay-ms",
                                                         "20"])):
        times = []
        retried = []
        for _ in range(options.slow_runs):
            session = Session(build, options.slow_kelvo_seconds, args)
            session.start()
            session.wait_ready()
            # The time warnings' first poll comes a second after the ready
            # message: the trace holds start-up's requests alone.
            requests = session.requests()
            times.append(session.loaded_to_ready_seconds() * 1000)
            # A watch that start-up could not place in time (a plugin
            # answering one request at a time outlasts the reply wait with
            # start-up's requests) is tried again after the ready message;
            # the run fails only when one is still missing at its end.
            failed = session.failed_watches()
            retried.append(len(failed))
            placed = not failed or session.wait_logged(
                "start-up: every watch in place", options.slow_kelvo_seconds)
            if session.end() != 0 or not placed:
                print("a slow run failed: %s" % failed, file=sys.stderr)
                return 1
        print("plugin loaded to ready, %s: median %.0f ms, worst %.0f ms "
              "(%d runs, %d requests; watches placed after ready: at most "
              "%d)" % (name, statistics.median(times), max(times),
                       len(times), requests, max(retried)))

    if options.idle_seconds > 0:
        session = Session(build, kelvo_seconds=options.idle_seconds + 15)
        session.start()
        session.wait_ready()
        time.sleep(1)
        cpu_before = session.cpu_seconds()
        requests_before = session.requests()
        wall_before = time.perf_counter()
        time.sleep(options.idle_seconds)
        cpu = session.cpu_seconds() - cpu_before
        wall = time.perf_counter() - wall_before
        requests = session.requests() - requests_before
        peak = session.peak_resident_kib()
        code = session.end()
        print("idle for %.0f s: %.3f CPU seconds (%.3f %% of one core), "
              "peak resident %.1f MB, %.1f requests a second, exit code %d" % (
                  wall, cpu, 100 * cpu / wall, peak / 1024, requests / wall,
                  code))
    return 0


if __name__ == "__main__":
    sys.exit(main())
