"""The external spam scan of the real osprine: the real spamassassin adds its
headers; exempt recipients and large messages pass unscanned; stand-in
scanners on PATH show the failure paths; other sessions are served while a
scan runs."""
import os
import smtplib
import stat
import tempfile
import threading
import time
import unittest

from osprine_harness import Server, make_bbs, remove, set_settings, wait_for
from test_intake import put_list, read, start_server, write_handle_index

MESSAGE = (b"From: Alice <alice@remote.example>\r\nTo: darkstar@bbs.example\r\nSubject: Scan me\r\n"
           b"Date: Tue, 11 Jul 2006 19:35:37 +0200\r\nMessage-ID: <scan@remote.example>\r\n\r\nHello.\r\n")


class SpamTestCase(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        self.temp = os.path.join(self.root, "TEMP")
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()   # hand-off files stay to be read
        write_handle_index(self.root)
        set_settings(self.root, SpamAssassin=1, SmtpClient=0)
        self.bin = tempfile.mkdtemp(prefix="osprine-standin-")
        # The real scanner's own settings: local tests only, no name server is asked.
        self.home = tempfile.mkdtemp(prefix="osprine-home-")
        os.makedirs(os.path.join(self.home, ".spamassassin"))
        with open(os.path.join(self.home, ".spamassassin", "user_prefs"), "w") as f:
            f.write("dns_available no\nskip_rbl_checks 1\nuse_bayes 0\nuse_razor2 0\nuse_pyzor 0\n")
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()
        remove(self.root)
        remove(self.bin)
        remove(self.home)

    def start(self, path=None):
        env = {"HOME": self.home}
        if path is not None:
            env["PATH"] = path
        put_list(self.root, "relaydb", "")
        self.server = Server(self.root, env=env)
        self.assertTrue(self.server.wait_listening(self.port, 20))

    def stand_in(self, script):
        path = os.path.join(self.bin, "spamassassin")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + script)
        os.chmod(path, stat.S_IRWXU)
        return self.bin + ":" + os.environ["PATH"]

    def send(self, message=MESSAGE, to="darkstar@bbs.example", timeout=60):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=timeout) as s:
            s.ehlo("client.example")
            s.mail("alice@remote.example")
            s.rcpt(to)
            return s.data(message)

    def hand_off(self):
        names = sorted(n for n in os.listdir(self.spool_tmp) if n.upper().endswith(".D"))
        self.assertEqual(len(names), 1, names)
        return read(os.path.join(self.spool_tmp, names[0]))

    def logged(self, text):
        return "  " + text + "\r\n" in self.server.log()


class RealScannerTest(SpamTestCase):
    def test_real_scanner_adds_its_headers(self):
        self.start()
        code, _ = self.send()
        self.assertEqual(code, 250)
        handed = self.hand_off()
        self.assertIn(b"\r\nX-Spam-Checker-Version: SpamAssassin", handed)
        self.assertIn(b"\r\nX-Spam-Status: ", handed)
        self.assertTrue(self.logged("Data Received. Executing SpamAssassin..."))
        self.assertTrue(self.logged("SpamAssassin execution completed."))
        self.assertEqual(os.listdir(self.temp), [])

    def test_exempt_recipient_is_not_scanned(self):
        put_list(self.root, "filterexemptions", "darkstar,1,0,0,,,,,,,")
        self.start()
        self.send()
        self.assertFalse(b"X-Spam-" in self.hand_off(), "the exempt recipient's message was scanned")
        self.assertFalse(self.logged("Data Received. Executing SpamAssassin..."))

    def test_message_of_a_megabyte_is_not_scanned(self):
        self.start()
        # smtplib ends the text with CR LF, which the end mark takes: the
        # server receives exactly these 1,048,576 bytes.
        big = MESSAGE + b"x" * (1048576 - len(MESSAGE))
        self.assertEqual(len(big), 1048576)
        self.assertEqual(self.send(big), (250, b"Received data (1048576 bytes)."))
        self.assertFalse(b"X-Spam-" in self.hand_off(), "the large message was scanned")
        self.assertFalse(self.logged("Data Received. Executing SpamAssassin..."))


class StandInScannerTest(SpamTestCase):
    def test_scanner_not_installed(self):
        self.start(path=self.bin)        # an empty directory: no scanner anywhere
        self.assertEqual(self.send()[0], 250)
        self.assertTrue(self.logged("SpamAssassin Error: An error occurred while executing SpamAssassin."))
        self.assertTrue(self.hand_off().endswith(b"\r\n\r\nHello.\r\n\r\n\r\n"))
        self.assertEqual(os.listdir(self.temp), [])

    def test_empty_result(self):
        self.start(path=self.stand_in("cat > /dev/null\n"))
        self.assertEqual(self.send()[0], 250)
        self.assertTrue(self.logged("SpamAssassin Error: No results given."))
        self.assertNotIn(b"X-Spam", self.hand_off())
        self.assertEqual(os.listdir(self.temp), [])

    def test_slow_scanner_times_out_and_its_scratch_files_go_with_it(self):
        self.start(path=self.stand_in("exec sleep 60\n"))
        began = time.monotonic()
        self.assertEqual(self.send(timeout=60)[0], 250)
        self.assertGreaterEqual(time.monotonic() - began, 19.5)
        self.assertTrue(self.logged("SpamAssassin Error: Timeout waiting for results."))
        self.assertTrue(wait_for(lambda: os.listdir(self.temp) == [], timeout=10), os.listdir(self.temp))
        self.assertTrue(self.hand_off().endswith(b"\r\n\r\nHello.\r\n\r\n\r\n"))

    def test_a_burst_never_runs_more_than_two_scanners(self):
        record = os.path.join(self.bin, "running")
        # Each copy notes how many copies run beside it (under a lock), works a while, then leaves.
        path = self.stand_in(
            "exec 9>%s.lock\nflock 9; echo start >> %s; flock -u 9\nsleep 1\n"
            "flock 9; echo end >> %s; flock -u 9\nprintf 'X-Scanned: yes\\r\\n'\ncat\n" % (record, record, record))
        put_list(self.root, "maxperip", "0")
        self.start(path=path)

        def session(n):
            with smtplib.SMTP("127.0.0.1", self.port, timeout=120) as s:
                s.ehlo("client.example")
                for i in range(5):
                    s.sendmail("alice@remote.example", ["darkstar@bbs.example"], MESSAGE.replace(
                        b"Scan me", b"Scan %d-%d" % (n, i)))
        threads = [threading.Thread(target=session, args=(n,)) for n in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(180)
        most, now = 0, 0
        for line in read(record).split():
            now += 1 if line == b"start" else -1
            most = max(most, now)
        self.assertEqual(most, 2)
        files = [read(os.path.join(self.spool_tmp, n)) for n in os.listdir(self.spool_tmp)]
        self.assertEqual(len(files), 20)
        self.assertTrue(all(b"\r\nX-Scanned: yes\r\n" in f for f in files))

    def test_second_session_is_served_while_a_scan_runs(self):
        put_list(self.root, "filterexemptions", "bob,1,0,0,,,,,,,")
        self.start(path=self.stand_in("sleep 4\nprintf 'X-Scanned: slowly\\r\\n'\ncat\n"))
        finished = {}

        def slow():
            finished["slow"] = (self.send(), time.monotonic())

        t = threading.Thread(target=slow)
        t.start()
        self.assertTrue(wait_for(lambda: self.logged("Data Received. Executing SpamAssassin..."), timeout=10))
        time.sleep(1.1)                                  # the accept lock's second
        code, _ = self.send(to="bob@bbs.example")
        quick_done = time.monotonic()
        t.join(timeout=60)
        self.assertEqual(code, 250)
        self.assertEqual(finished["slow"][0][0], 250)
        self.assertLess(quick_done, finished["slow"][1])
        files = [read(os.path.join(self.spool_tmp, n)) for n in sorted(os.listdir(self.spool_tmp))]
        self.assertEqual(len(files), 2)
        self.assertIn(b"for <bob@bbs.example>", files[0])
        self.assertIn(b"\r\nX-Scanned: slowly\r\n", files[1])


if __name__ == "__main__":
    unittest.main()
