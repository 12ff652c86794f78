"""Counters, the statistics file and the nightly maintenance of a running server."""
import os
import signal
import smtplib
import struct
import unittest

from osprine_harness import Server, make_bbs, remove, set_settings, wait_for


class StatisticsTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()

    def tearDown(self):
        remove(self.root)

    def test_counters_are_kept_in_the_statistics_file_and_printed_on_request(self):
        set_settings(self.root, SaveStats=1)
        server = Server(self.root)
        self.assertTrue(server.wait_listening(self.port))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=10) as client:
            client.sendmail("joe@example.com", ["sysop@bbs.example"],
                            b"From: joe@example.com\r\nTo: sysop@bbs.example\r\nSubject: hi\r\n\r\n" + b"x" * 2000)
        stats = os.path.join(self.root, "OSPRSTAT.DAT")
        def received():
            with open(stats, "rb") as f:
                return struct.unpack_from("<i", f.read(), 12)[0]
        self.assertTrue(wait_for(lambda: os.path.exists(stats) and received() == 1))
        server.proc.send_signal(signal.SIGUSR1)
        code, out, err = server.stop()
        self.assertEqual(code, 0, err)
        counters = [line for line in out.splitlines() if line.startswith("Active Connections:")]
        self.assertEqual(len(counters), 1, out)
        self.assertIn("Total Connections: 1, Incoming: 1, Outgoing: 0, Received: 1", counters[0])

        with open(stats, "rb") as f:
            record = f.read()
        self.assertEqual(len(record), 44)
        total_connections, incoming, outgoing, received, kb_received, sent = struct.unpack_from("<iiiifi", record)
        self.assertEqual((total_connections, incoming, outgoing, received, sent), (1, 1, 0, 1, 0))
        self.assertGreater(kb_received, 2.0)

        # A restart carries the counters on.
        server = Server(self.root)
        self.assertTrue(server.wait_listening(self.port))
        server.proc.send_signal(signal.SIGUSR1)
        code, out, _ = server.stop()
        self.assertIn("Total Connections: 1,", out)

    def test_statistics_file_is_removed_when_not_kept(self):
        stats = os.path.join(self.root, "OSPRSTAT.DAT")
        with open(stats, "wb") as f:
            f.write(struct.pack("<iiiififiiii", 5, 5, 0, 5, 1.0, 0, 0.0, 0, 0, 0, 0))
        with open(stats, "rb") as f:
            old = f.read()
        server = Server(self.root)
        self.assertTrue(server.wait_listening(self.port))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=10) as client:
            client.noop()
        self.assertTrue(wait_for(lambda: "Connection Terminated" in server.log()))
        with open(stats, "rb") as f:
            self.assertEqual(f.read(), old)            # counting sessions leaves it alone
        server.proc.send_signal(signal.SIGUSR1)
        code, out, _ = server.stop()
        self.assertIn("Total Connections: 1,", out)   # an old file is not read while SaveStats is 0
        self.assertFalse(os.path.exists(stats))        # and is deleted at shut-down

    def test_a_statistics_file_that_cannot_be_written_is_an_error_log_line(self):
        set_settings(self.root, SaveStats=1)
        os.mkdir(os.path.join(self.root, "OSPRSTAT.DAT"))   # a directory cannot be replaced by the file
        server = Server(self.root)
        self.assertTrue(server.wait_listening(self.port))
        code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        with open(os.path.join(self.root, "ZRVERROR.LOG"), "rb") as f:
            lines = f.read().split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        self.assertRegex(lines[0], rb"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) \d{4}-\d\d-\d\d \d\d:\d\d:\d\d "
                                   rb"osprine v1\.4\.060711  frmMain PutStats - \S")

    def test_nightly_maintenance_rebuilds_the_handle_index_once(self):
        set_settings(self.root, DailyMaint=1, LastMaintDate="000000")
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: "Daily Maintenance Performed" in server.log(), timeout=15))
        code, out, _ = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual(server.log().count("Daily Maintenance Performed"), 1)
        with open(os.path.join(self.root, "HANDLES.UIP"), "rb") as f:
            first = f.readline()
        self.assertTrue(first.startswith(b"system-daemon,SYSTEM-DAEMON,"), first)
        with open(os.path.join(self.root, "OSPRINE.CFG"), "rb") as f:
            stamp = f.read()[14:20]
        self.assertRegex(stamp, rb"^\d{6}$")
        self.assertNotEqual(stamp, b"000000")
        self.assertRegex(out, r"\d\d:\d\d:\d\d : \d\d/\d\d/\d{4} : Daily Maintenance Performed")


if __name__ == "__main__":
    unittest.main()
