"""The message intake of the real osprine: what a client sends arrives in the
hand-off file byte for byte, the substitute tosser imports it into the BBS
e-mail base, forwarding writes the e-mail base, the spool and the queue, and
a local fault makes the client try again later."""
import os
import re
import smtplib
import struct
import subprocess
import time
import unittest

from osprine_harness import BIN, Server, listening, make_bbs, remove, set_settings, wait_for

DATE = re.compile(rb"(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                  rb"\d{4} \d\d:\d\d:\d\d [+-]\d{4}")
RECORD = 582


def put_list(main_dir, key, value):
    """Sets one section of the keyed list file OSPRDATA.DAT (through a temporary file)."""
    path = os.path.join(main_dir, "OSPRDATA.DAT")
    lines = []
    if os.path.exists(path):
        with open(path, "rb") as f:
            lines = [l for l in f.read().split(b"\r\n")
                     if l and l.split(b"=", 1)[0].strip().upper() != key.upper().encode()]
    lines.append(key.encode() + b"=" + value.encode("latin-1"))
    with open(path + ".tmp", "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")
    os.replace(path + ".tmp", path)


HANDLES = ["sysop", "john.smith", "mary.jones", "darkstar", None, "ann.lee", "bob", None, "carol.white",
           "night.owl", "eve.adams", "frank.miller", "gina.brown", "help.desk"]


def write_handle_index(root):
    """HANDLES.UIP as daily maintenance builds it for the demo users."""
    lines = [b"system-daemon,SYSTEM-DAEMON,1,1"] + [
        b"%s,%d,1,1" % (h.encode(), n) for n, h in enumerate(HANDLES, 1) if h]
    with open(os.path.join(root, "HANDLES.UIP"), "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")


def start_server(test_case, root, port):
    # No block-list zone outside this machine is ever asked.
    put_list(root, "relaydb", "")
    server = Server(root)
    if not server.wait_listening(port, 20):
        test_case.fail("the server did not start: %r" % (server.stop(),))
    return server


def read(path):
    with open(path, "rb") as f:
        return f.read()


def email_records(path):
    """The records of an e-mail base or spool file as dictionaries; the
    spool's bodies follow their records."""
    data = read(path) if os.path.exists(path) else b""
    records, at, spool = [], 0, path.endswith("SPOOL.NET")
    while at + RECORD <= len(data):
        r = data[at:at + RECORD]
        text = lambda o, n: r[o:o + n].decode("latin-1").strip()
        rec = {
            "to_number": struct.unpack_from("<i", r, 4)[0], "from_user": text(8, 40), "to_user": text(48, 40),
            "from_system": text(88, 80), "to_system": text(168, 80), "kind": struct.unpack_from("<h", r, 248)[0],
            "network": struct.unpack_from("<h", r, 250)[0], "time": struct.unpack_from("<i", r, 252)[0],
            "seq": struct.unpack_from("<i", r, 256)[0], "subject": text(268, 64), "date": text(334, 40),
            "base": text(470, 8), "position": struct.unpack_from("<i", r, 478)[0],
            "length": struct.unpack_from("<i", r, 482)[0], "net_parsed": struct.unpack_from("<h", r, 486)[0],
            "zero": r[458:470], "constants": (r[0:4], r[260:268], r[332:334], r[374:382], r[488:494]),
            "blank": r[382:458] + r[494:582],
        }
        at += RECORD
        if spool:
            rec["body"] = data[at:at + rec["length"]]
            at += rec["length"]
        records.append(rec)
    return records


class IntakeTestCase(unittest.TestCase):
    """One installation and server per test; the tosser is held back by a
    busy flag unless a test lets it run."""

    def setUp(self):
        self.root, self.port = make_bbs()
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        self.hold_tosser()
        write_handle_index(self.root)
        self.server = start_server(self, self.root, self.port)

    def tearDown(self):
        self.server.stop()
        remove(self.root)

    def hold_tosser(self):
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()

    def release_tosser(self):
        os.remove(os.path.join(self.root, "BTHOLD.FLG"))

    def hand_offs(self):
        names = [n for n in os.listdir(self.spool_tmp) if re.fullmatch(r"V\d+\.D", n, re.I)]
        return sorted(names, key=lambda n: int(n[1:-2]))

    def send(self, message, to, sender="alice@remote.example"):
        return self.send_many([message], to, sender)

    def send_many(self, messages, to, sender="alice@remote.example"):
        """Sends the messages in one session (the server accepts one new
        connection per second, so a test takes a session for each burst)."""
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            for m in messages:
                refused = s.sendmail(sender, to, m)
            return refused

    def readmail(self, user):
        return subprocess.run([os.path.join(BIN, "osprine-readmail"), self.root, user, "--body"],
                              capture_output=True, check=True).stdout


class HandOffTest(IntakeTestCase):
    def test_hand_off_file_matches_byte_for_byte(self):
        message = (b"From: Alice <alice@remote.example>\r\nTo: John Smith <john.smith@bbs.example>\r\n"
                   b"Subject: Dots and a tail\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n"
                   b"Message-ID: <e2e-1@remote.example>\r\n\r\n"
                   b"Line one\r\n...\r\n. x\r\n.\r\n"
                   b"--b\r\nContent-Type: application/octet-stream;\r\n\tname=a.bin\r\n\r\nQUJD\r\n--b--\r\n")
        self.send(message, ["john.smith@bbs.example"])
        self.assertEqual(self.hand_offs(), ["V1.D"])
        got = DATE.sub(b"<DATE>", read(os.path.join(self.spool_tmp, "V1.D")))
        self.assertEqual(got,
                         b"Return-Path: <alice@remote.example>\r\n"
                         b"Received: from 127.0.0.1\r\n"
                         b"\tby bbs.example (OSPRINE v1.4.060711)\r\n"
                         b"\tfor <john.smith@bbs.example>; <DATE>\r\n"
                         b"reply-to: Alice <alice@remote.example>\r\n"
                         b"From: Alice <alice@remote.example>\r\n"
                         b"To: <john.smith@bbs.example>\r\n"
                         b"Subject: Dots and a tail\r\n"
                         b"Date: <DATE>\r\n"
                         b"Message-ID: <e2e-1@remote.example>\r\n"
                         b"\r\n"
                         b"Line one\r\n...\r\n. x\r\n.\r\n--b\r\n"
                         b"\r\nContent-Type: application/octet-stream; name=a.bin\r\n\r\nQUJD\r\n--b--\r\n"
                         b"\r\n")
        log = self.server.log()
        for text in ["> Message Return-Path: alice@remote.example", "> Message Subject: Dots and a tail",
                     "> Message ID: <e2e-1@remote.example>",
                     "Email received: alice@remote.example --> john.smith@bbs.example"]:
            self.assertIn("  " + text + "\r\n", log)

    def test_tosser_imports_within_two_seconds_of_the_flag_going(self):
        subprocess.run(["swaks", "--server", "127.0.0.1:%d" % self.port, "--from", "alice@remote.example",
                        "--to", "sysop@bbs.example", "--header", "Subject: swaks to the sysop",
                        "--body", "Read me in the BBS."], check=True, capture_output=True, timeout=60)
        time.sleep(1.5)
        self.assertEqual(len(self.hand_offs()), 1)      # held back by the busy flag
        self.release_tosser()
        self.assertTrue(wait_for(lambda: not self.hand_offs(), timeout=3.0))
        mail = self.readmail("sysop")
        self.assertIn(b"Subject: swaks to the sysop", mail)
        self.assertIn(b"Read me in the BBS.", mail)

    def test_tosser_keeps_pace_with_a_burst(self):
        self.release_tosser()
        self.send_many([b"From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: burst %d\r\n\r\nx\r\n" % i
                        for i in range(30)], ["darkstar@bbs.example"])
        self.assertTrue(wait_for(lambda: not self.hand_offs(), timeout=10.0))
        self.assertEqual(self.readmail("darkstar").count(b"Subject: burst "), 30)

    def test_full_spool_makes_the_client_try_again(self):
        for n in range(1, 1001):
            open(os.path.join(self.spool_tmp, "V%d.D" % n), "wb").close()
        with self.assertRaises(smtplib.SMTPDataError) as caught:
            self.send(b"From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: s\r\n\r\nx\r\n",
                      ["darkstar@bbs.example"])
        self.assertEqual(caught.exception.smtp_code, 451)
        self.assertEqual(caught.exception.smtp_error, b"Requested action aborted: local error in processing.")
        self.assertEqual(len(os.listdir(self.spool_tmp)), 1000)
        self.assertFalse(os.path.exists(os.path.join(self.spool_tmp, "V0.D")))

    def test_filtered_message_is_not_saved(self):
        put_list(self.root, "subjectfilter", "FREE")
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            s.mail("a@remote.example")
            s.rcpt("darkstar@bbs.example")
            code, reply = s.data(b"From: a@remote.example\r\nTo: darkstar@bbs.example\r\nSubject: FREE stuff\r\n\r\nx\r\n")
        self.assertEqual(code, 250)
        self.assertTrue(reply.endswith(b" Message was not saved."), reply)
        self.assertEqual(self.hand_offs(), [])
        self.assertIn("Email SUBJECT contains filtered phrase \"FREE\". Message deleted.\r\n", self.server.log())


class ForwardingTest(IntakeTestCase):
    def test_forwarding_to_the_bbs_another_network_and_the_internet(self):
        put_list(self.root, "mailforwarding", "mary jones,darkstar;7,sysop@1:100/1*4;12,friend@far.example*9")
        message = (b"From: Alice <alice@remote.example>\r\nTo: x@bbs.example\r\nSubject: Forward me\r\n"
                   b"Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nBody\r\n")
        before = time.time()
        self.send(message, ["mary.jones@bbs.example", "bob@bbs.example", "frank.miller@bbs.example",
                            "night.owl@bbs.example"])
        self.assertEqual(len(self.hand_offs()), 1)                      # night owl: no forwarding entry
        local = email_records(os.path.join(self.root, "MSGS", "EMAIL.DAT"))
        self.assertEqual(len(local), 1)
        r = local[0]
        self.assertEqual((r["to_number"], r["from_user"], r["to_user"], r["from_system"], r["to_system"]),
                         (4, "alice", "darkstar", "remote.example", "1"))
        self.assertEqual((r["kind"], r["network"], r["net_parsed"], r["seq"], r["base"], r["position"]),
                         (9, 1, 0, 2, "EMAIL", 1))
        self.assertEqual((r["subject"], r["date"]), ("Forward me", "Tue Jul 11, 2006 19:35:37 +0200"))
        self.assertEqual(r["zero"], bytes(12))
        self.assertEqual(r["constants"], (bytes(4), bytes(8), bytes(2), bytes(8), bytes(6)))
        self.assertEqual(r["blank"], b" " * (76 + 88))
        offset = time.localtime(before).tm_gmtoff
        self.assertLessEqual(abs(r["time"] - (before + offset)), 5)
        self.assertEqual(read(os.path.join(self.root, "MSGS", "EMAIL.BIN")), b"Body\r\n\r\n\r\n")
        self.assertEqual(r["length"], 8)
        spool = email_records(os.path.join(self.root, "DATA", "SPOOL.NET"))
        self.assertEqual(len(spool), 1)
        self.assertEqual((spool[0]["to_user"], spool[0]["to_system"], spool[0]["network"], spool[0]["net_parsed"],
                          spool[0]["position"], spool[0]["seq"], spool[0]["body"]),
                         ("sysop", "1:100/1", 4, 4, 0, 3, b"Body\r\n\r\n"))
        stat = read(os.path.join(self.root, "DATA", "STATZRBS.DAT"))
        self.assertEqual(struct.unpack_from("<ii", stat, 68), (2, 2))
        queue = os.path.join(self.root, "OUTBOUND")
        queued = [n for n in os.listdir(queue) if n.upper().endswith(".D")]
        self.assertEqual(queued, ["V1.D"])
        self.assertIn(b"\r\nTo: <friend@far.example>\r\n", read(os.path.join(queue, "V1.D")))
        log = self.server.log()
        for text in ["Email forwarded to: darkstar", "Email forwarded to: sysop@1:100/1*4",
                     "Email forwarded to: friend@far.example"]:
            self.assertIn("  " + text + "\r\n", log)


class RecipientRewriteTest(IntakeTestCase):
    def test_alias_user_number_and_carbon_copies(self):
        put_list(self.root, "aliases", "webmaster,3")
        self.server.stop()
        set_settings(self.root, EmailUserNumber=1, AllowCarbonCopy=1)
        self.server = start_server(self, self.root, self.port)
        message = b"From: a@remote.example\r\nTo: webmaster@bbs.example\r\nCc: bob@bbs.example\r\nSubject: s\r\n\r\nx\r\n"
        self.send(message, ["webmaster@bbs.example", "4@bbs.example"])
        files = [read(os.path.join(self.spool_tmp, n)) for n in self.hand_offs()]
        self.assertEqual(len(files), 3)
        self.assertIn(b"\r\nTo: <mary.jones@bbs.example>\r\n", files[0])
        self.assertIn(b"\r\nTo: <bob@bbs.example>\r\n", files[1])
        self.assertIn(b"\r\nTo: <darkstar@bbs.example>\r\n", files[2])
        log = self.server.log()
        self.assertIn("  Aliased recipient changed to: mary.jones@bbs.example\r\n", log)
        self.assertIn("  Numeric recipient changed to: darkstar@bbs.example\r\n", log)


class ShortSessionsTest(IntakeTestCase):
    """Most mail arrives one message per connection. With admissions not
    limited per second, a slot is free again as soon as its session ends, so
    a burst of short sessions never finds the table full of finished ones."""

    def setUp(self):
        self.root, self.port = make_bbs()
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        self.hold_tosser()
        write_handle_index(self.root)
        set_settings(self.root, MaxConnections=20)
        put_list(self.root, "acceptrate", "0")
        put_list(self.root, "maxperip", "0")
        put_list(self.root, "relaydb", "")
        # Every event is written to the console: a file, never a full pipe.
        self.events = os.path.join(self.root, "events.txt")
        with open(self.events, "wb") as out:
            self.server = Server(self.root, stdout=out)
        if not self.server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (self.server.stop(),))

    def test_300_sessions_of_one_message_four_at_a_time(self):
        sent = subprocess.run(["/usr/sbin/smtp-source", "-s", "4", "-m", "300", "-l", "1024",
                               "-f", "alice@remote.example", "-t", "darkstar@bbs.example",
                               "127.0.0.1:%d" % self.port], capture_output=True, timeout=600)
        self.assertEqual((sent.returncode, sent.stderr), (0, b""))
        self.assertEqual(len(self.hand_offs()), 300)
        self.assertTrue(wait_for(lambda: self.server.log().count("  Connection Terminated\r\n") >= 300))
        log = self.server.log()
        self.assertEqual(log.count("  Connection Initiated By: 127.0.0.1\r\n"), 300)
        self.assertEqual(log.count("  <-- 250 Received data ("), 300)
        self.assertEqual(log.count("  Connection Terminated\r\n"), 300)
        self.server.stop()
        events = read(self.events).decode("latin-1")
        self.assertNotIn("Connection Refused", events)
        self.assertEqual(len(re.findall(r" : Socket \d+ Closed\r?\n", events)), 300)


if __name__ == "__main__":
    unittest.main()
