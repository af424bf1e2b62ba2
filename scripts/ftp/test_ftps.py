#!/usr/bin/env python3
"""Explicit FTPS (AUTH TLS) with the real vrax program and a self-signed
certificate made here."""

import ftplib
import io
import os
import ssl
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Raw, ServedVolume  # noqa: E402

FILES = {"a.txt": b"plain text\n", "big.bin": bytes(range(256)) * 4096}


def make_certificate(directory):
    pem, cert = os.path.join(directory, "server.pem"), os.path.join(directory, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-keyout", pem, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    with open(pem, "ab") as out, open(cert, "rb") as f:
        out.write(f.read())
    return pem


class TlsServed(ServedVolume):
    files = FILES
    size = "16M"
    tls_options = ()

    @classmethod
    def setUpClass(cls):
        cls.certificates = tempfile.TemporaryDirectory(prefix="vrax-tls-")
        cls.pem = make_certificate(cls.certificates.name)
        cls.extra = ("-k=" + cls.pem,) + cls.tls_options
        super().setUpClass()

    def ftps(self, passive=True, protect=True):
        f = ftplib.FTP_TLS(context=ssl._create_unverified_context())
        f.connect("127.0.0.1", self.server.port, timeout=harness.IO_TIMEOUT)
        f.login("u", "p")
        if protect:
            f.prot_p()
        f.set_pasv(passive)
        self.addCleanup(f.close)
        return f

    def tls_raw(self):
        r = Raw(self.server.port)
        self.addCleanup(r.close)
        self.assertEqual(r.cmd("AUTH TLS"), "234 Begin TLS negotiation.")
        r.sock = ssl._create_unverified_context().wrap_socket(r.sock)
        return r


class Ftps(TlsServed):
    def test_python_client_transfers_in_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.ftps(passive)
                self.assertEqual(harness.fetch(f, "RETR big.bin"), FILES["big.bin"])
                name = "up-%s.bin" % passive
                f.storbinary("STOR " + name, io.BytesIO(b"u" * 300000))
                self.assertEqual(f.size(name), 300000)
                self.assertIn(name, f.nlst())
                self.assertIn(name, [entry for entry, _ in f.mlsd()])
                f.prot_c()  # back to clear data connections
                self.assertIn(name, f.nlst())

    def test_replies_of_the_protection_commands(self):
        plain = self.raw(login=False)
        first = "503 Protect the control connection first (AUTH TLS)."
        self.replies(plain, [("PBSZ 0", first), ("PROT P", first), ("AUTH KERBEROS", "504 Unknown AUTH type.")])
        plain.send("FEAT\r\n")
        self.assertLessEqual({" AUTH TLS", " PBSZ", " PROT"}, set(plain.lines_until("211 ")))
        r = self.tls_raw()
        self.replies(r, [("AUTH TLS", "503 The connection is already protected."),
                         ("PBSZ", "501 Invalid number of arguments."), ("PBSZ 0", "200 PBSZ=0"),
                         ("PROT S", "536 Only PROT C and PROT P are supported."),
                         ("PROT X", "504 Unknown PROT level."), ("PROT P", "200 PROT now Private."),
                         ("CCC", "534 The control connection stays protected.")])
        self.assertEqual(r.login().cmd("NOOP"), "200 NOOP Command Successful.")

    def test_no_auth_while_a_transfer_runs(self):
        r = self.raw()
        data = r.data_connection()
        self.assertEqual(r.cmd("STOR during-auth.bin"), "150 Opening data connection.")
        self.assertEqual(r.cmd("AUTH TLS"), "425 You're already connected.")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(r.cmd("NOOP"), "200 NOOP Command Successful.")

    def test_clear_bytes_sent_after_auth_are_dropped(self):
        r = self.raw(login=False)
        r.send("AUTH TLS\r\nUSER u\r\nPASS p\r\n")
        self.assertEqual(r.line(), "234 Begin TLS negotiation.")
        r.sock = ssl._create_unverified_context().wrap_socket(r.sock)
        self.assertEqual(r.cmd("NOOP"), "530 Please login with USER and PASS.")

    def test_abort_ends_a_data_handshake_that_never_comes(self):
        """An upload over an existing file that never got its protected data
        connection leaves the file as it was."""
        r = self.tls_raw().login()
        self.assertEqual(r.cmd("PROT P"), "200 PROT now Private.")
        for command in ("RETR a.txt", "STOR a.txt"):
            data = r.data_connection()  # never starts TLS
            self.addCleanup(data.close)
            self.assertEqual(r.cmd(command), "150 Opening data connection.")
            r.send("ABOR\r\n")
            # ABOR's two replies, and the transfer's own (in any order with them)
            self.assertEqual(sorted([r.line(), r.line(), r.line()]),
                             ["226 ABOR command successful.",
                              "425 TLS negotiation on the data connection failed.",
                              "426 Previous command has been finished abnormally."])
        self.assertEqual(r.cmd("SIZE a.txt"), "213 %d" % len(FILES["a.txt"]))


class RequiredTls(TlsServed):
    tls_options = ("-s",)

    def test_logins_need_a_protected_connection(self):
        plain = self.raw(login=False)
        self.assertEqual(plain.cmd("USER u"), "530 Logins need a protected connection: send AUTH TLS first.")
        self.assertTrue(self.tls_raw().login())
        self.assertEqual(self.ftps(protect=False).nlst(), ["a.txt", "big.bin"])


if __name__ == "__main__":
    harness.main(__doc__)
