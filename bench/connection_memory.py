#!/usr/bin/env python3
"""What clients cost the server: the resident memory (RSS), threads and
descriptors of one vrax process with no client, with 100 and 1,000 idle
control connections, with 100 downloads and 100 uploads whose clients
stopped reading or sending, and the highest RSS while 16 clients download
at full speed. Prints figures; asserts nothing.

    bench/connection_memory.py --vrax build/vrax --mkfs build/tools/vrax-mkfs

Runs on 127.0.0.1 only (clients come from several loopback addresses, as
the server allows 32 connections per address) and stops what it starts.
"""

import argparse
import ftplib
import os
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "ftp"))
import harness  # noqa: E402

PER_ADDRESS = 30
BIG = 16 * 1024 * 1024


def source(n):
    return "127.0.%d.%d" % (1 + n // (PER_ADDRESS * 250), 2 + (n // PER_ADDRESS) % 250)


def connect(port, n, host="127.0.0.1"):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.bind((source(n), 0))
    s.settimeout(20)
    s.connect((host, port))
    return s


def reply(s):
    data = b""
    while not data.endswith(b"\r\n"):
        chunk = s.recv(1)
        if not chunk:
            raise EOFError(data)
        data += chunk
    return data.decode()


def session(port, n):
    s = connect(port, n)
    reply(s)
    for line in ("USER u", "PASS p", "TYPE I"):
        s.sendall(line.encode() + b"\r\n")
        reply(s)
    return s


def stalled(port, n, command):
    """A session whose transfer started and whose client then stopped."""
    s = session(port, n)
    s.sendall(b"PASV\r\n")
    text = reply(s)
    numbers = text[text.index("(") + 1:text.index(")")].split(",")
    data = connect(int(numbers[4]) * 256 + int(numbers[5]), n)
    s.sendall(command.encode() + b"\r\n")
    reply(s)  # 150
    if command.startswith("STOR"):
        data.sendall(b"u" * 65536)
    return [s, data]


def figures(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    rss = int(fields["VmRSS"].split()[0]) / 1024.0
    descriptors = len(os.listdir("/proc/%d/fd" % pid))
    return rss, int(fields["Threads"]), descriptors


def show(label, pid, base=None):
    time.sleep(1.0)
    rss, threads, fds = figures(pid)
    extra = "" if base is None else "  (+%.1f MiB)" % (rss - base)
    print("%-34s RSS %7.1f MiB%s  threads %5d  descriptors %5d" % (label, rss, extra, threads, fds))
    return rss


def busy_peak(port, pid, clients=16, rounds=4):
    """The highest RSS (MiB) seen while `clients` sessions each fetch big.bin
    `rounds` times as fast as they can read."""
    def fetch(n):
        f = ftplib.FTP(source_address=(source(n), 0))
        f.connect("127.0.0.1", port, timeout=60)
        f.login("u", "p")
        for _ in range(rounds):
            f.retrbinary("RETR big.bin", lambda block: None, blocksize=1 << 20)
        f.quit()
    workers = [threading.Thread(target=fetch, args=(n,)) for n in range(clients)]
    for w in workers:
        w.start()
    peak = 0.0
    while any(w.is_alive() for w in workers):
        peak = max(peak, figures(pid)[0])
        time.sleep(0.02)
    for w in workers:
        w.join()
    return peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vrax", required=True)
    parser.add_argument("--mkfs", required=True)
    args = parser.parse_args()
    harness.TOOLS.update(vrax=args.vrax, mkfs=args.mkfs)
    with tempfile.TemporaryDirectory() as work:
        image = harness.make_image(work, {"big.bin": b"b" * BIG}, size="128M")
        server = harness.Server(image, ["-c=2000"]).start()
        pid = server.process.pid
        held = []
        try:
            base = show("no client", pid)
            print("%-34s RSS %7.1f MiB at most" % ("16 clients downloading", busy_peak(server.port, pid)))
            held += [session(server.port, n) for n in range(100)]
            show("100 idle connections", pid, base)
            held += [session(server.port, n) for n in range(100, 1000)]
            show("1,000 idle connections", pid, base)
            for s in held:
                s.close()
            held = []
            time.sleep(1.5)
            base = show("clients gone", pid)
            for n in range(100):
                held += stalled(server.port, n, "RETR big.bin")
            show("100 stalled downloads", pid, base)
            for n in range(100, 200):
                held += stalled(server.port, n, "STOR up%d.bin" % n)
            show("+ 100 stalled uploads", pid, base)
        finally:
            for s in held:
                s.close()
            server.stop()


if __name__ == "__main__":
    main()
