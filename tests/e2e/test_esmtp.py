"""The ESMTP extensions of the real osprine (keyed setting esmtp=1): SIZE,
8BITMIME and PIPELINING as smtplib, swaks, Postfix's smtp-source and a real
Postfix relaying to it see them; with esmtp=0 the one-line EHLO reply."""
import os
import re
import shutil
import smtplib
import subprocess
import tempfile
import unittest

import test_inbound as inbound
from osprine_harness import BIN, Server, free_port, listening, make_bbs, remove, set_settings, wait_for

WELCOME = "Welcome %s, pleased to meet you."
LIMIT = 100000
EXTENSIONS = ["SIZE %d" % LIMIT, "8BITMIME", "PIPELINING"]


def ctl(root, *args):
    return subprocess.run([os.path.join(BIN, "osprinectl"), "-d", root, *args], capture_output=True, text=True)


class EsmtpTestCase(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs(extra=("--esmtp",))
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()   # the hand-off files stay to be read
        set_settings(self.root, MaxMailSize=LIMIT)
        inbound.put_list(self.root, "relaydb", "")
        self.server = Server(self.root)
        if not self.server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (self.server.stop(),))

    def tearDown(self):
        code, _, err = self.server.stop()
        remove(self.root)
        self.assertEqual(code, 0, err)

    def hand_offs(self):
        names = [n for n in os.listdir(self.spool_tmp) if re.fullmatch(r"V\d+\.D", n, re.I)]
        contents = []
        for n in sorted(names, key=lambda n: int(n[1:-2])):
            with open(os.path.join(self.spool_tmp, n), "rb") as f:
                contents.append(f.read())
        return contents

    def client(self):
        c = inbound.Client(self.port)
        self.addCleanup(c.close)
        c.greeting()
        return c


class ExtensionsTest(EsmtpTestCase):
    def test_smtplib_sees_the_extensions_declares_sizes_and_sends_eight_bit_text(self):
        message = (b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\nSubject: caf\xe9\r\n\r\n"
                   b"Eight bits: \xe9\xe8\xff\r\n")
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            code, text = s.ehlo("client.example")
            self.assertEqual((code, text.decode().split("\n")), (250, [WELCOME % "client.example"] + EXTENSIONS))
            self.assertEqual(s.esmtp_features["size"], str(LIMIT))
            self.assertTrue(s.has_extn("8bitmime") and s.has_extn("pipelining"))
            # smtplib declares every message's size; one above the limit is refused before any data.
            with self.assertRaises(smtplib.SMTPSenderRefused) as refused:
                s.sendmail("a@remote.example", ["john.smith@bbs.example"], b"x" * (LIMIT + 1))
            self.assertEqual((refused.exception.smtp_code, refused.exception.smtp_error),
                             (552, b"Message size exceeds fixed maximum message size."))
            # The session goes on: the same client sends 8-bit text.
            self.assertEqual(s.sendmail("a@remote.example", ["john.smith@bbs.example"], message,
                                        mail_options=["BODY=8BITMIME"]), {})
            self.assertEqual(s.mail("a@remote.example", ["BODY=7BIT", "SIZE=10"]), (250, b'Sender "a@remote.example" OK...'))
            s.rset()
            self.assertEqual(s.mail("a@remote.example", ["RET=HDRS"]), (555, b"MAIL FROM parameters not recognized."))
            self.assertEqual(s.mail("a@remote.example", ["BODY=BINARYMIME"]),
                             (555, b"MAIL FROM parameters not recognized."))
        handed = self.hand_offs()
        self.assertEqual(len(handed), 1)
        self.assertIn(b"\r\n\r\nEight bits: \xe9\xe8\xff\r\n", handed[0])
        self.assertIn(b"\r\nSubject: caf\xe9\r\n", handed[0])
        log = inbound.log_texts(self.server, 1)
        start = log.index("--> ehlo client.example")
        self.assertEqual(log[start + 1:start + 5], ["<-- 250-" + WELCOME % "client.example", "<-- 250-SIZE %d" % LIMIT,
                                                    "<-- 250-8BITMIME", "<-- 250 PIPELINING"])
        self.assertIn("<-- 552 Message size exceeds fixed maximum message size.", log)

    def test_swaks_pipelines_and_smtp_source_sends_many_messages(self):
        run = subprocess.run(["swaks", "--server", "127.0.0.1:%d" % self.port, "--ehlo", "swaks.example",
                              "--from", "joe@remote.example", "--to", "john.smith@bbs.example", "--pipeline",
                              "--body", "Piped"], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for line in ["250-" + WELCOME % "swaks.example", "250-SIZE %d" % LIMIT, "250-8BITMIME", "250 PIPELINING"]:
            self.assertIn("<-  " + line, run.stdout)
        # swaks sent MAIL, RCPT and DATA as one group; the replies came back in order.
        self.assertRegex(run.stdout, r"<-  250 Sender \"joe@remote.example\" OK\.\.\.\n"
                                     r" *<-  250 Recipient \"john.smith@bbs.example\" OK\.\.\.\n"
                                     r" *<-  354 Begin data transfer")
        # Postfix's load generator (it never pipelines): five messages in one session.
        run = subprocess.run(["smtp-source", "-d", "-m", "5", "-f", "src@remote.example", "-t", "john.smith@bbs.example",
                              "127.0.0.1:%d" % self.port], capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(wait_for(lambda: len(self.hand_offs()) == 6))

    def test_a_group_and_the_commands_behind_a_message_are_answered_in_order(self):
        c = self.client()
        c.send(b"EHLO raw.example\r\n")
        self.assertEqual([c.line() for _ in range(4)], ["250-" + WELCOME % "raw.example"] +
                         ["250-" + e for e in EXTENSIONS[:2]] + ["250 " + EXTENSIONS[2]])
        c.send(b"MAIL FROM:<a@remote.example> SIZE=20 BODY=8BITMIME\r\nRCPT TO:<john.smith@bbs.example>\r\n"
               b"RCPT TO:<x@elsewhere.example>\r\nDATA\r\n")
        self.assertEqual([c.line() for _ in range(4)], [
            '250 Sender "a@remote.example" OK...', '250 Recipient "john.smith@bbs.example" OK...',
            "550 Unknown user. (x@elsewhere.example)",
            "354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>"])
        # The message opens the next group (RFC 2920): what follows its end mark is not lost.
        first = b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\n\r\nfirst"
        c.send(first + b"\r\n.\r\nMAIL FROM:<b@remote.example>\r\nRCPT TO:<mary.jones@bbs.example>\r\nDATA\r\n")
        self.assertEqual([c.line() for _ in range(4)], [
            "250 Received data (%d bytes)." % len(first), '250 Sender "b@remote.example" OK...',
            '250 Recipient "mary.jones@bbs.example" OK...',
            "354 Begin data transfer. Mark the end of the transfer with <CRLF>.<CRLF>"])
        second = b"From: b@remote.example\r\nTo: mary.jones@bbs.example\r\n\r\nsecond"
        c.send(second + b"\r\n.\r\nQUIT\r\n")
        self.assertEqual([c.line(), c.line()], ["250 Received data (%d bytes)." % len(second), "221 Have a nice day!"])
        self.assertTrue(c.closed())
        self.assertEqual(len(self.hand_offs()), 2)


class SwitchTest(EsmtpTestCase):
    def test_osprinectl_turns_the_extensions_off_and_today_s_reply_comes_back(self):
        self.assertEqual(ctl(self.root, "config", "esmtp").stdout, "esmtp = 1\n")
        refused = ctl(self.root, "config", "esmtp=2")
        self.assertEqual((refused.returncode, refused.stderr), (2, "osprinectl: esmtp: must be 0 or 1\n"))
        self.assertEqual(ctl(self.root, "config", "esmtp=0").stdout, "esmtp = 0\n")
        c = self.client()
        c.send(b"EHLO plain.example\r\nMAIL FROM:<a@remote.example> SIZE=999999999 FOO=BAR\r\n")
        # Byte for byte as before: one line, and MAIL's parameters are not read.
        while c.buffer.count(b"\r\n") < 2:
            chunk = c.sock.recv(4096)
            self.assertTrue(chunk, c.buffer)
            c.buffer += chunk
        self.assertEqual(c.buffer, b"250 Welcome plain.example, pleased to meet you.\r\n"
                                   b'250 Sender "a@remote.example" OK...\r\n')

POSTFIX_MAIN_CF = """compatibility_level = 3.6
queue_directory = {root}/spool
data_directory = {root}/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = relay.example
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
relayhost = [127.0.0.1]:{osprine}
relay_domains = bbs.example
smtp_dns_support_level = disabled
smtp_tls_security_level = none
maillog_file = {root}/maillog
maillog_file_prefixes = {root}
mynetworks = 127.0.0.0/8
smtpd_recipient_restrictions = permit_mynetworks, reject
"""


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("postfix"), "Postfix's master has to start as root")
class PostfixRelayTest(EsmtpTestCase):
    """A private Postfix instance whose smtp client relays to osprine."""

    def start_postfix(self):
        self.pf = tempfile.mkdtemp(prefix="osprine-postfix-")
        os.chmod(self.pf, 0o755)   # its daemons run as the postfix user
        self.pf_port = free_port()
        for d in ("etc", "spool", "data"):
            os.makedirs(os.path.join(self.pf, d))
        shutil.chown(os.path.join(self.pf, "data"), "postfix")
        with open(os.path.join(self.pf, "etc", "main.cf"), "w") as f:
            f.write(POSTFIX_MAIN_CF.format(root=self.pf, osprine=self.port))
        with open("/etc/postfix/master.cf") as f:
            master = f.read().splitlines()
        out = []
        for line in master:
            fields = line.split()
            if len(fields) >= 8 and fields[0] == "smtp" and fields[1] == "inet":
                line = "127.0.0.1:%d inet n - n - - smtpd" % self.pf_port
            elif len(fields) >= 8 and fields[1] in ("unix", "unix-dgram") and fields[4] == "y":
                fields[4] = "n"   # no chroot: the instance lives in a temporary directory
                line = " ".join(fields)
            out.append(line)
        with open(os.path.join(self.pf, "etc", "master.cf"), "w") as f:
            f.write("\n".join(out) + "\n")
        etc = os.path.join(self.pf, "etc")
        started = subprocess.run(["postfix", "-c", etc, "start"], capture_output=True, text=True)
        self.assertEqual(started.returncode, 0, started.stderr)
        self.addCleanup(remove, self.pf)
        self.addCleanup(subprocess.run, ["postfix", "-c", etc, "stop"], capture_output=True)
        self.assertTrue(wait_for(lambda: listening(self.pf_port), 30))

    def test_postfix_relays_two_messages_through_its_pipelining_client(self):
        self.start_postfix()
        with smtplib.SMTP("127.0.0.1", self.pf_port, timeout=30) as s:
            for n in (1, 2):
                s.sendmail("writer@remote.example", ["john.smith@bbs.example"],
                           b"From: writer@remote.example\r\nTo: john.smith@bbs.example\r\nSubject: relayed %d\r\n"
                           b"\r\nThrough Postfix \xe9\r\n" % n, mail_options=["BODY=8BITMIME"])
        if not wait_for(lambda: len(self.hand_offs()) == 2, 120):
            with open(os.path.join(self.pf, "maillog"), errors="replace") as f:
                self.fail(f.read())
        for text in self.hand_offs():
            self.assertIn(b"\r\nThrough Postfix \xe9", text)
        log = [l for slot in (1, 2) for l in inbound.log_texts(self.server, slot)]
        self.assertIn("<-- 250 PIPELINING", log)
        mail = [l for l in log if l.startswith("--> MAIL FROM:")]
        self.assertTrue(mail and all(re.search(r" SIZE=\d+", l) and "BODY=8BITMIME" in l for l in mail), mail)

        def relayed():
            with open(os.path.join(self.pf, "maillog"), errors="replace") as f:
                return len(re.findall(r"relay=127\.0\.0\.1\[127\.0\.0\.1\]:%d.*status=sent" % self.port, f.read()))
        self.assertTrue(wait_for(lambda: relayed() == 2, 30))


if __name__ == "__main__":
    unittest.main()
