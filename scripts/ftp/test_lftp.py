#!/usr/bin/env python3
"""End-to-end tests of vrax with lftp, which reads FEAT and then lists with
MLSD, sets times with MFMT and moves with RNFR/RNTO: passive and active
data connections over IPv4 and IPv6.

Usage: test_lftp.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FILES = {
    "a.txt": b"hello from the volume\n",
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "docs/inner/": b"",
    "docs/inner/deep.txt": b"deep\n",
}
MODES = [(host, passive) for host in ["127.0.0.1"] + (["::1"] if harness.ipv6_loopback() else [])
         for passive in ("on", "off")]


@unittest.skipIf(shutil.which("lftp") is None, "lftp is not installed")
class Lftp(harness.ServedVolume):
    files = FILES
    size = "16M"

    def lftp(self, host, passive, script):
        """Runs `script` in one lftp session; returns its output (with the
        protocol trace, -d)."""
        setup = ("set net:max-retries 1; set net:timeout 20; set ftp:ssl-allow no; "
                 "set ftp:passive-mode %s; set ftp:prefer-epsv yes; " % passive)
        done = harness.run(["lftp", "-d", "-u", "u,p", "-p", str(self.server.port), "-e",
                            setup + script + "; bye", host], timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout.decode(errors="replace"))
        return done.stdout.decode(errors="replace")

    def test_mirror_both_ways_and_move_in_every_mode(self):
        for host, passive in MODES:
            with self.subTest(host=host, passive=passive):
                tag = "%s-%s" % ("v6" if ":" in host else "v4", passive)
                up = self.local("up-%s/sub/f.txt" % tag, b"up " + tag.encode())
                self.local("up-%s/g.tmp" % tag, b"tmp")
                down = self.local("down-" + tag)
                out = self.lftp(host, passive,
                                "cls -1 /; mirror /docs %s; mirror -R %s /up-%s; "
                                "mv /up-%s/sub/f.txt /docs/inner/f-%s.txt; mrm /up-%s/*.tmp; "
                                "cls -1 /up-%s/" % (down, os.path.dirname(os.path.dirname(up)),
                                                    tag, tag, tag, tag, tag))
                self.assertIn("MLSD", out)
                self.assertIn("EPSV" if passive == "on" else ("EPRT" if ":" in host else "PORT"), out)
                with open(os.path.join(down, "inner", "deep.txt"), "rb") as f:
                    self.assertEqual(f.read(), FILES["docs/inner/deep.txt"])
                f = self.ftp()
                self.assertEqual(f.size("docs/inner/f-%s.txt" % tag), len(b"up " + tag.encode()))
                self.assertEqual(f.nlst("up-" + tag), ["sub"])
                f.delete("docs/inner/f-%s.txt" % tag)
                f.rmd("up-%s/sub" % tag)
                f.rmd("up-" + tag)

    def test_times_are_kept_by_mirror(self):
        self.local("timed/t.txt", b"timed")
        os.utime(self.local("timed/t.txt"), (1600000000, 1600000000))  # 2020-09-13 12:26:40 UTC
        self.lftp("127.0.0.1", "on", "mirror -R %s /timed" % self.local("timed"))
        self.assertEqual(self.ftp().voidcmd("MDTM timed/t.txt"), "213 20200913122600")


if __name__ == "__main__":
    harness.main(__doc__)
