#!/usr/bin/env python3
"""End-to-end tests of vrax with real FTP clients, each in passive and
active mode over IPv4 and IPv6: Python's ftplib (EPSV and EPRT on IPv6)
and lftp (MLSD, mirrors, moves, wildcards). One class per client; CTest
runs each on its own (test_clients.py ... Lftp).

Usage: test_clients.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]
"""

import ftplib
import io
import os
import shutil
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import fetch  # noqa: E402

BIG = bytes((i * 7 + i // 251) & 255 for i in range(3 * 1024 * 1024 + 123))
FILES = {
    "a.txt": b"hello from the volume\n",
    "big.bin": BIG,
    "docs/": b"",
    "docs/readme.txt": b"docs readme\n",
    "docs/inner/": b"",
    "docs/inner/deep.bin": bytes(range(256)) * 400,
}
for n in range(300):
    FILES["many/f%03d.txt" % n] = ("file %d\n" % n).encode()


def tag(host, passive):
    return "%s-%s" % ("v6" if ":" in host else "v4", "pasv" if passive else "port")


class Client(harness.ServedVolume):
    files = FILES

    def program(self, name):
        if shutil.which(name) is None:
            self.skipTest(name + " is not installed")


class Ftplib(Client):
    def test_round_trip_in_every_mode(self):
        for host, passive in harness.MODES:
            with self.subTest(host=host, passive=passive):
                f = self.ftp(host=host, passive=passive)
                t = tag(host, passive)
                self.assertEqual(fetch(f, "RETR big.bin"), BIG)
                payload = os.urandom(1500000) + t.encode()
                directory = f.mkd("dir-" + t)
                self.assertEqual(directory, "/dir-" + t)
                f.storbinary("STOR %s/up.bin" % directory, io.BytesIO(payload))
                self.assertEqual(fetch(f, "RETR %s/up.bin" % directory), payload)
                self.assertEqual(fetch(f, "RETR %s/up.bin" % directory, len(payload) - 1000), payload[-1000:])
                f.cwd(directory)
                self.assertEqual(f.nlst(), ["up.bin"])
                f.delete("up.bin")
                f.cwd("..")
                f.rmd(directory)
                self.assertEqual(f.quit(), "221 Goodbye.")

    def test_many_sequential_downloads(self):
        """Data ports and sessions are given back: 300 passive and 100 active
        transfers in a row."""
        began = time.monotonic()
        for passive, step in ((True, 1), (False, 3)):
            f = self.ftp(passive=passive)
            for n in range(0, 300, step):
                self.assertEqual(fetch(f, "RETR many/f%03d.txt" % n), FILES["many/f%03d.txt" % n])
        self.assertLess(time.monotonic() - began, 90)

    def test_parallel_clients(self):
        errors = []

        def worker(k):
            try:
                f = ftplib.FTP()
                f.connect("127.0.0.1", self.server.port, timeout=harness.IO_TIMEOUT)
                f.login("u", "p")
                data = bytes([k]) * (300000 + k)
                f.storbinary("STOR par%d.bin" % k, io.BytesIO(data))
                for name, expected in (("par%d.bin" % k, data), ("big.bin", BIG)):
                    if fetch(f, "RETR " + name) != expected:
                        errors.append("%s %d" % (name, k))
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


class Lftp(Client):
    def lftp(self, host, passive, script):
        """Runs `script` in one lftp session; returns its output (with the
        protocol trace, -d)."""
        self.program("lftp")
        setup = ("set net:max-retries 1; set net:timeout 20; set ftp:ssl-allow no; "
                 "set ftp:passive-mode %s; set ftp:prefer-epsv yes; " % ("on" if passive else "off"))
        done = harness.run(["lftp", "-d", "-u", "u,p", "-p", str(self.server.port), "-e",
                            setup + script + "; bye", host], timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout.decode(errors="replace"))
        return done.stdout.decode(errors="replace")

    def test_mirror_both_ways_and_move_in_every_mode(self):
        for host, passive in harness.MODES:
            with self.subTest(host=host, passive=passive):
                t = tag(host, passive)
                self.local("up-%s/sub/f.txt" % t, b"up " + t.encode())
                self.local("up-%s/g.tmp" % t, b"tmp")
                down = self.local("down-" + t)
                out = self.lftp(host, passive,
                                "cls -1 /; mirror /docs %s; mirror -R %s /up-%s; "
                                "mv /up-%s/sub/f.txt /docs/inner/f-%s.txt; mrm /up-%s/*.tmp; "
                                "cls -1 /up-%s/" % (down, self.local("up-" + t), t, t, t, t, t))
                self.assertIn("MLSD", out)
                self.assertIn("EPSV" if passive else ("EPRT" if ":" in host else "PORT"), out)
                with open(os.path.join(down, "inner", "deep.bin"), "rb") as f:
                    self.assertEqual(f.read(), FILES["docs/inner/deep.bin"])
                f = self.ftp()
                self.assertEqual(f.size("docs/inner/f-%s.txt" % t), len(b"up " + t.encode()))
                self.assertEqual(f.nlst("up-" + t), ["sub"])
                f.delete("docs/inner/f-%s.txt" % t)
                f.rmd("up-%s/sub" % t)
                f.rmd("up-" + t)


if __name__ == "__main__":
    harness.main(__doc__)
