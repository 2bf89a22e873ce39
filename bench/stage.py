#!/usr/bin/env python3
"""Orvalin on stage against a misbehaving Kelvo: a burst of play changes and
one over-long line from the plugin.

    bench/stage.py [--build build/linux] [--changes 100000] [--line-mib 64]

Burst: the simulator sends --changes changes of deck 1's play (1, 0, 1, ...,
ending paused). Reported: the time from the simulator's having written the
last change (its "kelvosim: fault sent" on standard error) to the settled
sentence "Deck 1 paused" on Orvalin's standard output, the number of
sentences spoken from the burst on, and Orvalin's peak resident memory
(VmHWM). Long line: one line of --line-mib MiB, then Orvalin's peak resident
memory once the line has been discarded.

Natively only (Linux /proc). Every run uses its own temporary folders.
"""

import argparse
import json
import os
import queue
import sys
import threading
import time

from startup import Session

SETTLED = "say: Deck 1 paused"
DISCARDED = "bridge: discarded a line longer than 1048576 bytes"


class StageSession(Session):
    def __init__(self, build, script):
        super().__init__(build, kelvo_seconds=120)
        with open(self.settings) as f:
            text = f.read()
        with open(self.settings, "w") as f:
            f.write(text.replace('kelvo_args = [', 'kelvo_args = ["--load", '
                                 '"1=1", '))
        self.env["ORVALIN_TEST_ACTIONS"] = script
        self.lines = queue.Queue()

    def start(self):
        import subprocess
        self.take_lock()
        self.process = subprocess.Popen(
            [self.program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=self.env, start_new_session=True)
        for stream in (self.process.stdout, self.process.stderr):
            threading.Thread(target=self._read, args=(stream,),
                             daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            self.lines.put((time.perf_counter(),
                            raw.decode("utf-8", "replace").rstrip("\n")))

    def wait_for(self, text, timeout=120):
        """(time, lines seen before) once a line equal to `text` comes."""
        seen = []
        deadline = time.perf_counter() + timeout
        while time.perf_counter() < deadline:
            try:
                at, line = self.lines.get(timeout=1)
            except queue.Empty:
                continue
            if line == text:
                return at, seen
            seen.append(line)
        raise RuntimeError("no %r; saw %r" % (text, seen[-20:]))

    def stop(self):
        """Ends Orvalin and the simulator it started (found by its path)."""
        self.process.kill()
        self.process.wait()
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    if f.read().startswith(self.root.encode()):
                        os.kill(int(entry), 9)
            except (OSError, ValueError):
                pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--changes", type=int, default=100000)
    parser.add_argument("--line-mib", type=int, default=64)
    options = parser.parse_args()
    build = os.path.abspath(options.build)

    session = StageSession(build, "set:[Kelvosim],burst=%d; sleep:100000" %
                           options.changes)
    session.start()
    session.wait_for("test: set [Kelvosim],burst=%d" % options.changes)
    sent, during = session.wait_for("kelvosim: fault sent")
    settled, between = session.wait_for(SETTLED)
    between = during + between
    time.sleep(2)  # anything more the burst would say
    after = []
    while not session.lines.empty():
        after.append(session.lines.get()[1])
    spoken = [l for l in between + [SETTLED] + after if l.startswith("say: ")]
    peak = session.peak_resident_kib()
    session.stop()
    print("burst of %d changes: settled sentence %.0f ms after the last "
          "change was sent; %d sentences spoken (%s); peak resident %.1f MB" %
          (options.changes, (settled - sent) * 1000, len(spoken),
           " / ".join(s[5:] for s in spoken), peak / 1024))

    session = StageSession(build, "set:[Kelvosim],long_line=%d; sleep:100000"
                           % (options.line_mib * 1024 * 1024))
    session.start()
    session.wait_for(DISCARDED)
    session.wait_for("kelvosim: fault sent")
    time.sleep(1)
    peak = session.peak_resident_kib()
    session.stop()
    print("one line of %d MiB: discarded; peak resident %.1f MB" %
          (options.line_mib, peak / 1024))
    return 0


if __name__ == "__main__":
    sys.exit(main())
