"""The DNS block-list test of the real osprine against a real DNS server:
dnsmasq on a loopback port, started here, serving test zones only. The
client is 127.0.0.1, so each zone is asked for "1.0.0.127." + zone."""
import socket
import subprocess
import time
import unittest

import test_inbound as base
from osprine_harness import Server, make_bbs, remove, set_settings, wait_for


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dnsmasq:
    def __init__(self, silent_port):
        self.port = free_udp_port()
        self.proc = subprocess.Popen([
            "/usr/sbin/dnsmasq", "--no-daemon", "--keep-in-foreground", "--port=%d" % self.port,
            "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
            "--conf-file=/dev/null", "--pid-file=",
            "--address=/1.0.0.127.listed.test/127.0.0.2",
            "--address=/1.0.0.127.refusing.test/127.255.255.254",
            "--local=/clean.test/", "--local=/listed.test/", "--local=/refusing.test/",
            "--server=/silent.test/127.0.0.1#%d" % silent_port,
        ], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if not wait_for(self.ready, 5):
            self.stop()
            raise RuntimeError("dnsmasq did not start")

    def ready(self):
        if self.proc.poll() is not None:
            return False
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            try:
                s.bind(("127.0.0.1", self.port))
                return False
            except OSError:
                return True

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)


class BlockListTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A port that takes every query and never answers.
        cls.silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        cls.silent.bind(("127.0.0.1", 0))
        cls.dns = Dnsmasq(cls.silent.getsockname()[1])

    @classmethod
    def tearDownClass(cls):
        cls.dns.stop()
        cls.silent.close()

    def start(self, zones):
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)
        set_settings(self.root, RelayEnable=1)
        base.put_list(self.root, "relaydb", zones)
        self.server = Server(self.root, env={"OSPRINE_NAMESERVERS": "127.0.0.1:%d" % self.dns.port})
        self.addCleanup(self.server.stop)
        self.assertTrue(self.server.wait_listening(self.port) and wait_for(lambda: base.listening(self.port)))

    def client(self):
        c = base.Client(self.port, timeout=30)
        self.addCleanup(c.close)
        c.greeting()
        return c

    def test_a_listed_client_is_refused(self):
        self.start("clean.test; Listed.TEST ;refusing.test")
        c = self.client()
        self.assertEqual(c.ask("EHLO spammer.example"),
                         "421 spammer.example is listed as an open relay. Ending session.")
        self.assertTrue(c.closed())
        log = base.log_texts(self.server, 1)
        start = log.index("--> EHLO spammer.example")
        self.assertEqual(log[start + 1:start + 5], [
            "Relay Blocker is checking 127.0.0.1", "* clean.test - passed", "* listed.test - failed",
            "<-- 421 spammer.example is listed as an open relay. Ending session."])

    def test_a_client_on_no_list_is_welcomed(self):
        self.start("clean.test;refusing.test")
        c = self.client()
        self.assertEqual(c.ask("HELO me"), "250 Welcome 127.0.0.1, pleased to meet you.")
        log = base.log_texts(self.server, 1)
        self.assertIn("* clean.test - passed", log)
        self.assertIn("* refusing.test - passed", log)

    def test_a_zone_that_never_answers_passes_within_ten_seconds(self):
        self.start("silent.test;clean.test")
        c = self.client()
        started = time.monotonic()
        c.send(b"EHLO patient.example\r\n")
        # Meanwhile another client is served.
        other = self.client()
        self.assertEqual(other.ask("NOOP"), "250 OK.")
        self.assertLess(time.monotonic() - started, 3)
        self.assertEqual(c.line(), "250 Welcome patient.example, pleased to meet you.")
        self.assertLess(time.monotonic() - started, 11.5)
        self.assertIn("* silent.test - passed", base.log_texts(self.server, 1))


if __name__ == "__main__":
    unittest.main()
