"""IPv6 on the real osprine: the dual-stack listener, addresses as the
event window, logs and trace header show them, the IP rules of each family,
the per-address limit counting a /64 as one address, and outbound delivery
to a smart host on ::1."""
import json
import os
import re
import shutil
import signal
import smtplib
import subprocess
import unittest

import test_inbound as inbound
from osprine_harness import BIN, Server, make_bbs, remove, set_settings, wait_for
from test_outbound import Upstream, queued


class Ipv6TestCase(unittest.TestCase):
    def start(self, wrapper=()):
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()   # the hand-off files stay to be read
        inbound.put_list(self.root, "relaydb", "")
        self.server = Server(self.root, wrapper=wrapper)
        return self.server

    def stop(self):
        code, out, err = self.server.stop()
        self.assertEqual(code, 0, err)
        return out


class AddressTest(Ipv6TestCase):
    def test_an_ipv6_client_delivers_and_each_family_is_shown_in_its_own_form(self):
        self.assertTrue(self.start().wait_listening(self.port, 20))
        with smtplib.SMTP("::1", self.port, timeout=30) as s:
            self.assertEqual(s.helo("six.example"), (250, b"Welcome ::1, pleased to meet you."))
            s.sendmail("a@remote.example", ["john.smith@bbs.example"],
                       b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\nSubject: over IPv6\r\n\r\nHi\r\n")
        c = inbound.Client(self.port)   # IPv4 through the same socket: never ::ffff:127.0.0.1
        c.greeting()
        self.assertEqual(c.ask("HELO four.example"), "250 Welcome 127.0.0.1, pleased to meet you.")
        c.close()
        self.assertTrue(wait_for(lambda: self.server.log().count("Connection Terminated") == 2))
        out = self.stop()
        self.assertRegex(out, r"\d\d:\d\d:\d\d : Socket 1 Started By IP ::1\n")
        self.assertRegex(out, r"\d\d:\d\d:\d\d : Socket \d Started By IP 127\.0\.0\.1\n")
        log = self.server.log()
        self.assertRegex(log, r"     1  Connection Initiated By: ::1\r\n")
        self.assertRegex(log, r"     \d  Connection Initiated By: 127\.0\.0\.1\r\n")
        self.assertNotIn("ffff", log + out)
        with open(os.path.join(self.spool_tmp, "V1.D"), "rb") as f:
            handed = f.read()
        self.assertTrue(handed.startswith(b"Return-Path: <a@remote.example>\r\nReceived: from [IPv6:::1]\r\n"
                                          b"\tby bbs.example (OSPRINE v1.4.060711)\r\n"), handed[:120])

    def test_ip_rules_of_one_family_leave_the_other_alone(self):
        server = self.start()
        self.assertTrue(server.wait_listening(self.port, 20))

        def welcomed(source):
            c = inbound.Client(self.port, source=source)
            try:
                first = c.line()
                return first is not None and first.startswith("220-")
            finally:
                c.close()

        for rows, refused, admitted in (("::1/128", "::1", "127.0.0.1"), ("127.0.0.1", "127.0.0.1", "::1"),
                                        ("*.*.*.*;2001:db8::/32", "127.0.0.1", "::1")):
            inbound.put_list(self.root, "ipconfig", rows)
            self.assertFalse(welcomed(refused), rows)
            self.assertTrue(welcomed(admitted), rows)
        self.assertIn("  Connection Refused (Blocked IP) [::1]\r\n", server.log())
        # Only the listed may come: a hand-written row for ::1 admits it alone.
        inbound.put_list(self.root, "ipconfig", "0:0::0:1")
        set_settings(self.root, IpAllowOnly=1)
        server.proc.send_signal(signal.SIGHUP)   # the settings are read again
        self.assertTrue(wait_for(lambda: welcomed("::1"), 30))
        self.assertFalse(welcomed("127.0.0.1"))
        self.stop()


# The client side of the /64 test, run inside the server's network namespace.
SOURCES_CLIENT = r"""
import json, socket, sys, time
port, sources = int(sys.argv[1]), sys.argv[2:]
def connect(source):
    for _ in range(100):
        try:
            return socket.create_connection(("::1", port), timeout=20, source_address=(source, 0))
        except ConnectionRefusedError:
            time.sleep(0.1)
replies, held = [], []
for source in sources:
    s = connect(source)
    held.append(s)
    replies.append(s.recv(200).decode("latin-1").split("\r\n")[0])
print(json.dumps(replies))
"""


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare") and shutil.which("nsenter"),
                     "a network namespace of its own needs root")
class PerAddressLimitTest(Ipv6TestCase):
    def test_a_fourth_session_from_one_64_is_refused_and_another_64_is_not(self):
        # A namespace of its own, with more addresses on its loopback: ::2 to
        # ::4 share ::1's /64, 2001:db8:1::5 lies in another.
        extra = ["::2", "::3", "::4", "2001:db8:1::5"]
        setup = "ip link set lo up && " + " && ".join("ip addr add %s/128 dev lo" % a for a in extra)
        server = self.start(wrapper=["unshare", "-n", "sh", "-c", setup + ' && exec "$@"', "sh"])
        server.wrapped = False   # unshare and sh end in exec: the process is osprine's
        self.assertTrue(server.wait_listening())
        ran = subprocess.run(["nsenter", "--net=/proc/%d/ns/net" % server.proc.pid, "python3", "-c", SOURCES_CLIENT,
                              str(self.port), "::1", "::2", "::3", "::4", "2001:db8:1::5"],
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        replies = json.loads(ran.stdout)
        self.assertEqual([r[:4] for r in replies], ["220-", "220-", "220-", "421 ", "220-"], replies)
        self.assertEqual(replies[3], "421 Too many connections from your address.")
        out = self.stop()
        self.assertRegex(out, r" : Connection Refused \(Too Many Connections From ::4\)\n")
        self.assertRegex(out, r" : Socket 4 Started By IP 2001:db8:1::5\n")


class OutboundTest(Ipv6TestCase):
    def test_the_queue_goes_to_a_smart_host_on_ipv6(self):
        upstream = Upstream({}, host="::1")
        self.addCleanup(upstream.close)
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)
        set_settings(self.root, SmtpClient=1, ClientHost="::1", ClientPort=upstream.port)
        with open(os.path.join(self.root, "OUTBOUND", "V1.D"), "wb") as f:
            f.write(queued("writer@bbs.example", "far@remote.example", "Over IPv6\r\n"))
        inbound.put_list(self.root, "relaydb", "")
        self.server = Server(self.root)
        self.assertTrue(self.server.wait_listening())
        flush = subprocess.run([os.path.join(BIN, "osprinectl"), "-d", self.root, "queue", "flush"],
                               capture_output=True, text=True)
        self.assertEqual(flush.returncode, 0, flush.stderr)
        self.assertTrue(wait_for(lambda: len(upstream.messages()) == 1, 30))
        self.assertEqual(upstream.messages()[0]["rcpt_tos"], ["far@remote.example"])
        self.assertTrue(wait_for(lambda: not os.path.exists(os.path.join(self.root, "OUTBOUND", "V1.D"))))
        self.stop()
        self.assertIn("     0  Outbound Socket Initiated To: ::1\r\n", self.server.log())


if __name__ == "__main__":
    unittest.main()
