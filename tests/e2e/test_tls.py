"""STARTTLS for inbound senders on the real osprine: offered only when a
certificate and key load, taken by real clients (smtplib, swaks), and nothing
a client sent in clear text behind STARTTLS is read as sent in TLS."""
import os
import smtplib
import socket
import ssl
import subprocess
import tempfile
import unittest

import test_inbound as inbound
from osprine_harness import make_bbs, remove, wait_for
from test_intake import IntakeTestCase, put_list, start_server, write_handle_index

CERTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "make_certs.sh")
MESSAGE = b"From: alice@remote.example\r\nTo: john.smith@bbs.example\r\nSubject: sealed\r\n\r\nover TLS\r\n"


class TlsTestCase(IntakeTestCase):
    tls_keys = True

    def setUp(self):
        self.certs = tempfile.mkdtemp(prefix="osprine-certs-")
        self.addCleanup(remove, self.certs)
        subprocess.run(["/bin/sh", CERTS, self.certs], check=True)
        self.root, self.port = make_bbs()
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        self.hold_tosser()
        write_handle_index(self.root)
        if self.tls_keys:
            put_list(self.root, "servertlscert", self.cert("server.pem"))
            put_list(self.root, "servertlskey", self.cert("server.key"))
        self.server = start_server(self, self.root, self.port)

    def cert(self, name):
        return os.path.join(self.certs, name)

    def client_context(self):
        return ssl.create_default_context(cafile=self.cert("ca.pem"))


class StartTlsTest(TlsTestCase):
    def test_smtplib_and_swaks_deliver_through_starttls(self):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            self.assertEqual(s.ehlo("client.example"),
                             (250, b"Welcome client.example, pleased to meet you.\nSTARTTLS"))
            self.assertEqual(s.starttls(context=self.client_context()), (220, b"Ready to start TLS"))
            # Once in TLS the offer is not made again.
            self.assertEqual(s.ehlo("client.example"), (250, b"Welcome client.example, pleased to meet you."))
            self.assertEqual(s.sendmail("alice@remote.example", ["john.smith@bbs.example"], MESSAGE), {})
        swaks = subprocess.run(["swaks", "--server", "127.0.0.1:%d" % self.port, "--from", "bob@remote.example",
                                "--to", "mary.jones@bbs.example", "--tls", "--tls-verify",
                                "--tls-ca-path", self.cert("ca.pem"), "--helo", "swaks.example"],
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(swaks.returncode, 0, swaks.stdout + swaks.stderr)
        self.assertIn("<~  250 Received data", swaks.stdout)
        self.assertTrue(wait_for(lambda: len(self.hand_offs()) == 2))
        with open(os.path.join(self.spool_tmp, self.hand_offs()[0]), "rb") as f:
            data = f.read()
            self.assertIn(b"Subject: sealed\r\n\r\nover TLS\r\n", data)
        log = self.server.log()
        self.assertIn("Inbound TLS active: STARTTLS offered with %s." % self.cert("server.pem"), log)
        self.assertEqual(log.count("TLS started: TLSv1.3"), 2)

    def test_commands_pipelined_behind_starttls_are_dropped(self):
        c = inbound.Client(self.port, timeout=30)
        self.addCleanup(c.close)
        c.greeting()
        self.assertEqual(c.ask("EHLO x"), "250-Welcome x, pleased to meet you.")
        self.assertEqual(c.line(), "250 STARTTLS")
        c.send(b"STARTTLS\r\nMAIL FROM:<mallory@remote.example>\r\n")
        self.assertEqual(c.line(), "220 Ready to start TLS")
        c.sock = self.client_context().wrap_socket(c.sock, server_hostname="127.0.0.1")
        # The session starts over: no sender, no greeting yet.
        self.assertEqual(c.ask("RCPT TO:<john.smith@bbs.example>"),
                         "503 Unexpected command or sequence of commands.")
        self.assertEqual(c.ask("STARTTLS"), "500 Unknown command.")
        self.assertEqual(c.ask("EHLO x"), "250 Welcome x, pleased to meet you.")

    def test_a_failed_handshake_ends_only_its_session(self):
        c = inbound.Client(self.port, timeout=30)
        self.addCleanup(c.close)
        c.greeting()
        c.ask("EHLO x")
        c.line()
        self.assertEqual(c.ask("STARTTLS"), "220 Ready to start TLS")
        c.send(b"this is no TLS record\r\n" * 4)
        self.assertTrue(c.closed())
        self.assertTrue(wait_for(lambda: "TLS handshake failed: " in self.server.log()))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            self.assertEqual(s.ehlo("again.example")[0], 250)


class WithoutCertificateTest(TlsTestCase):
    tls_keys = False

    def test_no_offer_without_a_certificate_that_loads(self):
        for configured in (False, True):
            if configured:
                # A key file that is missing: said once, and still no offer.
                put_list(self.root, "servertlscert", self.cert("server.pem"))
                put_list(self.root, "servertlskey", self.cert("missing.key"))
                self.server.stop()
                self.server = start_server(self, self.root, self.port)
                wait_for(lambda: "Inbound TLS not active" in self.server.log())
                self.assertIn("Inbound TLS not active: cannot read %s: " % self.cert("missing.key"),
                              self.server.log())
                with open(os.path.join(self.root, "ZRVERROR.LOG"), "rb") as f:
                    self.assertIn(b"frmMain ReloadTls - Inbound TLS not active: cannot read ", f.read())
            c = inbound.Client(self.port, timeout=30)
            c.greeting()
            self.assertEqual(c.ask("EHLO x"), "250 Welcome x, pleased to meet you.")
            self.assertEqual(c.ask("STARTTLS"), "500 Unknown command.")
            c.close()


if __name__ == "__main__":
    unittest.main()
