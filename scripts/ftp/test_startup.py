#!/usr/bin/env python3
"""End-to-end tests of how the real vrax program starts and stops: its
command line, the exit code and message of every start-up failure, the
listening address, signals, restarts and running without privileges.

Usage: test_startup.py --vrax PATH --mkfs PATH --fsck PATH [unittest args]

Every run names an image file and a free port, so that no run can reach a
real disk or a port in use, whatever the parser does with the words under
test.
"""

import os
import pty
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import HOSTS, Raw, Server, Workspace, check_image, make_image, read_all  # noqa: E402

BANNER = "Tarnview - VRAX Disk Mounter v2.05\n"
USAGE = BANNER + "usage vrax -<options>\n"
RUN_TIMEOUT = 20.0
NOT_FOUND = "error 2, The system cannot find the file specified."


def run_vrax(args):
    """(exit code, stdout, stderr) of one run. Standard input is a pipe that
    stays open and silent, so a program that waited for a key there would
    run into the timeout instead of ending."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen([harness.TOOLS["vrax"]] + args, stdin=subprocess.PIPE, stdout=out,
                                   stderr=err)
        try:
            code = process.wait(RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise AssertionError("vrax %s did not end (waiting for input?)" % args)
        finally:
            if process.stdin is not None:
                process.stdin.close()
        out.seek(0)
        err.seek(0)
        return code, out.read().decode(errors="replace"), err.read().decode(errors="replace")


class Workspaced(unittest.TestCase):
    def setUp(self):
        self.work = Workspace()
        self.addCleanup(self.work.close)
        self.missing = os.path.join(self.work.path, "missing.img")

    def safe_args(self, words):
        """`words` after an image that does not exist and a free port."""
        return ["-i=" + self.missing, "-f=%d" % harness.free_port()] + list(words)


class CommandLine(Workspaced):
    """Which command lines run, which show the usage text, and their codes."""

    # (words, exit code): 0 and 1 print the usage text and nothing else; 2
    # means the words were accepted and start-up went on to the (missing) image.
    # (The parser's word-by-word verdicts are unit tests of app/options.)
    CASES = [
        (["--help"], 0), (["-aH"], 0), (["--bogus"], 1), (["--help", "--bogus"], 1), (["-f=0"], 1),
        (["-t=0"], 1), (["-t=604801"], 1), (["-c=0"], 1), (["-c=100001"], 1),
        (["-t=1", "-c=100000"], 2), (["-f=65535"], 2), (["foo", "-5"], 2),
    ]

    def test_exit_codes_and_texts(self):
        for words, expected in self.CASES:
            code, out, err = run_vrax(self.safe_args(words))
            self.assertEqual(code, expected, (words, out, err))
            if expected == 2:
                self.assertIn(NOT_FOUND, out, words)
                continue
            self.assertTrue(out.startswith(USAGE), (words, out))
            self.assertIn("exit codes: 0 stopped by a signal", out, words)
            self.assertNotIn("FTP Server Port", out, words)  # nothing was started
            if expected == 1:
                self.assertIn("vrax: invalid option: %s\n" % words[-1], err, words)


class StartupFailures(Workspaced):
    """Each failure has its exit code and a line that says why."""

    def test_missing_image(self):
        code, out, _ = run_vrax(self.safe_args(["-a", "-p=secret-word"]))
        self.assertEqual(code, 2)
        self.assertTrue(out.endswith(
            "          Anonymous: Allowed\n"
            "         Login Name: kel\n"
            "           Password: <set>\n"
            "   -------------------------------------------------------\n"
            "----> Unable to Mount Drive /1 (%s): %s\n"
            "----> Exiting\n" % (self.missing, NOT_FOUND)), out)
        self.assertNotIn("secret-word", out)
        self.assertNotIn("Unable to create anonymous user", out)  # nothing made on no drive

    def test_not_a_volume(self):
        image = os.path.join(self.work.path, "zeros.img")
        with open(image, "wb") as f:
            f.truncate(1024 * 1024)
        code, out, _ = run_vrax(["-i=" + image, "-f=%d" % harness.free_port()])
        self.assertEqual(code, 2)
        self.assertIn("----> Unable to Mount Drive /1 (%s): error 114, " % image, out)
        self.assertIn("the disk holds no VRAX volume, or a damaged one", out)
        self.assertIn("[detected at volume/format/boot_sector.cpp:", out)  # which check fired

    def test_login_name_taken_by_the_anonymous_account(self):
        image = make_image(self.work.path, {"a.txt": b"x"}, "8M")
        code, out, _ = run_vrax(["-i=" + image, "-f=%d" % harness.free_port(), "-a",
                                 "-u=Anonymous"])
        self.assertEqual(code, 3)
        self.assertTrue(out.endswith(
            "----> Unable to Create FtpUser: the name Anonymous belongs to the anonymous "
            "account (-a)\n----> Exiting\n"), out)
        self.assertEqual(check_image(image)[0], 0)

    # (address taken by another socket or None, words, reason): the reason
    # is the host's text for what binding as the server binds gives.
    LISTEN_CASES = [
        ("0.0.0.0", [], "Address already in use"),
        ("127.0.0.1", [], "Address already in use"),
        ("127.0.0.1", ["-l=127.0.0.1"], "Address already in use"),
        (None, ["-l=192.0.2.1"], "Cannot assign requested address"),
    ]

    def test_port_cannot_be_bound(self):
        image = make_image(self.work.path, {"a.txt": b"x"}, "8M")
        for taken, words, reason in self.LISTEN_CASES:
            with socket.socket() as blocker:
                blocker.bind((taken or "127.0.0.1", 0))
                if taken:
                    blocker.listen(1)
                port = blocker.getsockname()[1]
                code, out, _ = run_vrax(["-i=" + image, "-f=%d" % port] + words)
            self.assertEqual(code, 4, (taken, words, out))
            self.assertTrue(out.endswith("----> FtpUser Created\n"
                                         "----> Unable to Listen: %s\n"
                                         "----> Exiting\n" % reason), (taken, words, out))
        self.assertEqual(check_image(image)[0], 0)

    def test_terminal_input_waits_for_enter(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        with tempfile.TemporaryFile() as out:
            process = subprocess.Popen([harness.TOOLS["vrax"]] + self.safe_args([]),
                                       stdin=slave, stdout=out, stderr=subprocess.DEVNULL)
            os.close(slave)
            try:
                deadline = time.monotonic() + RUN_TIMEOUT
                while b"Unable to Mount" not in self.read(out):
                    self.assertLess(time.monotonic(), deadline, "no failure line")
                    time.sleep(0.05)
                time.sleep(0.3)
                self.assertIsNone(process.poll(), "ended without waiting for Enter")
                self.assertNotIn(b"----> Exiting", self.read(out))
                os.write(master, b"\n")
                self.assertEqual(process.wait(RUN_TIMEOUT), 2)
                self.assertTrue(self.read(out).endswith(b"----> Exiting\n"))
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()

    @staticmethod
    def read(f):
        f.seek(0)
        return f.read()


class Running(Workspaced):
    def serve(self, image, *args, **kwargs):
        server = Server(image, *args, **kwargs)
        self.addCleanup(server.kill)
        return server.start()

    def test_signals_stop_the_server(self):
        image = make_image(self.work.path, {"a.txt": b"x"})
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            server = self.serve(image, ("-p=",), password=None)
            r = Raw(server.port)
            self.addCleanup(r.close)
            self.assertEqual(r.cmd("USER u"), "331 Password required for this user.")
            self.assertEqual(r.cmd("PASS"), "501 Invalid number of arguments.")
            self.assertEqual(r.cmd("PASS "), "230 User Logged In.")
            data = r.data_connection()  # left waiting
            self.addCleanup(data.close)
            code, seconds = server.stop(sig)
            self.assertEqual(code, 0, sig)
            self.assertLess(seconds, 2.0)
            self.assertTrue(r.closed_by_server())
            self.assertIn("           Password: <none>\n", server.stdout_text())
        self.assertEqual(check_image(image)[0], 0)

    def test_restart_on_the_same_port(self):
        image = make_image(self.work.path, {"a.txt": b"x"})
        port = harness.free_port()
        for _ in range(2):
            server = self.serve(image, port=port)
            r = Raw(server.port).login()
            self.assertEqual(r.transfer("RETR a.txt"), b"x")
            r.close()
            self.assertEqual(server.stop()[0], 0)

    def test_one_listening_address_or_all(self):
        if len(HOSTS) < 2:
            self.skipTest("no IPv6 loopback here")
        image = make_image(self.work.path, {"a.txt": b"x"}, "8M")
        for extra, reachable in ((("-l=127.0.0.1",), ["127.0.0.1"]), (("-l=::1",), ["::1"]),
                                 (("-l=[::1]",), ["::1"]), ((), HOSTS)):
            server = self.serve(image, extra)
            for host in HOSTS:
                if host in reachable:
                    r = Raw(server.port, host=host)
                    self.assertEqual(r.login().cmd("SIZE a.txt"), "213 1")
                    r.close()
                else:
                    with self.assertRaises(ConnectionRefusedError):
                        socket.create_connection((host, server.port), timeout=5).close()
            self.assertEqual(server.stop()[0], 0)
        self.assertEqual(check_image(image)[0], 0)
        self.assertEqual(run_vrax(self.safe_args(["-l=not-an-address"]))[0], 1)

    def test_transfers_work_without_privileges(self):
        """Without privileges the data ports 100 to 298 cannot be bound:
        passive and active connections then use ports the kernel chooses."""
        wrapper = ()
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                self.skipTest("setpriv is needed to drop root's privileges")
            wrapper = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                       "--inh-caps=-all", "--bounding-set=-all")
            probe = harness.run(list(wrapper) + [harness.TOOLS["vrax"], "--help"], timeout=30)
            if probe.returncode != 0:
                self.skipTest("the user nobody cannot run %s here" % harness.TOOLS["vrax"])
            os.chmod(self.work.path, 0o777)
        image = make_image(self.work.path, {"a.txt": b"unprivileged\n"}, "8M")
        os.chmod(image, 0o666)
        server = self.serve(image, wrapper=wrapper)
        r = Raw(server.port).login()
        self.addCleanup(r.close)
        host, port = r.pasv()
        self.assertGreaterEqual(port, 1024)
        data = socket.create_connection((host, port), timeout=harness.IO_TIMEOUT)
        self.assertEqual(r.transfer("RETR a.txt", data=data), b"unprivileged\n")
        listener = socket.socket()
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        p = listener.getsockname()[1]
        self.assertEqual(r.cmd("PORT 127,0,0,1,%d,%d" % (p // 256, p % 256)),
                         "200 PORT command successful.")
        r.send("RETR a.txt\r\n")
        data, _ = listener.accept()
        self.assertGreaterEqual(data.getpeername()[1], 1024)
        self.assertEqual(r.line(), "150 Opening data connection.")
        self.assertEqual(read_all(data), b"unprivileged\n")
        data.close()
        self.assertEqual(r.line(), "226 Transfer complete.")
        self.assertEqual(server.stop()[0], 0)
        self.assertEqual(check_image(image)[0], 0)


if __name__ == "__main__":
    harness.main(__doc__)
