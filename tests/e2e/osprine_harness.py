"""Shared helpers for the end-to-end tests: a test BBS installation made by
osprine-mkbbs, the real osprine started in it, and free loopback ports."""
import os
import random
import shutil
import signal
import socket
import subprocess
import tempfile
import time

BIN = os.environ.get("OSPRINE_BIN") or os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin")


def free_port():
    """A loopback port that is free now; below 32768, since the settings
    record keeps ports as 16-bit signed numbers."""
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("0.0.0.0", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


def make_bbs(port=None, users=12, system_id="bbs.example", extra=()):
    """Creates an installation in a new temporary directory; returns (dir, port).
    Sender authentication is off unless `extra` holds "--authcheck", "1": the
    tests have no DNS server unless they start one."""
    port = port or free_port()
    root = tempfile.mkdtemp(prefix="osprine-e2e-")
    subprocess.run([os.path.join(BIN, "osprine-mkbbs"), root, "--port", str(port), "--users", str(users),
                    "--system-id", system_id, "--authcheck", "0", *extra], check=True, capture_output=True)
    return root, port


def wait_for(predicate, timeout=10.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def listening(port):
    """The port has a listening socket (IPv4, or the server's dual-stack
    IPv6 one), seen in /proc without connecting: a probe would take a session
    and the accept lock's turn."""
    return listener_inode(port) is not None


def listener_inode(port):
    """The inode of the socket listening on the port, None without one: the
    same inode before and after means the listener was never closed."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == port and fields[3] == "0A":
                    return fields[9]
    return None


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


class Server:
    """The real osprine in console mode, in the installation's main directory."""

    def __init__(self, main_dir, env=None, wrapper=(), stdout=subprocess.PIPE, args=()):
        """`wrapper` is a command that runs osprine (strace, say). A test that
        makes many events and never reads them passes stdout=DEVNULL: a full
        pipe would hold the server up."""
        self.main_dir = main_dir
        self.wrapped = bool(wrapper)
        self.loads_before = self.log().count(" Loaded\r\n")
        environment = dict(os.environ, OSPRINE_HEADLESS="1")
        environment.update(env or {})
        self.proc = subprocess.Popen([*wrapper, os.path.join(BIN, "osprine"), *args], cwd=main_dir, env=environment,
                                     stdout=stdout, stderr=subprocess.PIPE)

    def started(self):
        return self.log().count(" Loaded\r\n") > self.loads_before

    def wait_listening(self, port=None, timeout=10.0):
        """The run is up (its event log says so) and, given a port, its
        listener is open: "Loaded" is logged before the port is opened.
        Probing the port would use up a session; /proc shows the listener."""
        def up():
            return self.proc.poll() is not None or (self.started() and (port is None or listening(port)))
        return wait_for(up, timeout) and self.proc.poll() is None

    def log(self):
        try:
            with open(os.path.join(self.main_dir, "OSPRINE.LOG"), "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return ""

    def stop(self, timeout=10.0):
        if self.proc.poll() is None:
            if self.wrapped:
                # The server itself ends in order; its wrapper follows.
                with open("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid)) as f:
                    for child in f.read().split():
                        os.kill(int(child), signal.SIGTERM)
            else:
                self.proc.send_signal(signal.SIGTERM)
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        return self.proc.returncode, (out or b"").decode("latin-1"), err.decode("latin-1")


def remove(path):
    shutil.rmtree(path, ignore_errors=True)


# Offsets of the settings record fields that the tests change.
SETTINGS = {
    "Port": (0, "<h"), "MaxConnections": (2, "<h"), "MaxLogSize": (8, "<i"), "DailyMaint": (12, "<h"),
    "LastMaintDate": (14, "6s"), "AutoVerify": (22, "<h"), "ClientPort": (24, "<h"), "ClientHost": (26, "30s"),
    "SmtpClient": (210, "<h"), "EmailUserNumber": (212, "<h"), "IpAllowOnly": (216, "<h"),
    "CheckFlags": (218, "<h"), "RelayEnable": (220, "<h"), "SpamAssassin": (222, "<h"),
    "AllowCarbonCopy": (226, "<h"), "AllowVrfy": (228, "<h"), "AllowExpn": (230, "<h"), "AllowFreq": (236, "<h"),
    "MaxFreqSize": (238, "<i"), "MaxMailSize": (242, "<i"), "SaveStats": (246, "<h"),
}


def set_settings(main_dir, **values):
    """Changes fields of OSPRINE.CFG in place (texts are space-padded)."""
    import struct
    path = os.path.join(main_dir, "OSPRINE.CFG")
    with open(path, "rb") as f:
        record = bytearray(f.read())
    for name, value in values.items():
        offset, fmt = SETTINGS[name]
        if fmt.endswith("s"):
            width = int(fmt[:-1])
            value = value.encode("latin-1")[:width].ljust(width, b" ")
        struct.pack_into(fmt, record, offset, value)
    with open(path, "wb") as f:
        f.write(bytes(record))
