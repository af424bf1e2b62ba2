#!/usr/bin/env python3
"""End-to-end tests of vrax with tnftp, the classic command-line client:
"mget *", "mput", "mdelete *.tmp" (which name files through NLST
wildcards) and renames into other directories, passive and active, over
IPv4 and IPv6.

Usage: test_tnftp.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FILES = {
    "docs/": b"",
    "docs/one.txt": b"one\n",
    "docs/two.txt": b"two\n",
    "docs/three.bin": b"three" * 1000,
    "scratch/": b"",
}
MODES = [(host, passive) for host in ["127.0.0.1"] + (["::1"] if harness.ipv6_loopback() else [])
         for passive in ("on", "off")]


@unittest.skipIf(shutil.which("tnftp") is None, "tnftp is not installed")
class Tnftp(harness.ServedVolume):
    files = FILES
    size = "16M"

    def tnftp(self, host, passive, commands, cwd):
        script = "open %s %d\nuser u p\npassive %s\nbinary\n%s\nbye\n" % (
            host, self.server.port, passive, "\n".join(commands))
        done = subprocess.run(["tnftp", "-n", "-i", "-v", "-d"], input=script.encode(), cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        output = done.stdout.decode(errors="replace")
        self.assertEqual(done.returncode, 0, output)
        return output

    def test_wildcards_and_moves_in_every_mode(self):
        for host, passive in MODES:
            with self.subTest(host=host, passive=passive):
                tag = "%s-%s" % ("v6" if ":" in host else "v4", passive)
                local = self.local(tag)
                os.makedirs(local)
                for name in ("x.tmp", "y.tmp", "keep.up"):
                    self.local(os.path.join(tag, name), name.encode())
                out = self.tnftp(host, passive, [
                    "cd docs", "mget *", "cd /scratch", "mput *.tmp *.up",
                    "rename keep.up /docs/keep-%s.up" % tag, "mdelete *.tmp", "ls"], local)
                for name in ("one.txt", "two.txt", "three.bin"):
                    with open(os.path.join(local, name), "rb") as f:
                        self.assertEqual(f.read(), FILES["docs/" + name], name)
                self.assertIn("NLST *", out)
                self.assertIn("DELE x.tmp", out)
                f = self.ftp()
                self.assertEqual(f.nlst("scratch"), [])
                self.assertEqual(f.size("docs/keep-%s.up" % tag), len(b"keep.up"))
                f.delete("docs/keep-%s.up" % tag)


if __name__ == "__main__":
    harness.main(__doc__)
