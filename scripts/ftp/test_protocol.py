#!/usr/bin/env python3
"""vrax's replies, driven line by line over IPv4 and IPv6 loopback."""

import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FILES = {
    "a.txt": b"hello from the volume\n",
    "b.bin": bytes((i * 7) & 255 for i in range(1000)),
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "docs/inner/": b"",
    ".hidden": b"not listed\n",
}
FEATURES = ["211-Features:", " EPRT", " EPSV", " MDTM", " MFMT", " MLST type*;size*;modify*;perm*;",
            " PASV", " REST STREAM", " SIZE", " TVFS", " UTF8", "211 End"]
OK_CWD, OK_CDUP, OK_RMD = ("250 CWD command successful.", "250 CDUP command successful.",
                           "250 Directory deleted successfully.")
NOT_LOGGED_IN = "530 Please login with USER and PASS."
BAD_LOGIN = "530 Please login with valid USER and PASS."
SYNTAX, ARGUMENTS = "501 Syntax error in arguments.", "501 Invalid number of arguments."
NO_DATA = "425 Can't open data connection."
DENIED = "550 Permission denied."
RENAME_READY = "350 File or directory exists, ready for destination name."


def pwd(path):
    return '257 "%s" is current directory.' % path


class Protocol(harness.ServedVolume):
    files = FILES

    def test_login(self):
        r = self.raw(login=False)
        self.assertEqual(r.greeting, "220 Corvane Ftp Server.")
        self.replies(r, [
            ("NOOP", NOT_LOGGED_IN), ("BOGUS", NOT_LOGGED_IN), ("USER", ARGUMENTS),
            ("USER nobody", "331 Password required for this user."), ("PASS x", BAD_LOGIN),
            ("USER U", "331 Password required for this user."), ("PASS P", BAD_LOGIN),
            ("PASS", ARGUMENTS), ("PASS p", "230 User Logged In."),
            ("NOOP", "200 NOOP Command Successful."), ("quit", "221 Goodbye.")])
        self.assertTrue(r.closed_by_server())

    def test_anonymous_may_only_read(self):
        r = self.raw(login=False)
        self.replies(r, [
            ("user Anonymous", "230 User Logged In."), ("PASS whatever", "230 User Logged In."),
            ("PWD", pwd("/")), ("DELE a.txt", DENIED), ("MKD x", DENIED), ("RMD docs", DENIED),
            ("STOR x", DENIED), ("RNFR a.txt", DENIED), ("MFMT 20200102030405 b.bin", DENIED),
            # another account's name logs the client out
            ("USER u", "331 Password required for this user."), ("NOOP", NOT_LOGGED_IN),
            ("PASS p", "230 User Logged In.")])
        r = self.raw(login=False)
        self.assertEqual(r.cmd("USER anonymous"), "230 User Logged In.")
        for path, perm in (("a.txt", "r"), ("docs", "el")):
            self.assertEqual(r.cmd("MLST " + path), "250-Listing /" + path)
            self.assertTrue(r.line().endswith(";perm=%s; /%s" % (perm, path)))
            self.assertEqual(r.line(), "250 End")

    def test_settings_and_refusals(self):
        self.replies(self.raw(), [
            ("SYST", "215 UNIX Type: L8"), ("ALLO 10", "200 ALLO Command Successful."),
            ("FOO", "500 Command not understood."), ("DELE a.txt\0junk", "500 Command not understood."),
            ("STRU", ARGUMENTS), ("STRU F", "200 STRU Command Successful."),
            ("STRU f", "504 STRU failled. Parametre not implemented"),
            ("MODE S", "200 Mode set to S."), ("MODE C", "502 MODE non-implemented."),
            ("MODE B", '504 "B": Unsupported transfer MODE.'), ("TYPE", ARGUMENTS),
            ("TYPE a", "550 Error - unknown transfer mode."),
            ("TYPE A N", "200 ASCII transfer mode active."), ("TYPE I", "200 Binary transfer mode active."),
            ("STAT", "211 :: CFtpServer / Corvane FTP Server:: tarnview@localhost"),
            ("OPTS UTF8 ON", "200 UTF8 mode is always on."), ("OPTS BOGUS", "501 Option not understood."),
            ("ABOR", "226 ABOR command successful."),
            ("REST", SYNTAX), ("REST abc", "350 REST command successful."),
            ("REST 100", "350 REST command successful."),
            ("LIST", NO_DATA), ("RETR a.txt", NO_DATA), ("STOR x.txt", NO_DATA),
            ("RETR", SYNTAX), ("APPE", SYNTAX), ("DELE", SYNTAX), ("DELE missing", "550 No such file."),
            ("SIZE", SYNTAX), ("SIZE a.txt", "213 22"), ("SIZE b.bin", "213 1000"),
            ("SIZE missing", "550 No such file."), ("SIZE docs", "550 docs: not a regular file."),
            ("SIZE ./docs/", "550 ./docs/: not a regular file."),
            ("MDTM", ARGUMENTS), ("MDTM docs", "550 No such file or directory."),
            ("PORT", SYNTAX), ("PORT 10,0,0,1,256,1", SYNTAX),
            # a control connection from 127.0.0.1 may name any address
            ("PORT 10,0,0,1,4,1", "200 PORT command successful.")])

    def test_paths(self):
        self.replies(self.raw(), [
            ("CWD", ARGUMENTS), ("CWD nowhere", "550 No such file or directory."),
            ("CWD docs", OK_CWD), ("PWD", pwd("/docs")), ("CWD ", OK_CWD), ("XPWD", pwd("/docs")),
            ("CWD inner", OK_CWD), ("PWD", pwd("/docs/inner")), ("CDUP", OK_CDUP), ("PWD", pwd("/docs")),
            ("SIZE readme.txt", "213 12"), ("SIZE readme.txt/", "213 12"),
            ("SIZE inner/../readme.txt", "213 12"), ("SIZE ../a.txt", "213 22"),
            ("XCUP", OK_CDUP), ("CDUP", OK_CDUP), ("PWD", pwd("/")),
            ("CWD ..", OK_CWD), ("PWD", pwd("/")), ("CWD ../../..", OK_CWD), ("PWD", pwd("/")),
            ("XCWD /docs/inner/", OK_CWD), ("PWD", pwd("/docs/inner")),
            ("CWD /", OK_CWD), ("CWD docs/inner/..", OK_CWD), ("PWD", pwd("/docs")),
            ("CWD ../../a.txt", OK_CWD), ("PWD", pwd("/a.txt")), ("CWD /", OK_CWD),
            ("MKD", SYNTAX), ("MKD docs", "550 File Already Exists."),
            ("MKD made/", '257 "/made" created.'), ("XMKD made/sub", '257 "/made/sub" created.'),
            ('MKD made/q"t', '257 "/made/q""t" created.'), ('CWD made/q"t/', OK_CWD),
            ("PWD", '257 "/made/q""t" is current directory.'), ("CDUP", OK_CDUP),
            ('RMD q"t/', OK_RMD), ("CWD /", OK_CWD),
            ("RMD made", "450 Internal error deleting the directory."),
            ("RNTO x", "503 Bad sequence of commands"), ("RNFR", SYNTAX),
            ("RNFR missing", "550 No such file or directory."),
            ("RNFR made/sub", RENAME_READY), ("NOOP", "200 NOOP Command Successful."),
            ("RNTO made/moved", "250 Rename successful."), ("RNTO made/again", "503 Bad sequence of commands"),
            ("CWD made/moved", OK_CWD), ("CWD /", OK_CWD), ("XRMD made/moved", OK_RMD),
            ("RMD made/", OK_RMD), ("RMD made", "550 Directory not found."),
            ("RMD missing/", "550 Directory not found."),
            ("RMD a.txt", "550 Not a directory: DELE removes files."),
            ("DELE docs", "550 Not a file: RMD removes directories."),
            ("DELE docs/", "550 Not a file: RMD removes directories.")])

    def test_rein_forgets_login_place_and_passive_socket(self):
        r = self.raw()
        host, port = r.pasv()
        if os.geteuid() == 0:
            self.assertTrue(100 <= port <= 298, port)
        self.replies(r, [("CWD docs", OK_CWD), ("REIN", "200 Reinitialize Successful."), ("PWD", NOT_LOGGED_IN)])
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection((host, port), timeout=harness.IO_TIMEOUT).close()
        self.replies(r.login(), [("PWD", pwd("/")), ("LIST", NO_DATA)])

    def test_listings(self):
        r = self.raw()
        text = r.transfer("LIST").decode()
        lines = text.split("\r\n")
        self.assertEqual(sorted(l.split()[-1] for l in lines[:-1]), ["a.txt", "b.bin", "docs"])
        for l in lines[:-1]:
            self.assertRegex(l, r"^[-d]rwx------ 1 user group +\d+ [A-Z][a-z]{2} [ \d]\d (\d\d:\d\d| \d{4}) \S+$")
        self.assertIn("\r\ndrwx------ 1 user group              0 ", "\r\n" + text)
        self.assertIn(" group           1000 ", text)
        self.assertEqual(r.cmd("LIST"), NO_DATA)  # every listing needs a new PASV or PORT
        self.assertIn(b" docs/\r\n", r.transfer("LIST -F"))
        self.assertNotIn(b"docs/\r\n", r.transfer("LIST -la"))
        self.assertRegex(r.transfer("LIST -d docs").decode(), r"^drwx------ 1 user group +32768 .* \.\r\n$")
        root = ["a.txt", "b.bin", "docs"]
        cases = [("NLST", root), ("NLST docs/", ["inner", "readme.txt"]), ("NLST -a docs", ["inner", "readme.txt"]),
                 ("NLST ?.*", ["a.txt", "b.bin"]), ("NLST /docs/r*", ["/docs/readme.txt"]),
                 ("NLST a.txt", ["a.txt"]), ("NLST docs/readme.txt", ["docs/readme.txt"]),
                 ("NLST nothing*", []), ("NLST missing", []), ("LIST a.txt", []), ("LIST nowhere", []),
                 ("LIST -la", root), ("LIST -a", root), ("LIST -l /", root), ("LIST -al .", root),
                 ("LIST -l docs/*.txt", ["readme.txt"])]
        for command, names in cases:
            self.assertEqual(r.names(command), names, command)
        self.assertEqual(r.cmd("CWD docs"), OK_CWD)
        self.assertEqual(r.names("NLST"), ["inner", "readme.txt"])

    def test_stat_with_argument(self):
        r = self.raw()
        for command, names in (("STAT -d /docs", [r"^drwx------ 1 user group +32768 .* /docs$"]),
                               ("STAT docs", [r" inner$", r" readme.txt$"]), ("STAT -d", [r"^drwx------ .* $"])):
            r.send(command + "\r\n")
            lines = r.lines_until("213 ")
            self.assertEqual([lines[0], lines[-1]], ["213-Status follows:", "213 End of status"])
            self.assertEqual(len(lines), len(names) + 2, command)
            for line, pattern in zip(sorted(lines[1:-1], key=lambda l: l.split()[-1]), names):
                self.assertRegex(line, pattern)

    def test_downloads_and_offsets(self):
        r = self.raw()
        self.assertEqual(r.transfer("RETR a.txt"), FILES["a.txt"])
        self.assertEqual(r.transfer("RETR docs"), "550 File not found.")
        self.replies(r, [("RETR missing", NO_DATA), ("REST 100", "350 REST command successful.")])
        self.assertEqual(r.transfer("RETR b.bin"), FILES["b.bin"][100:])
        self.assertEqual(r.transfer("RETR b.bin"), FILES["b.bin"])  # the offset was used up
        self.assertEqual(r.cmd("REST 5000"), "350 REST command successful.")
        self.assertEqual(r.transfer("RETR b.bin"), b"")
        r.cmd("TYPE A")  # announced, but the bytes are sent as they are
        self.assertEqual(r.transfer("RETR a.txt"), FILES["a.txt"])
        warning = "ASCII mode not supported - using BINARY"
        self.assertTrue(harness.eventually(lambda: any(warning in l for l in self.server.errors)))

    def test_uploads(self):
        r = self.raw()
        r.transfer("STOR up/../stored.txt", b"0123456789" * 100)
        r.transfer("APPE stored.txt", b"tail")
        # REST then STOR overwrites from the offset on
        self.replies(r, [("SIZE stored.txt", "213 1004"), ("REST 10", "350 REST command successful.")])
        r.transfer("STOR stored.txt", b"XY")
        self.assertEqual(r.transfer("RETR stored.txt"),
                         b"0123456789XY" + b"23456789" + b"0123456789" * 98 + b"tail")
        r.transfer("APPE appended-new.txt", b"new")  # APPE of a missing file creates it
        self.assertEqual(r.cmd("SIZE appended-new.txt"), "213 3")
        r.transfer("STOU", b"unique")
        self.assertRegex(r.opened, r"^150 FILE: /file\.\d+$")
        unique = r.opened.split()[-1]
        self.replies(r, [("SIZE " + unique, "213 6"), ("DELE " + unique, "250 DELE command successful.")])
        r.transfer("STOR docs/inner/../slash.txt/", b"slash")
        self.assertEqual(r.transfer("RETR docs/slash.txt/"), b"slash")
        self.assertEqual(r.cmd("DELE docs/slash.txt/"), "250 DELE command successful.")
        # A line within the reader's limit naming a path over 260 characters: the data connection is closed.
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR " + "n" * 265), "553 File name not allowed.")
        self.assertEqual(harness.read_all(data), b"")
        data.close()
        blank = "553 File name not allowed: a name cannot begin with a blank."
        self.assertEqual(r.transfer("STOR docs/ x"), blank)
        self.assertEqual(r.cmd("MKD docs/ x"), blank)
        # nothing was made, and the transfer state was freed
        self.assertEqual(r.names("LIST docs"), ["inner", "readme.txt"])

    def test_features_and_help(self):
        r = self.raw(login=False)
        r.send("FEAT\r\n")
        self.assertEqual(r.lines_until("211 "), FEATURES)
        r.login().send("HELP\r\n")
        lines = r.lines_until("214 ")
        self.assertEqual(lines[0], "214-The following commands are recognized:")
        self.assertEqual(lines[-1], "214 Help OK.")
        words = " ".join(lines[1:-1]).split()
        for word in ("EPRT", "EPSV", "MLSD", "MLST", "MFMT", "OPTS", "FEAT", "RETR", "XRMD"):
            self.assertIn(word, words)
        self.assertEqual(words, sorted(words))

    def test_extended_modes_on_both_families(self):
        for host in harness.HOSTS:
            r = self.raw(host=host)
            self.assertEqual(r.transfer("RETR a.txt", data=r.epsv()), FILES["a.txt"], host)
            listener, argument = harness.listen_on(host)
            self.assertEqual(r.cmd("EPRT " + argument), "200 EPRT command successful.")
            self.assertEqual(r.transfer("RETR a.txt", data=listener), FILES["a.txt"], host)
            v6 = ":" in host
            if v6:  # only 127.0.0.1 may name another address
                self.replies(r, [
                    ("EPRT |1|127.0.0.1|4000|", "501 EPRT address does not match originator."),
                    ("PORT 127,0,0,1,4,1", "501 PORT address does not match originator."),
                    ("PASV", "425 PASV needs an IPv4 connection; use EPSV.")])
            self.assertEqual(r.cmd("EPSV %d" % (1 if v6 else 2)),
                             "522 Network protocol not supported, use (%d)" % (2 if v6 else 1))
            for bad in ("EPRT", "EPRT |1|127.0.0.1|", "EPRT |1|::1|4000|", "EPRT |1|127.0.0.1|0|",
                        "EPRT 1|127.0.0.1|70000|", "EPSV x"):
                self.assertEqual(r.cmd(bad), SYNTAX, bad)
            self.assertEqual(r.cmd("EPRT |3|x|4000|"), "522 Network protocol not supported, use (1,2)")

    def test_epsv_all_refuses_every_other_data_command(self):
        r = self.raw()
        self.assertEqual(r.cmd("EPSV ALL"), "200 EPSV ALL command successful.")
        for command in ("PASV", "PORT 127,0,0,1,4,1", "EPRT |1|127.0.0.1|4000|"):
            self.assertEqual(r.cmd(command), "503 Only EPSV is accepted after EPSV ALL.", command)
        self.assertEqual(r.transfer("RETR b.bin", data=r.epsv()), FILES["b.bin"])

    def test_data_targets_of_a_client_from_another_address(self):
        # An IPv4 client of the dual-stack socket is an IPv4 peer, and may
        # name only its own address.
        r = self.raw(source="127.0.0.2")
        self.assertEqual(r.pasv()[0], "127.0.0.1")
        self.replies(r, [("PORT 10,0,0,1,4,1", "501 PORT address does not match originator."),
                         ("LIST", NO_DATA), ("PORT 127,0,0,2,4,1", "200 PORT command successful.")])
        ok, other = "200 EPRT command successful.", "501 EPRT address does not match originator."
        self.replies(r, [("EPRT |1|127.0.0.2|4000|", ok), ("EPRT |2|::ffff:127.0.0.2|4000|", ok),
                         ("EPRT |2|::|4000|", ok), ("EPRT |1|127.0.0.1|4000|", other), ("EPRT |2|::1|4000|", other)])

    def test_machine_listings(self):
        r = self.raw()
        lines = r.transfer("MLSD").decode().split("\r\n")
        self.assertEqual(lines[-1], "")
        self.assertRegex(lines[0], r"^type=cdir;modify=\d{14};perm=cdeflmp; \.$")
        facts = {l.split("; ", 1)[1]: l.split("; ", 1)[0] for l in lines[1:-1]}
        self.assertEqual(sorted(facts), ["a.txt", "b.bin", "docs"])
        self.assertRegex(facts["a.txt"], r"^type=file;size=22;modify=\d{14};perm=adfrw$")
        self.assertRegex(facts["docs"], r"^type=dir;modify=\d{14};perm=cdeflmp$")
        inner = r.transfer("MLSD docs").decode().split("\r\n")
        self.assertTrue(inner[1].startswith("type=pdir;") and inner[1].endswith(" .."), inner)
        self.assertEqual(r.transfer("MLSD a.txt"), "501 Not a directory: MLST describes a file.")
        self.assertEqual(r.cmd("MLSD missing"), "550 No such file or directory.")
        mdtm = r.cmd("MDTM a.txt")[4:]  # the time of the file the image was made from
        shown = time.mktime(time.strptime(mdtm + " UTC", "%Y%m%d%H%M%S %Z")) - time.timezone
        self.assertLess(abs(shown - os.stat(os.path.join(self.work.name, "tree", "a.txt")).st_mtime), 120)
        r.send("MLST a.txt\r\nOPTS MLST size;Type;bogus;\r\nMLST a.txt\r\n")
        self.assertEqual(r.lines_until("250 ") + r.lines_until("200 ") + r.lines_until("250 "), [
            "250-Listing /a.txt", " type=file;size=22;modify=%s;perm=adfrw; /a.txt" % mdtm, "250 End",
            "200 MLST OPTS type;size;", "250-Listing /a.txt", " type=file;size=22; /a.txt", "250 End"])

    def test_setting_the_modification_time(self):
        r = self.raw()
        self.replies(r, [
            ("MFMT 20200102030405 b.bin", "213 Modify=20200102030400; b.bin"),
            ("MDTM b.bin", "213 20200102030400"),
            ("MFMT 19991231235959 docs/inner/", "213 Modify=19991231235900; docs/inner/"),
            ("MLST docs/inner", "250-Listing /docs/inner")])
        self.assertIn("modify=19991231235900;", r.line())
        self.assertEqual(r.line(), "250 End")
        for bad in ("MFMT", "MFMT 20200102030405", "MFMT 2020010203040 b.bin",
                    "MFMT 20201302030405 b.bin", "MFMT 20200132030405 b.bin",
                    "MFMT 2020010203040x b.bin", "MFMT 20200102030460 b.bin"):
            self.assertEqual(r.cmd(bad), SYNTAX, bad)
        self.replies(r, [
            ("MFMT 18500101000000 b.bin", "501 The volume holds modification times from 1901 to 2155 only."),
            ("MFMT 20200102030405 missing", "550 No such file or directory.")])

    def test_moves_between_directories(self):
        r = self.raw()
        for command in ("MKD m1", "MKD m1/m2", "MKD m3"):
            self.assertTrue(r.cmd(command).startswith("257 "), command)
        r.transfer("STOR m1/f.txt", b"moved")
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
            self.assertEqual(r.cmd("RNFR " + source), RENAME_READY, source)
            self.assertEqual(r.cmd("RNTO " + target), reply, target)
        self.assertEqual(r.cmd("SIZE m1/m2/g.txt"), "213 5")
        for command in ("DELE m1/m2/g.txt", "RMD m1/m2", "RMD m1", "RMD m3"):
            self.assertTrue(r.cmd(command).startswith("250 "), command)


class ReadOnly(harness.ServedVolume):
    extra = ("-w",)
    files = {"a.txt": b"read only\n", "d/": b""}

    def test_changes_are_refused(self):
        read_only = "550 Permission denied: the volume is mounted read-only."
        r = self.raw()
        for command in ("STOR new.txt", "APPE a.txt", "STOU"):
            self.assertEqual(r.transfer(command), read_only, command)
        self.replies(r, [
            ("SIZE new.txt", "550 No such file."), ("DELE a.txt", read_only), ("MKD m", read_only),
            ("RMD d", read_only), ("MFMT 20200101000000 a.txt", read_only),
            ("RNFR a.txt", RENAME_READY), ("RNTO b.txt", read_only),
            ("MLST a.txt", "250-Listing /a.txt")])
        self.assertRegex(r.line(), r"^ type=file;size=10;modify=\d{14};perm=r; /a.txt$")  # no change offered
        self.assertEqual(r.line(), "250 End")
        self.assertEqual(r.transfer("RETR a.txt"), b"read only\n")


DEEP = "/".join(["d" * 27] * 9)  # 254 characters below the drive "/1"
LONGEST_NAME = "n" * 28


class DeepTree(harness.ServedVolume):
    """A directory whose path is nearly as long as a path may be, holding the longest name."""

    extra = ()
    files = {DEEP + "/" + LONGEST_NAME: b"deep", DEEP + "/short": b"s"}

    def test_listing_of_the_deepest_directory(self):
        r = self.raw()
        self.assertEqual(r.cmd("CWD /" + DEEP), OK_CWD)
        self.assertEqual(r.names("LIST"), [LONGEST_NAME, "short"])
        self.assertEqual(r.names("NLST"), [LONGEST_NAME, "short"])
        self.assertEqual(r.cmd("SIZE short"), "213 1")
        # the file's own path is longer than any path a client may use
        self.assertEqual(r.cmd("SIZE " + LONGEST_NAME), "550 No such file.")


class FullVolume(harness.ServedVolume):
    """Uploads that do not fit are told so and leave nothing behind."""

    files = {"small.txt": b"s"}
    size = "4M"

    def test_disk_full(self):
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
        r.transfer("STOR fits.txt", b"fits")


if __name__ == "__main__":
    harness.main(__doc__)
