#!/usr/bin/env python3
"""Crash soak: FTP clients change a volume while vrax is killed again and again.

Each round four clients upload, overwrite, append, delete, rename and make or
remove directories in their own /cN until vrax gets SIGKILL. The image may then
hold leaks and nothing else, a repaired copy must check clean, and vrax, started
again on the unrepaired image, must serve every acknowledged change exactly;
only the one operation each client had in flight may have landed either way.

Usage: crash_soak.py --vrax PATH --mkfs PATH --fsck PATH [--rounds N] [--seed S] [--keep DIR]
"""

import argparse
import collections
import concurrent.futures
import ftplib
import io
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ftp"))
import harness  # noqa: E402
from harness import Server, check_image, make_image  # noqa: E402

CLIENTS = 4
IO_TIMEOUT = 10.0
MAX_FILES, MAX_DIRS, MAX_SIZE = 12, 4, 300 * 1024
# Every operation begun and acknowledged, written to ops.log in the work
# directory after each kill (kept with --keep), to tell what led to a failure.
OP_LOG = []
DIR = "<directory>"
ANY_UPLOAD = "<any part of an upload>"  # the state of a name that is a directory; None means missing


def blob(tag, size):
    """Content that the tag alone regenerates."""
    return random.Random(tag).randbytes(size)


def random_size(rng):
    return rng.choice((0, rng.randint(1, 4096), rng.randint(4096, MAX_SIZE)))


def kind(line):
    """A finding without numbers and bracketed details, so alike lines count together."""
    return re.sub(r"0x[0-9A-Fa-f]+|\d+", "N", re.sub(r"\s*\(.*?\)", "", line))


class Model:
    """A client directory: files {name: content} and (empty) subdirectories."""

    def __init__(self, files, dirs):
        self.files, self.dirs = files, dirs

    def state(self, name):
        return DIR if name in self.dirs else self.files.get(name)

    def apply(self, after):
        for name, value in after.items():
            self.files.pop(name, None)
            self.dirs.discard(name)
            if value == DIR:
                self.dirs.add(name)
            elif value is not None:
                self.files[name] = value


def read_back(port, home):
    """What vrax serves in home, with the content of every file."""
    ftp = ftplib.FTP()
    try:
        ftp.connect("127.0.0.1", port, timeout=IO_TIMEOUT)
        ftp.login("u", "p")
        lines, files, dirs = [], {}, set()
        ftp.retrlines("LIST " + home, lines.append)
        for line in lines:
            name = line.split(None, 8)[-1]
            if line.startswith("d"):
                dirs.add(name)
            else:
                chunks = []
                ftp.retrbinary("RETR %s/%s" % (home, name), chunks.append)
                files[name] = b"".join(chunks)
        return Model(files, dirs)
    finally:
        ftp.close()


class Client(threading.Thread):
    """Changes /cN at random (passive mode, ftplib's default) until the server goes
    away. The model follows the acknowledged replies; `pending` is the operation
    sent but not acknowledged: (verb, {name: state before}, {name: state after})."""

    def __init__(self, n, port, model, seed, round_no):
        super().__init__(daemon=True)
        self.n, self.port, self.model, self.round = n, port, model, round_no
        self.home = "/c%d" % n
        self.rng = random.Random("%d/%d/%d" % (seed, n, round_no))
        self.tag = "%d/%d/%d/" % (seed, n, round_no)
        self.count, self.pending, self.refusal = 0, None, None
        self.acked = collections.Counter()

    def run(self):
        ftp = ftplib.FTP()
        try:
            ftp.connect("127.0.0.1", self.port, timeout=IO_TIMEOUT)
            ftp.login("u", "p")
            while True:
                self.step(ftp)
        except ftplib.Error as e:
            self.refusal = "%s: %s" % (self.pending[0] if self.pending else "login", e)
        except (OSError, EOFError):
            pass  # the server is gone
        finally:
            ftp.close()

    def fresh(self, prefix, suffix=""):
        self.count += 1
        return "%s%d_%d%s" % (prefix, self.round, self.count, suffix)

    def step(self, ftp):
        files, dirs = sorted(self.model.files), sorted(self.model.dirs)
        weights = {"new": 30 if len(files) < MAX_FILES else 0, "stor": 15 if files else 0,
                   "appe": 15 if files else 0, "dele": 15 if files else 0,
                   "rename": 10 if files else 0, "mkd": 8 if len(dirs) < MAX_DIRS else 0,
                   "rmd": 7 if dirs else 0}
        verb = self.rng.choices(list(weights), list(weights.values()))[0]
        if verb in ("new", "stor", "appe"):
            name = self.fresh("f", ".bin") if verb == "new" else self.rng.choice(files)
            self.upload(ftp, name, verb == "appe")
        elif verb == "dele":
            self.command(ftp, ["DELE"], {self.rng.choice(files): None})
        elif verb == "rename":
            old, new = self.rng.choice(files), self.fresh("m", ".bin")
            self.command(ftp, ["RNFR", "RNTO"], {old: None, new: self.model.files[old]})
        elif verb == "mkd":
            self.command(ftp, ["MKD"], {self.fresh("d"): DIR})
        else:
            self.command(ftp, ["RMD"], {self.rng.choice(dirs): None})
        self.acked[verb] += 1

    def begin(self, verb, after):
        self.pending = (verb, {name: self.model.state(name) for name in after}, after)
        OP_LOG.append("r%d c%d begin %s %s" % (self.round, self.n, verb, sorted(after)))

    def acknowledged(self, reply, *codes):
        if reply[:3] not in codes:
            raise ftplib.error_reply(reply)
        self.model.apply(self.pending[2])
        OP_LOG.append("r%d c%d ack %s %s" % (self.round, self.n, self.pending[0], reply[:3]))
        self.pending = None

    def upload(self, ftp, name, append):
        verb = "APPE" if append else "STOR"
        self.count += 1
        data = blob(self.tag + str(self.count), random_size(self.rng))
        self.begin(verb, {name: self.model.files.get(name, b"") + data if append else data})
        reply = ftp.storbinary("%s %s/%s" % (verb, self.home, name), io.BytesIO(data), 16384)
        self.acknowledged(reply, "226")

    def command(self, ftp, verbs, after):
        """One command per name in `after` (RNFR old, RNTO new for a rename)."""
        self.begin(verbs[-1], after)
        for verb, name in zip(verbs, after):
            reply = ftp.sendcmd("%s %s/%s" % (verb, self.home, name))
        self.acknowledged(reply, "250", "257")


def outcome(pending, found):
    """How the operation in flight landed: old, new, partial, missing or other."""
    verb, before, after = pending
    got = {name: found.state(name) for name in after}
    if got in (before, after):
        return "old" if got == before else "new"
    if all(value is None for value in got.values()):
        return "missing"
    if verb in ("STOR", "APPE"):
        ((name, new),) = after.items()
        old = before[name] if verb == "APPE" else b""
        if isinstance(got[name], bytes) and new.startswith(got[name]) and got[name].startswith(old):
            return "partial"
    return "other"


def mismatch(want, got):
    def describe(value):
        return {None: "missing", DIR: "a directory"}.get(value) or "%d bytes" % len(value)

    text = "expected %s, found %s" % (describe(want), describe(got))
    if isinstance(want, bytes) and isinstance(got, bytes):
        first = next((i for i, (a, b) in enumerate(zip(want, got)) if a != b),
                     min(len(want), len(got)))
        text += ", first difference at byte %d" % first
    return text


class Soak:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.rng = random.Random(args.seed)
        self.image, self.models, self.final_repairs = None, [], []
        # Names an operation in flight left named by nothing (a rename or
        # removal cut between unlinking and freeing): the repair may bring
        # them back with one of these states. {name: [states]} per client.
        self.limbo = [collections.defaultdict(list) for _ in range(CLIENTS)]
        self.kills = self.checked = self.damage = 0
        self.acked, self.outcomes = collections.Counter(), collections.Counter()
        self.leaks, self.repairs = collections.Counter(), collections.Counter()

    def make(self):
        """A fresh image with a few files and a subdirectory in every /cN."""
        files = {}
        for n in range(CLIENTS):
            start = {"s%d.bin" % k: blob("%d/%d/start/%d" % (self.args.seed, n, k),
                                         random_size(self.rng)) for k in range(3)}
            self.models.append(Model(start, {"d0"}))
            files.update({"c%d/%s" % (n, name): data for name, data in start.items()})
            files["c%d/d0/" % n] = b""
        self.image = make_image(self.work, files, "64M")

    def run(self):
        self.make()
        server = Server(self.image).start()
        try:
            self.verify(server.port, [None] * CLIENTS, 0)
            for round_no in range(1, self.args.rounds + 1):
                pending = self.work_round(server, round_no)
                copy = self.after_kill(round_no)
                self.verify_repaired(copy, pending, round_no)
                server = Server(self.image).start()
                self.verify(server.port, pending, round_no)
            code, _ = server.stop()
            if code != 0:
                raise AssertionError("vrax exited with %d on SIGINT" % code)
            self.final_repairs = self.repair(self.image, "final")
            self.verify_repaired(self.image, [None] * CLIENTS, "final")
        finally:
            server.kill()

    def work_round(self, server, round_no):
        clients = [Client(n, server.port, self.models[n], self.args.seed, round_no)
                   for n in range(CLIENTS)]
        for client in clients:
            client.start()
        time.sleep(self.rng.uniform(0.3, 2.5))
        # Wait a little longer for a moment with an upload on the wire.
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline and not any(
                c.pending and c.pending[0] in ("STOR", "APPE") for c in clients):
            time.sleep(0.002)
        server.kill()
        OP_LOG.append("r%d KILL" % round_no)
        with open(os.path.join(self.work, "ops.log"), "a") as f:
            f.write("\n".join(OP_LOG) + "\n")
        del OP_LOG[:]
        self.kills += 1
        for client in clients:
            client.join(IO_TIMEOUT + 5)
            if client.is_alive():
                raise AssertionError("round %d: /c%d still busy after the kill" % (round_no, client.n))
            self.acked.update(client.acked)
        # Every command follows the model, so a refusal means the volume lost something.
        refused = ["/c%d: %s" % (c.n, c.refusal) for c in clients if c.refusal]
        if refused:
            raise AssertionError("round %d: vrax refused:\n%s" % (round_no, "\n".join(refused)))
        return [client.pending for client in clients]

    def after_kill(self, round_no):
        code, text = check_image(self.image)
        lines = text.splitlines()
        self.damage += sum(not line.startswith("leak: ") for line in lines)
        if self.damage or code not in (0, 4) or (code == 0) != (not lines):
            raise AssertionError("round %d: vrax-fsck exit %d after the kill:\n%s" % (round_no, code, text))
        self.leaks.update(kind(line[len("leak: "):]) for line in lines)
        copy = os.path.join(self.work, "copy.img")
        shutil.copyfile(self.image, copy)
        self.repairs.update(kind(line) for line in self.repair(copy, "round %d, copy" % round_no))
        return copy

    def verify_repaired(self, copy, pending, round_no):  # round_no may be "final"
        """The repaired copy holds every acknowledged change too (nothing removed
        comes back), and an operation in flight has landed whole, old or new."""
        server = Server(copy).start()
        try:
            with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
                found = list(pool.map(lambda n: read_back(server.port, "/c%d" % n), range(CLIENTS)))
        finally:
            server.stop()
        for n in range(CLIENTS):
            self.compare(n, found[n], pending[n], round_no, counted=False, limbo=self.limbo[n])
            if pending[n] and pending[n][0] == "RNTO" and outcome(pending[n], found[n]) == "missing":
                raise AssertionError("round %s: /c%d: the repair lost the file being renamed"
                                     % (round_no, n))

    def repair(self, image, label):
        """Repairs the image, which must then check clean; returns the repairs made."""
        done = subprocess.run([harness.TOOLS["fsck"], "--repair", image], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        text = done.stdout.decode(errors="replace")
        if done.returncode not in (0, 1):
            raise AssertionError("%s: vrax-fsck --repair exit %d:\n%s" % (label, done.returncode, text))
        code, left = check_image(image)
        if code != 0 or left:
            raise AssertionError("%s: not clean after repair (exit %d):\n%s" % (label, code, left))
        return [line[len("repaired: "):] for line in text.splitlines()
                if line.startswith("repaired: ")]

    def verify(self, port, pending, round_no):
        """Reads every /cN back over its own connection and compares it with the model."""
        with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
            found = list(pool.map(lambda n: read_back(port, "/c%d" % n), range(CLIENTS)))
        for n in range(CLIENTS):
            self.compare(n, found[n], pending[n], round_no)
            if pending[n]:
                self.remember_limbo(n, pending[n], found[n])
            self.models[n] = found[n]  # the in-flight targets as they landed

    def remember_limbo(self, n, pending, found):
        """A target of the operation in flight that is gone may come back with the
        repair: with its old or new state, or, for an upload, with any part of it."""
        verb, before, after = pending
        for name in after:
            if found.state(name) is not None:
                continue
            states = [state for state in (before[name], after[name]) if state is not None]
            self.limbo[n][name].extend(states + ([ANY_UPLOAD] if verb in ("STOR", "APPE") else []))

    def compare(self, n, found, pending, round_no, counted=True, limbo=None):
        model = self.models[n]
        exempt = set(pending[2]) if pending else set()
        names = set(model.files) | model.dirs | set(found.files) | found.dirs
        for name in sorted(names - exempt):
            want, got = model.state(name), found.state(name)
            states = limbo.get(name, []) if limbo else []
            if want is None and (got in states or (ANY_UPLOAD in states and isinstance(got, bytes))):
                continue  # brought back by the repair
            if want != got:
                self.save("round%s-c%d-%s" % (round_no, n, name), want, got)
                raise AssertionError("round %s: /c%d/%s: %s" % (round_no, n, name, mismatch(want, got)))
        if not counted:
            return
        self.checked += len(set(found.files) - exempt)
        if pending:
            self.outcomes["%s %s" % (pending[0], outcome(pending, found))] += 1

    def save(self, stem, want, got):
        """Keeps both contents of a wrong file next to the image."""
        for suffix, value in ((".expected", want), (".found", got)):
            if isinstance(value, bytes):
                with open(os.path.join(self.work, stem + suffix), "wb") as f:
                    f.write(value)

    def report(self, seconds):
        def counts(counter):
            return ", ".join("%s %d" % item for item in sorted(counter.items())) or "none"

        print("crash soak: seed %d, %d rounds, %d kills, %.1f s" % (
            self.args.seed, self.args.rounds, self.kills, seconds))
        print("  acknowledged operations: %d (%s)" % (sum(self.acked.values()), counts(self.acked)))
        print("  files checked: %d" % self.checked)
        print("  in-flight operations found: " + counts(self.outcomes))
        for title, counter in (("leak lines (all checks after a kill)", self.leaks),
                               ("repairs of the copies", self.repairs)):
            print("  %s by kind: %d" % (title, sum(counter.values())))
            for text, count in counter.most_common():
                print("    %6d  %s" % (count, text))
        print("  repairs at the end: %d" % len(self.final_repairs))
        for line in self.final_repairs:
            print("    " + line)
        print("  damage findings: %d" % self.damage)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    for tool in ("--vrax", "--mkfs", "--fsck"):
        parser.add_argument(tool, required=True)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", help="keep the image (and any wrong file's contents) here")
    args = parser.parse_args()
    harness.TOOLS.update(vrax=args.vrax, mkfs=args.mkfs, fsck=args.fsck)
    work = args.keep or tempfile.mkdtemp(prefix="vrax-soak-")
    os.makedirs(work, exist_ok=True)
    soak, began, failure = Soak(args, work), time.monotonic(), None
    try:
        soak.run()
    except (AssertionError, subprocess.SubprocessError, OSError, EOFError, ftplib.Error) as e:
        failure = e
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    soak.report(time.monotonic() - began)
    if failure is None:
        print("OK")
        return 0
    print("FAILED (seed %d): %s: %s" % (args.seed, type(failure).__name__, failure))
    print("kept in " + work if args.keep else "run again with --keep DIR to keep the image")
    return 1


if __name__ == "__main__":
    sys.exit(main())
