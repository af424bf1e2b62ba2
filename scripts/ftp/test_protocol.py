#!/usr/bin/env python3
"""End-to-end tests of vrax's protocol extensions, driven byte by byte over
IPv4 and IPv6 loopback: features, extended data modes, machine listings,
modification times, name listings, paths, moves and honest refusals.

Usage: test_protocol.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import os
import re
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, Server, Workspace, make_image, check_image, read_all  # noqa: E402

FILES = {
    "a.txt": b"hello from the volume\n",
    "b.bin": b"b" * 300,
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "docs/inner/": b"",
    ".hidden": b"not listed\n",
}
HOSTS = ["127.0.0.1"] + (["::1"] if harness.ipv6_loopback() else [])
FEATURES = ["211-Features:", " EPRT", " EPSV", " MDTM", " MFMT", " MLST type*;size*;modify*;perm*;",
            " PASV", " REST STREAM", " SIZE", " TVFS", " UTF8", "211 End"]


def listen_on(host):
    """A listening socket for active-mode tests; (socket, EPRT argument)."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    s = socket.socket(family)
    s.bind((host, 0))
    s.listen(1)
    s.settimeout(harness.IO_TIMEOUT)
    return s, "|%d|%s|%d|" % (2 if ":" in host else 1, host, s.getsockname()[1])


class Protocol(harness.ServedVolume):
    files = FILES
    size = "16M"

    def retr(self, r, name, data):
        """RETR over the data connection `data` (already connected or an
        active listener); returns the bytes."""
        r.send("RETR %s\r\n" % name)
        if isinstance(data, socket.socket) and data.type == socket.SOCK_STREAM and \
                data.getsockopt(socket.SOL_SOCKET, socket.SO_ACCEPTCONN):
            data, _ = data.accept()
        self.assertEqual(r.line(), "150 Opening data connection.")
        body = read_all(data)
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        return body

    def listing(self, r, command):
        data = r.data_connection()
        reply = r.cmd(command)
        if not reply.startswith("150 "):
            data.close()
            return reply
        text = read_all(data).decode()
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        return text

    def test_features_before_and_after_login(self):
        r = self.raw(login=False)
        r.send("FEAT\r\n")
        self.assertEqual(r.lines_until("211 "), FEATURES)
        self.assertEqual(r.cmd("OPTS UTF8 ON"), "200 UTF8 mode is always on.")
        self.assertEqual(r.cmd("OPTS BOGUS"), "501 Option not understood.")
        r.login()
        r.send("FEAT\r\n")
        self.assertEqual(r.lines_until("211 "), FEATURES)
        r.send("HELP\r\n")
        lines = r.lines_until("214 ")
        self.assertEqual(lines[0], "214-The following commands are recognized:")
        self.assertEqual(lines[-1], "214 Help OK.")
        words = " ".join(lines[1:-1]).split()
        for word in ("EPRT", "EPSV", "MLSD", "MLST", "MFMT", "OPTS", "FEAT", "RETR", "XRMD"):
            self.assertIn(word, words)
        self.assertEqual(words, sorted(words))

    def test_extended_modes_on_both_families(self):
        for host in HOSTS:
            r = self.raw(host=host)
            self.assertEqual(self.retr(r, "a.txt", r.epsv()), FILES["a.txt"], host)
            listener, argument = listen_on(host)
            self.addCleanup(listener.close)
            self.assertEqual(r.cmd("EPRT " + argument), "200 EPRT command successful.")
            self.assertEqual(self.retr(r, "a.txt", listener), FILES["a.txt"], host)
            if ":" in host:  # only 127.0.0.1 may name another address
                self.assertEqual(r.cmd("EPRT |1|127.0.0.1|4000|"),
                                 "501 EPRT address does not match originator.")
                self.assertEqual(r.cmd("PORT 127,0,0,1,4,1"), "501 PORT address does not match originator.")
                self.assertEqual(r.cmd("PASV"), "425 PASV needs an IPv4 connection; use EPSV.")
            self.assertEqual(r.cmd("EPSV %d" % (1 if ":" in host else 2)),
                             "522 Network protocol not supported, use (%d)" % (2 if ":" in host else 1))
            for bad in ("EPRT", "EPRT |1|127.0.0.1|", "EPRT |1|::1|4000|", "EPRT |1|127.0.0.1|0|",
                        "EPRT 1|127.0.0.1|70000|", "EPSV x"):
                self.assertEqual(r.cmd(bad), "501 Syntax error in arguments.", bad)
            self.assertEqual(r.cmd("EPRT |3|x|4000|"), "522 Network protocol not supported, use (1,2)")

    def test_epsv_all_refuses_every_other_data_command(self):
        r = self.raw()
        self.assertEqual(r.cmd("EPSV ALL"), "200 EPSV ALL command successful.")
        for command in ("PASV", "PORT 127,0,0,1,4,1", "EPRT |1|127.0.0.1|4000|"):
            self.assertEqual(r.cmd(command), "503 Only EPSV is accepted after EPSV ALL.", command)
        self.assertEqual(self.retr(r, "b.bin", r.epsv()), FILES["b.bin"])

    def test_an_ipv4_client_of_the_dual_stack_socket_is_an_ipv4_peer(self):
        r = self.raw(source="127.0.0.2")
        self.assertEqual(r.pasv()[0], "127.0.0.1")
        for ok in ("|1|127.0.0.2|4000|", "|2|::ffff:127.0.0.2|4000|", "|2|::|4000|"):
            self.assertEqual(r.cmd("EPRT " + ok), "200 EPRT command successful.", ok)
        for other in ("|1|127.0.0.1|4000|", "|2|::1|4000|"):
            self.assertEqual(r.cmd("EPRT " + other), "501 EPRT address does not match originator.")

    def test_machine_listings(self):
        r = self.raw()
        lines = self.listing(r, "MLSD").split("\r\n")
        self.assertEqual(lines[-1], "")
        self.assertRegex(lines[0], r"^type=cdir;modify=\d{14};perm=cdeflmp; \.$")
        facts = {l.split("; ", 1)[1]: l.split("; ", 1)[0] for l in lines[1:-1]}
        self.assertEqual(sorted(facts), ["a.txt", "b.bin", "docs"])
        self.assertRegex(facts["a.txt"], r"^type=file;size=22;modify=\d{14};perm=adfrw$")
        self.assertRegex(facts["docs"], r"^type=dir;modify=\d{14};perm=cdeflmp$")
        inner = self.listing(r, "MLSD docs").split("\r\n")
        self.assertTrue(inner[1].startswith("type=pdir;") and inner[1].endswith(" .."), inner)
        self.assertEqual(self.listing(r, "MLSD a.txt"), "501 Not a directory: MLST describes a file.")
        self.assertEqual(r.cmd("MLSD missing"), "550 No such file or directory.")
        mdtm = r.cmd("MDTM a.txt")[4:]
        self.assertEqual(r.cmd("MLST a.txt"), "250-Listing /a.txt")
        self.assertEqual(r.line(), " type=file;size=22;modify=%s;perm=adfrw; /a.txt" % mdtm)
        self.assertEqual(r.line(), "250 End")
        self.assertEqual(r.cmd("OPTS MLST size;Type;bogus;"), "200 MLST OPTS type;size;")
        r.send("MLST a.txt\r\n")
        self.assertEqual(r.lines_until("250 "),
                         ["250-Listing /a.txt", " type=file;size=22; /a.txt", "250 End"])
        anonymous = self.raw(login=False)
        self.assertEqual(anonymous.cmd("USER anonymous"), "230 User Logged In.")
        for path, perm in (("a.txt", "r"), ("docs", "el")):
            self.assertEqual(anonymous.cmd("MLST " + path), "250-Listing /" + path)
            self.assertTrue(anonymous.line().endswith(";perm=%s; /%s" % (perm, path)))
            self.assertEqual(anonymous.line(), "250 End")

    def test_setting_the_modification_time(self):
        r = self.raw()
        self.assertEqual(r.cmd("MFMT 20200102030405 b.bin"), "213 Modify=20200102030400; b.bin")
        self.assertEqual(r.cmd("MDTM b.bin"), "213 20200102030400")
        self.assertEqual(r.cmd("MFMT 19991231235959 docs/inner/"), "213 Modify=19991231235900; docs/inner/")
        self.assertEqual(r.cmd("MLST docs/inner"), "250-Listing /docs/inner")
        self.assertIn("modify=19991231235900;", r.line())
        self.assertEqual(r.line(), "250 End")
        for bad in ("MFMT", "MFMT 20200102030405", "MFMT 2020010203040 b.bin",
                    "MFMT 20201302030405 b.bin", "MFMT 20200132030405 b.bin",
                    "MFMT 2020010203040x b.bin", "MFMT 20200102030460 b.bin"):
            self.assertEqual(r.cmd(bad), "501 Syntax error in arguments.", bad)
        self.assertEqual(r.cmd("MFMT 18500101000000 b.bin"),
                         "501 The volume holds modification times from 1901 to 2155 only.")
        self.assertEqual(r.cmd("MFMT 20200102030405 missing"), "550 No such file or directory.")
        anonymous = self.raw(login=False)
        anonymous.cmd("USER anonymous")
        self.assertEqual(anonymous.cmd("MFMT 20200102030405 b.bin"), "550 Permission denied.")

    def test_name_listings_and_wildcards(self):
        r = self.raw()
        cases = [
            ("NLST", ["a.txt", "b.bin", "docs"]),
            ("NLST docs", ["inner", "readme.txt"]),
            ("NLST docs/", ["inner", "readme.txt"]),
            ("NLST -a docs", ["inner", "readme.txt"]),
            ("NLST *.txt", ["a.txt"]),
            ("NLST ?.*", ["a.txt", "b.bin"]),
            ("NLST *.TXT", ["a.txt"]),
            ("NLST docs/*.txt", ["docs/readme.txt"]),
            ("NLST /docs/r*", ["/docs/readme.txt"]),
            ("NLST a.txt", ["a.txt"]),
            ("NLST docs/readme.txt", ["docs/readme.txt"]),
            ("NLST nothing*", []),
            ("NLST missing", []),
        ]
        for command, names in cases:
            text = self.listing(r, command)
            self.assertEqual(sorted(text.split("\r\n")[:-1]), names, command)
        for command in ("LIST -la", "LIST -a", "LIST -l /", "LIST -al ."):
            text = self.listing(r, command)
            self.assertEqual(sorted(l.split()[-1] for l in text.split("\r\n")[:-1]),
                             ["a.txt", "b.bin", "docs"], command)
        text = self.listing(r, "LIST -l docs/*.txt")
        self.assertEqual([l.split()[-1] for l in text.split("\r\n")[:-1]], ["readme.txt"])

    def test_paths_with_trailing_slashes_and_dots(self):
        r = self.raw()
        cases = [
            ("CWD docs/inner/..", "250 CWD command successful."),
            ("PWD", '257 "/docs" is current directory.'),
            ("CWD ..", "250 CWD command successful."),
            ("PWD", '257 "/" is current directory.'),
            ("CWD docs/", "250 CWD command successful."),
            ("SIZE readme.txt/", "213 12"),
            ("SIZE inner/../readme.txt", "213 12"),
            ("SIZE ../a.txt", "213 22"),
            ("CWD /", "250 CWD command successful."),
            ("MKD made/", '257 "/made" created.'),
            ('MKD made/q"t', '257 "/made/q""t" created.'),
            ('CWD made/q"t/', "250 CWD command successful."),
            ("PWD", '257 "/made/q""t" is current directory.'),
            ("CDUP", "250 CDUP command successful."),
            ('RMD q"t/', "250 Directory deleted successfully."),
            ("CWD /", "250 CWD command successful."),
            ("RMD made/", "250 Directory deleted successfully."),
            ("RMD a.txt", "550 Not a directory: DELE removes files."),
            ("DELE docs", "550 Not a file: RMD removes directories."),
            ("DELE docs/", "550 Not a file: RMD removes directories."),
            ("RMD missing/", "550 Directory not found."),
        ]
        for command, reply in cases:
            self.assertEqual(r.cmd(command), reply, command)
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR docs/inner/../slash.txt/"), "150 Opening data connection.")
        data.sendall(b"slash")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(self.retr(r, "docs/slash.txt/", r.data_connection()), b"slash")
        self.assertEqual(r.cmd("DELE docs/slash.txt/"), "250 DELE command successful.")

    def test_moves_between_directories(self):
        r = self.raw()
        for command in ("MKD m1", "MKD m1/m2", "MKD m3"):
            self.assertTrue(r.cmd(command).startswith("257 "), command)
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR m1/f.txt"), "150 Opening data connection.")
        data.sendall(b"moved")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        cases = [
            ("m1/f.txt", "m3/f.txt", "250 Rename successful."),
            ("m3/f.txt", "/m1/m2/g.txt", "250 Rename successful."),
            ("m1/m2", "m3/m2", "250 Rename successful."),
            ("m3", "m3/m2/m3", "553 Cannot move a directory into itself or below it."),
            ("m3", "m3/x", "553 Cannot move a directory into itself or below it."),
            ("m3/m2", "m1/nowhere/m2", "550 Cannot rename: no such directory for the new name."),
            ("m3/m2", "docs", "550 Cannot rename: the new name exists already."),
            ("m3/m2", "m1/-bad", "553 File name not allowed: a name cannot begin with '-'."),
            ("m3/m2", "m1/" + "n" * 29, "553 File name not allowed: names are at most 28 characters long."),
            ("m3/m2", "m1/m2/", "250 Rename successful."),
        ]
        for source, target, reply in cases:
            self.assertEqual(r.cmd("RNFR " + source),
                             "350 File or directory exists, ready for destination name.", source)
            self.assertEqual(r.cmd("RNTO " + target), reply, target)
        self.assertEqual(r.cmd("SIZE m1/m2/g.txt"), "213 5")
        for command in ("DELE m1/m2/g.txt", "RMD m1/m2", "RMD m1", "RMD m3"):
            self.assertTrue(r.cmd(command).startswith("250 "), command)

    def test_names_the_volume_cannot_hold(self):
        # ("\\" separates path components as "/" does: it never begins a name)
        r = self.raw()
        names = [("n" * 29, "names are at most 28 characters long")] + [
            (c + "x", "a name cannot begin with '%s'" % c) for c in "*&;-><#^"] + [
            (" x", "a name cannot begin with a blank")]
        for name, reason in names:
            reply = "553 File name not allowed: %s." % reason
            data = r.data_connection()
            self.assertEqual(r.cmd("STOR " + name), reply, name)
            data.close()
            self.assertEqual(r.cmd("MKD docs/" + name), reply, name)
        self.assertEqual(r.cmd("NOOP"), "200 NOOP Command Successful.")
        self.assertEqual(sorted(self.listing(r, "NLST").split("\r\n")[:-1]), ["a.txt", "b.bin", "docs"])


class FullVolume(harness.ServedVolume):
    """A volume with little room: uploads that do not fit are told so."""

    files = {"small.txt": b"s"}
    size = "4M"

    def test_disk_full_is_told_and_leaves_nothing_behind(self):
        r = self.raw()
        for name in ("full.bin", "again.bin"):
            data = r.data_connection()
            self.assertEqual(r.cmd("STOR " + name), "150 Opening data connection.")
            try:
                data.sendall(b"F" * (8 * 1024 * 1024))
            except OSError:
                pass  # the server closes the data connection when the volume is full
            data.close()
            self.assertEqual(r.line(), "452 Insufficient storage space: the volume is full.")
            self.assertEqual(r.cmd("SIZE " + name), "550 No such file.")
        self.assertEqual(r.cmd("SIZE small.txt"), "213 1")
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR fits.txt"), "150 Opening data connection.")
        data.sendall(b"fits")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")


class ListenAddress(unittest.TestCase):
    """-l binds the one address given; without it both families answer."""

    def test_one_address_or_all(self):
        if len(HOSTS) < 2:
            self.skipTest("no IPv6 loopback here")
        work = Workspace()
        self.addCleanup(work.close)
        image = make_image(work.path, {"a.txt": b"x"}, "8M")
        for extra, reachable in ((("-l=127.0.0.1",), ["127.0.0.1"]), (("-l=::1",), ["::1"]),
                                 (("-l=[::1]",), ["::1"]), ((), HOSTS)):
            server = Server(image, extra).start()
            try:
                for host in HOSTS:
                    if host in reachable:
                        r = Raw(server.port, host=host)
                        self.assertEqual(r.login().cmd("SIZE a.txt"), "213 1")
                        r.close()
                    else:
                        with self.assertRaises(ConnectionRefusedError):
                            socket.create_connection((host, server.port), timeout=5).close()
                self.assertEqual(server.stop()[0], 0)
            finally:
                server.kill()
        self.assertEqual(check_image(image)[0], 0)
        bad = harness.run([harness.TOOLS["vrax"], "-i=" + image, "-l=not-an-address"], timeout=30)
        self.assertEqual(bad.returncode, 1, bad.stdout)


if __name__ == "__main__":
    harness.main(__doc__)
