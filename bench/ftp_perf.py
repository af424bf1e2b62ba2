#!/usr/bin/env python3
"""The figures of the real vrax program over loopback FTP (Python's ftplib):
listings of large directories, many small files, one large file. Prints
figures; asserts nothing and is never run by the tests.

    bench/ftp_perf.py --vrax build/vrax --mkfs build/tools/vrax-mkfs \\
                      --bench build/bench/vrax-bench

- LIST of a directory of 1,000, 10,000 and 100,000 names (made in name
  order through the engine by `vrax-bench make-dir`): ms per listing and
  us per entry, the best of --runs; a listing still running after
  --list-limit seconds is stopped and reported as such.
- 500 small files of 1 KiB, each op over all of them in turn: STOR, LIST
  of the file, SIZE, MDTM, RETR, DELE, in ops per second.
- STOR and RETR of one 256 MiB file, in MB/s (10^6 bytes per second).

Small-file and large-file figures are the median of --runs passes (each
on a fresh image), with the lowest and highest: what waits for stable
storage varies a lot with what else the machine's disk is doing.

Runs on 127.0.0.1 only; every server it starts is stopped and every image
removed.
"""

import argparse
import ftplib
import io
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "ftp"))
import harness  # noqa: E402

MB = 1000 * 1000
MIB = 1024 * 1024


class QuickAckFTP(ftplib.FTP):
    """Acknowledges every reply at once (TCP_QUICKACK before each read), so
    that the server's small replies are not held back by the client's
    delayed acknowledgement: what is measured is the server."""

    def getline(self):
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        return super().getline()


def connect(server):
    ftp = QuickAckFTP()
    ftp.connect("127.0.0.1", server.port, timeout=3600)
    ftp.login("u", "p")
    ftp.voidcmd("TYPE I")
    return ftp


def serve(image):
    server = harness.Server(image)
    server.start()
    return server


def list_figures(args, work):
    for count in args.sizes:
        image = os.path.join(work, "list.img")
        size = "1G" if count > 20000 else "256M"
        made = subprocess.run([args.bench, "make-dir", image, str(count), size],
                              capture_output=True, text=True, timeout=3600)
        if made.returncode != 0:
            print("LIST %7d entries: could not make the directory: %s" %
                  (count, made.stderr.strip()[-200:]))
            continue
        lookups = subprocess.run([args.bench, "lookups", image, str(count)],
                                 capture_output=True, text=True, timeout=3600)
        for line in lookups.stdout.splitlines():
            print("  %7d names: %s" % (count, line))
        server = serve(image)
        try:
            best = None
            for _ in range(args.runs):
                ftp = connect(server)
                ftp.cwd("/list")
                lines = []
                stopped = threading.Timer(args.list_limit, server.kill)
                stopped.start()
                start = time.monotonic()
                try:
                    ftp.retrlines("LIST", lines.append)
                    seconds = time.monotonic() - start
                finally:
                    stopped.cancel()
                if len(lines) != count:
                    print("LIST %7d entries: %d lines came back" % (count, len(lines)))
                ftp.quit()
                best = seconds if best is None else min(best, seconds)
            print("LIST %7d entries: %10.1f ms  %8.2f us/entry" %
                  (count, best * 1000, best * 1e6 / count))
        except (OSError, EOFError, ftplib.Error):
            print("LIST %7d entries: not done within %d s (stopped)" % (count, args.list_limit))
        finally:
            server.kill()
            os.remove(image)


def timed(count, operation):
    start = time.monotonic()
    for i in range(count):
        operation(i)
    return count / (time.monotonic() - start)


def small_file_run(args, work):
    """One pass over the small files: ops/s of each operation."""
    image = harness.make_image(os.path.join(work, "small"), {}, size="256M")
    server = serve(image)
    rates = {}
    try:
        ftp = connect(server)
        payload = os.urandom(1024)
        name = "f%04d.bin".__mod__
        rates["STOR"] = timed(args.small,
                              lambda i: ftp.storbinary("STOR " + name(i), io.BytesIO(payload)))
        rates["LIST"] = timed(args.small,
                              lambda i: ftp.retrlines("LIST " + name(i), lambda _: None))
        rates["SIZE"] = timed(args.small, lambda i: ftp.size(name(i)))
        rates["MDTM"] = timed(args.small, lambda i: ftp.voidcmd("MDTM " + name(i)))
        rates["RETR"] = timed(args.small,
                              lambda i: ftp.retrbinary("RETR " + name(i), lambda _: None))
        rates["DELE"] = timed(args.small, lambda i: ftp.delete(name(i)))
        ftp.quit()
    finally:
        server.kill()
        os.remove(image)
    return rates


def spread(values):
    """Median, with the lowest and highest, of a list of figures."""
    values = sorted(values)
    return values[len(values) // 2], values[0], values[-1]


def small_file_figures(args, work):
    runs = [small_file_run(args, work) for _ in range(args.runs)]
    for op in ("STOR", "LIST", "SIZE", "MDTM", "RETR", "DELE"):
        median, low, high = spread([r[op] for r in runs])
        print("%-5s %d x 1 KiB: %8.1f ops/s  (median of %d; %.1f to %.1f)" %
              (op, args.small, median, args.runs, low, high))


class Pattern(io.RawIOBase):
    """`size` bytes of a repeating pattern, read without holding them all."""

    def __init__(self, size):
        self.left = size
        self.block = bytes(range(256)) * (MIB // 256)

    def readable(self):
        return True

    def readinto(self, buffer):
        n = min(len(buffer), self.left, len(self.block))
        buffer[:n] = self.block[:n]
        self.left -= n
        return n


def large_file_run(args, work):
    """One STOR and one RETR of the large file: seconds each."""
    total = args.big_mib * MIB
    image = harness.make_image(os.path.join(work, "big"), {}, size="%dM" % (args.big_mib + 128))
    server = serve(image)
    try:
        ftp = connect(server)
        start = time.monotonic()
        ftp.storbinary("STOR big.bin", io.BufferedReader(Pattern(total), MIB), blocksize=MIB)
        stored = time.monotonic() - start
        received = [0]

        def count(block):
            received[0] += len(block)

        start = time.monotonic()
        ftp.retrbinary("RETR big.bin", count, blocksize=MIB)
        fetched = time.monotonic() - start
        ftp.quit()
        if received[0] != total:
            print("RETR %d MiB: %d bytes came back" % (args.big_mib, received[0]))
    finally:
        server.kill()
        os.remove(image)
    return stored, fetched


def large_file_figures(args, work):
    total = args.big_mib * MIB
    runs = [large_file_run(args, work) for _ in range(args.runs)]
    for label, index in (("STOR", 0), ("RETR", 1)):
        median, low, high = spread([total / r[index] / MB for r in runs])
        print("%s %d MiB: %8.1f MB/s  (median of %d; %.1f to %.1f)" %
              (label, args.big_mib, median, args.runs, low, high))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vrax", required=True)
    parser.add_argument("--mkfs", required=True)
    parser.add_argument("--bench", required=True, help="vrax-bench, which makes the big directories")
    parser.add_argument("--fsck", default="")
    parser.add_argument("--sizes", default="1000,10000,100000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--list-limit", type=int, default=600,
                        help="seconds after which a listing is stopped")
    parser.add_argument("--small", type=int, default=500)
    parser.add_argument("--big-mib", type=int, default=256)
    parser.add_argument("--skip", default="", help="parts to leave out: list,small,big")
    args = parser.parse_args()
    args.sizes = [int(n) for n in args.sizes.split(",") if n]
    harness.TOOLS.update(vrax=args.vrax, mkfs=args.mkfs, fsck=args.fsck)
    skip = set(args.skip.split(","))
    with tempfile.TemporaryDirectory() as work:
        if "list" not in skip:
            list_figures(args, work)
        if "small" not in skip:
            small_file_figures(args, work)
        if "big" not in skip:
            large_file_figures(args, work)


if __name__ == "__main__":
    main()
