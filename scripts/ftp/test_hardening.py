#!/usr/bin/env python3
"""End-to-end tests of what careless and hostile clients can do to the
real vrax program: overlong lines, aborts and vanishing mid-transfer,
sessions that vanish while the server waits for their data connection,
running out of descriptors and slow transfers.
(Connection limits and the idle timeout are tests of tests/ftp.)
"""

import os
import resource
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, Server, ServedVolume, eventually, make_image  # noqa: E402

A = b"hello from the volume\n"
LINGER_NOT = b"\x01\x00\x00\x00\x00\x00\x00\x00"  # close with a reset


def held(pid):
    """(threads, descriptors) of a process."""
    return (len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid)))


class Hostile(ServedVolume):
    # more than the loopback socket buffers hold, so a transfer of it is
    # still running when a test interrupts it
    files = {"a.txt": A, "huge.bin": b"H" * (24 * 1024 * 1024)}

    def abort(self, r):
        """Sends ABOR the way BSD-derived clients do (IAC IP, then IAC DM as
        urgent data); returns the next three replies."""
        r.sock.sendall(b"\xff\xf4\xff", socket.MSG_OOB)
        r.sock.sendall(b"\xf2", socket.MSG_OOB)
        r.send("ABOR\r\n")
        return [r.line(), r.line(), r.line()]

    def test_overlong_line_closes_without_reply(self):
        r = self.raw()
        r.send("X" * 300)
        self.assertTrue(r.closed_by_server())
        self.assertEqual(r.buffer, b"")

    def test_abor_during_retr(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR huge.bin"), "150 Opening data connection.")
        data.recv(1000)
        self.replies(r, [("PASV", "425 You're already connected."), ("REST 5", "501 Syntax error in arguments."),
                         ("PORT 127,0,0,1,4,1", "501 Syntax error in arguments.")])
        replies = self.abort(r)
        data.close()
        aborted = "426 Previous command has been finished abnormally."
        self.assertIn("550 Can 't Send File.", replies)
        self.assertLess(replies.index(aborted), replies.index("226 ABOR command successful."))
        self.assertEqual(r.transfer("RETR a.txt"), A)  # a new transfer works at once

    def test_abor_during_uploads(self):
        """A new file aborted leaves nothing; an aborted append keeps the old
        content (with or without the appended bytes)."""
        r = self.raw()
        r.transfer("STOR keep.txt", b"precious")
        for command, upload, sizes in (("STOR aborted.bin", b"z" * 100000, ["550 No such file."]),
                                       ("APPE keep.txt", b"more", ["213 8", "213 12"])):
            data = r.data_connection()
            self.assertEqual(r.cmd(command), "150 Opening data connection.")
            data.sendall(upload)
            time.sleep(0.2)
            replies = self.abort(r)
            data.close()
            self.assertIn("550 Can 't receive file.", replies)
            self.assertIn(r.cmd("SIZE " + command.split()[1]), sizes)

    def test_client_vanishes_mid_download(self):
        for _ in range(3):
            r = Raw(self.server.port).login()
            data = r.data_connection()
            r.send("RETR huge.bin\r\n")
            data.recv(1000)
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_NOT)
            data.close()
            r.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_NOT)
            r.close()
        self.assertEqual(self.raw().cmd("NOOP"), "200 NOOP Command Successful.")

    def test_client_vanishes_mid_upload(self):
        r = Raw(self.server.port).login()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR vanished.bin"), "150 Opening data connection.")
        data.sendall(b"v" * 50000)
        r.close()
        time.sleep(0.2)
        data.close()
        check = self.raw()
        self.assertTrue(eventually(lambda: check.cmd("SIZE vanished.bin"), "550 No such file."))


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
        self.assertTrue(eventually(lambda: held(pid), before), (before, held(pid)))
        # The passive ports came back: listings work for the next client.
        self.assertEqual(self.ftp().nlst(), ["a.txt"])


class Limits(ServedVolume):
    """-t bounds the idle time of a control connection, not of a transfer."""

    extra = ("-a", "-t=1")

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


class FewDescriptors(unittest.TestCase):
    def test_running_out_of_descriptors_only_pauses_accepting(self):
        # Under the sanitizers a thread start that fails for want of
        # resources trips a false report inside the standard library.
        linked = subprocess.run(["ldd", harness.TOOLS["vrax"]], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=30).stdout
        if b"libasan" in linked or b"libtsan" in linked or b"libubsan" in linked:
            self.skipTest("sanitizer build")
        work = tempfile.TemporaryDirectory(prefix="vrax-ftp-")
        self.addCleanup(work.cleanup)
        image = make_image(work.name, {"a.txt": b"x"}, "8M")
        server = Server(image, preexec=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24)))
        self.addCleanup(server.kill)
        server.start()
        crowd = []
        for _ in range(30):  # more than the server has descriptors for
            try:
                crowd.append(socket.create_connection(("127.0.0.1", server.port), timeout=2))
            except OSError:
                break  # the backlog is full as well
        self.assertGreater(len(crowd), 20)
        time.sleep(0.5)
        for s in crowd:
            s.close()
        r = Raw(server.port).login()
        self.assertEqual(r.cmd("SIZE a.txt"), "213 1")
        r.close()
        self.assertEqual(server.stop()[0], 0)


if __name__ == "__main__":
    harness.main(__doc__)
