#!/usr/bin/env python3
"""What careless and hostile clients can do to the real vrax program.
(Connection limits and the idle timeout are tests of tests/ftp.)"""

import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, ServedVolume, eventually  # noqa: E402

A = b"hello from the volume\n"
LINGER_NOT = b"\x01\x00\x00\x00\x00\x00\x00\x00"  # close with a reset


def held(pid):
    return (len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid)))


class Hostile(ServedVolume):
    # more than the socket buffers hold: a transfer of it is still running when interrupted
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
        self.replies(r, [("PASV", "425 You're already connected."), ("RETR a.txt", "425 You're already connected."),
                         ("REST 5", "501 Syntax error in arguments."),
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
        for n in range(250):
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


if __name__ == "__main__":
    harness.main(__doc__)
