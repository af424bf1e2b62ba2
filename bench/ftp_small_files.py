#!/usr/bin/env python3
"""Small-file uploads over FTP: files per second that one client session
stores (STOR of 1 KiB files) into a fresh volume served by vrax, and how
fast it fetches them back. Prints figures; asserts nothing.

    bench/ftp_small_files.py --vrax build/vrax --mkfs build/tools/vrax-mkfs [--count 300]

Runs on 127.0.0.1 only and stops the server it starts.
"""

import argparse
import ftplib
import io
import os
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "ftp"))
import harness  # noqa: E402


class QuickAckFTP(ftplib.FTP):
    """A client that acknowledges every reply at once (TCP_QUICKACK before each
    read), so that a server's small replies are not held back waiting for the
    client's delayed acknowledgement: what is left is the server's own time."""

    def getline(self):
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        return super().getline()


def run(count, size, quickack):
    with tempfile.TemporaryDirectory() as work:
        image = harness.make_image(work, {}, size="64M")
        server = harness.Server(image)
        server.start()
        try:
            ftp = QuickAckFTP() if quickack else ftplib.FTP()
            ftp.connect("127.0.0.1", server.port, timeout=30)
            ftp.login("u", "p")
            payload = os.urandom(size)
            start = time.monotonic()
            for i in range(count):
                ftp.storbinary("STOR f%04d.bin" % i, io.BytesIO(payload))
            stored = time.monotonic() - start
            start = time.monotonic()
            for i in range(count):
                ftp.retrbinary("RETR f%04d.bin" % i, lambda _: None)
            fetched = time.monotonic() - start
            ftp.quit()
        finally:
            server.stop()
    return count / stored, count / fetched


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vrax", required=True)
    parser.add_argument("--mkfs", required=True)
    parser.add_argument("--fsck", default="")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--quickack", action="store_true",
                        help="acknowledge replies at once (measures the server, not delayed ACKs)")
    args = parser.parse_args()
    harness.TOOLS.update(vrax=args.vrax, mkfs=args.mkfs, fsck=args.fsck)
    results = [run(args.count, args.size, args.quickack) for _ in range(args.runs)]
    stores = sorted(r[0] for r in results)
    fetches = sorted(r[1] for r in results)
    print("STOR %d x %d bytes: %.1f files/s (median of %d)" %
          (args.count, args.size, stores[len(stores) // 2], args.runs))
    print("RETR %d x %d bytes: %.1f files/s (median of %d)" %
          (args.count, args.size, fetches[len(fetches) // 2], args.runs))


if __name__ == "__main__":
    main()
