"""Attacks an anonymous client can try on the real osprine, each sent with a
raw socket in one write and again cut at awkward places, and what is stored
afterwards: nothing the attacker injected, smuggled, multiplied or forged."""
import os
import re
import smtplib
import socket
import time
import unittest

import test_inbound as inbound
from osprine_harness import set_settings
from test_intake import IntakeTestCase, put_list, read, start_server

DATA_READY = "354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>"


def cut(data, marks):
    """The bytes in pieces: a cut after every occurrence of each mark."""
    for mark in marks:
        data = data.replace(mark, mark + b"\0CUT\0")
    return [p for p in data.split(b"\0CUT\0") if p]


class AttackTestCase(IntakeTestCase):
    def raw(self, pieces):
        """A greeted raw client that has sent the pieces as separate writes."""
        c = inbound.Client(self.port, timeout=30)
        self.addCleanup(c.close)
        c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        c.greeting()
        for piece in pieces:
            c.send(piece)
            time.sleep(0.05)   # so that each piece arrives as a read of its own
        return c

    def replies(self, c, n):
        return [c.line() for _ in range(n)]

    def headers(self, name):
        data = read(os.path.join(self.spool_tmp, name))
        return data.split(b"\r\n\r\n", 1)[0].split(b"\r\n")


class EnvelopeTest(AttackTestCase):
    def test_line_breaks_in_a_path_cannot_inject_header_lines(self):
        attack = (b"EHLO x\r\nMAIL FROM:<:x\r\nTo: mary.jones@bbs.example\r\nSubject: y@z>\r\n"
                  b"RCPT TO:<john.smith@bbs.example>\r\nDATA\r\n")
        message = b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\n\r\nhi\r\n.\r\n"
        for pieces in ([attack + message], cut(attack + message, [b"\r", b"<:x", b"DATA\r\n"])):
            c = self.raw(pieces)
            self.assertEqual(self.replies(c, 7), [
                "250 Welcome x, pleased to meet you.", '250 Sender "" OK...', "500 Unknown command.",
                "500 Unknown command.", '250 Recipient "john.smith@bbs.example" OK...', DATA_READY,
                "250 Received data (%d bytes)." % (len(message) - 5)])
            # A CR inside a line, a NUL, and an overlong path are refused.
            self.assertEqual(c.ask("MAIL FROM:<a\rTo: mary.jones@bbs.example>"),
                             "501 Syntax error in parameters or arguments.")
            self.assertEqual(c.ask("MAIL FROM:<a@b\0.example>"), "501 Syntax error in parameters or arguments.")
            self.assertEqual(c.ask("MAIL FROM:<%s@b.example>" % ("a" * 247)),
                             "501 Syntax error in parameters or arguments.")
        self.assertEqual(len(self.hand_offs()), 2)
        for name in self.hand_offs():
            lines = self.headers(name)
            self.assertEqual(lines[0], b"Return-Path: <>")
            self.assertEqual([l for l in lines if l.lower().startswith(b"to:")], [b"To: <john.smith@bbs.example>"])
            self.assertNotIn(b"mary.jones", read(os.path.join(self.spool_tmp, name)))
        self.assertNotIn("\r\x00", self.server.log())
        self.assertIn("--> MAIL FROM:<a?To: mary.jones@bbs.example>\r\n", self.server.log())

    def test_a_bare_dot_line_feed_cannot_end_the_data_and_smuggle_a_message(self):
        session = b"EHLO x\r\nMAIL FROM:<a@remote.example>\r\nRCPT TO:<john.smith@bbs.example>\r\nDATA\r\n"
        smuggled = (b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\n\r\nhi\r\n.\n"
                    b"MAIL FROM:<x@y.example>\r\nRCPT TO:<mary.jones@bbs.example>\r\nDATA\r\n"
                    b"To: mary.jones@bbs.example\r\n\r\nsmuggled\r\n.\r\n")
        for pieces in ([session + smuggled], cut(session + smuggled, [b"DATA\r\n", b"\r\n.\n"])):
            c = self.raw(pieces)
            self.assertEqual(self.replies(c, 5)[3:], [DATA_READY, "250 Received data (%d bytes)." % (len(smuggled) - 5)])
            self.assertEqual(c.ask("QUIT"), "221 Have a nice day!")
        self.assertEqual(len(self.hand_offs()), 2)
        for name in self.hand_offs():
            data = read(os.path.join(self.spool_tmp, name))
            self.assertIn(b"\r\n\tfor <john.smith@bbs.example>; ", data)
            # Text, its line ends made CR LF as the intake makes every line end.
            self.assertIn(b"hi\r\n.\r\nMAIL FROM:<x@y.example>\r\n", data)
            self.assertIn(b"\r\nsmuggled\r\n", data)

    def test_many_spellings_of_one_user_make_one_copy_and_recipients_stop_at_a_hundred(self):
        spellings = [b"RCPT TO:<sysop@%s" % (b" " * i) + b"bbs.example>\r\n" for i in range(60)]
        spellings += [b"RCPT TO:<%s@bbs.example>\r\n" % s for s in (b"SYSOP", b"Sysop", b" sysop")] * 14
        rcpts = b"".join(spellings)   # 102
        session = b"EHLO x\r\nMAIL FROM:<a@remote.example>\r\n" + rcpts + b"DATA\r\n"
        message = b"From: a@remote.example\r\nTo: sysop@bbs.example\r\n\r\nonce\r\n.\r\n"
        middle = session.index(b"RCPT", 500) + 6
        c = self.raw([session[:middle], session[middle:] + message])
        replies = self.replies(c, 2 + 102 + 2)
        self.assertEqual([r[:3] for r in replies[2:102]], ["250"] * 100)
        self.assertEqual(replies[102:104], ["452 Too many recipients."] * 2)
        self.assertEqual(replies[104:], [DATA_READY, "250 Received data (%d bytes)." % (len(message) - 5)])
        self.assertEqual(len(self.hand_offs()), 1)

    def test_a_copy_is_filed_for_its_envelope_recipient_not_the_senders_to_line(self):
        message = b"From: a@remote.example\r\nTo: Mary <mary.jones@bbs.example>\r\n\r\nfor the postmaster\r\n"
        self.send(message, ["postmaster@bbs.example"])
        self.assertEqual(len(self.hand_offs()), 1)
        lines = self.headers(self.hand_offs()[0])
        self.assertIn(b"\tfor <postmaster@bbs.example>; ", b"\r\n".join(lines))
        self.assertEqual([l for l in lines if l.lower().startswith(b"to:")], [b"To: <postmaster@bbs.example>"])


class ForgedHeaderTest(AttackTestCase):
    def test_forged_tracking_headers_never_reach_the_outbound_queue(self):
        put_list(self.root, "mailforwarding", "night owl,victim@far.example*9")
        message = (b"From: victim@far.example\r\nTo: night.owl@bbs.example\r\n"
                   b"X-OSPRINE-Processed: 1/1/2000 1:00:00 AM\r\nx-osprine-attempts: 99\r\n"
                   b"X-OSPRINE-STATUS: RETURNED\r\n\tstill forged\r\nSubject: s\r\n\r\nbody\r\n")
        self.send(message, ["night.owl@bbs.example"])
        queue = os.path.join(self.root, "OUTBOUND")
        queued = read(os.path.join(queue, "V1.D"))
        self.assertNotIn(b"x-osprine", queued.lower())
        self.assertNotIn(b"still forged", queued)
        self.assertIn(b"\r\nTo: <victim@far.example>\r\nSubject: s\r\n", queued)

    def test_fifty_received_lines_are_a_mail_loop(self):
        def message(hops):
            trace = b"".join(b"Received: from hop%d.example\r\n\tby bbs.example; Tue, 1 Jan 2026\r\n" % i
                             for i in range(hops))
            return trace + b"From: a@remote.example\r\nTo: bob@bbs.example\r\n\r\nround\r\n"
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("x")
            for hops, reply in ((50, (554, b"Too many hops: mail loop.")), (49, None)):
                s.mail("a@remote.example")
                s.rcpt("bob@bbs.example")
                code, text = s.data(message(hops))
                if reply:
                    self.assertEqual((code, text), reply)
                else:
                    self.assertEqual(code, 250)
        self.assertEqual(len(self.hand_offs()), 1)
        # The 49 of the message and this server's own.
        self.assertEqual(read(os.path.join(self.spool_tmp, self.hand_offs()[0])).count(b"\r\nReceived: "), 50)


if __name__ == "__main__":
    unittest.main()
