#!/usr/bin/env python3
"""End-to-end tests of vrax with real FTP clients on real volume images.

Usage: test_clients.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import argparse
import ftplib
import io
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, Server, Workspace, make_image, check_image, read_all  # noqa: E402

BIG = bytes((i * 7 + i // 251) & 255 for i in range(3 * 1024 * 1024 + 123))
FILES = {
    "a.txt": b"hello from the volume\n",
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "docs/inner/": b"",
    "big.bin": BIG,
    "thousand.bin": bytes(i & 255 for i in range(1000)),
    ".hidden": b"not listed\n",
    # more than the loopback socket buffers hold, so a transfer of it is
    # still running when a test interrupts it
    "huge.bin": b"H" * (24 * 1024 * 1024),
}
for n in range(300):
    FILES["many/f%03d.txt" % n] = ("file %d\n" % n).encode()


class ServedVolume(harness.ServedVolume):
    files = FILES


class ControlReplies(ServedVolume):
    """Exact replies on the control connection."""

    def test_greeting_and_login(self):
        r = self.raw(login=False)
        self.assertEqual(r.greeting, "220 Corvane Ftp Server.")
        self.assertEqual(r.cmd("NOOP"), "530 Please login with USER and PASS.")
        self.assertEqual(r.cmd("BOGUS"), "530 Please login with USER and PASS.")
        self.assertEqual(r.cmd("USER"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("USER nobody"), "331 Password required for this user.")
        self.assertEqual(r.cmd("PASS x"), "530 Please login with valid USER and PASS.")
        self.assertEqual(r.cmd("USER U"), "331 Password required for this user.")
        self.assertEqual(r.cmd("PASS P"), "530 Please login with valid USER and PASS.")
        self.assertEqual(r.cmd("PASS"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("PASS p"), "230 User Logged In.")
        self.assertEqual(r.cmd("NOOP"), "200 NOOP Command Successful.")
        self.assertEqual(r.cmd("QUIT"), "221 Goodbye.")
        self.assertTrue(r.closed_by_server())

    def test_quit_before_login(self):
        r = self.raw(login=False)
        self.assertEqual(r.cmd("quit"), "221 Goodbye.")
        self.assertTrue(r.closed_by_server())

    def test_anonymous_login_any_case(self):
        r = self.raw(login=False)
        self.assertEqual(r.cmd("user Anonymous"), "230 User Logged In.")
        self.assertEqual(r.cmd("PASS whatever"), "230 User Logged In.")
        self.assertEqual(r.cmd("PWD"), '257 "/" is current directory.')
        # anonymous may not upload or delete
        self.assertEqual(r.cmd("DELE a.txt"), "550 Permission denied.")
        self.assertEqual(r.cmd("MKD x"), "550 Permission denied.")
        self.assertEqual(r.cmd("RMD docs"), "550 Permission denied.")
        self.assertEqual(r.cmd("STOR x"), "550 Permission denied.")
        self.assertEqual(r.cmd("RNFR a.txt"), "550 Permission denied.")
        # another account's name logs the client out
        self.assertEqual(r.cmd("USER u"), "331 Password required for this user.")
        self.assertEqual(r.cmd("NOOP"), "530 Please login with USER and PASS.")
        self.assertEqual(r.cmd("PASS p"), "230 User Logged In.")

    def test_simple_commands(self):
        r = self.raw()
        self.assertEqual(r.cmd("SYST"), "215 UNIX Type: L8")
        self.assertEqual(r.cmd("ALLO 10"), "200 ALLO Command Successful.")
        self.assertEqual(r.cmd("FOO"), "500 Command not understood.")
        self.assertEqual(r.cmd("STRU"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("STRU F"), "200 STRU Command Successful.")
        self.assertEqual(r.cmd("STRU f"), "504 STRU failled. Parametre not implemented")
        self.assertEqual(r.cmd("MODE S"), "200 Mode set to S.")
        self.assertEqual(r.cmd("MODE C"), "502 MODE non-implemented.")
        self.assertEqual(r.cmd("MODE B"), '504 "B": Unsupported transfer MODE.')
        self.assertEqual(r.cmd("TYPE"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("TYPE a"), "550 Error - unknown transfer mode.")
        self.assertEqual(r.cmd("TYPE A N"), "200 ASCII transfer mode active.")
        self.assertEqual(r.cmd("TYPE I"), "200 Binary transfer mode active.")
        self.assertEqual(r.cmd("STAT"), "211 :: CFtpServer / Corvane FTP Server:: tarnview@localhost")

    def test_line_endings_and_packets(self):
        r = self.raw()
        r.send("NOOP\nSYST\r\nPWD\r\n")
        self.assertEqual(r.line(), "200 NOOP Command Successful.")
        self.assertEqual(r.line(), "215 UNIX Type: L8")
        self.assertEqual(r.line(), '257 "/" is current directory.')
        r.send("NO")
        time.sleep(0.1)
        r.send("OP\r\n")
        self.assertEqual(r.line(), "200 NOOP Command Successful.")

    def test_overlong_line_closes_without_reply(self):
        r = self.raw()
        r.send("X" * 300)
        self.assertTrue(r.closed_by_server())
        self.assertEqual(r.buffer, b"")

    def test_zero_byte_line_is_not_a_command(self):
        r = self.raw()
        self.assertEqual(r.cmd("DELE a.txt\0junk"), "500 Command not understood.")
        self.assertEqual(r.cmd("SIZE a.txt"), "213 22")

    def test_directories(self):
        r = self.raw()
        self.assertEqual(r.cmd("CWD"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("CWD nowhere"), "550 No such file or directory.")
        self.assertEqual(r.cmd("CWD docs"), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/docs" is current directory.')
        self.assertEqual(r.cmd("CWD "), "250 CWD command successful.")
        self.assertEqual(r.cmd("XPWD"), '257 "/docs" is current directory.')
        self.assertEqual(r.cmd("CWD inner"), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/docs/inner" is current directory.')
        self.assertEqual(r.cmd("CDUP"), "250 CDUP command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/docs" is current directory.')
        self.assertEqual(r.cmd("SIZE readme.txt"), "213 12")
        self.assertEqual(r.cmd("XCUP"), "250 CDUP command successful.")
        self.assertEqual(r.cmd("CDUP"), "250 CDUP command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(r.cmd("CWD .."), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(r.cmd("CWD ../../.."), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(r.cmd("XCWD /docs/inner/"), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/docs/inner" is current directory.')
        self.assertEqual(r.cmd("CWD ../../a.txt"), "250 CWD command successful.")
        self.assertEqual(r.cmd("PWD"), '257 "/a.txt" is current directory.')

    def test_size_and_mdtm(self):
        r = self.raw()
        self.assertEqual(r.cmd("SIZE"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("SIZE big.bin"), "213 %d" % len(BIG))
        self.assertEqual(r.cmd("SIZE missing"), "550 No such file.")
        self.assertEqual(r.cmd("SIZE docs"), "550 docs: not a regular file.")
        self.assertEqual(r.cmd("SIZE ./docs/"), "550 ./docs/: not a regular file.")
        self.assertEqual(r.cmd("MDTM"), "501 Invalid number of arguments.")
        self.assertEqual(r.cmd("MDTM docs"), "550 No such file or directory.")
        reply = r.cmd("MDTM a.txt")
        self.assertRegex(reply, r"^213 \d{14}$")
        shown = time.mktime(time.strptime(reply[4:] + " UTC", "%Y%m%d%H%M%S %Z")) - time.timezone
        source = os.stat(os.path.join(self.work.path, "tree", "a.txt")).st_mtime
        self.assertLess(abs(shown - source), 120)

    def test_rest_replies(self):
        r = self.raw()
        self.assertEqual(r.cmd("REST"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("REST abc"), "350 REST command successful.")
        self.assertEqual(r.cmd("REST 100"), "350 REST command successful.")

    def test_rename_and_directories(self):
        r = self.raw()
        self.assertEqual(r.cmd("RNTO x"), "503 Bad sequence of commands")
        self.assertEqual(r.cmd("RNFR"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("RNFR missing"), "550 No such file or directory.")
        self.assertEqual(r.cmd("MKD"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("MKD docs"), "550 File Already Exists.")
        self.assertEqual(r.cmd("MKD rdir"), '257 "/rdir" created.')
        self.assertEqual(r.cmd("XMKD rdir/sub"), '257 "/rdir/sub" created.')
        self.assertEqual(r.cmd("RMD rdir"), "450 Internal error deleting the directory.")
        self.assertEqual(r.cmd("RNFR rdir/sub"), "350 File or directory exists, ready for destination name.")
        self.assertEqual(r.cmd("NOOP"), "200 NOOP Command Successful.")
        self.assertEqual(r.cmd("RNTO rdir/moved"), "250 Rename successful.")
        self.assertEqual(r.cmd("RNTO rdir/again"), "503 Bad sequence of commands")
        self.assertEqual(r.cmd("CWD rdir/moved"), "250 CWD command successful.")
        self.assertEqual(r.cmd("CWD /"), "250 CWD command successful.")
        self.assertEqual(r.cmd("XRMD rdir/moved"), "250 Directory deleted successfully.")
        self.assertEqual(r.cmd("RMD rdir"), "250 Directory deleted successfully.")
        self.assertEqual(r.cmd("RMD rdir"), "550 Directory not found.")
        self.assertEqual(r.cmd("DELE"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("DELE missing"), "550 No such file.")

    def test_rein(self):
        r = self.raw()
        host, port = r.pasv()
        self.assertEqual(r.cmd("CWD docs"), "250 CWD command successful.")
        self.assertEqual(r.cmd("REIN"), "200 Reinitialize Successful.")
        # the passive socket left open by PASV is closed too
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection((host, port), timeout=harness.IO_TIMEOUT).close()
        self.assertEqual(r.cmd("PWD"), "530 Please login with USER and PASS.")
        r.login()
        self.assertEqual(r.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(r.cmd("LIST"), "425 Can't open data connection.")

    def test_port_checks(self):
        r = self.raw()
        for bad in ("", "0,0,0,0,4,1", "10,0,0,1,0,0", "10,0,0,1,256,1", "1,2,3"):
            self.assertEqual(r.cmd(("PORT " + bad).rstrip()), "501 Syntax error in arguments.", bad)
        # a control connection from 127.0.0.1 may name any address
        self.assertEqual(r.cmd("PORT 10,0,0,1,4,1"), "200 PORT command successful.")

    def test_port_from_another_address_is_refused(self):
        # The control connection comes from 127.0.0.2, not from 127.0.0.1.
        r = self.raw(source="127.0.0.2")
        self.assertEqual(r.cmd("PORT 10,0,0,1,4,1"), "501 PORT address does not match originator.")
        self.assertEqual(r.cmd("LIST"), "425 Can't open data connection.")
        self.assertEqual(r.cmd("PORT 127,0,0,2,4,1"), "200 PORT command successful.")

    def test_pasv_ports(self):
        r = self.raw()
        for _ in range(20):
            host, port = r.pasv()
            self.assertEqual(host, "127.0.0.1")
            if os.geteuid() == 0:
                self.assertTrue(100 <= port <= 298, port)

    def test_data_commands_need_a_data_connection(self):
        r = self.raw()
        self.assertEqual(r.cmd("LIST"), "425 Can't open data connection.")
        self.assertEqual(r.cmd("RETR a.txt"), "425 Can't open data connection.")
        self.assertEqual(r.cmd("STOR x.txt"), "425 Can't open data connection.")
        self.assertEqual(r.cmd("RETR"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("APPE"), "501 Syntax error in arguments.")

    def test_listing_lines(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("LIST"), "150 Opening data connection for directory list.")
        text = read_all(data).decode()
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        lines = text.split("\r\n")
        self.assertEqual(lines[-1], "")
        names = [l.split()[-1] for l in lines[:-1]]
        self.assertIn("a.txt", names)
        self.assertIn("docs", names)
        self.assertNotIn(".hidden", names)
        for l in lines[:-1]:
            self.assertRegex(l, r"^[-d]rwx------ 1 user group +\d+ [A-Z][a-z]{2} [ \d]\d (\d\d:\d\d| \d{4}) \S+$")
            if l.endswith(" docs"):
                self.assertTrue(l.startswith("drwx------ 1 user group              0 "), l)
            if l.endswith(" big.bin"):
                self.assertIn(" %14d " % len(BIG), l)
        # every listing needs a new PASV or PORT
        self.assertEqual(r.cmd("LIST"), "425 Can't open data connection.")

    def test_listing_options(self):
        r = self.raw()

        def listing(command):
            data = r.data_connection()
            self.assertEqual(r.cmd(command), "150 Opening data connection for directory list.")
            text = read_all(data).decode()
            data.close()
            self.assertEqual(r.line(), "226 Transfer complete.")
            return text

        self.assertIn(" docs/\r\n", listing("LIST -F"))
        self.assertNotIn("docs/\r\n", listing("LIST -la"))
        itself = listing("LIST -d docs")
        self.assertEqual(len(itself.split("\r\n")), 2)
        self.assertRegex(itself, r"^drwx------ 1 user group +32768 .* \.\r\n$")
        self.assertEqual(listing("LIST a.txt"), "")
        self.assertEqual(listing("LIST nowhere"), "")
        names = listing("NLST docs").split("\r\n")
        self.assertEqual(sorted(names[:-1]), ["inner", "readme.txt"])
        self.assertEqual(r.cmd("CWD docs"), "250 CWD command successful.")
        self.assertEqual(sorted(listing("NLST").split("\r\n")[:-1]), ["inner", "readme.txt"])

    def test_stat_with_argument(self):
        r = self.raw()
        self.assertEqual(r.cmd("STAT -d /docs"), "213-Status follows:")
        line = r.line()
        self.assertRegex(line, r"^drwx------ 1 user group +32768 .* /docs$")
        self.assertEqual(r.line(), "213 End of status")
        self.assertEqual(r.cmd("STAT docs"), "213-Status follows:")
        lines = [r.line(), r.line()]
        self.assertEqual(sorted(l.split()[-1] for l in lines), ["inner", "readme.txt"])
        self.assertEqual(r.line(), "213 End of status")
        self.assertEqual(r.cmd("STAT -d"), "213-Status follows:")
        self.assertRegex(r.line(), r"^drwx------ .* $")
        self.assertEqual(r.line(), "213 End of status")

    def test_retr_replies(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
        self.assertEqual(read_all(data), FILES["a.txt"])
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR docs"), "550 File not found.")
        data.close()
        self.assertEqual(r.cmd("RETR missing"), "425 Can't open data connection.")

    def test_rest_and_retr(self):
        r = self.raw()
        self.assertEqual(r.cmd("REST 100"), "350 REST command successful.")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR thousand.bin"), "150 Opening data connection.")
        self.assertEqual(read_all(data), FILES["thousand.bin"][100:])
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        # the offset was used up
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR thousand.bin"), "150 Opening data connection.")
        self.assertEqual(read_all(data), FILES["thousand.bin"])
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("REST 5000"), "350 REST command successful.")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR thousand.bin"), "150 Opening data connection.")
        self.assertEqual(read_all(data), b"")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")

    def test_ascii_type_sends_binary(self):
        r = self.raw()
        self.assertEqual(r.cmd("TYPE A"), "200 ASCII transfer mode active.")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
        self.assertEqual(read_all(data), FILES["a.txt"])
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not any(
                "ASCII mode not supported - using BINARY" in l for l in self.server.errors):
            time.sleep(0.05)
        self.assertTrue(any("ASCII mode not supported - using BINARY" in l for l in self.server.errors))

    def test_store_append_unique(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR up/../stored.txt"), "150 Opening data connection.")
        data.sendall(b"0123456789" * 100)
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("SIZE stored.txt"), "213 1000")
        data = r.data_connection()
        self.assertEqual(r.cmd("APPE stored.txt"), "150 Opening data connection.")
        data.sendall(b"tail")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("SIZE stored.txt"), "213 1004")
        # REST then STOR overwrites from the offset on
        self.assertEqual(r.cmd("REST 10"), "350 REST command successful.")
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR stored.txt"), "150 Opening data connection.")
        data.sendall(b"XY")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR stored.txt"), "150 Opening data connection.")
        content = read_all(data)
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(content, (b"0123456789XY" + b"23456789" + b"0123456789" * 98 + b"tail"))
        # APPE of a missing file creates it
        data = r.data_connection()
        self.assertEqual(r.cmd("APPE appended-new.txt"), "150 Opening data connection.")
        data.sendall(b"new")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("SIZE appended-new.txt"), "213 3")
        # STOU
        data = r.data_connection()
        reply = r.cmd("STOU")
        self.assertRegex(reply, r"^150 FILE: /file\.\d+$")
        data.sendall(b"unique")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("SIZE " + reply.split()[-1]), "213 6")
        self.assertEqual(r.cmd("DELE " + reply.split()[-1]), "250 DELE command successful.")

    def test_unbuildable_upload_path(self):
        r = self.raw()
        data = r.data_connection()
        # The line fits the reader's limit; the path (over 260 characters) does not.
        self.assertEqual(r.cmd("STOR " + "n" * 265), "553 File name not allowed.")
        self.assertEqual(read_all(data), b"")
        data.close()
        self.assertEqual(r.cmd("NOOP"), "200 NOOP Command Successful.")
        data = r.data_connection()  # the transfer state was freed
        self.assertEqual(r.cmd("LIST docs"), "150 Opening data connection for directory list.")
        read_all(data)
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")

    def test_abor_without_transfer(self):
        r = self.raw()
        self.assertEqual(r.cmd("ABOR"), "226 ABOR command successful.")

    def _abort(self, r):
        """Sends ABOR the way BSD-derived clients do (IAC IP, then IAC DM as
        urgent data); returns the next three replies."""
        r.sock.sendall(b"\xff\xf4\xff", socket.MSG_OOB)
        r.sock.sendall(b"\xf2", socket.MSG_OOB)
        r.send("ABOR\r\n")
        return [r.line(), r.line(), r.line()]

    def test_abor_during_retr(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR huge.bin"), "150 Opening data connection.")
        data.recv(1000)
        self.assertEqual(r.cmd("PASV"), "425 You're already connected.")
        self.assertEqual(r.cmd("REST 5"), "501 Syntax error in arguments.")
        self.assertEqual(r.cmd("PORT 127,0,0,1,4,1"), "501 Syntax error in arguments.")
        replies = self._abort(r)
        data.close()
        self.assertIn("426 Previous command has been finished abnormally.", replies)
        self.assertIn("226 ABOR command successful.", replies)
        self.assertIn("550 Can 't Send File.", replies)
        self.assertLess(replies.index("426 Previous command has been finished abnormally."),
                        replies.index("226 ABOR command successful."))
        # the session goes on, and a new transfer works at once
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
        self.assertEqual(read_all(data), FILES["a.txt"])
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")

    def test_abor_during_stor_of_new_file_leaves_nothing(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR aborted.bin"), "150 Opening data connection.")
        data.sendall(b"z" * 100000)
        time.sleep(0.2)
        replies = self._abort(r)
        data.close()
        self.assertIn("550 Can 't receive file.", replies)
        self.assertEqual(r.cmd("SIZE aborted.bin"), "550 No such file.")

    def test_failed_append_keeps_the_old_content(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR keep.txt"), "150 Opening data connection.")
        data.sendall(b"precious")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        data = r.data_connection()
        self.assertEqual(r.cmd("APPE keep.txt"), "150 Opening data connection.")
        data.sendall(b"more")
        time.sleep(0.2)
        replies = self._abort(r)
        data.close()
        self.assertIn("550 Can 't receive file.", replies)
        reply = r.cmd("SIZE keep.txt")
        self.assertTrue(reply in ("213 8", "213 12"), reply)

    def test_client_vanishes_mid_download(self):
        for _ in range(3):
            r = Raw(self.server.port).login()
            data = r.data_connection()
            r.send("RETR huge.bin\r\n")
            data.recv(1000)
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            data.close()
            r.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            r.close()
        self.assertIsNone(self.server.process.poll())
        self.assertEqual(self.raw().cmd("NOOP"), "200 NOOP Command Successful.")

    def test_client_vanishes_mid_upload(self):
        r = Raw(self.server.port).login()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR vanished.bin"), "150 Opening data connection.")
        data.sendall(b"v" * 50000)
        r.close()
        time.sleep(0.2)
        data.close()
        self.assertIsNone(self.server.process.poll())
        check = self.raw()
        deadline = time.monotonic() + 5
        while check.cmd("SIZE vanished.bin") != "550 No such file." and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(check.cmd("SIZE vanished.bin"), "550 No such file.")


class RealClients(ServedVolume):
    """Python's ftplib, curl and lftp against the server."""

    def test_ftplib_round_trip(self):
        f = self.ftp()
        self.assertEqual(f.pwd(), "/")
        out = io.BytesIO()
        f.retrbinary("RETR big.bin", out.write)
        self.assertEqual(out.getvalue(), BIG)
        payload = os.urandom(5 * 1024 * 1024 + 17)
        f.storbinary("STOR upload.bin", io.BytesIO(payload))
        self.assertEqual(f.size("upload.bin"), len(payload))
        back = io.BytesIO()
        f.retrbinary("RETR upload.bin", back.write)
        self.assertEqual(back.getvalue(), payload)
        back = io.BytesIO()
        f.retrbinary("RETR upload.bin", back.write, rest=len(payload) - 1000)
        self.assertEqual(back.getvalue(), payload[-1000:])
        f.rename("upload.bin", "renamed.bin")
        self.assertIn("renamed.bin", f.nlst())
        f.delete("renamed.bin")
        self.assertNotIn("renamed.bin", f.nlst())
        f.sendcmd("MKD made")
        f.cwd("made")
        self.assertEqual(f.pwd(), "/made")
        f.storbinary("STOR inside.txt", io.BytesIO(b"inside"))
        self.assertEqual(f.nlst(), ["inside.txt"])
        f.delete("inside.txt")
        f.cwd("..")
        f.rmd("made")
        self.assertEqual(f.quit(), "221 Goodbye.")

    def test_ftplib_active_mode(self):
        f = self.ftp(passive=False)
        lines = []
        f.retrlines("LIST", lines.append)
        self.assertTrue(any(l.endswith(" a.txt") for l in lines))
        out = io.BytesIO()
        f.retrbinary("RETR thousand.bin", out.write)
        self.assertEqual(out.getvalue(), FILES["thousand.bin"])
        f.storbinary("STOR active.txt", io.BytesIO(b"active"))
        self.assertEqual(f.size("active.txt"), 6)
        f.delete("active.txt")

    def test_anonymous_ftplib(self):
        f = self.ftp("anonymous", "guest@")
        out = io.BytesIO()
        f.retrbinary("RETR a.txt", out.write)
        self.assertEqual(out.getvalue(), FILES["a.txt"])
        with self.assertRaises(ftplib.error_perm):
            f.storbinary("STOR nope.txt", io.BytesIO(b"x"))

    def test_many_sequential_downloads(self):
        f = self.ftp()
        began = time.monotonic()
        for n in range(300):
            out = io.BytesIO()
            f.retrbinary("RETR many/f%03d.txt" % n, out.write)
            self.assertEqual(out.getvalue(), FILES["many/f%03d.txt" % n])
        self.assertLess(time.monotonic() - began, 60)

    def test_many_sequential_active_downloads(self):
        f = self.ftp(passive=False)
        for n in range(0, 300, 3):
            out = io.BytesIO()
            f.retrbinary("RETR many/f%03d.txt" % n, out.write)
            self.assertEqual(out.getvalue(), FILES["many/f%03d.txt" % n])

    def test_parallel_clients(self):
        errors = []

        def worker(k):
            try:
                f = ftplib.FTP()
                f.connect("127.0.0.1", self.server.port, timeout=harness.IO_TIMEOUT)
                f.login("u", "p")
                data = bytes([k]) * (300000 + k)
                f.storbinary("STOR par%d.bin" % k, io.BytesIO(data))
                out = io.BytesIO()
                f.retrbinary("RETR par%d.bin" % k, out.write)
                if out.getvalue() != data:
                    errors.append("content %d" % k)
                out = io.BytesIO()
                f.retrbinary("RETR big.bin", out.write)
                if out.getvalue() != BIG:
                    errors.append("big %d" % k)
                f.delete("par%d.bin" % k)
                f.quit()
            except Exception as e:  # reported below
                errors.append("%d: %r" % (k, e))

        threads = [threading.Thread(target=worker, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertEqual(errors, [])

    def test_curl(self):
        if shutil.which("curl") is None:
            self.skipTest("curl is not installed")
        base = "ftp://127.0.0.1:%d/" % self.server.port
        common = ["curl", "-s", "-S", "--max-time", "30", "-u", "u:p"]
        listing = subprocess.run(common + [base], stdout=subprocess.PIPE, timeout=60, check=True)
        self.assertIn(b" a.txt", listing.stdout)
        got = subprocess.run(common + [base + "docs/readme.txt"], stdout=subprocess.PIPE,
                             timeout=60, check=True)
        self.assertEqual(got.stdout, FILES["docs/readme.txt"])
        source = os.path.join(self.work.path, "curl-up.bin")
        with open(source, "wb") as f:
            f.write(b"curl" * 10000)
        subprocess.run(common + ["-T", source, base + "curl-up.bin"], timeout=60, check=True)
        got = subprocess.run(common + ["-P", "-", base + "curl-up.bin"], stdout=subprocess.PIPE,
                             timeout=60, check=True)
        self.assertEqual(got.stdout, b"curl" * 10000)
        ranged = subprocess.run(common + ["-r", "100-", base + "thousand.bin"],
                                stdout=subprocess.PIPE, timeout=60, check=True)
        self.assertEqual(ranged.stdout, FILES["thousand.bin"][100:])
        anon = subprocess.run(["curl", "-s", "-S", "--max-time", "30", base + "a.txt"],
                              stdout=subprocess.PIPE, timeout=60, check=True)
        self.assertEqual(anon.stdout, FILES["a.txt"])
        subprocess.run(common + [base, "-Q", "DELE curl-up.bin"], stdout=subprocess.DEVNULL,
                       timeout=60, check=True)

    def test_lftp(self):
        if shutil.which("lftp") is None:
            self.skipTest("lftp is not installed")
        local = os.path.join(self.work.path, "lftp")
        os.makedirs(local, exist_ok=True)
        with open(os.path.join(local, "put.txt"), "wb") as f:
            f.write(b"from lftp\n")
        script = ("set net:max-retries 1; set net:timeout 20; set ftp:passive-mode on; "
                  "set ftp:use-feat off; set ftp:ssl-allow no; "
                  "cls -1 /; get /docs/readme.txt -o %s/readme.txt; put %s/put.txt -o /put.txt; "
                  "mirror /docs %s/mirror; bye" % (local, local, local))
        done = subprocess.run(["lftp", "-u", "u,p", "-p", str(self.server.port), "-e", script,
                               "127.0.0.1"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertIn(b"a.txt", done.stdout)
        with open(os.path.join(local, "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), FILES["docs/readme.txt"])
        with open(os.path.join(local, "mirror", "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), FILES["docs/readme.txt"])
        self.assertEqual(self.ftp().size("put.txt"), 10)


class ReadOnlyServer(ServedVolume):
    extra = ("-w",)
    files = {"a.txt": b"read only\n", "d/": b""}
    size = "8M"

    def test_changes_are_refused(self):
        read_only = "550 Permission denied: the volume is mounted read-only."
        r = self.raw()
        for command in ("STOR new.txt", "APPE a.txt", "STOU"):
            data = r.data_connection()
            self.assertEqual(r.cmd(command), read_only, command)
            data.close()
        self.assertEqual(r.cmd("SIZE new.txt"), "550 No such file.")
        self.assertEqual(r.cmd("DELE a.txt"), read_only)
        self.assertEqual(r.cmd("MKD m"), read_only)
        self.assertEqual(r.cmd("RMD d"), read_only)
        self.assertEqual(r.cmd("MFMT 20200101000000 a.txt"), read_only)
        self.assertEqual(r.cmd("RNFR a.txt"), "350 File or directory exists, ready for destination name.")
        self.assertEqual(r.cmd("RNTO b.txt"), read_only)
        # listings offer no change either
        self.assertEqual(r.cmd("MLST a.txt"), "250-Listing /a.txt")
        self.assertRegex(r.line(), r"^ type=file;size=10;modify=\d{14};perm=r; /a.txt$")
        self.assertEqual(r.line(), "250 End")
        data = r.data_connection()
        self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
        self.assertEqual(read_all(data), b"read only\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")


DEEP = "/".join(["d" * 27] * 9)  # 254 characters below the drive "/1"
LONGEST_NAME = "n" * 28


class DeepTree(ServedVolume):
    """Listings of a directory whose path is nearly as long as a path may be,
    holding a name as long as a volume name may be."""

    extra = ()
    files = {DEEP + "/" + LONGEST_NAME: b"deep", DEEP + "/short": b"s"}
    size = "8M"

    def test_listing_of_the_deepest_directory(self):
        r = self.raw()
        self.assertEqual(r.cmd("CWD /" + DEEP), "250 CWD command successful.")
        data = r.data_connection()
        self.assertEqual(r.cmd("LIST"), "150 Opening data connection for directory list.")
        lines = read_all(data).decode().split("\r\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(sorted(l.split()[-1] for l in lines[:-1]), [LONGEST_NAME, "short"])
        data = r.data_connection()
        self.assertEqual(r.cmd("NLST"), "150 Opening data connection for directory list.")
        names = read_all(data).decode().split("\r\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(sorted(names[:-1]), [LONGEST_NAME, "short"])
        self.assertEqual(r.cmd("SIZE short"), "213 1")
        # the file's own path is longer than any path a client may use
        self.assertEqual(r.cmd("SIZE " + LONGEST_NAME), "550 No such file.")


class Unprivileged(unittest.TestCase):
    """Without privileges the data ports 100 to 298 cannot be bound: passive
    and active connections then use ports the kernel chooses."""

    def setUp(self):
        self.work = Workspace()
        self.addCleanup(self.work.close)
        wrapper = ()
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                self.skipTest("setpriv is needed to drop root's privileges")
            wrapper = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                       "--inh-caps=-all", "--bounding-set=-all")
            probe = subprocess.run(list(wrapper) + [harness.TOOLS["vrax"], "--help"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            if probe.returncode != 0:
                self.skipTest("the user nobody cannot run %s here" % harness.TOOLS["vrax"])
            os.chmod(self.work.path, 0o777)
        self.image = make_image(self.work.path, {"a.txt": b"unprivileged\n"}, "8M")
        os.chmod(self.image, 0o666)
        self.server = Server(self.image, wrapper=wrapper).start()
        self.addCleanup(self.server.kill)

    def test_transfers_work_without_privileges(self):
        r = Raw(self.server.port).login()
        self.addCleanup(r.close)
        host, port = r.pasv()
        self.assertGreaterEqual(port, 1024)
        data = socket.create_connection((host, port), timeout=harness.IO_TIMEOUT)
        self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
        self.assertEqual(read_all(data), b"unprivileged\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        listener = socket.socket()
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        p = listener.getsockname()[1]
        self.assertEqual(r.cmd("PORT 127,0,0,1,%d,%d" % (p // 256, p % 256)),
                         "200 PORT command successful.")
        r.send("RETR a.txt\r\n")
        data, _ = listener.accept()
        self.assertGreaterEqual(data.getpeername()[1], 1024)
        self.assertEqual(r.line(), "150 Opening data connection.")
        self.assertEqual(read_all(data), b"unprivileged\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(self.server.stop()[0], 0)
        self.assertEqual(check_image(self.image)[0], 0)


class StartAndStop(unittest.TestCase):
    """Shutdown and restarts (test_startup.py covers the command line and
    the start-up failures)."""

    def setUp(self):
        self.work = Workspace()
        self.addCleanup(self.work.close)

    def test_signals_stop_the_server(self):
        image = make_image(self.work.path, {"a.txt": b"x"})
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            server = Server(image, ("-p=",), password=None).start()
            try:
                r = Raw(server.port)
                self.assertEqual(r.cmd("USER u"), "331 Password required for this user.")
                self.assertEqual(r.cmd("PASS"), "501 Invalid number of arguments.")
                self.assertEqual(r.cmd("PASS "), "230 User Logged In.")
                data = r.data_connection()  # left waiting
                code, seconds = server.stop(sig)
                self.assertEqual(code, 0, sig)
                self.assertLess(seconds, 2.0)
                self.assertTrue(r.closed_by_server())
                data.close()
                r.close()
                self.assertIn("           Password: <none>\n", server.stdout_text())
            finally:
                server.kill()
        self.assertEqual(check_image(image)[0], 0)

    def test_running_out_of_descriptors_only_pauses_accepting(self):
        import resource

        def few_descriptors():
            resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))

        # Under the sanitizers a thread start that fails for want of
        # resources trips a false report inside the standard library.
        linked = subprocess.run(["ldd", harness.TOOLS["vrax"]], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=30).stdout
        if b"libasan" in linked or b"libtsan" in linked or b"libubsan" in linked:
            self.skipTest("sanitizer build")
        image = make_image(self.work.path, {"a.txt": b"x"}, "8M")
        server = Server(image, preexec=few_descriptors).start()
        try:
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
        finally:
            server.kill()

    def test_restart_on_the_same_port(self):
        image = make_image(self.work.path, {"a.txt": b"x"})
        port = harness.free_port()
        for _ in range(2):
            server = Server(image, port=port).start()
            try:
                r = Raw(server.port).login()
                data = r.data_connection()
                self.assertEqual(r.cmd("RETR a.txt"), "150 Opening data connection.")
                self.assertEqual(read_all(data), b"x")
                data.close()
                self.assertEqual(r.line(), "226 Transfer complete.")
                r.close()
                self.assertEqual(server.stop()[0], 0)
            finally:
                server.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--vrax", required=True)
    parser.add_argument("--mkfs", required=True)
    parser.add_argument("--fsck", required=True)
    args, rest = parser.parse_known_args()
    harness.TOOLS.update(vrax=args.vrax, mkfs=args.mkfs, fsck=args.fsck)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
