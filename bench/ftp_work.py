"""The client work bench/compare_servers.py measures, the same against
either server. A target is a dict: "port", "user", "password",
"memory", which makes a probe of the server's memory (PeakRss, PeakPss),
and "notes", a list that collects what the work saw amiss but measured.
Each measurement takes (target, options, pass number) and returns
{row key: figure}; it raises OSError, EOFError, ftplib.Error or
RuntimeError when the work fails."""

import contextlib
import ftplib
import os
import socket
import subprocess
import threading
import time

KIB = 1024
MIB = 1024 * 1024
MB = 1000 * 1000
IO_TIMEOUT = 300.0
SMALL_OPS = ("STOR", "LIST", "SIZE", "MDTM", "RETR", "DELE")


class QuickAckFTP(ftplib.FTP):
    """Acknowledges every reply at once (TCP_QUICKACK before each read), so
    that a server's small replies are not held back by the client's delayed
    acknowledgement: what is measured is the server."""

    def getline(self):
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        return super().getline()


def open_session(target):
    f = QuickAckFTP()
    try:
        f.connect("127.0.0.1", target["port"], timeout=IO_TIMEOUT)
        f.login(target["user"], target["password"])
        f.voidcmd("TYPE I")
    except BaseException:
        f.close()
        raise
    return f


@contextlib.contextmanager
def session(target):
    """A logged-in session in binary mode, closed when the block is left
    (the work sends QUIT itself when it ends normally)."""
    f = open_session(target)
    try:
        yield f
    finally:
        f.close()


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


def listing(f, command, limit=IO_TIMEOUT):
    """The lines of a listing; stops it when it runs past `limit` seconds."""
    lines = []
    deadline = time.monotonic() + limit

    def keep(line):
        lines.append(line)
        if len(lines) % 1024 == 0 and time.monotonic() > deadline:
            raise RuntimeError("%s still running after %d s (stopped)" % (command, limit))

    f.retrlines(command, keep)
    return lines


def timed(work):
    began = time.monotonic()
    result = work()
    return time.monotonic() - began, result


def expect(condition, text):
    if not condition:
        raise RuntimeError(text)


# ---------------------------------------------------------------- one large file

def big_file_ftplib(target, a, _pass):
    """STOR of --big-mib MiB of random bytes, then RETR of big.bin, in MB/s."""
    data = os.urandom(MIB) * a.big_mib
    with session(target) as f:
        up, _ = timed(lambda: store(f, "up/big-ftplib.bin", data))
        expect(f.size("up/big-ftplib.bin") == len(data), "the uploaded file has the wrong size")
        f.delete("up/big-ftplib.bin")  # its pages are not written back behind later work
        down, total = timed(lambda: fetch(f, "big.bin", bytearray(MIB)))
        f.quit()
    expect(total == len(data), "big.bin came back short: %d bytes" % total)
    return {"ftplib-up": len(data) / MB / up, "ftplib-down": total / MB / down}


def curl(a, target, path, upload=None):
    """One curl transfer of `path` (an upload when `upload` names a local
    file); (bytes moved, seconds) as curl itself reports them."""
    command = [a.curl, "-sS", "--max-time", "%d" % IO_TIMEOUT,
               "-u", "%s:%s" % (target["user"], target["password"]),
               "-w", "%{size_download} %{size_upload} %{time_total}",
               "ftp://127.0.0.1:%d/%s" % (target["port"], path)]
    command += ["-T", upload] if upload else ["-o", os.devnull]
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=IO_TIMEOUT + 30)
    expect(done.returncode == 0, "curl exit %d: %s" % (done.returncode, done.stderr.strip()))
    down, up, seconds = done.stdout.split()
    return int(down) + int(up), float(seconds)


def big_file_curl(target, a, _pass):
    """curl -T of the large file, then curl's RETR of big.bin, in MB/s."""
    size = os.path.getsize(a.big_path)
    sent, up = curl(a, target, "up/big-curl.bin", upload=a.big_path)
    with session(target) as f:
        expect(f.size("up/big-curl.bin") == size, "curl's upload has the wrong size")
        f.delete("up/big-curl.bin")
        f.quit()
    received, down = curl(a, target, "big.bin")
    expect(sent == size and received == size, "curl moved %d and %d bytes" % (sent, received))
    return {"curl-up": size / MB / up, "curl-down": size / MB / down}


# ---------------------------------------------------------------- many clients

def parallel_download(target, a, _pass):
    """--parallel sessions RETR a file each, all at once: MB/s in all, and
    the server's memory at its highest meanwhile, in MiB."""
    sessions = []
    try:
        for _ in range(a.parallel):
            sessions.append(open_session(target))
        probe = target["memory"]()
        totals, errors, seconds = download_together(sessions, probe, a.parallel_mib)
    finally:
        for f in sessions:
            f.close()
    expect(not errors, "parallel clients failed: %s" % errors[:3])
    expect(sum(totals) == a.parallel * a.parallel_mib * MIB, "parallel downloads came back short")
    return {"par": sum(totals) / MB / seconds, "memory": probe.result_mib()}


def download_together(sessions, probe, mib):
    totals = [0] * len(sessions)
    errors = []
    start = threading.Barrier(len(sessions) + 1, timeout=IO_TIMEOUT)

    def client(n):
        start.wait()
        try:
            totals[n] = fetch(sessions[n], "par/p%02d.bin" % n, bytearray(MIB))
        except (OSError, EOFError, ftplib.Error) as e:
            errors.append(e)

    threads = [threading.Thread(target=client, args=(n,), daemon=True)
               for n in range(len(sessions))]
    for t in threads:
        t.start()
    with Sampling(probe):
        start.wait()
        began = time.monotonic()
        for t in threads:
            t.join(IO_TIMEOUT)
        seconds = time.monotonic() - began
    expect(not any(t.is_alive() for t in threads), "parallel clients still running")
    return totals, errors, seconds


# ---------------------------------------------------------------- memory

def proc_kib(path, field):
    """A "Field:  N kB" figure of a /proc file."""
    with open(path) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError("no %s in %s" % (field, path))


class PeakRss:
    """The highest resident set of one process from now on. The kernel's
    high-water mark is reset first where it allows (clear_refs 5), so that
    VmHWM covers just this stretch; otherwise the highest sample counts."""

    def __init__(self, pid):
        self.pid = pid
        self.peak = 0
        try:
            with open("/proc/%d/clear_refs" % pid, "w") as f:
                f.write("5")
            self.mark = True
        except OSError:
            self.mark = False

    def sample(self):
        self.peak = max(self.peak, proc_kib("/proc/%d/status" % self.pid, "VmRSS"))

    def result_mib(self):
        if self.mark:
            self.peak = max(self.peak, proc_kib("/proc/%d/status" % self.pid, "VmHWM"))
        return self.peak / 1024.0


class PeakPss:
    """The highest sum of the proportional set sizes (PSS: shared pages
    divided among their sharers) of the processes `pids()` names."""

    def __init__(self, pids):
        self.pids = pids
        self.peak = 0

    def sample(self):
        total = 0
        for pid in self.pids():
            try:
                total += proc_kib("/proc/%d/smaps_rollup" % pid, "Pss")
            except (OSError, RuntimeError):
                pass  # a process that ended meanwhile
        self.peak = max(self.peak, total)

    def result_mib(self):
        return self.peak / 1024.0


class Sampling:
    """probe.sample() every `interval` seconds in a thread of its own while
    the with-block runs, and once at each end of it."""

    def __init__(self, probe, interval=0.05):
        self.probe = probe
        self.interval = interval
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        while not self.done.wait(self.interval):
            self.probe.sample()

    def __enter__(self):
        self.probe.sample()
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.done.set()
        self.thread.join(5)
        self.probe.sample()


# ---------------------------------------------------------------- small files

def small_files(target, a, pass_number):
    """In one session, each op of SMALL_OPS over every small file in turn
    (STOR all, then LIST each alone, ...): ops/s of each op."""
    data = os.urandom(KIB)
    buffer = bytearray(64 * KIB)
    folder = "up/s%d" % pass_number
    names = ["%s/f%05d.bin" % (folder, n) for n in range(a.small_count)]
    with session(target) as f:
        f.mkd(folder)
        ops = {"STOR": lambda n: store(f, n, data),
               "LIST": lambda n: len(listing(f, "LIST " + n)),
               "SIZE": f.size,
               "MDTM": lambda n: f.voidcmd("MDTM " + n),
               "RETR": lambda n: fetch(f, n, buffer),
               "DELE": f.delete}
        rates = {}
        for op in SMALL_OPS:
            seconds, results = timed(lambda: [ops[op](n) for n in names])
            rates["small-" + op] = len(names) / seconds
            check_small(target, op, results)
        f.rmd(folder)
        f.quit()
    return rates


def check_small(target, op, results):
    """Wrong sizes fail the work; a listing of one file that does not come
    back as one line is kept as a note, as its figure still says something."""
    wanted = {"LIST": 1, "SIZE": KIB, "RETR": KIB}.get(op)
    wrong = [r for r in results if wanted is not None and r != wanted]
    if not wrong:
        return
    text = "%s of a small file gave %d %s, not %d (%d of %d files)" % (
        op, wrong[0], "lines" if op == "LIST" else "bytes", wanted, len(wrong), len(results))
    if op != "LIST":
        raise RuntimeError(text)
    note(target, text)


def note(target, text):
    if text not in target["notes"]:
        target["notes"].append(text)


# ---------------------------------------------------------------- listings

def listings(target, a, _pass):
    """LIST of each directory list-N: seconds, and microseconds per entry."""
    figures = {}
    with session(target) as f:
        for count in a.list_counts:
            command = "LIST list-%d" % count
            seconds, lines = timed(lambda: listing(f, command, a.list_limit))
            expect(len(lines) == count, "%s gave %d lines" % (command, len(lines)))
            figures["list-%d" % count] = seconds
            figures["entry-%d" % count] = seconds * 1e6 / count
        f.quit()
    return figures
