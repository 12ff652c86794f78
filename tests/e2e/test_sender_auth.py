"""Sender authentication of the real osprine with "authcheck" = 1: messages
signed by dkimpy and by OpenDKIM's opendkim-testmsg verify against keys that
dnsmasq publishes; SPF through dnsmasq (includes, limits, loops, macros, and
cases written in the form of the RFC 7208 test suite); DMARC policies; the
refusals of "dmarcreject" and "spfreject"; the Authentication-Results header
in the hand-off file; a DNS server that never answers. Every name server here
is on loopback; clients connect from 127.0.0.1, or 127.0.0.2 where a test
says so (all of 127.0.0.0/8 is this machine)."""
import base64
import os
import re
import smtplib
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import test_intake as intake
from dns_harness import Dnsmasq, free_udp_port
from osprine_harness import Server, make_bbs, remove, set_settings, wait_for

sys.path.append("/usr/lib/python3/dist-packages")   # Debian's dkimpy and PyNaCl
import dkim          # noqa: E402
import nacl.signing  # noqa: E402
import yaml          # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
TO = "john.smith@bbs.example"


def txt_option(name, text):
    """A dnsmasq TXT record; a long text becomes several strings of one record
    (dnsmasq's command line takes the strings between commas, quotes and all)."""
    assert "," not in text
    pieces = [text[i:i + 200] for i in range(0, len(text), 200)] or [""]
    return "--txt-record=%s,%s" % (name, ",".join(pieces))


def rsa_key(bits=2048):
    """A private key (PEM) and the p= of its public key, made by openssl."""
    pem = subprocess.run(["openssl", "genrsa", str(bits)], capture_output=True, check=True).stdout
    der = subprocess.run(["openssl", "rsa", "-pubout", "-outform", "DER"], input=pem, capture_output=True,
                         check=True).stdout
    return pem, base64.b64encode(der).decode()


def ed25519_key():
    seed = nacl.signing.SigningKey.generate()
    return base64.b64encode(bytes(seed)), base64.b64encode(bytes(seed.verify_key)).decode()


def message(sender="Joe <joe@dkim.test>", subject="Signed", body=b"Hello John.\r\n\r\nRegards.\r\n", extra=b""):
    return (b"From: " + sender.encode() + b"\r\nTo: John Smith <" + TO.encode() + b">\r\nSubject: " +
            subject.encode() + b"\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" +
            str(time.monotonic_ns()).encode() + b"@dkim.test>\r\n" + extra + b"\r\n" + body)


def auth_results(stored):
    """The Authentication-Results field of a stored copy, unfolded into its parts."""
    m = re.search(rb"\r\nAuthentication-Results: (.*?)\r\n(?=\S)", stored, re.S)
    return m.group(1).replace(b"\r\n\t", b" ").decode() if m else None


RFC8463 = (
    b"DKIM-Signature: v=1; a=ed25519-sha256; c=relaxed/relaxed;\r\n"
    b" d=football.example.com; i=@football.example.com;\r\n"
    b" q=dns/txt; s=brisbane; t=1528637909; h=from : to :\r\n"
    b" subject : date : message-id : from : subject : date;\r\n"
    b" bh=2jUSOH9NhtVGCQWNr9BrIAPreKQjO6Sn7XIkfJVOzv8=;\r\n"
    b" b=/gCrinpcQOoIfuHNQIbq4pgh9kyIK3AQUdt9OdqQehSwhEIug4D11Bus\r\n"
    b" Fa3bT3FY5OsU7ZbnKELq+eXdp1Q1Dw==\r\n"
    b"DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed;\r\n"
    b" d=football.example.com; i=@football.example.com;\r\n"
    b" q=dns/txt; s=test; t=1528637909; h=from : to : subject :\r\n"
    b" date : message-id : from : subject : date;\r\n"
    b" bh=2jUSOH9NhtVGCQWNr9BrIAPreKQjO6Sn7XIkfJVOzv8=;\r\n"
    b" b=F45dVWDfMbQDGHJFlXUNB2HKfbCeLRyhDXgFpEL8GwpsRe0IeIixNTe3\r\n"
    b" DhCVlUrSjV4BwcVcOF6+FF3Zo9Rpo1tFOeS9mPYQTnGdaSGsgeefOsk2Jz\r\n"
    b" dA+L10TeYt9BgDfQNZtKdN1WO//KgIqXP7OdEFE4LjFYNcUxZQ4FADY+8=\r\n"
    b"From: Joe SixPack <joe@football.example.com>\r\n"
    b"To: Suzie Q <suzie@shopping.example.net>\r\n"
    b"Subject: Is dinner ready?\r\n"
    b"Date: Fri, 11 Jul 2003 21:00:37 -0700 (PDT)\r\n"
    b"Message-ID: <20030712040037.46341.5F8J@football.example.com>\r\n"
    b"\r\n"
    b"Hi.\r\n\r\nWe lost the game.  Are you hungry yet?\r\n\r\nJoe.\r\n")
RFC8463_RSA = ("v=DKIM1; k=rsa; p=MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDkHlOQoBTzWRiGs5V6NpP3idY6Wk08a5qhdR6wy5bdOKb2jLQi"
               "Y/J16JYi0Qvx/byYzCNb3W91y3FutACDfzwQ/BC/e/8uBsCR+yz1Lxj+PL6lHvqMKrM3rG4hstT5QjvHO9PzoxZyVYLzBfO2EeC3Ip"
               "3G+2kryOTIKT+l/K4w3QIDAQAB")

SPF_RECORDS = {
    "pass.spf.test": "v=spf1 ip4:127.0.0.1 -all",
    "fail.spf.test": "v=spf1 ip4:192.0.2.1 -all",
    "softfail.spf.test": "v=spf1 ~all",
    "neutral.spf.test": "v=spf1 ?all",
    "chain.spf.test": "v=spf1 include:one.spf.test -all",
    "one.spf.test": "v=spf1 include:two.spf.test -all",
    "two.spf.test": "v=spf1 a:host.spf.test -all",
    "limit.spf.test": "v=spf1 " + " ".join("include:l%d.spf.test" % n for n in range(1, 12)) + " ip4:127.0.0.1 -all",
    "ten.spf.test": "v=spf1 " + " ".join("include:l%d.spf.test" % n for n in range(1, 11)) + " ip4:127.0.0.1 -all",
    "loop.spf.test": "v=spf1 include:loop.spf.test ip4:127.0.0.1 -all",
    "macro.spf.test": "v=spf1 exists:%{i}.%{l}.allow.spf.test -all",
    "mx.spf.test": "v=spf1 mx/24 -all",
    "void.spf.test": "v=spf1 a:n1.spf.test a:n2.spf.test a:n3.spf.test ip4:127.0.0.1 -all",
    "redirect.spf.test": "v=spf1 redirect=pass.spf.test",
    "dmarc.test": "v=spf1 ip4:127.0.0.1 -all",
    **{"l%d.spf.test" % n: "v=spf1 ?all" for n in range(1, 12)},
}


class SenderAuthTest(unittest.TestCase):
    """One name server for the class; one installation and server per test."""

    @classmethod
    def setUpClass(cls):
        cls.rsa_pem, rsa_pub = rsa_key()
        cls.ed_priv, ed_pub = ed25519_key()
        cls.keys = tempfile.mkdtemp(prefix="osprine-dkim-")
        cls.rsa_path = os.path.join(cls.keys, "rsa.pem")
        with open(cls.rsa_path, "wb") as f:
            f.write(cls.rsa_pem)
        subprocess.run(["/usr/sbin/opendkim-genkey", "-b", "2048", "-h", "sha256", "-d", "dkim.test", "-s", "odk",
                        "-D", cls.keys], check=True, capture_output=True)
        cls.odk_path = os.path.join(cls.keys, "odk.private")
        with open(cls.odk_path, "rb") as f:
            cls.odk_pem = f.read()
        with open(os.path.join(cls.keys, "odk.txt")) as f:
            odk_record = "".join(re.findall(r'"([^"]*)"', f.read()))
        options = [txt_option(name, text) for name, text in SPF_RECORDS.items()]
        options.append(txt_option("odk._domainkey.dkim.test", odk_record))
        options += [
            txt_option("rsa._domainkey.dkim.test", "v=DKIM1; k=rsa; p=" + rsa_pub),
            txt_option("ed._domainkey.dkim.test", "v=DKIM1; k=ed25519; p=" + ed_pub),
            txt_option("rsa._domainkey.dmarc.test", "v=DKIM1; p=" + rsa_pub),
            txt_option("brisbane._domainkey.football.example.com",
                       "v=DKIM1; k=ed25519; p=11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="),
            txt_option("test._domainkey.football.example.com", RFC8463_RSA),
            txt_option("_dmarc.dmarc.test", "v=DMARC1; p=reject; sp=quarantine; rua=mailto:d@dmarc.test"),
            "--host-record=host.spf.test,127.0.0.1", "--host-record=mail.spf.test,127.0.0.9",
            "--mx-host=mx.spf.test,mail.spf.test,10",
            "--host-record=127.0.0.1.joe.allow.spf.test,127.0.0.2",
            "--local=/spf.test/", "--local=/dkim.test/", "--local=/dmarc.test/", "--local=/nodmarc.test/",
            "--local=/bbs.example/", "--local=/football.example.com/", "--local=/suite.test/",
        ]
        with open(os.path.join(DATA, "spf-suite.yml")) as f:
            cls.suite = yaml.safe_load(f)
        for name, records in cls.suite["zonedata"].items():
            for record in records:
                (kind, value), = record.items()
                if kind == "TXT":
                    options.append(txt_option(name, value))
                elif kind == "A":
                    options.append("--host-record=%s,%s" % (name, value))
                elif kind == "MX":
                    options.append("--mx-host=%s,%s,%d" % (name, value[1], value[0]))
        cls.dns = Dnsmasq(options)

    @classmethod
    def tearDownClass(cls):
        cls.dns.stop()
        remove(cls.keys)

    def setUp(self):
        self.start({"OSPRINE_NAMESERVERS": "127.0.0.1:%d" % self.dns.port})

    def start(self, env, authcheck="1"):
        self.root, self.port = make_bbs(extra=("--authcheck", authcheck))
        self.spool_tmp = os.path.join(self.root, "SPOOL", "TMP")
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()   # the tosser leaves the files alone
        intake.write_handle_index(self.root)
        intake.put_list(self.root, "acceptrate", "0")
        intake.put_list(self.root, "maxperip", "0")
        intake.put_list(self.root, "relaydb", "")
        # A closed session's slot is free on the next tick: room for a quick series.
        set_settings(self.root, MaxConnections=60)
        self.server = Server(self.root, env=env)
        if not self.server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (self.server.stop(),))

    def tearDown(self):
        self.server.stop()
        remove(self.root)

    def hand_offs(self):
        return sorted((n for n in os.listdir(self.spool_tmp) if re.fullmatch(r"V\d+\.D", n)),
                      key=lambda n: int(n[1:-2]))

    def deliver(self, text, mail_from="joe@none.spf.test", helo="client.example", source="127.0.0.1"):
        """Sends one message; the stored hand-off file (taken away), or the SMTP error."""
        try:
            with smtplib.SMTP("127.0.0.1", self.port, timeout=60, source_address=(source, 0)) as s:
                s.ehlo(helo)
                s.sendmail(mail_from, [TO], text)
        except smtplib.SMTPDataError as e:
            return e
        names = self.hand_offs()
        self.assertEqual(len(names), 1, names)
        path = os.path.join(self.spool_tmp, names[0])
        stored = intake.read(path)
        os.remove(path)
        return stored

    def results(self, text, **kw):
        stored = self.deliver(text, **kw)
        self.assertIsInstance(stored, bytes, stored)
        return auth_results(stored)

    def dkimpy(self, text, selector, algorithm, canon, key=None, domain=b"dkim.test", **kw):
        key = key or (self.ed_priv if algorithm == b"ed25519-sha256" else self.rsa_pem)
        return dkim.sign(text, selector, domain, key, signature_algorithm=algorithm, canonicalize=canon,
                         include_headers=[b"from", b"to", b"subject", b"date", b"message-id"], **kw) + text

    def test_dkim_signers_no_one_here_wrote(self):
        signed = [
            (b"rsa", b"rsa-sha256", (b"simple", b"simple")), (b"rsa", b"rsa-sha256", (b"relaxed", b"relaxed")),
            (b"ed", b"ed25519-sha256", (b"relaxed", b"simple")), (b"ed", b"ed25519-sha256", (b"simple", b"relaxed")),
        ]
        for selector, algorithm, canon in signed:
            text = self.dkimpy(message(), selector, algorithm, canon)
            r = self.results(text)
            self.assertRegex(r, r"; dkim=pass header\.d=dkim\.test header\.s=%s header\.b=\S{8};" % selector.decode())
            # One changed byte in a signed header, or in the body: fail.
            r = self.results(text.replace(b"Subject: Signed", b"Subject: signed"))
            self.assertIn("dkim=fail (signature did not verify) header.d=dkim.test", r)
            r = self.results(text.replace(b"Regards.", b"Regards!"))
            self.assertIn("dkim=fail (body hash did not verify) header.d=dkim.test", r)

        # A key made by OpenDKIM's opendkim-genkey, published as its record file says.
        r = self.results(self.dkimpy(message(), b"odk", b"rsa-sha256", (b"relaxed", b"simple"), key=self.odk_pem))
        self.assertIn("dkim=pass header.d=dkim.test header.s=odk", r)
        # OpenDKIM's opendkim-testmsg signs with rsa-sha1 (its library's default here): refused.
        odk = subprocess.run(["/usr/sbin/opendkim-testmsg", "-C", "-d", "dkim.test", "-s", "odk", "-k", self.odk_path],
                             input=message(subject="OpenDKIM"), capture_output=True, check=True).stdout
        self.assertIn(b"a=rsa-sha1;", odk)
        self.assertIn("dkim=fail (rsa-sha1 is not accepted) header.d=dkim.test header.s=odk", self.results(odk))

        # rsa-sha1 from dkimpy too; an expired signature fails; l= is honoured and reported.
        r = self.results(self.dkimpy(message(), b"rsa", b"rsa-sha1", (b"relaxed", b"relaxed")))
        self.assertIn("dkim=fail (rsa-sha1 is not accepted) header.d=dkim.test", r)
        original = dkim.DKIM.gen_header

        def with_expiry(self_, fields, *args):
            # dkimpy signs what it is given: a t= two hours and an x= one hour ago.
            now = int(time.time())
            fields = [(k, str(now - 7200).encode() if k == b"t" else v) for k, v in fields]
            fields.insert(-3, (b"x", str(now - 3600).encode()))
            return original(self_, fields, *args)
        dkim.DKIM.gen_header = with_expiry
        try:
            expired = self.dkimpy(message(), b"rsa", b"rsa-sha256", (b"relaxed", b"relaxed"))
        finally:
            dkim.DKIM.gen_header = original
        self.assertIn(b"x=", expired)
        self.assertIn("dkim=fail (signature expired) header.d=dkim.test", self.results(expired))
        limited = self.dkimpy(message(), b"rsa", b"rsa-sha256", (b"relaxed", b"relaxed"), length=True)
        length = re.search(rb"l=(\d+)", limited).group(1).decode()
        r = self.results(limited + b"Appended below the signed part.\r\n")
        self.assertIn("dkim=pass (l=%s) header.d=dkim.test header.s=rsa" % length, r)

        # The published example of RFC 8463: both signatures verify with its keys.
        r = self.results(RFC8463, mail_from="joe@football.example.com")
        self.assertEqual(r.count("dkim=pass"), 2, r)
        self.assertIn("dkim=pass header.d=football.example.com header.s=brisbane header.b=/gCrinpc;", r)
        self.assertIn("dkim=pass header.d=football.example.com header.s=test header.b=F45dVWDf;", r)

    def test_spf_through_a_real_name_server(self):
        cases = [
            ("joe@pass.spf.test", "127.0.0.1", "pass"), ("joe@pass.spf.test", "127.0.0.2", "fail"),
            ("joe@fail.spf.test", "127.0.0.1", "fail"), ("joe@softfail.spf.test", "127.0.0.1", "softfail"),
            ("joe@neutral.spf.test", "127.0.0.1", "neutral"), ("joe@none.spf.test", "127.0.0.1", "none"),
            ("joe@chain.spf.test", "127.0.0.1", "pass"), ("joe@chain.spf.test", "127.0.0.2", "fail"),
            ("joe@ten.spf.test", "127.0.0.1", "pass"), ("joe@limit.spf.test", "127.0.0.1", "permerror"),
            ("joe@loop.spf.test", "127.0.0.1", "permerror"), ("joe@macro.spf.test", "127.0.0.1", "pass"),
            ("bob@macro.spf.test", "127.0.0.1", "fail"), ("joe@mx.spf.test", "127.0.0.1", "pass"),
            ("joe@mx.spf.test", "127.0.0.2", "pass"), ("joe@void.spf.test", "127.0.0.1", "permerror"),
            ("joe@redirect.spf.test", "127.0.0.1", "pass"),
        ]
        for sender, source, expected in cases:
            r = self.results(message(sender="<%s>" % sender), mail_from=sender, source=source)
            self.assertTrue(r.startswith("bbs.example; spf=%s smtp.mailfrom=%s;" % (expected, sender)),
                            (sender, source, r))
        # The null reverse path: the HELO name is checked.
        r = self.results(message(), mail_from="", helo="pass.spf.test")
        self.assertTrue(r.startswith("bbs.example; spf=pass smtp.helo=pass.spf.test;"), r)

    def test_spf_suite_cases(self):
        for name, case in self.suite["tests"].items():
            sender = case["mailfrom"]
            r = self.results(message(), mail_from=sender, helo=case["helo"], source=case["host"])
            got = re.match(r"bbs\.example; spf=(\w+) ", r).group(1)
            expected = case["result"] if isinstance(case["result"], list) else [case["result"]]
            self.assertIn(got, expected, "%s: %s" % (name, case.get("description", "")))

    def test_dmarc_policies_and_refusals(self):
        # Pass through DKIM alone (SPF says nothing) and through SPF alone.
        signed = self.dkimpy(message(sender="<joe@dmarc.test>"), b"rsa", b"rsa-sha256", (b"relaxed", b"relaxed"),
                             domain=b"dmarc.test")
        r = self.results(signed, mail_from="joe@none.spf.test")
        self.assertIn("spf=none", r)
        self.assertTrue(r.endswith("dmarc=pass (p=reject dis=none) header.from=dmarc.test"), r)
        r = self.results(message(sender="<joe@dmarc.test>"), mail_from="joe@dmarc.test")
        self.assertTrue(r.endswith("dkim=none; dmarc=pass (p=reject dis=none) header.from=dmarc.test"), r)
        # A failure under p=reject: stored and annotated by default.
        forged = message(sender="Bank <joe@dmarc.test>")
        r = self.results(forged)
        self.assertTrue(r.endswith("dmarc=fail (p=reject dis=reject) header.from=dmarc.test"), r)
        # A subdomain falls under the organisational domain's sp=; a domain without a record is none.
        r = self.results(message(sender="<joe@sub.dmarc.test>"))
        self.assertTrue(r.endswith("dmarc=fail (p=quarantine dis=quarantine) header.from=sub.dmarc.test"), r)
        r = self.results(message(sender="<joe@nodmarc.test>"))
        self.assertTrue(r.endswith("dmarc=none header.from=nodmarc.test"), r)

        # With dmarcreject=1: a 550 and nothing stored; quarantine is still stored.
        intake.put_list(self.root, "dmarcreject", "1")
        refused = self.deliver(forged)
        self.assertIsInstance(refused, smtplib.SMTPDataError)
        self.assertEqual((refused.smtp_code, refused.smtp_error), (550, b"5.7.1 Rejected by DMARC policy of dmarc.test."))
        self.assertEqual(self.hand_offs(), [])
        self.assertIn("Sender authentication failed (Rejected by DMARC policy of dmarc.test.) Message refused.",
                      self.server.log())
        self.assertIn("dmarc=fail (p=quarantine", self.results(message(sender="<joe@sub.dmarc.test>")))
        # An SPF fail is stored unless spfreject=1.
        self.assertIn("spf=fail", self.results(message(), mail_from="joe@fail.spf.test"))
        intake.put_list(self.root, "spfreject", "1")
        refused = self.deliver(message(), mail_from="joe@fail.spf.test")
        self.assertEqual((refused.smtp_code, refused.smtp_error), (550, b"5.7.1 Rejected by SPF policy of fail.spf.test."))

    def test_forged_own_domain_is_refused(self):
        intake.put_list(self.root, "spfreject", "1")
        forged = message(sender="Sysop <sysop@bbs.example>", subject="Reset your password")
        refused = self.deliver(forged, mail_from="sysop@bbs.example", source="127.0.0.2")
        self.assertIsInstance(refused, smtplib.SMTPDataError)
        self.assertEqual((refused.smtp_code, refused.smtp_error), (550, b"5.7.1 Rejected by SPF policy of bbs.example."))
        self.assertEqual(self.hand_offs(), [])
        # The From alone claiming it is enough; a stranger's mail still comes in.
        refused = self.deliver(forged, mail_from="joe@neutral.spf.test", source="127.0.0.2")
        self.assertEqual(refused.smtp_code, 550)
        self.assertIsInstance(self.deliver(message(), source="127.0.0.2"), bytes)

    def test_header_is_written_once_above_the_trace_header(self):
        text = (b"Authentication-Results: BBS.example; spf=pass smtp.mailfrom=bank.example\r\n"
                b"Authentication-Results: mx.other.example;\r\n dkim=pass header.d=bank.example\r\n"
                b"From: Alice <alice@pass.spf.test>\r\nTo: John Smith <john.smith@bbs.example>\r\n"
                b"Subject: Checked\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n"
                b"Message-ID: <e2e-auth@pass.spf.test>\r\n\r\nBody line\r\n..dot\r\n")
        stored = self.deliver(text, mail_from="alice@pass.spf.test")
        self.assertEqual(intake.DATE.sub(b"<DATE>", stored),
                         b"Return-Path: <alice@pass.spf.test>\r\n"
                         b"Authentication-Results: bbs.example;\r\n"
                         b"\tspf=pass smtp.mailfrom=alice@pass.spf.test;\r\n"
                         b"\tdkim=none;\r\n"
                         b"\tdmarc=none header.from=pass.spf.test\r\n"
                         b"Received: from 127.0.0.1\r\n"
                         b"\tby bbs.example (OSPRINE v1.4.060711)\r\n"
                         b"\tfor <john.smith@bbs.example>; <DATE>\r\n"
                         b"reply-to: Alice <alice@pass.spf.test>\r\n"
                         b"Authentication-Results: mx.other.example;\r\n dkim=pass header.d=bank.example\r\n"
                         b"From: Alice <alice@pass.spf.test>\r\n"
                         b"To: <john.smith@bbs.example>\r\n"
                         b"Subject: Checked\r\n"
                         b"Date: <DATE>\r\n"
                         b"Message-ID: <e2e-auth@pass.spf.test>\r\n"
                         b"\r\n"
                         b"Body line\r\n..dot\r\n"
                         b"\r\n\r\n")

    def test_forwarded_copies_carry_the_header(self):
        # Mary's mail goes to Darkstar in the BBS's e-mail base, Frank's to an
        # Internet address through the outbound queue; no hand-off file.
        intake.put_list(self.root, "mailforwarding", "mary jones,darkstar;12,friend@far.example*9")
        text = (b"Received: from mx.dmarc.test by relay.dmarc.test; Tue, 08 Dec 2026 09:59:00 +0000\r\n"
                b"Authentication-Results: bbs.example; spf=pass smtp.mailfrom=bank.example\r\n"
                b"From: Joe <joe@dmarc.test>\r\nTo: Mary Jones <mary.jones@bbs.example>\r\n"
                b"Subject: Forwarded\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\n\r\nHello Mary.\r\n")
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.ehlo("client.example")
            self.assertEqual(s.sendmail("joe@dmarc.test", ["mary.jones@bbs.example", "frank.miller@bbs.example"],
                                        text), {})
        self.assertEqual(self.hand_offs(), [])
        header = (b"Authentication-Results: bbs.example;\r\n"
                  b"\tspf=pass smtp.mailfrom=joe@dmarc.test;\r\n"
                  b"\tdkim=none;\r\n"
                  b"\tdmarc=pass (p=reject dis=none) header.from=dmarc.test\r\n")
        received = b"Received: from mx.dmarc.test by relay.dmarc.test; <DATE>\r\n"
        queue = os.path.join(self.root, "OUTBOUND")
        self.assertEqual([n for n in os.listdir(queue) if n.upper().endswith(".D")], ["V1.D"])
        queued = intake.DATE.sub(b"<DATE>", intake.read(os.path.join(queue, "V1.D")))
        # Forwards get no trace header of this system: ours is the first field,
        # directly above the trace header the message arrived with.
        self.assertEqual(queued, header + received +
                         b"reply-to: Joe <joe@dmarc.test>\r\nFrom: Joe <joe@dmarc.test>\r\nTo: <friend@far.example>\r\n"
                         b"Subject: Forwarded\r\nDate: <DATE>\r\n\r\nHello Mary.\r\n")
        # The e-mail base keeps a message's body alone: the header opens the
        # text Darkstar reads.
        local = intake.email_records(os.path.join(self.root, "MSGS", "EMAIL.DAT"))
        self.assertEqual([(r["to_user"], r["subject"]) for r in local], [("darkstar", "Forwarded")])
        self.assertEqual(intake.read(os.path.join(self.root, "MSGS", "EMAIL.BIN")),
                         header + b"\r\nHello Mary.\r\n\r\n\r\n")


class UnansweredDnsTest(unittest.TestCase):
    """Name servers that never answer, that refuse, and that must not be asked."""

    def start(self, env, authcheck="1"):
        SenderAuthTest.start(self, env, authcheck)

    def tearDown(self):
        self.server.stop()
        remove(self.root)

    def test_a_silent_server_gives_temperror_and_others_are_served(self):
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        silent.bind(("127.0.0.1", 0))
        self.start({"OSPRINE_NAMESERVERS": "127.0.0.1:%d" % silent.getsockname()[1]})
        outcome = {}

        def first():
            with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
                s.ehlo("client.example")
                outcome["reply"] = s.sendmail("joe@pass.spf.test", [TO], message())
        sender = threading.Thread(target=first)
        sender.start()
        # While the first session waits for its checks, a second one is greeted.
        self.assertTrue(wait_for(lambda: "Executing" in self.server.log() or silent_queries(silent), 10))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            self.assertEqual(s.ehlo("second.example")[0], 250)
            self.assertNotIn("reply", outcome)
        sender.join(60)
        self.assertEqual(outcome.get("reply"), {})
        stored = intake.read(os.path.join(self.root, "SPOOL", "TMP", "V1.D"))
        self.assertIn(b"\tspf=temperror smtp.mailfrom=joe@pass.spf.test;\r\n\tdkim=none;\r\n"
                      b"\tdmarc=temperror header.from=dkim.test\r\n", stored)
        silent.close()

    def test_a_refused_port_gives_temperror(self):
        self.start({"OSPRINE_NAMESERVERS": "127.0.0.1:%d" % free_udp_port()})
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.ehlo("client.example")
            s.sendmail("joe@pass.spf.test", [TO], message())
        stored = intake.read(os.path.join(self.root, "SPOOL", "TMP", "V1.D"))
        self.assertIn(b"\tspf=temperror smtp.mailfrom=joe@pass.spf.test;", stored)

    def test_authcheck_off_asks_nothing_and_writes_nothing(self):
        dns = Dnsmasq([txt_option("pass.spf.test", SPF_RECORDS["pass.spf.test"])], log_queries=True)
        try:
            self.start({"OSPRINE_NAMESERVERS": "127.0.0.1:%d" % dns.port}, authcheck="0")
            with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
                s.ehlo("client.example")
                s.sendmail("joe@pass.spf.test", [TO], message(extra=b"Authentication-Results: bbs.example; x=y\r\n"))
            stored = intake.read(os.path.join(self.root, "SPOOL", "TMP", "V1.D"))
            # Nothing added, nothing taken away.
            self.assertEqual(stored.count(b"Authentication-Results:"), 1)
            self.assertIn(b"\r\nAuthentication-Results: bbs.example; x=y\r\n", stored)
            self.assertEqual(dns.queries(), 0)
        finally:
            dns.stop()


def silent_queries(sock):
    sock.setblocking(False)
    try:
        return bool(sock.recv(512, socket.MSG_PEEK))
    except BlockingIOError:
        return False


if __name__ == "__main__":
    unittest.main()
