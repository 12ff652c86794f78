"""Abuse under load against the real osprine: attackers on other loopback
addresses (127.0.0.2, 127.0.0.3; all of 127.0.0.0/8 is this machine) cannot
lock a real client out."""
import os
import signal
import socket
import smtplib
import time
import unittest

import test_inbound as inbound
from osprine_harness import Server, make_bbs, remove, wait_for


class SlotsTest(unittest.TestCase):
    def test_tricklers_and_a_flood_cannot_lock_out_a_real_sender(self):
        root, port = make_bbs()
        self.addCleanup(remove, root)
        inbound.put_list(root, "relaydb", "")
        server = Server(root, env={"OSPRINE_TEST_SESSION_LIMIT_S": "12"})
        self.addCleanup(server.stop)
        self.assertTrue(server.wait_listening(port, 20))

        def connect(source):
            s = socket.create_connection(("127.0.0.1", port), timeout=30, source_address=(source, 0))
            self.addCleanup(s.close)
            return s

        def first_line(s):
            data = b""
            while b"\n" not in data:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
            return data.split(b"\r\n", 1)[0]

        tricklers = [connect("127.0.0.2") for _ in range(10)]
        lines = [first_line(s) for s in tricklers]
        # Three sessions per address; the rest are told at once.
        self.assertEqual(lines.count(b"421 Too many connections from your address."), 7)
        kept = [s for s, line in zip(tricklers, lines) if line.startswith(b"220-")]
        self.assertEqual(len(kept), 3)
        flood = [connect("127.0.0.3") for _ in range(40)]

        began = time.monotonic()
        with smtplib.SMTP("127.0.0.1", port, timeout=30) as s:
            waited = time.monotonic() - began
            s.sendmail("a@remote.example", ["sysop@bbs.example"], b"From: a@remote.example\r\nTo: sysop@bbs.example\r\n\r\nhi\r\n")
        self.assertLess(waited, 5)
        self.assertEqual(sum(first_line(s) == b"421 Too many connections from your address." for s in flood), 37)

        # A byte now and then is no progress, and no session outlives its limit.
        for _ in range(4):
            for s in kept:
                s.sendall(b"N")
            time.sleep(1)
        for s in kept:
            s.settimeout(30)
            rest = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                rest += chunk
            self.assertTrue(rest.endswith(b"421 Session time limit reached.\r\n"), rest)

        # The sysop sees the attack in the counters.
        server.proc.send_signal(signal.SIGUSR1)
        time.sleep(0.5)
        _, out, _ = server.stop()
        # The flood's own sessions may reach their limit too before the counters
        # are printed: the counter matches the events shown up to that moment.
        before, counters = out.split("Active Connections:", 1)
        limits = before.count("<-- 421 Session time limit reached.")
        self.assertGreaterEqual(limits, 3)
        self.assertIn(", Refused Per Address: 44, Session Time Limits: %d, Too Many Recipients: 0, Too Many Hops: 0\n"
                      % limits, counters)


class StaleFlagTest(unittest.TestCase):
    def test_a_stale_tosser_flag_is_reported_and_still_holds_tossing(self):
        root, port = make_bbs()
        self.addCleanup(remove, root)
        inbound.put_list(root, "relaydb", "")
        flag = os.path.join(root, "BTHOLD.FLG")
        open(flag, "wb").close()
        old = time.time() - 31 * 60
        os.utime(flag, (old, old))
        server = Server(root)
        self.addCleanup(server.stop)
        self.assertTrue(server.wait_listening(port, 20))
        with smtplib.SMTP("127.0.0.1", port, timeout=30) as s:
            s.sendmail("a@remote.example", ["sysop@bbs.example"], b"From: a@remote.example\r\nTo: sysop@bbs.example\r\n\r\nhi\r\n")
        text = "Tossing is held: %s is 31 minutes old and no tosser started by this server runs." % flag
        self.assertTrue(wait_for(lambda: text in server.log(), timeout=10))
        time.sleep(3)   # three more ticks: still one report within the hour
        self.assertEqual(server.log().count(text), 1)
        with open(os.path.join(root, "ZRVERROR.LOG"), encoding="latin-1") as f:
            self.assertEqual(f.read().count(text), 1)
        self.assertEqual(len(os.listdir(os.path.join(root, "SPOOL", "TMP"))), 1)   # held, not lost


if __name__ == "__main__":
    unittest.main()
