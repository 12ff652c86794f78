"""File requests by mail to the real osprine: the reply in the outbound queue
carries the file in Base64, or says why not; names cannot leave the file
areas; with the feature off the address is refused."""
import email
import email.policy
import os
import smtplib
import subprocess
import unittest

from osprine_harness import BIN, make_bbs, remove, set_settings
from test_intake import read, start_server, write_handle_index

LIMIT = 1000


class FreqTestCase(unittest.TestCase):
    allow = 1

    def setUp(self):
        self.root, self.port = make_bbs()
        self.files = os.path.join(self.root, "FILES")
        self.queue = os.path.join(self.root, "OUTBOUND")
        with open(os.path.join(self.files, "EXACT.BIN"), "wb") as f:
            f.write(bytes(range(256)) * 3 + bytes(LIMIT - 768))
        with open(os.path.join(self.files, "OVER.BIN"), "wb") as f:
            f.write(b"o" * (LIMIT + 1))
        write_handle_index(self.root)
        # The replies stay in the queue to be read: no outbound client.
        set_settings(self.root, AllowFreq=self.allow, MaxFreqSize=LIMIT, SmtpClient=0)
        self.server = start_server(self, self.root, self.port)

    def tearDown(self):
        self.server.stop()
        remove(self.root)

    def request(self, *names):
        """Sends one request per name in one session; returns the replies by subject."""
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            for name in names:
                message = ("From: Requester <Req@Far.Example>\r\nTo: SYSOP**F@bbs.example\r\n"
                           "Subject: %s\r\n\r\nPlease.\r\n" % name).encode("latin-1")
                s.sendmail("req@far.example", ["SYSOP**F@bbs.example"], message)
        replies = {}
        for n in os.listdir(self.queue):
            m = email.message_from_bytes(read(os.path.join(self.queue, n)), policy=email.policy.compat32)
            replies[m["Subject"]] = m
        return replies

    def info(self, name, size):
        return ("BBS Name......: %s\r\nFile Requested: %s\r\nFilesize......: %d\r\nMax Filesize..: %d"
                % (self.bbs_name(), name, size, LIMIT))

    def bbs_name(self):
        return read(os.path.join(self.root, "MAIN.CFG"))[:40].decode("latin-1").strip()


class FileRequestTest(FreqTestCase):
    def test_file_at_the_limit_is_attached(self):
        reply = self.request("exact.bin")["File Request - EXACT.BIN"]
        self.assertEqual(reply["To"], "req@far.example")
        self.assertEqual(reply["From"], "OSPRINE@bbs.example")
        text, attachment = reply.get_payload()
        self.assertEqual(text.get_payload(),
                         "Attached is the file you have requested.\r\n\r\n" + self.info("EXACT.BIN", LIMIT) + "\r\n")
        self.assertEqual(attachment.get_param("name"), "EXACT.BIN")
        self.assertEqual(attachment.get_payload(decode=True), read(os.path.join(self.files, "EXACT.BIN")))
        self.assertIn("  File Request: %s - Successful\r\n" % os.path.join(self.files, "EXACT.BIN"), self.server.log())

    def test_magic_name_too_large_not_found_and_escaping_names(self):
        escaping = ["../PRIV/SECRET.TXT", "..\\PRIV\\SECRET.TXT", "/etc/hostname", "SECRET.TXT"]
        replies = self.request("about", "over.bin", "nothing.zip", *escaping)
        self.assertEqual(len(replies), 3 + len(escaping))
        about = replies["File Request - ABOUT"].get_payload()[1]
        self.assertEqual(about.get_payload(decode=True), read(os.path.join(self.root, "FIDO", "ABOUT.TXT")))
        self.assertEqual(replies["File Request - OVER.BIN"].get_payload(),
                         "The file you requested is larger than the allotted limit. Please logon the BBS to "
                         "download it.\r\n\r\n" + self.info("OVER.BIN", LIMIT + 1) + "\r\n")
        for name in ["NOTHING.ZIP"] + [n.upper() for n in escaping]:
            self.assertEqual(replies["File Request - " + name].get_payload(),
                             "The file you requested could not be found.\r\n\r\n" + self.info(name, 0) + "\r\n")
            self.assertIn("  File Request: %s - File could not be found\r\n" % name, self.server.log())
        self.assertIn("  File Request: %s - File too large\r\n" % os.path.join(self.files, "OVER.BIN"),
                      self.server.log())


class FileRequestsOffTest(FreqTestCase):
    allow = 0

    def test_address_is_refused(self):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            s.mail("req@far.example")
            self.assertEqual(s.rcpt("SYSOP**F@bbs.example"), (550, b"Unknown user. (SYSOP**F@bbs.example)"))
        self.assertEqual(os.listdir(self.queue), [])


if __name__ == "__main__":
    unittest.main()


class FileRequestAbuseTest(FreqTestCase):
    def test_requests_cannot_flood_a_requester(self):
        message = (b"From: Requester <req@far.example>\r\nTo: SYSOP**F@bbs.example\r\n"
                   b"Subject: exact.bin\r\n\r\nPlease.\r\n")
        spellings = ["SYSOP**F@%sbbs.example" % (" " * i) for i in range(50)] + \
                    ["%s@bbs.example" % s for s in ("sysop**f", "Sysop**F", " SYSOP**F")] * 16 + ["SYSOP**F@bbs.example"] * 2
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.ehlo("client.example")
            s.mail("req@far.example")
            for to in spellings[:100]:
                self.assertEqual(s.rcpt(to)[0], 250)
            self.assertEqual(s.data(message)[0], 250)
            self.assertEqual(len(os.listdir(self.queue)), 1)   # one answer, however many spellings
            for _ in range(10):
                s.sendmail("req@far.example", ["SYSOP**F@bbs.example"], message)
        # Ten answers to one address within the hour; the eleventh request queues none.
        self.assertEqual(len(os.listdir(self.queue)), 10)
        self.assertIn("  File Request: EXACT.BIN - Refused: 10 answers to req@far.example within the hour\r\n",
                      self.server.log())

    def test_requests_from_many_addresses_cannot_make_a_flood(self):
        def request(s, reply_to):
            s.sendmail("req@far.example", ["SYSOP**F@bbs.example"],
                       b"From: req@far.example\r\nReply-To: " + reply_to +
                       b"\r\nTo: SYSOP**F@bbs.example\r\nSubject: exact.bin\r\n\r\nPlease.\r\n")

        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.ehlo("client.example")
            # Bytes a terminal acts on: never an address written to.
            request(s, b"<\x1b[2J\x07victim@far.example>")
            self.assertEqual(os.listdir(self.queue), [])
            for n in range(31):
                request(s, b"<victim%d@far.example>" % n)
        # Thirty answers an hour in all; the 31st request queues none.
        self.assertEqual(len(os.listdir(self.queue)), 30)
        log = self.server.log()
        self.assertIn("  File Request: EXACT.BIN - Refused: the reply address holds control characters\r\n", log)
        self.assertIn("  File Request: EXACT.BIN - Refused: 30 answers to all addresses within the hour\r\n", log)
        self.assertEqual(log.count(" - Refused: "), 2)

        # "freqperhour" sets the limit; 0 answers none.
        ctl = os.path.join(BIN, "osprinectl")
        shown = subprocess.run([ctl, "-d", self.root, "config", "freqperhour"], capture_output=True, text=True)
        self.assertEqual(shown.stdout, "freqperhour = 30\n")
        done = subprocess.run([ctl, "-d", self.root, "config", "freqperhour=0"], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stdout), (0, "freqperhour = 0\n"))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            request(s, b"<someone.new@far.example>")
        self.assertEqual(len(os.listdir(self.queue)), 30)
        self.assertIn("  File Request: EXACT.BIN - Refused: 0 answers to all addresses within the hour\r\n",
                      self.server.log())
