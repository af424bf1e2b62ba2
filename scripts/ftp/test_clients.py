#!/usr/bin/env python3
"""vrax with real FTP clients in passive and active mode over IPv4 and IPv6;
one class per client, which CTest runs on its own (test_clients.py ... Lftp)."""

import io
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

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
                self.assertEqual(harness.fetch(f, "RETR big.bin"), BIG)
                payload = os.urandom(1500000) + t.encode()
                directory = f.mkd("dir-" + t)
                f.storbinary("STOR %s/up.bin" % directory, io.BytesIO(payload))
                self.assertEqual(harness.fetch(f, "RETR %s/up.bin" % directory), payload)
                self.assertEqual(harness.fetch(f, "RETR %s/up.bin" % directory, len(payload) - 1000), payload[-1000:])
                f.cwd(directory)
                self.assertEqual(f.nlst(), ["up.bin"])
                f.delete("up.bin")
                f.cwd("..")
                f.rmd(directory)

    def test_many_sequential_downloads(self):
        """Data ports and sessions are given back over hundreds of transfers."""
        began = time.monotonic()
        for passive, step in ((True, 1), (False, 3)):
            f = self.ftp(passive=passive)
            for n in range(0, 300, step):
                self.assertEqual(harness.fetch(f, "RETR many/f%03d.txt" % n), FILES["many/f%03d.txt" % n])
        self.assertLess(time.monotonic() - began, 90)

    def test_parallel_clients(self):
        errors = []

        def worker(k):
            try:
                f = self.ftp()
                data = bytes([k]) * (300000 + k)
                f.storbinary("STOR par%d.bin" % k, io.BytesIO(data))
                for name, expected in (("par%d.bin" % k, data), ("big.bin", BIG)):
                    if harness.fetch(f, "RETR " + name) != expected:
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
        """Runs `script` in one lftp session; returns its output and protocol trace."""
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


class Curl(Client):
    """curl's four ways of making the data connection: EPSV (its default),
    PASV, EPRT and PORT."""
    WAYS = [(), ("--disable-epsv",), ("-P", "-"), ("-P", "-", "--disable-eprt")]

    def curl(self, url, *args):
        self.program("curl")
        done = harness.run(["curl", "-sS", "--max-time", "20", "-u", "u:p", url] + list(args))
        self.assertEqual(done.returncode, 0, done.stdout)
        return done.stdout

    def test_every_way_on_both_families(self):
        for host in harness.HOSTS:
            for n, way in enumerate(self.WAYS):
                with self.subTest(host=host, way=way):
                    base = "ftp://%s:%d/" % (host if ":" not in host else "[%s]" % host, self.server.port)
                    self.assertEqual(self.curl(base + "docs/", "-l", *way).splitlines(), [b"inner", b"readme.txt"])
                    self.assertEqual(self.curl(base + "big.bin", "-r", "100-", *way), BIG[100:])
                    payload = os.urandom(70000)
                    target = "new%d/deeper/up.bin" % n
                    self.curl(base + target, "--ftp-create-dirs", "-T", self.local("up%d.bin" % n, payload), *way)
                    self.assertEqual(self.curl(base + target, *way), payload)
                    self.curl(base, "-Q", "DELE " + target, "-Q", "RMD new%d/deeper" % n,
                              "-Q", "RMD new%d" % n, *way)


class Tnftp(Client):
    def test_wildcards_in_every_mode(self):
        self.program("tnftp")
        for host, passive in harness.MODES:
            with self.subTest(host=host, passive=passive):
                t = tag(host, passive)
                for name in ("x.tmp", "y.tmp"):
                    self.local(os.path.join(t, name), name.encode())
                local = self.local(t)
                script = "open %s %d\nuser u p\npassive %s\nbinary\n%s\nbye\n" % (
                    host, self.server.port, "on" if passive else "off",
                    "\n".join(["cd docs", "mget *.txt", "mkdir /" + t, "cd /" + t, "mput *.tmp",
                               "mdelete x.tmp"]))
                done = subprocess.run(["tnftp", "-n", "-i", "-v"], input=script.encode(), cwd=local,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
                self.assertEqual(done.returncode, 0, done.stdout)
                with open(os.path.join(local, "readme.txt"), "rb") as f:
                    self.assertEqual(f.read(), FILES["docs/readme.txt"])
                self.assertEqual(self.ftp().nlst(t), ["y.tmp"])


if __name__ == "__main__":
    harness.main(__doc__)
