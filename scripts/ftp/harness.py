"""Starts the real vrax program on a fresh volume image and talks to it over
loopback; every process started here is stopped again (SIGKILL at worst)."""

import argparse
import errno
import ftplib
import os
import random
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TOOLS = {"vrax": None, "mkfs": None, "fsck": None}
STOP_TIMEOUT = 5.0
IO_TIMEOUT = 20.0


def free_port():
    """A free loopback port below the kernel's ephemeral range, so that no
    client connection made meanwhile can take it before the server binds it."""
    for _ in range(1000):
        port = random.randint(10000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise AssertionError("no free port")


def make_image(directory, files, size="32M"):
    """A vrax-mkfs image holding `files` ({path: bytes}; directories end in '/')."""
    tree = os.path.join(directory, "tree")
    os.makedirs(tree, exist_ok=True)
    for name, data in files.items():
        path = os.path.join(tree, name)
        os.makedirs(path if name.endswith("/") else os.path.dirname(path), exist_ok=True)
        if not name.endswith("/"):
            with open(path, "wb") as f:
                f.write(data)
    image = os.path.join(directory, "volume.img")
    subprocess.run([TOOLS["mkfs"], "--size", size, "--from", tree, image], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return image


def check_image(image):
    done = run([TOOLS["fsck"], image], timeout=120)
    return done.returncode, done.stdout.decode(errors="replace")


def run(args, timeout=60, **kwargs):
    return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=timeout, **kwargs)


class Server:
    """One vrax process serving an image on a free loopback port."""

    def __init__(self, image, extra=(), password="p", port=None, wrapper=(), preexec=None):
        self.port = port or free_port()
        self.preexec = preexec
        self.args = list(wrapper) + [TOOLS["vrax"], "-i=" + image, "-f=%d" % self.port, "-u=u"]
        self.args += (["-p=" + password] if password is not None else []) + list(extra)
        self.output, self.errors = [], []
        self.started = threading.Event()
        self.process = None

    def start(self):
        self.process = subprocess.Popen(self.args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, preexec_fn=self.preexec)
        self.readers = [threading.Thread(target=self._collect, args=(stream, lines), daemon=True)
                        for stream, lines in ((self.process.stdout, self.output),
                                              (self.process.stderr, self.errors))]
        for reader in self.readers:
            reader.start()
        if not self.started.wait(15):
            self.kill()
            raise AssertionError("vrax did not start: %r %r" % (self.output, self.errors))
        return self

    def _collect(self, stream, lines):
        for raw in iter(stream.readline, b""):
            lines.append(raw.decode(errors="replace"))
            if lines[-1].startswith("----> Server Started"):
                self.started.set()

    def stop(self, sig=signal.SIGINT):
        """Sends `sig`; returns (exit code, seconds until the process ended)."""
        began = time.monotonic()
        self.process.send_signal(sig)
        try:
            code = self.process.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("vrax did not stop within %s s" % STOP_TIMEOUT)
        seconds = time.monotonic() - began
        self._release()
        return code, seconds

    def kill(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(STOP_TIMEOUT)
        if self.process is not None:
            self._release()

    def _release(self):
        for reader in self.readers:
            reader.join(STOP_TIMEOUT)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if not stream.closed:
                stream.close()


def eventually(probe, expected=True, seconds=10.0):
    deadline = time.monotonic() + seconds
    while probe() != expected:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def listen_on(host="127.0.0.1"):
    """A listening socket for active mode; (socket, EPRT argument)."""
    s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
    s.bind((host, 0))
    s.listen(1)
    s.settimeout(IO_TIMEOUT)
    return s, "|%d|%s|%d|" % (2 if ":" in host else 1, host, s.getsockname()[1])


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


HOSTS = ["127.0.0.1"] + (["::1"] if ipv6_loopback() else [])
MODES = [(host, passive) for host in HOSTS for passive in (True, False)]


class Raw:
    """A control connection driven byte by byte."""

    def __init__(self, port, host="127.0.0.1", source=None):
        self.sock = socket.create_connection((host, port), timeout=IO_TIMEOUT,
                                             source_address=(source, 0) if source else None)
        self.buffer = b""
        self.greeting = self.line()

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError("connection closed; buffered %r" % self.buffer)
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode(errors="replace")

    def cmd(self, text):
        self.send(text + "\r\n")
        return self.line()

    def login(self, user="u", password="p"):
        assert self.cmd("USER " + user).startswith("331"), user
        reply = self.cmd("PASS " + password)
        assert reply.startswith("230"), reply
        return self

    def closed_by_server(self, timeout=5.0):
        """True when the server closes the connection (without more bytes)."""
        self.sock.settimeout(timeout)
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True
        finally:
            self.sock.settimeout(IO_TIMEOUT)

    def pasv(self):
        """Sends PASV; returns the announced (host, port)."""
        reply = self.cmd("PASV")
        match = re.match(r"^227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", reply)
        assert match, reply
        n = [int(x) for x in match.groups()]
        return "%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5]

    def data_connection(self):
        return socket.create_connection(self.pasv(), timeout=IO_TIMEOUT)

    def epsv(self):
        """Sends EPSV; returns a connection to the announced port."""
        reply = self.cmd("EPSV")
        match = re.match(r"^229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)$", reply)
        assert match, reply
        host = self.sock.getpeername()[0]
        return socket.create_connection((host, int(match.group(1))), timeout=IO_TIMEOUT)

    def transfer(self, command, upload=None, data=None):
        """`command` over `data` (default: a fresh passive connection; or a
        listening socket): sends `upload` or returns the bytes read (the reply
        when no transfer opens); checks the 150 and 226."""
        data = data or self.data_connection()
        try:
            self.opened = reply = self.cmd(command)
            if not reply.startswith("150 "):
                return reply
            if data.getsockopt(socket.SOL_SOCKET, socket.SO_ACCEPTCONN):
                with data:  # closes the listener
                    data = data.accept()[0]
                    self.data_source_port = data.getpeername()[1]
            listing = command.split()[0] in ("LIST", "NLST", "MLSD")
            assert reply == "150 Opening data connection" + (
                " for directory list." if listing else ".") or reply.startswith("150 FILE: "), reply
            if upload is not None:
                data.sendall(upload)
            body = read_all(data) if upload is None else b""
        finally:
            data.close()
        done = self.line()
        assert done == "226 Transfer complete.", done
        return body

    def names(self, command):
        """The sorted lines of a listing (last words for LIST and MLSD)."""
        lines = self.transfer(command).decode().split("\r\n")
        assert lines[-1] == "", lines
        return sorted(l.split()[-1] if command.startswith(("LIST", "MLSD")) else l
                      for l in lines[:-1])

    def lines_until(self, last):
        lines = [self.line()]
        while not lines[-1].startswith(last):
            lines.append(self.line())
        return lines

    def close(self):
        self.sock.close()


def fetch(f, command, rest=None):
    parts = []
    f.retrbinary(command, parts.append, rest=rest)
    return b"".join(parts)


def read_all(sock):
    return b"".join(iter(lambda: sock.recv(65536), b""))


class ServedVolume(unittest.TestCase):
    """One server on one fresh image for the whole class; the image must be
    clean for vrax-fsck once the server has stopped."""

    extra = ("-a",)
    files = {}
    size = "64M"

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="vrax-ftp-")
        try:
            cls.image = make_image(cls.work.name, cls.files, cls.size)
            cls.server = Server(cls.image, cls.extra).start()
        except Exception:
            cls.work.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            code, _ = cls.server.stop()
            assert code == 0, code
            code, report = check_image(cls.image)
            assert code == 0, report
        finally:
            cls.server.kill()
            cls.work.cleanup()

    def raw(self, login=True, host="127.0.0.1", source=None):
        """A control connection from `source` (skipped where it is unusable)."""
        try:
            r = Raw(self.server.port, host=host, source=source)
        except OSError as error:
            if source is None or error.errno != errno.EADDRNOTAVAIL:
                raise
            self.skipTest("%s is not usable here" % source)
        self.addCleanup(r.close)
        return r.login() if login else r

    def ftp(self, passive=True, host="127.0.0.1"):
        f = ftplib.FTP()
        f.connect(host, self.server.port, timeout=IO_TIMEOUT)
        f.login("u", "p")
        f.set_pasv(passive)
        self.addCleanup(f.close)
        return f

    def replies(self, r, rows):
        for command, reply in rows:
            self.assertEqual(r.cmd(command), reply, command)

    def local(self, name, data=None):
        """A path in the class's work folder; written with `data` when given."""
        path = os.path.join(self.work.name, name)
        if data is not None:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        return path


def tool_args(doc, *numbers):
    """Reads the tools' paths into TOOLS and the (--flag, default) numbers;
    returns (the arguments, the words left over)."""
    parser = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    for tool in TOOLS:
        parser.add_argument("--" + tool, required=True)
    for flag, default in numbers:
        parser.add_argument(flag, type=int, default=default)
    args, rest = parser.parse_known_args()
    TOOLS.update((tool, getattr(args, tool)) for tool in TOOLS)
    return args, rest


def main(doc):
    """Runs the unittest module that calls it."""
    unittest.main(module="__main__", argv=[sys.argv[0]] + tool_args(doc)[1], verbosity=2)
