#!/usr/bin/env python3
"""End-to-end tests of vrax with curl: EPSV, PASV, EPRT and PORT over IPv4
and IPv6, uploads into new directories, moves, ranges and name listings.

Usage: test_curl.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FILES = {
    "a.txt": b"hello from the volume\n",
    "thousand.bin": bytes(i & 255 for i in range(1000)),
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
}
HOSTS = ["127.0.0.1"] + (["[::1]"] if harness.ipv6_loopback() else [])
# How curl makes its data connections: EPSV (its default), PASV, EPRT, PORT.
DATA_MODES = [(), ("--disable-epsv",), ("-P", "-"), ("-P", "-", "--disable-eprt")]


@unittest.skipIf(shutil.which("curl") is None, "curl is not installed")
class Curl(harness.ServedVolume):
    files = FILES
    size = "16M"

    def curl(self, url, *args):
        done = harness.run(["curl", "-sS", "--max-time", "20", "-u", "u:p", url] + list(args))
        self.assertEqual(done.returncode, 0, done.stdout)
        return done.stdout

    def base(self, host):
        return "ftp://%s:%d/" % (host, self.server.port)

    def test_every_data_mode_on_both_families(self):
        for host in HOSTS:
            for n, mode in enumerate(DATA_MODES):
                with self.subTest(host=host, mode=mode):
                    base = self.base(host)
                    self.assertIn(b" a.txt", self.curl(base, *mode).splitlines()[0])
                    self.assertEqual(self.curl(base + "docs/readme.txt", *mode), FILES["docs/readme.txt"])
                    source = self.local("up%d.bin" % n, os.urandom(70000))
                    target = "new%d/deeper/up.bin" % n
                    self.curl(base + target, "--ftp-create-dirs", "-T", source, *mode)
                    with open(source, "rb") as f:
                        self.assertEqual(self.curl(base + target, *mode), f.read())
                    self.curl(base, "-Q", "DELE " + target, "-Q", "RMD new%d/deeper" % n,
                              "-Q", "RMD new%d" % n, *mode)

    def test_names_ranges_and_moves(self):
        base = self.base("127.0.0.1")
        self.assertEqual(sorted(self.curl(base, "-l").splitlines()),
                         [b"a.txt", b"docs", b"thousand.bin"])
        self.assertEqual(self.curl(base + "docs/", "-l").splitlines(), [b"readme.txt"])
        self.assertEqual(self.curl(base + "thousand.bin", "-r", "100-"), FILES["thousand.bin"][100:])
        self.curl(base, "-Q", "RNFR a.txt", "-Q", "RNTO docs/moved.txt")
        self.assertEqual(self.curl(base + "docs/moved.txt"), FILES["a.txt"])
        self.curl(base, "-Q", "RNFR docs/moved.txt", "-Q", "RNTO /a.txt")
        refused = harness.run(["curl", "-sS", "--max-time", "20", "-u", "u:p", base,
                               "-Q", "RNFR docs", "-Q", "RNTO docs/inside"])
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn(b"553", refused.stdout)


if __name__ == "__main__":
    harness.main(__doc__)
