"""One instance at a time (with the real waits), a lost plugin connection
that does not end the run (also one lost during start-up), and a port taken
before Kelvo listens."""

import os
import socket
import threading
import time

import harness
from run_support import (EXITING, HELLO, LOST, READY, RunCase, own_errors,
                         started)


class Lifecycle(RunCase):
    def test_second_instance_is_refused_and_leaves_the_first_alone(self):
        first = self.box(kelvo_args=["--exit-after", "60"], real_timing=True)
        self.start_until(first, timeout=60)
        log_before = harness.read_bytes(first.log_file)

        # The second one shares the settings and log folders of the first.
        second = self.box(kelvo_args=["--exit-after", "2"], real_timing=True)
        second.roaming, second.local = first.roaming, first.local
        begun = time.monotonic()
        done = second.run()
        self.assertEqual(done.code, 1, done)
        self.assertEqual(done.out, "say: Orvalin is already running.\n")
        self.assertGreaterEqual(time.monotonic() - begun, 3)
        self.assertEqual(harness.read_bytes(first.log_file), log_before)

        self.end(first)

    def test_lost_connection_keeps_orvalin_running_until_kelvo_exits(self):
        # Start-up takes about 160 requests, the time warnings five a
        # second: the plugin hangs up a few seconds into the run, while
        # Kelvo runs on for 12 seconds.
        box = self.box(kelvo_args=["--close-after", "175", "--exit-after",
                                   "12"])
        self.start_until(box, "test: done", 60, ORVALIN_TEST_ACTIONS=(
            "sleep:6000;log:[Channel1],play;ctrl+alt+p"))
        self.assertIsNone(box.process.poll())
        self.assertTrue(box.kelvo_running())
        done = box.finish(timeout=60)
        self.assertEqual(done.code, 0, done)
        messages = box.messages()
        self.assertIn("test: [Channel1],play=?", messages)
        self.assertEqual(own_errors(done), [])
        self.assertEqual(messages[-1], EXITING)
        self.assertEqual(len(box.trace_requests()), 175)

    def test_connection_lost_during_start_up_is_told_instead_of_ready(self):
        # The plugin hangs up in the middle of start-up's watches.
        box = self.box(kelvo_args=["--close-after", "40"])
        self.start_until(box, LOST, 60,
                         ORVALIN_TEST_ACTIONS="sleep:500; ctrl+alt+p")
        self.end(box, "say: Not connected to Kelvo")
        messages = box.messages()
        self.assertNotIn(READY, messages)
        self.assertEqual(messages.count(LOST), 1, messages)

    def test_a_listener_on_every_address_first_never_gets_the_token(self):
        # Another program listens on [::], taking 127.0.0.1 too, before Kelvo
        # can; it lets the port go after the first connection, and Kelvo
        # listens as soon as it is free.
        box = self.box(kelvo_args=["--listen-when-free", "--exit-after",
                                   "60"])
        if not socket.has_dualstack_ipv6():
            self.skipTest("no dual-stack IPv6 sockets here")
        squatter = socket.create_server(("::", box.port),
                                        family=socket.AF_INET6,
                                        dualstack_ipv6=True)
        received = []

        def serve():
            with squatter:
                connection, _ = squatter.accept()
                with connection:
                    connection.settimeout(30)
                    while chunk := connection.recv(4096):
                        received.append(chunk)

        thread = threading.Thread(target=serve, daemon=True)
        thread.start()
        self.start_until(box, timeout=60)
        thread.join(30)
        self.assertFalse(thread.is_alive())
        self.assertEqual(received, [])
        refusal = ("port %d is held by another program (process %d); not "
                   "sending the token" % (box.port, os.getpid()))
        expected = started(box, refusal)
        self.assertEqual(box.messages()[:len(expected)], expected)
        self.assertEqual(box.trace_requests()[0], HELLO)
        self.end(box)


if __name__ == "__main__":
    harness.main()
