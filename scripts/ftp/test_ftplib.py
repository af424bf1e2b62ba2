#!/usr/bin/env python3
"""End-to-end tests of vrax with Python's ftplib: passive and active data
connections over IPv4 and IPv6 (ftplib uses EPSV and EPRT on IPv6).

Usage: test_ftplib.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import ftplib
import io
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FILES = {
    "a.txt": b"hello from the volume\n",
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "tiny.txt": b"t",
}
MODES = [(host, passive) for host in ["127.0.0.1"] + (["::1"] if harness.ipv6_loopback() else [])
         for passive in (True, False)]


class Ftplib(harness.ServedVolume):
    files = FILES
    size = "16M"

    def test_round_trip_in_every_mode(self):
        for host, passive in MODES:
            with self.subTest(host=host, passive=passive):
                f = self.ftp(host=host, passive=passive)
                tag = "%s-%s" % ("v6" if ":" in host else "v4", "pasv" if passive else "port")
                payload = os.urandom(300000) + tag.encode()
                directory = f.mkd("dir-" + tag)
                self.assertEqual(directory, "/dir-" + tag)
                f.storbinary("STOR %s/up.bin" % directory, io.BytesIO(payload))
                back = io.BytesIO()
                f.retrbinary("RETR %s/up.bin" % directory, back.write)
                self.assertEqual(back.getvalue(), payload)
                f.cwd(directory)
                self.assertEqual(f.nlst(), ["up.bin"])
                facts = dict(f.mlsd(facts=["type", "size"]))
                self.assertEqual(facts["up.bin"], {"type": "file", "size": str(len(payload))})
                self.assertEqual(facts["."]["type"], "cdir")
                # a move into another directory, and back up with ".."
                f.rename("up.bin", "../docs/%s.bin" % tag)
                self.assertEqual(f.nlst(), [])
                f.cwd("../docs/")
                self.assertEqual(f.pwd(), "/docs")
                self.assertEqual(f.size("%s.bin" % tag), len(payload))
                f.delete("%s.bin" % tag)
                f.rmd(directory)
                self.assertEqual(f.quit(), "221 Goodbye.")

    def test_machine_listing_and_times(self):
        f = self.ftp()
        self.assertEqual(f.sendcmd("MFMT 20210304050607 a.txt"), "213 Modify=20210304050600; a.txt")
        entries = dict(f.mlsd())
        self.assertEqual(entries["a.txt"]["modify"], "20210304050600")
        self.assertEqual(entries["a.txt"]["perm"], "adfrw")
        self.assertEqual(entries["docs"]["type"], "dir")
        self.assertNotIn("size", entries["docs"])
        self.assertEqual(f.voidcmd("MDTM a.txt"), "213 20210304050600")
        with self.assertRaises(ftplib.error_perm) as refused:
            f.rmd("a.txt")
        self.assertIn("Not a directory", str(refused.exception))
        with self.assertRaises(ftplib.error_perm) as refused:
            f.storbinary("STOR -dash.txt", io.BytesIO(b"x"))
        self.assertTrue(str(refused.exception).startswith("553 "), refused.exception)


if __name__ == "__main__":
    harness.main(__doc__)
