"""dnsmasq on a loopback port, started by a test and answering for its test
zones only: no upstream server, no hosts file, no configuration file."""
import os
import re
import socket
import subprocess
import tempfile

from osprine_harness import wait_for


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dnsmasq:
    """dnsmasq with the given options (records, zones, forwarders). With
    log_queries, queries() counts the queries it has received."""

    def __init__(self, options, log_queries=False):
        self.port = free_udp_port()
        self.log = None
        logging = []
        if log_queries:
            self.log = tempfile.NamedTemporaryFile(prefix="osprine-dnsmasq-", delete=False)
            os.chmod(self.log.name, 0o666)   # dnsmasq may write it after giving up root
            logging = ["--log-queries", "--log-facility=" + self.log.name]
        self.proc = subprocess.Popen([
            "/usr/sbin/dnsmasq", "--no-daemon", "--keep-in-foreground", "--port=%d" % self.port,
            "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
            "--conf-file=/dev/null", "--pid-file=", *logging, *options],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(self.ready, 5):
            self.stop()
            raise RuntimeError("dnsmasq did not start")

    def ready(self):
        """dnsmasq runs and holds its port."""
        if self.proc.poll() is not None:
            return False
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            try:
                s.bind(("127.0.0.1", self.port))
                return False
            except OSError:
                return True

    def queries(self):
        with open(self.log.name, errors="replace") as f:
            return len([l for l in f if re.search(r"query\[[A-Z]+\]", l)])

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        if self.log:
            os.unlink(self.log.name)
