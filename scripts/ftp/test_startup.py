#!/usr/bin/env python3
"""How the real vrax program starts and stops. Every run names an image file
and a free port, so that no run can reach a real disk or a port in use."""

import os
import resource
import shutil
import signal
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import HOSTS, Raw, Server, check_image, make_image  # noqa: E402

NOT_FOUND = "error 2, The system cannot find the file specified."


class Startup(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="vrax-ftp-")
        self.addCleanup(work.cleanup)
        self.work = work.name
        self.image = make_image(self.work, {"a.txt": b"x"}, "8M")

    def serve(self, *args, **kwargs):
        server = Server(self.image, *args, **kwargs)
        self.addCleanup(server.kill)
        return server.start()

    def test_exit_code_and_last_lines_of_each_failure(self):
        missing = os.path.join(self.work, "missing.img")
        blocker = socket.socket()
        self.addCleanup(blocker.close)
        blocker.bind(("127.0.0.1", 0))
        blocker.listen(1)
        # (words, exit code, what stdout ends with); a later word overrides the image and port.
        cases = [
            (["--help"], 0, "exit codes: 0 stopped by a signal"),
            (["--bogus"], 1, "exit codes: 0 stopped by a signal"),
            (["-i=" + missing, "-p=secret-word"], 2,
             "           Password: <set>\n   -------------------------------------------------------\n"
             "----> Unable to Mount Drive /1 (%s): %s\n----> Exiting\n" % (missing, NOT_FOUND)),
            (["-a", "-u=Anonymous"], 3, "----> Unable to Create FtpUser: the name Anonymous "
             "belongs to the anonymous account (-a)\n----> Exiting\n"),
            (["-f=%d" % blocker.getsockname()[1]], 4,
             "----> FtpUser Created\n----> Unable to Listen: Address already in use\n----> Exiting\n"),
            (["-k=" + os.path.abspath(__file__)], 6, "----> Unable to Use TLS Certificate: "),
        ]
        for words, expected, tail in cases:
            done = harness.run([harness.TOOLS["vrax"], "-i=" + self.image,
                                "-f=%d" % harness.free_port()] + words, timeout=20)
            out = done.stdout.decode(errors="replace")
            self.assertEqual(done.returncode, expected, (words, out))
            self.assertIn(tail, out, words)
            self.assertTrue(out.endswith("\n----> Exiting\n") or expected < 2, out)
            self.assertNotIn("secret-word", out)
            if expected == 1:
                self.assertIn("vrax: invalid option: --bogus\n", out)
        self.assertEqual(check_image(self.image)[0], 0)

    def test_signals_stop_the_server_and_it_restarts_on_the_same_port(self):
        port = harness.free_port()
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            server = self.serve(("-p=",), password=None, port=port)
            r = Raw(server.port).login(password="")
            self.addCleanup(r.close)
            self.assertEqual(r.transfer("RETR a.txt"), b"x")
            data = r.data_connection()  # left waiting
            self.addCleanup(data.close)
            code, seconds = server.stop(sig)
            self.assertEqual(code, 0, sig)
            self.assertLess(seconds, 2.0)
            self.assertTrue(r.closed_by_server())
            self.assertIn("           Password: <none>\n", "".join(server.output))
        self.assertEqual(check_image(self.image)[0], 0)

    def test_one_listening_address_or_all(self):
        if len(HOSTS) < 2:
            self.skipTest("no IPv6 loopback here")
        for extra, reachable in ((("-l=[::1]",), ["::1"]), (("-l=127.0.0.1",), ["127.0.0.1"]), ((), HOSTS)):
            server = self.serve(extra)
            for host in HOSTS:
                if host in reachable:
                    r = Raw(server.port, host=host)
                    self.assertEqual(r.login().cmd("SIZE a.txt"), "213 1")
                    r.close()
                else:
                    with self.assertRaises(ConnectionRefusedError):
                        socket.create_connection((host, server.port), timeout=5).close()
            self.assertEqual(server.stop()[0], 0)

    def test_transfers_work_without_privileges(self):
        """Without privileges the data ports 100 to 298 cannot be bound:
        passive and active connections then use ports the kernel chooses."""
        wrapper = ()
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                self.skipTest("setpriv is needed to drop root's privileges")
            wrapper = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                       "--inh-caps=-all", "--bounding-set=-all")
            os.chmod(self.work, 0o777)
        os.chmod(self.image, 0o666)
        r = Raw(self.serve(wrapper=wrapper).port).login()
        self.addCleanup(r.close)
        host, port = r.pasv()
        self.assertGreaterEqual(port, 1024)
        data = socket.create_connection((host, port), timeout=harness.IO_TIMEOUT)
        self.assertEqual(r.transfer("RETR a.txt", data=data), b"x")
        listener, argument = harness.listen_on()
        self.assertEqual(r.cmd("EPRT " + argument), "200 EPRT command successful.")
        self.assertEqual(r.transfer("RETR a.txt", data=listener), b"x")
        self.assertGreaterEqual(r.data_source_port, 1024)

    def test_running_out_of_descriptors_only_pauses_accepting(self):
        # Under the sanitizers a thread start that fails for want of
        # resources trips a false report inside the standard library.
        linked = harness.run(["ldd", harness.TOOLS["vrax"]]).stdout
        if b"libasan" in linked or b"libtsan" in linked or b"libubsan" in linked:
            self.skipTest("sanitizer build")
        server = self.serve(preexec=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24)))
        crowd = []
        for _ in range(30):  # more than the server has descriptors for
            try:
                crowd.append(socket.create_connection(("127.0.0.1", server.port), timeout=2))
            except OSError:
                break  # the backlog is full as well
        self.assertGreater(len(crowd), 20)
        time.sleep(0.5)
        for s in crowd:
            s.close()
        r = Raw(server.port).login()
        self.assertEqual(r.cmd("SIZE a.txt"), "213 1")
        r.close()
        self.assertEqual(server.stop()[0], 0)


if __name__ == "__main__":
    harness.main(__doc__)
