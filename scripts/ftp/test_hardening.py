#!/usr/bin/env python3
"""End-to-end tests of what careless and hostile clients can hold of the
real vrax program: sessions that vanish while the server waits for their
data connection, connection limits and the idle timeout.

Usage: test_hardening.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import os
import shutil
import subprocess
import sys
import unittest
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, ServedVolume  # noqa: E402

SETTLE_SECONDS = 10.0


def held(pid):
    """(threads, descriptors) of a process."""
    return (len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid)))


def settles(probe, expected):
    """True when probe() returns `expected` within SETTLE_SECONDS."""
    deadline = time.monotonic() + SETTLE_SECONDS
    while probe() != expected:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class VanishedClients(ServedVolume):
    files = {"a.txt": b"a" * 100}

    def test_sessions_vanishing_in_a_data_wait_leave_nothing_behind(self):
        pid = self.server.process.pid
        before = held(pid)  # no client has connected yet
        sessions = 250
        for n in range(sessions):
            r = Raw(self.server.port).login()
            r.pasv()
            r.send("LIST\r\n" if n % 2 else "RETR a.txt\r\n")
            r.close()
        self.assertTrue(settles(lambda: held(pid), before), (before, held(pid)))
        # The passive ports came back: listings work for the next client.
        f = self.ftp()
        self.assertEqual(f.nlst(), ["a.txt"])


class Limits(ServedVolume):
    """-c bounds the connections, -t the idle time of a control connection."""

    extra = ("-a", "-c=3", "-t=1")

    def test_a_connection_over_the_limit_is_refused(self):
        kept = [Raw(self.server.port) for _ in range(3)]
        try:
            for r in kept:
                self.assertEqual(r.greeting, "220 Corvane Ftp Server.")
            over = Raw(self.server.port)
            self.assertEqual(over.greeting, "421 Too many connections")
            self.assertTrue(over.closed_by_server())
        finally:
            for r in kept:
                r.close()

    @unittest.skipIf(shutil.which("ss") is None, "ss is not installed")
    def test_the_accept_backlog_takes_bursts(self):
        out = subprocess.run(["ss", "-ltnH", "sport = :%d" % self.server.port],
                             stdout=subprocess.PIPE, check=True, timeout=20).stdout.decode()
        backlogs = [int(line.split()[2]) for line in out.splitlines() if line.strip()]
        self.assertTrue(backlogs)
        for backlog in backlogs:  # ss shows a listener's backlog as its Send-Q
            self.assertGreaterEqual(backlog, 128)

    def test_an_idle_connection_is_closed(self):
        r = self.raw()
        self.assertEqual(r.line(), "421 Timeout.")
        self.assertTrue(r.closed_by_server())

    def test_a_slow_transfer_is_not_an_idle_session(self):
        r = self.raw()
        data = r.data_connection()
        self.assertTrue(r.cmd("STOR slow.bin").startswith("150"))
        for _ in range(3):  # longer than the idle time in all
            data.sendall(b"s" * 1000)
            time.sleep(0.6)
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("SIZE slow.bin"), "213 3000")


if __name__ == "__main__":
    harness.main(__doc__)
