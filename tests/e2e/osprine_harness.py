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
    """Creates an installation in a new temporary directory; returns (dir, port)."""
    port = port or free_port()
    root = tempfile.mkdtemp(prefix="osprine-e2e-")
    subprocess.run([os.path.join(BIN, "osprine-mkbbs"), root, "--port", str(port), "--users", str(users),
                    "--system-id", system_id, *extra], check=True, capture_output=True)
    return root, port


def wait_for(predicate, timeout=10.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


class Server:
    """The real osprine in console mode, in the installation's main directory."""

    def __init__(self, main_dir, env=None):
        self.main_dir = main_dir
        environment = dict(os.environ, OSPRINE_HEADLESS="1")
        environment.update(env or {})
        self.proc = subprocess.Popen([os.path.join(BIN, "osprine")], cwd=main_dir, env=environment,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_listening(self, port, timeout=10.0):
        # Probing the port would use up a session; the event log tells when it is open.
        return wait_for(lambda: self.proc.poll() is not None or "Loaded" in self.log(), timeout) and \
            self.proc.poll() is None

    def log(self):
        try:
            with open(os.path.join(self.main_dir, "OSPRINE.LOG"), "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return ""

    def stop(self, timeout=10.0):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        return self.proc.returncode, out.decode("latin-1"), err.decode("latin-1")


def remove(path):
    shutil.rmtree(path, ignore_errors=True)
