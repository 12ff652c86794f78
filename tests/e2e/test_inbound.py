"""The inbound SMTP service of the real osprine, driven by Python's smtplib,
a plain socket client and swaks on a test installation."""
import os
import re
import smtplib
import socket
import subprocess
import time
import unittest

from osprine_harness import Server, listening, make_bbs, remove, set_settings, wait_for

BANNER = re.compile(r"^220-bbs\.example OSPRINE v1\.4\.060711; (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d "
                    r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}$")
LOGGED = "220 All transactions and IP addresses are logged."


def put_list(main_dir, key, value):
    """Sets one section of the keyed list file OSPRDATA.DAT."""
    path = os.path.join(main_dir, "OSPRDATA.DAT")
    lines = []
    if os.path.exists(path):
        with open(path, "rb") as f:
            lines = [l for l in f.read().split(b"\r\n") if l and
                     l.split(b"=", 1)[0].strip().upper() != key.upper().encode()]
    lines.append(key.encode() + b"=" + value.encode("latin-1"))
    with open(path + ".tmp", "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")
    os.replace(path + ".tmp", path)


def log_texts(server, slot):
    """Event-log lines of a slot without their date, time and slot columns."""
    column = str(slot).rjust(6)
    return [line[32:] for line in server.log().split("\r\n") if len(line) >= 32 and line[24:30] == column]


class Client:
    """A plain SMTP client: one line out, one reply line in."""

    def __init__(self, port, timeout=10, source="127.0.0.1"):
        """From `source` to the loopback address of its family."""
        server = "::1" if ":" in source else "127.0.0.1"
        self.sock = socket.create_connection((server, port), timeout=timeout, source_address=(source, 0))
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def line(self):
        """The next reply line without CR LF; None when the server closed."""
        while b"\n" not in self.buffer:
            try:
                chunk = self.sock.recv(65536)
            except (ConnectionResetError, socket.timeout):
                return None
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r").decode("latin-1")

    def ask(self, command):
        self.send(command.encode("latin-1") + b"\r\n")
        return self.line()

    def greeting(self):
        return self.line(), self.line()

    def closed(self):
        """True when the server ends the connection with nothing more to say."""
        return self.line() is None

    def close(self):
        self.sock.close()


class InboundTestCase(unittest.TestCase):
    settings = {}
    lists = {"relaydb": ""}

    def setUp(self):
        self.root, self.port = make_bbs()
        if self.settings:
            set_settings(self.root, **self.settings)
        for key, value in self.lists.items():
            put_list(self.root, key, value)
        self.server = Server(self.root)
        if not self.server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (self.server.stop(),))

    def tearDown(self):
        code, self.out, err = self.server.stop()
        remove(self.root)
        self.assertEqual(code, 0, err)

    def connect(self):
        c = Client(self.port)
        self.addCleanup(c.close)
        return c

    def client(self):
        c = self.connect()
        banner, logged = c.greeting()
        self.assertRegex(banner, BANNER)
        self.assertEqual(logged, LOGGED)
        return c


class SessionTest(InboundTestCase):
    def test_a_whole_session_with_smtplib_and_its_event_log_lines(self):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=10) as smtp:
            self.assertEqual(smtp.helo("client.example"), (250, b"Welcome 127.0.0.1, pleased to meet you."))
            self.assertEqual(smtp.ehlo("client.example"), (250, b"Welcome client.example, pleased to meet you."))
            self.assertEqual(smtp.mail("joe@remote.example"), (250, b'Sender "joe@remote.example" OK...'))
            self.assertEqual(smtp.rcpt("sysop@bbs.example"), (250, b'Recipient "sysop@bbs.example" OK...'))
            message = b"From: joe@remote.example\r\nTo: sysop@bbs.example\r\n\r\nHi there.\r\n..dot\r\n"
            # smtplib doubles leading dots; the server counts the text as sent.
            length = len(re.sub(rb"(?m)^\.", b"..", message)) - 2
            self.assertEqual(smtp.data(message), (250, b"Received data (%d bytes)." % length))
            self.assertEqual(smtp.noop(), (250, b"OK."))
            self.assertEqual(smtp.docmd("HELP"), (211, b"Sorry, you are on your own."))
            self.assertEqual(smtp.docmd("TURN"), (550, b"NOPE."))
            self.assertEqual(smtp.docmd("SOML"), (502, b"Not implemented."))
            self.assertEqual(smtp.rset(), (250, b"OK."))
            self.assertEqual(smtp.quit(), (221, b"Have a nice day!"))
        self.assertTrue(wait_for(lambda: "Connection Terminated" in log_texts(self.server, 1)))
        log = log_texts(self.server, 1)
        self.assertEqual(log[0], "Connection Initiated By: 127.0.0.1")
        self.assertRegex(log[1][4:], BANNER)
        self.assertEqual(log[2:9], [
            "<-- " + LOGGED,
            "--> helo client.example",
            "<-- 250 Welcome 127.0.0.1, pleased to meet you.",
            "--> ehlo client.example",
            "<-- 250 Welcome client.example, pleased to meet you.",
            "--> mail FROM:<joe@remote.example>",
            "<-- 250 Sender \"joe@remote.example\" OK...",
        ])
        self.assertIn("<-- 250 Received data (%d bytes)." % length, log)
        self.assertNotIn("Hi there.", self.server.log())
        self.assertEqual(log[-3:], ["--> quit", "<-- 221 Have a nice day!", "Connection Terminated"])
        code, out, _ = self.server.stop()
        self.assertRegex(out, r"\d\d:\d\d:\d\d : Socket 1 Started By IP 127\.0\.0\.1")
        self.assertRegex(out, r"\d\d:\d\d:\d\d : \[1\] --> helo client\.example")
        self.assertRegex(out, r"\d\d:\d\d:\d\d : Socket 1 Closed")

    def test_swaks_delivers_a_message(self):
        run = subprocess.run(["swaks", "--server", "127.0.0.1", "--port", str(self.port), "--from", "ann@remote.example",
                              "--to", "John.Smith@bbs.example", "--helo", "swaks.example", "--header", "Subject: swaks",
                              "--body", "From swaks.", "--timeout", "20"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("<-  250 Welcome swaks.example, pleased to meet you.", run.stdout)
        self.assertIn('<-  250 Recipient "John.Smith@bbs.example" OK...', run.stdout)
        self.assertRegex(run.stdout, r"<-  250 Received data \(\d+ bytes\)\.\n")

    def test_out_of_order_and_refused_commands_end_the_session_at_their_limits(self):
        c = self.client()
        bad = "503 Unexpected command or sequence of commands."
        self.assertEqual(c.ask("MAIL FROM:<a@b.example>"), bad)
        self.assertEqual(c.ask("RCPT TO:<sysop@bbs.example>"), bad)
        self.assertEqual(c.ask("HELO x"), "250 Welcome 127.0.0.1, pleased to meet you.")
        self.assertEqual(c.ask("DATA"), bad)
        self.assertEqual(c.ask("MAIL FROM:<>"), '250 Sender "" OK...')
        self.assertEqual(c.ask("RCPT TO:<sysop@elsewhere.example>"), "550 Unknown user. (sysop@elsewhere.example)")
        for i in range(14):
            self.assertEqual(c.ask("RCPT TO:<nobody@bbs.example>"), "550 Unknown user. (nobody@bbs.example)", i)
        c.send(b"RCPT TO:<nobody@bbs.example>\r\n")
        self.assertTrue(c.closed())
        c.close()

        c = self.client()
        for _ in range(3):
            self.assertEqual(c.ask("FOO"), "500 Unknown command.")
        c.send(b"FOO\r\n")
        self.assertTrue(c.closed())

    def test_auto_verify_learns_a_user_name_as_a_handle(self):
        c = self.client()
        c.ask("HELO x")
        c.ask("MAIL FROM:<a@b.example>")
        # A locked-out user (security level 0) is not made reachable.
        self.assertEqual(c.ask("RCPT TO:<Locked Out@bbs.example>"), "550 Unknown user. (Locked Out@bbs.example)")
        self.assertEqual(c.ask("RCPT TO:<Carol White@bbs.example>"), '250 Recipient "Carol White@bbs.example" OK...')
        # Learned in the form the nightly rebuild writes, not as typed.
        with open(os.path.join(self.root, "HANDLES.UIP"), "rb") as f:
            self.assertEqual(f.read(), b"system-daemon,SYSTEM-DAEMON,1,1\r\ncarol.white,9,1,1\r\n")

    def test_vrfy_names_the_user(self):
        c = self.client()
        self.assertEqual(c.ask("VRFY John Smith"), "250 John Smith <john.smith@bbs.example>")
        self.assertEqual(c.ask("VRFY nobody"), "550 User not found.")
        self.assertEqual(c.ask("EXPN DEMO-LIST"), "502 Not implemented.")

    def test_an_endless_line_ends_the_session(self):
        c = self.client()
        c.send(b"X" * 70000)
        self.assertEqual(c.line(), "500 Line too long.")
        self.assertTrue(c.closed())


class ListSettingsTest(InboundTestCase):
    # Daily maintenance builds the handle index on the first tick.
    settings = {"AllowVrfy": 0, "AllowExpn": 1, "CheckFlags": 1, "EmailUserNumber": 1, "DailyMaint": 1}
    lists = {"relaydb": "", "aliases": "webmaster,John Smith;helpdesk,2", "passthru": "news.robot,0,0",
             "domains": "second.example"}

    def test_vrfy_off_and_expn_on(self):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=10) as smtp:
            self.assertEqual(smtp.verify("John Smith"), (502, b"Not implemented."))
            self.assertEqual(smtp.expn("news-r"), (250, b"<sysop@bbs.example>\n<night.owl@bbs.example>"))
            self.assertEqual(smtp.expn("nolist"), (550, b"Mailing list not found."))

    def test_recipients_by_alias_number_passthru_and_flags(self):
        self.assertTrue(wait_for(lambda: "Daily Maintenance Performed" in self.server.log()))
        c = self.client()
        c.ask("HELO x")
        c.ask("MAIL FROM:<a@b.example>")
        for address in ["webmaster@bbs.example", "helpdesk@second.example", "3@bbs.example",
                        "news.robot@bbs.example", "Mary.Jones@BBS.EXAMPLE"]:
            self.assertEqual(c.ask("RCPT TO:<%s>" % address), '250 Recipient "%s" OK...' % address)
        # Ann Lee lacks the Internet network's flag.
        self.assertEqual(c.ask("RCPT TO:<ann.lee@bbs.example>"),
                         "550 User does not contain sufficient access. (ann.lee@bbs.example)")
        self.assertEqual(c.ask("RCPT TO:<99@bbs.example>"), "550 Unknown user. (99@bbs.example)")


class SizeLimitTest(InboundTestCase):
    settings = {"MaxMailSize": 2000}

    def transaction(self):
        c = self.client()
        c.ask("HELO x")
        c.ask("MAIL FROM:<a@b.example>")
        self.assertEqual(c.ask("RCPT TO:<sysop@bbs.example>"), '250 Recipient "sysop@bbs.example" OK...')
        self.assertEqual(c.ask("DATA"), "354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>")
        return c

    @staticmethod
    def message(total):
        """A message whose text with the end mark is `total` bytes."""
        header = b"From: a@b.example\r\nTo: sysop@bbs.example\r\n\r\n"
        return header + b"y" * (total - len(header) - 5) + b"\r\n.\r\n"

    def test_a_message_of_exactly_the_limit_is_accepted(self):
        c = self.transaction()
        c.send(self.message(2000))
        self.assertEqual(c.line(), "250 Received data (1995 bytes).")

    def test_one_byte_more_with_the_end_mark_is_not_saved(self):
        c = self.transaction()
        c.send(self.message(2001))
        self.assertEqual(c.line(), "552 Message has exceeded storage allocation. Message was not saved.")
        self.assertTrue(c.closed())

    def test_more_while_data_still_arrives_is_aborted(self):
        c = self.transaction()
        c.send(b"y" * 1500 + b"\r\n")
        time.sleep(0.2)
        c.send(b"y" * 1500 + b"\r\n")
        self.assertEqual(c.line(), "552 Message has exceeded storage allocation. Message aborted.")
        self.assertTrue(c.closed())


class FullTableTest(InboundTestCase):
    settings = {"MaxConnections": 1}

    def test_a_connection_beyond_the_table_is_told_and_dropped(self):
        first = self.client()
        self.assertEqual(first.ask("NOOP"), "250 OK.")
        time.sleep(1.2)   # the next tick releases the accept lock
        second = self.connect()
        self.assertEqual(second.line(), "421 No available sockets remaining.")
        self.assertTrue(second.closed())
        self.assertEqual(first.ask("NOOP"), "250 OK.")
        self.assertNotIn("No Available Socket", self.server.log())
        _, out, _ = self.server.stop()
        self.assertRegex(out, r"\d\d:\d\d:\d\d : Connection Refused \(No Available Socket\)")


class BlockedAddressTest(InboundTestCase):
    lists = {"relaydb": "", "ipconfig": "10.*.*.*;127.0.0.*"}

    def test_a_blocked_address_is_dropped_without_a_reply(self):
        c = self.connect()
        self.assertTrue(c.closed())
        self.assertTrue(wait_for(lambda: "Connection Refused (Blocked IP) [127.0.0.1]" in log_texts(self.server, 1)))


class IdleTimeoutTest(InboundTestCase):
    def test_a_silent_session_is_timed_out_after_two_minutes(self):
        c = self.client()
        started = time.monotonic()
        c.sock.settimeout(130)
        self.assertEqual(c.line(), "221 Timeout.")
        waited = time.monotonic() - started
        self.assertGreaterEqual(waited, 120)
        self.assertLess(waited, 124)
        self.assertTrue(c.closed())
        self.assertTrue(wait_for(lambda: log_texts(self.server, 1)[-2:] == ["221 Timeout.", "Connection Terminated"]))


if __name__ == "__main__":
    unittest.main()
