#!/usr/bin/env python3
"""Serves one host tree with vsftpd and with vrax and runs the same FTP
client work against both, on 127.0.0.1, one server at a time. Prints a
table of figures; asserts nothing and is never run by the tests.

    bench/compare_servers.py [--vrax build/vrax] [--mkfs build/tools/vrax-mkfs]

vsftpd is taken from /usr/sbin/vsftpd, or installed with apt-get (as root)
unless --no-install is given; it serves the tree to an anonymous account
that may write below up/. vrax serves an image that vrax-mkfs --from made
of the same tree, to a named account. Where vsftpd cannot run, a line
says why, its column reads "skipped", and vrax is measured all the same.

Every process started here is stopped again, and every temporary file
removed, also when a step fails or the script is interrupted.
"""

import argparse
import ftplib
import os
import pwd
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts", "ftp"))
import harness  # noqa: E402

KIB = 1024
MIB = 1024 * 1024
MB = 1000 * 1000
IO_TIMEOUT = 300.0
START_TIMEOUT = 20.0
VSFTPD = "/usr/sbin/vsftpd"
NO_SERVICE_START = "/usr/sbin/policy-rc.d"


class Skip(Exception):
    """A server that cannot be measured here; the text says why."""


# ---------------------------------------------------------------- the tree

def write_tree(root, a):
    """The host tree both servers serve: small/ (1 KiB files), big.bin,
    par/ (one file per parallel client), list/ (many tiny files) and the
    empty upload directory up/."""
    block = os.urandom(MIB)
    for d in ("small", "par", "list", "up"):
        os.makedirs(os.path.join(root, d))
    for n in range(a.small_count):
        write_file(os.path.join(root, "small", "f%05d.bin" % n), block[n % 1000:][:KIB])
    write_big(os.path.join(root, "big.bin"), block, a.big_mib)
    for n in range(a.parallel):
        write_big(os.path.join(root, "par", "p%02d.bin" % n), block, a.parallel_mib)
    for n in range(a.list_count):
        write_file(os.path.join(root, "list", "e%05d.txt" % n), b"entry %05d\n" % n)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_big(path, block, mib):
    with open(path, "wb") as f:
        for n in range(mib):
            f.write(block[n % 251:] + block[:n % 251])


def tree_bytes(root):
    total = 0
    for folder, _, names in os.walk(root):
        total += sum(os.path.getsize(os.path.join(folder, n)) for n in names)
    return total


# ---------------------------------------------------------------- vsftpd

def find_vsftpd(allow_install):
    if os.access(VSFTPD, os.X_OK):
        return VSFTPD
    if not allow_install:
        raise Skip("%s not found (--no-install given)" % VSFTPD)
    if os.geteuid() != 0 or shutil.which("apt-get") is None:
        raise Skip("%s not found, and apt-get cannot install it here (needs root)" % VSFTPD)
    print("installing the Debian package vsftpd with apt-get ...", flush=True)
    install_without_starting_services()
    if not os.access(VSFTPD, os.X_OK):
        raise Skip("apt-get did not install %s" % VSFTPD)
    return VSFTPD


def install_without_starting_services():
    """apt-get install vsftpd, with the Debian policy hook that keeps the
    package from starting its own service in place for the install."""
    own_hook = not os.path.exists(NO_SERVICE_START)
    if own_hook:
        write_file(NO_SERVICE_START, b"#!/bin/sh\nexit 101\n")
        os.chmod(NO_SERVICE_START, 0o755)
    try:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-q", "vsftpd"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, timeout=600)
    except (OSError, subprocess.SubprocessError) as e:
        raise Skip("apt-get install vsftpd failed: %s" % e)
    finally:
        if own_hook:
            os.remove(NO_SERVICE_START)


def anonymous_system_user():
    for name in ("ftp", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            pass
    raise Skip("neither the user ftp nor nobody exists")


def vsftpd_config(work, tree, port, user):
    """A standalone configuration in the foreground: anonymous logins rooted
    at the tree, uploads, directories and overwrites allowed, passive ports
    on the loopback address, no logs beyond a file in the work directory."""
    empty = os.path.join(work, "vsftpd-empty")
    os.makedirs(empty, mode=0o755)
    low = random.randrange(20000, 50000)
    lines = [
        "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
        "background=NO", "anonymous_enable=YES", "local_enable=NO", "no_anon_password=YES",
        "anon_root=" + tree, "ftp_username=" + user.pw_name, "write_enable=YES",
        "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
        "anon_other_write_enable=YES", "anon_umask=022", "pasv_enable=YES",
        "pasv_address=127.0.0.1", "pasv_min_port=%d" % low, "pasv_max_port=%d" % (low + 2000),
        "connect_from_port_20=NO", "secure_chroot_dir=" + empty, "seccomp_sandbox=NO",
        "isolate=NO", "isolate_network=NO", "xferlog_enable=NO", "syslog_enable=NO",
        "vsftpd_log_file=" + os.path.join(work, "vsftpd.log"), "dirmessage_enable=NO",
        "idle_session_timeout=600", "data_connection_timeout=600",
        "max_clients=0", "max_per_ip=0",
    ]
    path = os.path.join(work, "vsftpd.conf")
    write_file(path, ("\n".join(lines) + "\n").encode())
    os.chmod(path, 0o600)
    return path


def prepare_tree_for_vsftpd(tree, user):
    """Readable by everyone; the root itself not writable by the anonymous
    user (vsftpd refuses a writable root), up/ owned by it."""
    for folder, dirs, names in os.walk(tree):
        os.chmod(folder, 0o755)
        for n in names:
            os.chmod(os.path.join(folder, n), 0o644)
    os.chown(os.path.join(tree, "up"), user.pw_uid, user.pw_gid)
    os.chmod(os.path.dirname(tree), 0o711)  # the work directory: passable


class Vsftpd:
    """vsftpd in the foreground, in a session of its own: a Ctrl-C at the
    terminal reaches this script, which then stops vsftpd in order."""

    def __init__(self, binary, config, port, work):
        self.port = port
        self.work = work
        self.output = open(os.path.join(work, "vsftpd.out"), "w+b")
        self.process = subprocess.Popen([binary, config], stdin=subprocess.DEVNULL,
                                        stdout=self.output, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        if not wait_for_greeting(port, self.process):
            self.stop()
            raise Skip("vsftpd did not start: %s" % self.report())

    def report(self):
        self.output.seek(0)
        text = self.output.read().decode(errors="replace").strip()
        log = os.path.join(self.work, "vsftpd.log")
        if os.path.exists(log):
            with open(log, errors="replace") as f:
                text += " " + f.read().strip()
        return text or "no output"

    def stop(self):
        """Ends every session process the listener forked (they run in
        sessions of their own, out of reach of a group signal), then the
        listener. A run that ends normally has no sessions left by then."""
        if self.process.poll() is None:
            # Deepest first, each while its parent lives to collect it.
            for pid in reversed(descendants(self.process.pid)):
                end_process(pid)
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(5)
        self.output.close()


def end_process(pid, seconds=2.0):
    """SIGKILL to `pid`; waits (bounded) until its parent has collected it."""
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + seconds
    while os.path.exists("/proc/%d" % pid) and time.monotonic() < deadline:
        time.sleep(0.02)


def descendants(pid):
    """The processes below `pid`: children, their children and so on."""
    children = {}
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(parent, []).append(int(entry))
        except (OSError, IndexError, ValueError):
            continue
    found, todo = [], [pid]
    while todo:
        below = children.get(todo.pop(), [])
        found += below
        todo += below
    return found


def wait_for_greeting(port, process):
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
                if s.recv(64).startswith(b"220"):
                    return True
        except OSError:
            time.sleep(0.1)
    return False


# ---------------------------------------------------------------- vrax

def make_image(a, work, tree):
    """An image of the tree with room for every upload of the run."""
    uploads = a.big_mib * MIB + 3 * a.small_count * 8 * KIB
    records = (a.small_count * 4 + a.list_count + a.parallel) * 2 * KIB
    size_mib = int((tree_bytes(tree) + uploads + records) * 1.15 / MIB) + 128
    image = os.path.join(work, "volume.img")
    began = time.monotonic()
    done = subprocess.run([a.mkfs, "--size", "%dM" % size_mib, "--from", tree, image],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=3600)
    if done.returncode != 0:
        reason = done.stderr.decode(errors="replace").strip().splitlines()[-1:]
        raise Skip("vrax-mkfs exit %d: %s" % (done.returncode, " ".join(reason)))
    print("vrax-mkfs --from: %d MiB image in %.1f s" % (size_mib, time.monotonic() - began),
          flush=True)
    return image


def start_vrax(a, image):
    harness.TOOLS["vrax"] = a.vrax
    server = harness.Server(image, password="bench")
    try:
        server.start()
    except AssertionError as e:
        raise Skip(str(e))
    return server


# ---------------------------------------------------------------- client work

def session(target):
    f = ftplib.FTP()
    f.connect("127.0.0.1", target["port"], timeout=IO_TIMEOUT)
    f.login(target["user"], target["password"])
    f.voidcmd("TYPE I")
    return f


def fetch(f, path, buffer):
    """RETR `path`; the byte count."""
    total = 0
    with f.transfercmd("RETR " + path) as conn:
        while True:
            n = conn.recv_into(buffer)
            if n == 0:
                break
            total += n
    f.voidresp()
    return total


def store(f, path, data, piece=MIB):
    with f.transfercmd("STOR " + path) as conn:
        view = memoryview(data)
        for at in range(0, len(view), piece):
            conn.sendall(view[at:at + piece])
    f.voidresp()


def timed(work):
    began = time.monotonic()
    result = work()
    return time.monotonic() - began, result


def small_fetch(target, a, _round):
    f = session(target)
    buffer = bytearray(64 * KIB)
    names = ["small/f%05d.bin" % n for n in range(a.small_count)]
    seconds, total = timed(lambda: sum(fetch(f, n, buffer) for n in names))
    f.quit()
    expect(total == a.small_count * KIB, "small files came back short: %d bytes" % total)
    return a.small_count / seconds


def small_store(target, a, round_number):
    f = session(target)
    folder = "up/r%d" % round_number
    f.mkd(folder)
    data = os.urandom(KIB)
    names = ["%s/s%05d.bin" % (folder, n) for n in range(a.small_count)]
    seconds, _ = timed(lambda: [store(f, n, data) for n in names])
    expect(f.size(names[-1]) == KIB, "the last small file stored is not 1 KiB")
    f.quit()
    return a.small_count / seconds


def big_download(target, a, _round):
    f = session(target)
    buffer = bytearray(MIB)
    seconds, total = timed(lambda: fetch(f, "big.bin", buffer))
    f.quit()
    expect(total == a.big_mib * MIB, "big.bin came back short: %d bytes" % total)
    return total / MB / seconds


def big_upload(target, a, _round):
    f = session(target)
    data = os.urandom(MIB) * a.big_mib
    seconds, _ = timed(lambda: store(f, "up/big-upload.bin", data))
    expect(f.size("up/big-upload.bin") == len(data), "the uploaded file has the wrong size")
    f.quit()
    return len(data) / MB / seconds


def list_entries(target, a, _round):
    f = session(target)
    lines = []
    seconds, _ = timed(lambda: f.retrlines("LIST list", lines.append))
    f.quit()
    expect(len(lines) >= a.list_count, "LIST gave %d lines" % len(lines))
    return seconds


def parallel_download(target, a, _round):
    sessions = [session(target) for _ in range(a.parallel)]
    totals = [0] * a.parallel
    errors = []
    start = threading.Barrier(a.parallel + 1)

    def client(n):
        start.wait()
        try:
            totals[n] = fetch(sessions[n], "par/p%02d.bin" % n, bytearray(MIB))
        except (OSError, ftplib.Error) as e:
            errors.append(e)

    threads = [threading.Thread(target=client, args=(n,)) for n in range(a.parallel)]
    for t in threads:
        t.start()
    start.wait()
    began = time.monotonic()
    for t in threads:
        t.join()
    seconds = time.monotonic() - began
    for f in sessions:
        f.close()
    expect(not errors, "parallel clients failed: %s" % errors[:3])
    expect(sum(totals) == a.parallel * a.parallel_mib * MIB, "parallel downloads came back short")
    return sum(totals) / MB / seconds


def expect(condition, text):
    if not condition:
        raise RuntimeError(text)


# (key, label, unit, function, repeated): repeated scenarios give the median of
# --repeat runs; a time is better when lower, the other figures when higher.
def scenarios(a):
    return [
        ("fetch", "%d x 1 KiB files fetched, one session" % a.small_count, "files/s",
         small_fetch, True),
        ("store", "%d x 1 KiB files stored, one session" % a.small_count, "files/s",
         small_store, True),
        ("down", "%d MiB download" % a.big_mib, "MB/s", big_download, False),
        ("up", "%d MiB upload" % a.big_mib, "MB/s", big_upload, False),
        ("list", "LIST of %d entries" % a.list_count, "s", list_entries, True),
        ("par", "%d clients downloading %d MiB each" % (a.parallel, a.parallel_mib),
         "MB/s total", parallel_download, False),
    ]


def measure(name, target, a):
    """{key: figure or error text} for every scenario against one server."""
    figures = {}
    for key, label, _, work, repeated in scenarios(a):
        runs = a.repeat if repeated else 1
        try:
            values = [work(target, a, n) for n in range(runs)]
            figures[key] = statistics.median(values)
            print("  %-7s %-45s %s" % (name, label, ", ".join("%.3f" % v for v in values)),
                  flush=True)
        except (OSError, EOFError, ftplib.Error, RuntimeError) as e:
            figures[key] = "failed: %s" % e
            print("  %-7s %-45s failed: %s" % (name, label, e), flush=True)
    return figures


# ---------------------------------------------------------------- the run

def run_vsftpd(a, work, tree):
    try:
        binary = find_vsftpd(not a.no_install)
        user = anonymous_system_user()
        prepare_tree_for_vsftpd(tree, user)
        port = harness.free_port()
        server = Vsftpd(binary, vsftpd_config(work, tree, port, user), port, work)
    except Skip as e:
        print("vsftpd skipped: %s" % e, flush=True)
        return "skipped"
    try:
        return measure("vsftpd", {"port": port, "user": "anonymous", "password": ""}, a)
    finally:
        server.stop()


def run_vrax(a, work, tree):
    try:
        server = start_vrax(a, make_image(a, work, tree))
    except (Skip, subprocess.SubprocessError, OSError) as e:
        print("vrax skipped: %s" % e, flush=True)
        return "skipped"
    try:
        return measure("vrax", {"port": server.port, "user": "u", "password": "bench"}, a)
    finally:
        try:
            server.stop()
        finally:
            server.kill()


def cell(figures, key, unit):
    if isinstance(figures, str):
        return figures
    value = figures[key]
    if isinstance(value, str):
        return "failed"
    return "%.3f %s" % (value, unit) if unit == "s" else "%.1f %s" % (value, unit)


def ratio(left, right, key):
    if isinstance(left, str) or isinstance(right, str):
        return "-"
    if isinstance(left[key], str) or isinstance(right[key], str) or left[key] == 0:
        return "-"
    return "%.2f" % (right[key] / left[key])


def print_table(a, vsftpd, vrax):
    rows = [("scenario", "vsftpd", "vrax", "vrax/vsftpd")]
    for key, label, unit, _, repeated in scenarios(a):
        name = label + (" (median of %d)" % a.repeat if repeated else "")
        rows.append((name, cell(vsftpd, key, unit), cell(vrax, key, unit),
                     ratio(vsftpd, vrax, key)))
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    print()
    for n, row in enumerate(rows):
        print("  ".join(text.ljust(widths[i]) if i == 0 else text.rjust(widths[i])
                        for i, text in enumerate(row)))
        if n == 0:
            print("  ".join("-" * w for w in widths))
    print("\nMB = 10^6 bytes. The ratio divides vrax's figure by vsftpd's: for "
          "files/s and MB/s above 1 means vrax is faster, for the LIST time above 1 "
          "means vrax is slower.")
    print("vrax writes through to the disk image before it answers (O_DSYNC); "
          "vsftpd writes into the host's page cache.")


def parse_arguments():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vrax", default=os.path.join(ROOT, "build", "vrax"))
    p.add_argument("--mkfs", default=os.path.join(ROOT, "build", "tools", "vrax-mkfs"))
    p.add_argument("--no-install", action="store_true",
                   help="skip vsftpd when it is not installed instead of installing it")
    p.add_argument("--small-count", type=int, default=1000)
    p.add_argument("--big-mib", type=int, default=256)
    p.add_argument("--list-count", type=int, default=10000)
    p.add_argument("--parallel", type=int, default=16)
    p.add_argument("--parallel-mib", type=int, default=64)
    p.add_argument("--repeat", type=int, default=3)
    return p.parse_args()


def main():
    a = parse_arguments()
    # SIGTERM ends the run as Ctrl-C does: through every cleanup below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    work = tempfile.mkdtemp(prefix="vrax-compare-")
    try:
        tree = os.path.join(work, "tree")
        print("writing the tree ...", flush=True)
        write_tree(tree, a)
        vrax = run_vrax(a, work, tree)  # first: vsftpd's run writes into the tree
        vsftpd = run_vsftpd(a, work, tree)
        print_table(a, vsftpd, vrax)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
