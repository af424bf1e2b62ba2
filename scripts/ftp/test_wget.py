#!/usr/bin/env python3
"""End-to-end tests of vrax with wget, which walks a tree by its LIST
listings: recursive downloads, passive and active, over IPv4 and IPv6.

Usage: test_wget.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
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
    "docs/inner/deep.bin": bytes(range(256)) * 400,
}
MODES = [(host, passive) for host in ["127.0.0.1"] + (["[::1]"] if harness.ipv6_loopback() else [])
         for passive in (True, False)]


@unittest.skipIf(shutil.which("wget") is None, "wget is not installed")
class Wget(harness.ServedVolume):
    files = FILES
    size = "16M"

    def test_recursive_download_in_every_mode(self):
        for host, passive in MODES:
            with self.subTest(host=host, passive=passive):
                target = self.local("%s-%s" % (host.strip("[]").replace(":", "_"), passive))
                args = ["wget", "-r", "-nH", "-nv", "--tries=1", "--timeout=20", "-P", target,
                        "--user=u", "--password=p"] + ([] if passive else ["--no-passive-ftp"])
                done = harness.run(args + ["ftp://%s:%d/docs/" % (host, self.server.port)])
                self.assertEqual(done.returncode, 0, done.stdout.decode(errors="replace"))
                for name in ("docs/readme.txt", "docs/inner/deep.bin"):
                    with open(os.path.join(target, name), "rb") as f:
                        self.assertEqual(f.read(), FILES[name], name)
                self.assertFalse(os.path.exists(os.path.join(target, "a.txt")))


if __name__ == "__main__":
    harness.main(__doc__)
