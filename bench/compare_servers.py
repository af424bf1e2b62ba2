#!/usr/bin/env python3
"""Serves one host tree with vsftpd and with vrax and runs the same FTP
client work against both, on 127.0.0.1, one server at a time. Prints a
table of figures with the ratio vrax/vsftpd, then the engine's own figures
(vrax-bench); asserts nothing and is never run by the tests.

    bench/compare_servers.py [--vrax build/vrax] [--mkfs build/tools/vrax-mkfs]
                             [--bench build/bench/vrax-bench]

The rows, with the defaults (the default run takes some 2 to 4 minutes on
a machine with 2 cores):
- STOR and RETR of one large file (--big-mib 256) with Python's ftplib,
  and again with curl, in MB/s (10^6 bytes per second);
- 16 clients (--parallel) each RETR a file of 64 MiB (--parallel-mib) at
  once: MB/s in all, and the server's memory at its highest meanwhile;
- 500 small files of 1 KiB (--small-count) in one session, each op over
  every file in turn: STOR, LIST of the one file, SIZE, MDTM, RETR, DELE,
  in ops/s;
- LIST of directories of 1,000, 10,000 and 100,000 entries
  (--list-counts): seconds per listing and microseconds per entry; a
  listing still running after --list-limit seconds is stopped.
Each row but the two of the parallel downloads (one pass) is the median
of --repeat (3) passes; each pass's figures are printed as it ends.

vsftpd (/usr/sbin/vsftpd) and curl are installed with apt-get (as root)
when missing, unless --no-install is given. vsftpd serves the tree to an
anonymous account that may write below up/. vrax serves an image that
vrax-mkfs --from made of the same tree (some 15 s for the default tree of
111,000 entries and 1.3 GiB), to a named account; the image's free space
is then allocated on the host (as a disk's is) unless --sparse-image is
given. Where vsftpd cannot run,
a line says why, its column reads "skipped", and vrax is measured all the
same; without curl, its rows read "skipped". The host's dirty pages are
written back (sync) before each server is measured. The ftplib client
acknowledges every reply at once, so that the client's delayed
acknowledgements do not blur the servers' figures.

The engine's figures are those of `vrax-bench` (its image in the work
directory), and for each --list-counts size, `vrax-bench make-dir` and
`vrax-bench lookups`: the shape of such a directory's index and the cost
of looking names up in it.

Every process started here is stopped again, and every temporary file
removed, also when a step fails or the script is interrupted.
"""

import argparse
import collections
import ftplib
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts", "ftp"))
import harness  # noqa: E402
import ftp_work  # noqa: E402
import vsftpd_server  # noqa: E402
from ftp_work import KIB, MIB  # noqa: E402
from vsftpd_server import Skip  # noqa: E402

CURL = "/usr/bin/curl"
BENCH_TIMEOUT = 900
SYNC_TIMEOUT = 300

# A row of the table: the key of its figure, its label and unit.
Row = collections.namedtuple("Row", "key label unit")
# A measurement: its function (see ftp_work), whether it runs --repeat
# times (the table then gives the medians), its rows, and why it is
# skipped when it is.
Work = collections.namedtuple("Work", "function repeated rows skipped", defaults=(None,))


def works(a):
    big = "%d MiB file" % a.big_mib
    small = "of %d x 1 KiB, one session" % a.small_count
    together = "%d clients x RETR of %d MiB at once" % (a.parallel, a.parallel_mib)
    lists = []
    for n in a.list_counts:
        lists += [Row("list-%d" % n, "LIST of %d entries" % n, "s"),
                  Row("entry-%d" % n, "  the same, per entry", "us")]
    return [
        Work(ftp_work.big_file_ftplib, True,
             [Row("ftplib-up", "STOR of one %s, ftplib" % big, "MB/s"),
              Row("ftplib-down", "RETR of one %s, ftplib" % big, "MB/s")]),
        Work(ftp_work.big_file_curl, True,
             [Row("curl-up", "STOR of one %s, curl" % big, "MB/s"),
              Row("curl-down", "RETR of one %s, curl" % big, "MB/s")], a.no_curl),
        Work(ftp_work.parallel_download, False,
             [Row("par", together, "MB/s"),
              Row("memory", "  server memory meanwhile, highest (*)", "MiB")]),
        Work(ftp_work.small_files, True,
             [Row("small-" + op, "%s %s" % (op, small), "ops/s")
              for op in ftp_work.SMALL_OPS]),
        Work(ftp_work.listings, True, lists),
    ]


# ---------------------------------------------------------------- the tree

def write_tree(root, a):
    """The host tree both servers serve: big.bin, par/ (one file per
    parallel client), list-N/ (N tiny files) for each listing size, and
    the empty upload directory up/."""
    block = os.urandom(MIB)
    for d in ["par", "up"] + ["list-%d" % n for n in a.list_counts]:
        os.makedirs(os.path.join(root, d))
    write_big(os.path.join(root, "big.bin"), block, a.big_mib)
    for n in range(a.parallel):
        write_big(os.path.join(root, "par", "p%02d.bin" % n), block, a.parallel_mib)
    for count in a.list_counts:
        folder = os.path.join(root, "list-%d" % count)
        for n in range(count):
            write_file(os.path.join(folder, "e%06d.txt" % n), b"entry %06d\n" % n)


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


# ---------------------------------------------------------------- vrax

def make_image(a, work, tree):
    """An image of the tree with room for every upload of the run."""
    uploads = 2 * a.big_mib * MIB + a.repeat * a.small_count * 8 * KIB
    records = (sum(a.list_counts) + a.repeat * a.small_count + a.parallel + 16) * 2 * KIB
    size_mib = int((tree_bytes(tree) + uploads + records) * 1.15 / MIB) + 128
    image = os.path.join(work, "volume.img")
    began = time.monotonic()
    done = subprocess.run([a.mkfs, "--size", "%dM" % size_mib, "--from", tree, image],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=3600)
    if done.returncode != 0:
        reason = done.stderr.decode(errors="replace").strip().splitlines()[-1:]
        raise Skip("vrax-mkfs exit %d: %s" % (done.returncode, " ".join(reason)))
    print("vrax-mkfs --from: %d MiB image of %d entries in %.1f s" %
          (size_mib, count_entries(tree), time.monotonic() - began), flush=True)
    if not a.sparse_image:
        allocate_image(image)
    return image


def allocate_image(image):
    """Gives every block of the image a place on the host, as a disk's blocks
    have: vrax then measures its own writes, not the host file system
    allocating the image's free space block by block under them."""
    began = time.monotonic()
    full = image + ".full"
    subprocess.run(["cp", "--sparse=never", image, full], check=True, timeout=3600)
    os.replace(full, image)
    print("image allocated on the host (cp --sparse=never) in %.1f s" %
          (time.monotonic() - began), flush=True)


def count_entries(tree):
    return sum(len(dirs) + len(names) for _, dirs, names in os.walk(tree))


def start_vrax(a, image):
    harness.TOOLS["vrax"] = a.vrax
    server = harness.Server(image, password="bench")
    try:
        server.start()
    except AssertionError as e:
        raise Skip(str(e))
    return server


def stop_vrax(server):
    try:
        server.stop()
    except AssertionError as e:
        print("vrax: %s" % e, flush=True)
    finally:
        server.kill()


# ---------------------------------------------------------------- measuring

def measure(name, target, a):
    """{row key: figure, or the text "failed" or "skipped"} for every row,
    and under "notes" what the work saw amiss."""
    figures = {"notes": target["notes"]}
    for work in works(a):
        if work.skipped:
            figures.update((row.key, "skipped") for row in work.rows)
            continue
        runs = a.repeat if work.repeated else 1
        try:
            passes = []
            for n in range(runs):
                passes.append(work.function(target, a, n))
                print_pass(name, work.rows, passes[-1])
            figures.update((row.key, statistics.median(p[row.key] for p in passes))
                           for row in work.rows)
        except (OSError, EOFError, ftplib.Error, RuntimeError, subprocess.SubprocessError) as e:
            figures.update((row.key, "failed") for row in work.rows)
            print("  %-7s %-45s failed: %s" % (name, work.rows[0].label, e), flush=True)
    return figures


def print_pass(name, rows, figures):
    for row in rows:
        print("  %-7s %-45s %s" % (name, row.label.strip(), number(figures[row.key], row.unit)),
              flush=True)


def run_vsftpd(a, work, tree):
    try:
        binary = vsftpd_server.find_or_install(vsftpd_server.VSFTPD, "vsftpd",
                                               not a.no_install)
        user = vsftpd_server.anonymous_system_user()
        vsftpd_server.prepare_tree(tree, user)
        port = harness.free_port()
        config = vsftpd_server.write_config(work, tree, port, user)
        server = vsftpd_server.Vsftpd(binary, config, port, work)
    except Skip as e:
        print("vsftpd skipped: %s" % e, flush=True)
        return "skipped"
    target = {"port": port, "user": "anonymous", "password": "", "notes": [],
              "memory": lambda: ftp_work.PeakPss(server.pids)}
    try:
        settle()
        return measure("vsftpd", target, a)
    finally:
        server.stop()


def run_vrax(a, work, tree):
    try:
        image = make_image(a, work, tree)
        settle()
        server = start_vrax(a, image)
    except (Skip, subprocess.SubprocessError, OSError) as e:
        print("vrax skipped: %s" % e, flush=True)
        return "skipped"
    target = {"port": server.port, "user": "u", "password": "bench", "notes": [],
              "memory": lambda: ftp_work.PeakRss(server.process.pid)}
    try:
        return measure("vrax", target, a)
    finally:
        stop_vrax(server)


def settle():
    """Writes the host's dirty pages back before a server is measured, so
    that what the set-up left to write does not weigh on its figures."""
    began = time.monotonic()
    try:
        subprocess.run(["sync"], stdin=subprocess.DEVNULL, timeout=SYNC_TIMEOUT)
    except (OSError, subprocess.SubprocessError) as e:
        print("sync: %s" % e, flush=True)
        return
    print("dirty pages written back (sync) in %.1f s" % (time.monotonic() - began), flush=True)


def find_curl(a):
    """Sets a.curl, or a.no_curl to the reason its rows are skipped."""
    a.curl, a.no_curl = None, None
    try:
        a.curl = vsftpd_server.find_or_install(CURL, "curl", not a.no_install)
    except Skip as e:
        a.no_curl = "curl rows skipped: %s" % e
        print(a.no_curl, flush=True)


# ---------------------------------------------------------------- the table

def number(value, unit):
    decimals = {"s": 3, "us": 2}.get(unit, 1)
    return "%.*f %s" % (decimals, value, unit)


def cell(figures, row):
    if isinstance(figures, str):
        return figures
    value = figures[row.key]
    return value if isinstance(value, str) else number(value, row.unit)


def ratio(left, right, key):
    if isinstance(left, str) or isinstance(right, str):
        return "-"
    if isinstance(left[key], str) or isinstance(right[key], str) or left[key] == 0:
        return "-"
    return "%.2f" % (right[key] / left[key])


def print_table(a, vsftpd, vrax):
    rows = [("", "vsftpd", "vrax", "vrax/vsftpd")]
    median = " (median of %d)" % a.repeat if a.repeat > 1 else ""
    for work in works(a):
        for row in work.rows:
            label = row.label + (median if work.repeated else "")
            rows.append((label, cell(vsftpd, row), cell(vrax, row), ratio(vsftpd, vrax, row.key)))
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    print()
    for n, row in enumerate(rows):
        print("  ".join(text.ljust(widths[i]) if i == 0 else text.rjust(widths[i])
                        for i, text in enumerate(row)))
        if n == 0:
            print("  ".join("-" * w for w in widths))
    print_footnote()
    print_notes(("vsftpd", vsftpd), ("vrax", vrax))


def print_footnote():
    print("""
MB = 10^6 bytes, MiB = 2^20 bytes. The ratio divides vrax's figure by vsftpd's:
for MB/s and ops/s above 1 means vrax is faster; for the LIST times (s, us)
and the memory (MiB) lower is better, so below 1 means vrax is faster or
smaller.
(*) vsftpd: the highest sum of PSS over its listener and the session
processes it forked (/proc/PID/smaps_rollup); vrax, one process: its highest
RSS (VmHWM, reset before the downloads, and VmRSS sampled every 50 ms).
vrax writes through to the disk image before it answers (O_DSYNC); vsftpd
writes into the host's page cache.""")


def print_notes(*servers):
    for name, figures in servers:
        for text in [] if isinstance(figures, str) else figures["notes"]:
            print("Note, %s: %s" % (name, text))


# ---------------------------------------------------------------- the engine

def engine_figures(a, work):
    found = os.access(a.bench, os.X_OK)
    if found:
        settle()
    print("\nThe engine's own figures (%s):" % a.bench)
    if not found:
        print("  %s not found: no engine figures (build the target vrax-bench)" % a.bench)
        return
    run_bench(a, [work])  # its 512 MiB image goes into the work directory
    image = os.path.join(work, "make-dir.img")
    for count in a.list_counts:
        if run_bench(a, ["make-dir", image, str(count)]):
            run_bench(a, ["lookups", image, str(count)])
        if os.path.exists(image):
            os.remove(image)


def run_bench(a, arguments):
    """Runs vrax-bench and prints its lines; True when it succeeded."""
    try:
        done = subprocess.run([a.bench] + arguments, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=BENCH_TIMEOUT)
    except (OSError, subprocess.SubprocessError) as e:
        print("  vrax-bench %s: %s" % (" ".join(arguments[:1]), e))
        return False
    for line in done.stdout.splitlines():
        print("  " + line)
    if done.returncode != 0:
        print("  vrax-bench %s: exit %d %s" % (" ".join(arguments[:1]), done.returncode,
                                              done.stderr.strip()[-200:]))
    return done.returncode == 0


# ---------------------------------------------------------------- the run

def parse_arguments():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vrax", default=os.path.join(ROOT, "build", "vrax"))
    p.add_argument("--mkfs", default=os.path.join(ROOT, "build", "tools", "vrax-mkfs"))
    p.add_argument("--bench", default=os.path.join(ROOT, "build", "bench", "vrax-bench"))
    p.add_argument("--sparse-image", action="store_true",
                   help="leave the image's free space unallocated on the host")
    p.add_argument("--no-install", action="store_true",
                   help="skip vsftpd or curl when not installed instead of installing them")
    p.add_argument("--small-count", type=int, default=500)
    p.add_argument("--big-mib", type=int, default=256)
    p.add_argument("--list-counts", default="1000,10000,100000",
                   help="sizes of the directories listed, separated by commas")
    p.add_argument("--list-limit", type=int, default=120,
                   help="seconds after which one listing is stopped")
    p.add_argument("--parallel", type=int, default=16)
    p.add_argument("--parallel-mib", type=int, default=64)
    p.add_argument("--repeat", type=int, default=3)
    a = p.parse_args()
    a.list_counts = [int(n) for n in a.list_counts.split(",") if n.strip()]
    return a


def main():
    a = parse_arguments()
    # SIGTERM ends the run as Ctrl-C does: through every cleanup below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    work = tempfile.mkdtemp(prefix="vrax-compare-")
    try:
        find_curl(a)
        tree = os.path.join(work, "tree")
        print("writing the tree ...", flush=True)
        write_tree(tree, a)
        a.big_path = os.path.join(tree, "big.bin")
        vrax = run_vrax(a, work, tree)  # first: vsftpd's run writes into the tree
        vsftpd = run_vsftpd(a, work, tree)
        print_table(a, vsftpd, vrax)
        engine_figures(a, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
