#!/usr/bin/env python3
"""Crash soak: FTP clients change a volume while vrax is killed again and again.

Each round four clients upload, overwrite, append, delete, rename and make or
remove directories in their own /cN until vrax gets SIGKILL at a random moment.
The image may then hold leaks and nothing else, a repaired copy must check
clean, and vrax, started again on the unrepaired image, must serve every
acknowledged change exactly; only the one operation each client had in flight
may have landed either way.

Usage: crash_soak.py --vrax PATH --mkfs PATH --fsck PATH [--rounds N] [--seed S]
"""

import concurrent.futures
import ftplib
import io
import os
import random
import shutil
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
# A client directory is modelled as {name: content, or DIR for a subdirectory}.
DIR = "<directory>"


def describe(state):
    return {None: "missing", DIR: "a directory"}.get(state) or "%d bytes" % len(state)


def blob(tag, size):
    """Content that the tag alone regenerates."""
    return random.Random(tag).randbytes(size)


def random_size(rng):
    return rng.choice((0, rng.randint(1, 4096), rng.randint(4096, MAX_SIZE)))


def read_back(port, home):
    """What vrax serves in home, with the content of every file."""
    with ftplib.FTP() as ftp:
        ftp.connect("127.0.0.1", port, timeout=IO_TIMEOUT)
        ftp.login("u", "p")
        lines, found = [], {}
        ftp.retrlines("LIST " + home, lines.append)
        for line in lines:
            name = line.split(None, 8)[-1]
            found[name] = DIR if line.startswith("d") else harness.fetch(ftp, "RETR %s/%s" % (home, name))
        return found


class Client(threading.Thread):
    """Changes /cN at random until the server goes away. The model follows the
    acknowledged replies; `pending` names the targets of the operation sent but
    not acknowledged."""

    def __init__(self, n, port, model, seed, round_no):
        super().__init__(daemon=True)
        self.n, self.port, self.model, self.round = n, port, model, round_no
        self.home = "/c%d" % n
        self.rng = random.Random("%d/%d/%d" % (seed, n, round_no))
        self.tag = "%d/%d/%d/" % (seed, n, round_no)
        self.count, self.pending, self.uploading, self.refusal = 0, None, False, None

    def run(self):
        try:
            with ftplib.FTP() as ftp:
                ftp.connect("127.0.0.1", self.port, timeout=IO_TIMEOUT)
                ftp.login("u", "p")
                while True:
                    self.step(ftp)
        except ftplib.Error as e:
            self.refusal = "%s: %s" % (sorted(self.pending or ["login"]), e)
        except (OSError, EOFError):
            pass  # the server is gone

    def fresh(self, prefix, suffix=""):
        self.count += 1
        return "%s%d_%d%s" % (prefix, self.round, self.count, suffix)

    def step(self, ftp):
        files = sorted(name for name, value in self.model.items() if value != DIR)
        dirs = sorted(name for name, value in self.model.items() if value == DIR)
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
            self.command(ftp, ["RNFR", "RNTO"], {old: None, new: self.model[old]})
        elif verb == "mkd":
            self.command(ftp, ["MKD"], {self.fresh("d"): DIR})
        else:
            self.command(ftp, ["RMD"], {self.rng.choice(dirs): None})

    def acknowledged(self, reply, *codes):
        if reply[:3] not in codes:
            raise ftplib.error_reply(reply)
        self.model.update(self.pending)
        for name in [name for name, value in self.model.items() if value is None]:
            del self.model[name]
        self.pending, self.uploading = None, False

    def upload(self, ftp, name, append):
        self.count += 1
        data = blob(self.tag + str(self.count), random_size(self.rng))
        self.pending = {name: self.model.get(name, b"") + data if append else data}
        self.uploading = True
        reply = ftp.storbinary("%s %s/%s" % ("APPE" if append else "STOR", self.home, name),
                               io.BytesIO(data), 16384)
        self.acknowledged(reply, "226")

    def command(self, ftp, verbs, after):
        """One command per name in `after` (RNFR old, RNTO new for a rename)."""
        self.pending = after
        for verb, name in zip(verbs, after):
            reply = ftp.sendcmd("%s %s/%s" % (verb, self.home, name))
        self.acknowledged(reply, "250", "257")


class Soak:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.rng = random.Random(args.seed)
        self.models = []

    def run(self):
        files = {}
        for n in range(CLIENTS):
            start = {"s%d.bin" % k: blob("%d/%d/start/%d" % (self.args.seed, n, k),
                                         random_size(self.rng)) for k in range(3)}
            self.models.append(dict(start, d0=DIR))
            files.update({"c%d/%s" % (n, name): data for name, data in start.items()})
            files["c%d/d0/" % n] = b""
        self.image = make_image(self.work, files, "64M")
        server = Server(self.image).start()
        try:
            for round_no in range(1, self.args.rounds + 1):
                pending = self.work_round(server, round_no)
                self.check_after_kill(round_no)
                server = Server(self.image).start()
                self.verify(server.port, pending, round_no)
            if server.stop()[0] != 0:
                raise AssertionError("vrax did not exit with 0 on SIGINT")
            self.repair(self.image, "final")
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
        while time.monotonic() < deadline and not any(c.uploading for c in clients):
            time.sleep(0.002)
        server.kill()
        for client in clients:
            client.join(IO_TIMEOUT + 5)
            if client.is_alive():
                raise AssertionError("round %d: /c%d still busy after the kill" % (round_no, client.n))
        # Every command follows the model, so a refusal means the volume lost something.
        refused = ["/c%d: %s" % (c.n, c.refusal) for c in clients if c.refusal]
        if refused:
            raise AssertionError("round %d: vrax refused:\n%s" % (round_no, "\n".join(refused)))
        return [client.pending for client in clients]

    def check_after_kill(self, round_no):
        code, text = check_image(self.image)
        lines = text.splitlines()
        if any(not line.startswith("leak: ") for line in lines) or code not in (0, 4) \
                or (code == 0) != (not lines):
            raise AssertionError("round %d: vrax-fsck exit %d after the kill:\n%s" % (round_no, code, text))
        copy = os.path.join(self.work, "copy.img")
        shutil.copyfile(self.image, copy)
        self.repair(copy, "round %d, copy" % round_no)

    def repair(self, image, label):
        done = harness.run([harness.TOOLS["fsck"], "--repair", image], timeout=120)
        if done.returncode not in (0, 1):
            raise AssertionError("%s: vrax-fsck --repair exit %d:\n%s"
                                 % (label, done.returncode, done.stdout.decode(errors="replace")))
        code, left = check_image(image)
        if code != 0 or left:
            raise AssertionError("%s: not clean after repair (exit %d):\n%s" % (label, code, left))

    def verify(self, port, pending, round_no):
        """Reads every /cN back over its own connection and compares it with the
        model; the targets of the operation in flight are taken as found."""
        with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
            found = list(pool.map(lambda n: read_back(port, "/c%d" % n), range(CLIENTS)))
        for n in range(CLIENTS):
            model, got = self.models[n], found[n]
            for name in sorted((set(model) | set(got)) - set(pending[n] or ())):
                want, have = model.get(name), got.get(name)
                if want != have:
                    raise AssertionError("round %d: /c%d/%s: expected %s, found %s"
                                         % (round_no, n, name, describe(want), describe(have)))
            self.models[n] = got


def main():
    """Any failure ends the run with a traceback and exit code 1."""
    args = harness.tool_args(__doc__, ("--rounds", 10), ("--seed", 1))[0]
    with tempfile.TemporaryDirectory(prefix="vrax-soak-") as work:
        Soak(args, work).run()
    print("OK")


if __name__ == "__main__":
    main()
