"""vsftpd for bench/compare_servers.py: found or installed with apt-get,
configured to serve one host tree to an anonymous account on 127.0.0.1,
and stopped again with every session process it forked."""

import os
import pwd
import random
import shutil
import signal
import socket
import subprocess
import time

VSFTPD = "/usr/sbin/vsftpd"
NO_SERVICE_START = "/usr/sbin/policy-rc.d"
START_TIMEOUT = 20.0


class Skip(Exception):
    """Something that cannot be measured here; the text says why."""


def find_or_install(path, package, allow_install):
    """`path`, installing the Debian `package` with apt-get when it is missing."""
    if os.access(path, os.X_OK):
        return path
    if not allow_install:
        raise Skip("%s not found (--no-install given)" % path)
    if os.geteuid() != 0 or shutil.which("apt-get") is None:
        raise Skip("%s not found, and apt-get cannot install it here (needs root)" % path)
    print("installing the Debian package %s with apt-get ..." % package, flush=True)
    install_without_starting_services(package)
    if not os.access(path, os.X_OK):
        raise Skip("apt-get did not install %s" % path)
    return path


def install_without_starting_services(package):
    """apt-get install `package`, with the Debian policy hook that keeps a
    package from starting its own service in place for the install."""
    own_hook = not os.path.exists(NO_SERVICE_START)
    if own_hook:
        with open(NO_SERVICE_START, "wb") as f:
            f.write(b"#!/bin/sh\nexit 101\n")
        os.chmod(NO_SERVICE_START, 0o755)
    try:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-q", package], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.STDOUT, timeout=600)
    except (OSError, subprocess.SubprocessError) as e:
        raise Skip("apt-get install %s failed: %s" % (package, e))
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


def write_config(work, tree, port, user):
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
    with open(path, "wb") as f:
        f.write(("\n".join(lines) + "\n").encode())
    os.chmod(path, 0o600)
    return path


def prepare_tree(tree, user):
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
    terminal reaches the script, which then stops vsftpd in order."""

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

    def pids(self):
        """The listener and every session process below it."""
        return [self.process.pid] + descendants(self.process.pid)

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
