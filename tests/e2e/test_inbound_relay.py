"""The DNS block-list test of the real osprine against a real DNS server:
dnsmasq on a loopback port, started here, serving test zones only. Every
zone in service lists the test address 127.0.0.2 and not 127.0.0.1, as
RFC 5782 asks; listed clients connect from 127.0.0.3, others from 127.0.0.1
or 127.0.0.4 (all of 127.0.0.0/8 is this machine). One zone lists IPv6
clients too: its IPv6 test entry and ::1, by their nibble names."""
import ipaddress
import socket
import time
import unittest

import test_inbound as base
from dns_harness import Dnsmasq
from osprine_harness import Server, make_bbs, remove, set_settings, wait_for


def nibbles(address):
    """The block-list name of an IPv6 address without its zone (RFC 5782, 2.4)."""
    return ipaddress.ip_address(address).reverse_pointer[:-len(".ip6.arpa")]


def relay_zones(silent_port):
    """dnsmasq's records of the test zones; silent.test is asked of a port
    that never answers."""
    return [
        "--address=/2.0.0.127.clean.test/127.0.0.2",
        "--address=/2.0.0.127.listed.test/127.0.0.2", "--address=/3.0.0.127.listed.test/127.0.0.2",
        "--address=/%s.listed.test/127.0.0.2" % nibbles("::ffff:7f00:2"),
        "--address=/%s.listed.test/127.0.0.2" % nibbles("::1"),
        "--address=/2.0.0.127.refusing.test/127.0.0.2",
        "--address=/1.0.0.127.refusing.test/127.255.255.254",
        # A zone shut down and wildcarded: it lists everybody.
        "--address=/wild.test/127.0.0.2",
        # A resolver that makes up an address for a name that does not exist.
        "--address=/2.0.0.127.hijacked.test/127.0.0.2", "--address=/4.0.0.127.hijacked.test/198.51.100.7",
        "--local=/clean.test/", "--local=/listed.test/", "--local=/refusing.test/", "--local=/hijacked.test/",
        "--server=/silent.test/127.0.0.1#%d" % silent_port,
    ]


class BlockListTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A port that takes every query and never answers.
        cls.silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        cls.silent.bind(("127.0.0.1", 0))
        cls.dns = Dnsmasq(relay_zones(cls.silent.getsockname()[1]))

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
        self.assertTrue(self.server.wait_listening(self.port, 20))

    def client(self, source="127.0.0.1"):
        c = base.Client(self.port, timeout=30, source=source)
        self.addCleanup(c.close)
        c.greeting()
        return c

    def test_a_listed_client_is_refused(self):
        self.start("clean.test; Listed.TEST ;refusing.test")
        c = self.client("127.0.0.3")
        self.assertEqual(c.ask("EHLO spammer.example"),
                         "421 spammer.example is listed as an open relay. Ending session.")
        self.assertTrue(c.closed())
        log = base.log_texts(self.server, 1)
        start = log.index("--> EHLO spammer.example")
        self.assertEqual(log[start + 1:start + 5], [
            "Relay Blocker is checking 127.0.0.3", "* clean.test - passed", "* listed.test - failed",
            "<-- 421 spammer.example is listed as an open relay. Ending session."])

    def test_an_ipv6_client_is_looked_up_in_the_zones_that_list_ipv6(self):
        self.start("clean.test;listed.test")
        self.assertTrue(wait_for(lambda: "  Block list listed.test lists IPv6 clients.\r\n" in self.server.log()))
        c = self.client("::1")
        self.assertEqual(c.ask("EHLO spammer.example"),
                         "421 spammer.example is listed as an open relay. Ending session.")
        self.assertTrue(c.closed())
        log = base.log_texts(self.server, 1)
        start = log.index("--> EHLO spammer.example")
        self.assertEqual(log[start + 1:start + 5], [
            "Relay Blocker is checking ::1", "* clean.test - lists no IPv6 clients, not asked",
            "* listed.test - failed", "<-- 421 spammer.example is listed as an open relay. Ending session."])
        self.assertNotIn("Block list clean.test lists IPv6", self.server.log())

    def test_a_client_on_no_list_is_welcomed(self):
        self.start("clean.test;refusing.test")
        c = self.client()
        self.assertEqual(c.ask("HELO me"), "250 Welcome 127.0.0.1, pleased to meet you.")
        log = base.log_texts(self.server, 1)
        self.assertIn("* clean.test - passed", log)
        self.assertIn("* refusing.test - passed", log)

    def test_zones_that_list_everybody_or_answer_outside_loopback_list_nobody(self):
        self.start("wild.test;hijacked.test;listed.test")
        self.assertTrue(wait_for(lambda: "Block list wild.test is out of service" in self.server.log()))
        for _ in range(2):
            c = self.client("127.0.0.4")
            self.assertEqual(c.ask("HELO me"), "250 Welcome 127.0.0.4, pleased to meet you.")
            c.close()
            time.sleep(1.1)   # the next connection's turn at the accept lock
        log = self.server.log()
        self.assertIn("  Block list wild.test is out of service: it answers for 127.0.0.1 (127.0.0.2), "
                      "so it would list every address.\r\n", log)
        self.assertEqual(log.count("  Block list hijacked.test answered 198.51.100.7, outside 127.0.0.0/8: "
                                   "no listing, the client passes.\r\n"), 1)
        self.assertNotIn("Block list hijacked.test is out of service", log)
        slot = base.log_texts(self.server, 1)
        self.assertEqual(slot.count("* wild.test - out of service, not asked"), 2)
        self.assertEqual(slot.count("* hijacked.test - passed"), 2)

    def test_a_zone_that_never_answers_passes_within_ten_seconds(self):
        self.start("silent.test;clean.test")
        c = self.client()
        c.sock.settimeout(30)
        c.send(b"EHLO patient.example\r\n")
        # Meanwhile another client is served, before the first hears anything.
        other = self.client()
        self.assertEqual(other.ask("NOOP"), "250 OK.")
        self.assertEqual(c.buffer, b"")
        c.sock.setblocking(False)   # a socket with a time-out would wait for data first
        try:
            waiting = c.sock.recv(1, socket.MSG_PEEK)
        except BlockingIOError:
            waiting = b""
        c.sock.settimeout(30)
        self.assertEqual(waiting, b"")
        self.assertEqual(c.line(), "250 Welcome patient.example, pleased to meet you.")
        self.assertIn("* silent.test - passed", base.log_texts(self.server, 1))


if __name__ == "__main__":
    unittest.main()
