"""Outbound delivery by a running osprine: its own 60-second tick sends the
queue through a real upstream server (aiosmtpd) on loopback, and a refused
message comes back as a return notice that the next tick sends with an
empty reverse path."""
import base64
import json
import os
import subprocess
import tempfile
import unittest

from osprine_harness import Server, free_port, make_bbs, remove, set_settings, wait_for

UPSTREAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "outbound", "upstream_smtp.py")


class Upstream:
    """aiosmtpd with scripted replies, recording what it reads."""

    def __init__(self, script, host="127.0.0.1"):
        self.dir = tempfile.mkdtemp(prefix="osprine-upstream-")
        self.record = os.path.join(self.dir, "record.jsonl")
        config = os.path.join(self.dir, "config.json")
        with open(config, "w", encoding="ascii") as f:
            json.dump(script, f)
        self.port = free_port()
        self.proc = subprocess.Popen(["/usr/bin/python3", UPSTREAM, "--config", config, "--record", self.record,
                                      "--port", str(self.port), "--host", host], stdout=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        if not line.startswith("PORT "):
            raise RuntimeError("upstream server did not start: " + line)

    def entries(self, kind):
        try:
            with open(self.record, encoding="ascii") as f:
                return [e for e in map(json.loads, f) if e["kind"] == kind]
        except OSError:
            return []

    def lines(self):
        return [base64.b64decode(e["data"]) for e in self.entries("line")]

    def messages(self):
        return [dict(e, content=base64.b64decode(e["content"])) for e in self.entries("message")]

    def close(self):
        self.proc.kill()
        self.proc.wait(10)
        self.proc.stdout.close()
        remove(self.dir)


def queued(sender, to, body):
    return (f"From: {sender}\r\nTo: {to}\r\nSubject: From the BBS\r\n"
            f"Date: Tue, 11 Jul 2006 19:35:37 -0500\r\n\r\n{body}").encode("latin-1")


class OutboundTickTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        self.queue = os.path.join(self.root, "OUTBOUND")
        # The second RCPT of the first connection is refused for good.
        self.upstream = Upstream({"RCPT": [None, "550 5.1.1 <nobody@remote.example>: no such user"]})
        set_settings(self.root, SmtpClient=1, ClientHost="127.0.0.1", ClientPort=self.upstream.port)

    def tearDown(self):
        self.upstream.close()
        remove(self.root)

    def put(self, name, text):
        with open(os.path.join(self.queue, name), "wb") as f:
            f.write(text)

    def queue_files(self):
        return sorted(n for n in os.listdir(self.queue) if n.upper().endswith(".D"))

    def test_the_minute_tick_delivers_the_queue_and_returns_what_is_refused(self):
        self.put("V1.D", queued("Writer <writer@elsewhere.example>", "far@remote.example",
                                "Hello from the BBS\r\n.a dotted line\r\n"))
        self.put("V2.D", queued("writer@elsewhere.example", "nobody@remote.example", "Lost words\r\n"))
        server = Server(self.root)
        try:
            self.assertTrue(server.wait_listening())
            # Nothing happens before the first tick, a minute after the start.
            self.assertTrue(wait_for(lambda: len(self.upstream.messages()) == 1, timeout=80))
            first = self.upstream.messages()[0]
            self.assertEqual(first["mail_from"], "writer@elsewhere.example")
            self.assertEqual(first["rcpt_tos"], ["far@remote.example"])
            self.assertTrue(first["content"].endswith(b"\r\n\r\nHello from the BBS\r\n.a dotted line\r\n"))
            self.assertNotIn(b"X-OSPRINE", first["content"])
            self.assertIn(b"..a dotted line\r\n", self.upstream.lines())

            # V2.D was refused: a notice for its sender is all that is queued,
            # under the lowest free number.
            self.assertTrue(wait_for(lambda: b"QUIT\r\n" in self.upstream.lines(), timeout=10))
            self.assertTrue(wait_for(lambda: self.queue_files() == ["V1.D"]), self.queue_files())
            with open(os.path.join(self.queue, "V1.D"), "rb") as f:
                waiting = f.read()
            self.assertIn(b"\r\nX-OSPRINE-Status: RETURNED\r\n", waiting)
            self.assertIn(b"\r\nTo: writer@elsewhere.example\r\n", waiting)

            # The next tick sends the notice with an empty reverse path.
            self.assertTrue(wait_for(lambda: len(self.upstream.messages()) == 2, timeout=75))
            notice = self.upstream.messages()[1]
            self.assertEqual(notice["mail_from"], "<>")
            self.assertEqual(notice["rcpt_tos"], ["writer@elsewhere.example"])
            self.assertIn(b"Subject: Undeliverable Message\r\n", notice["content"])
            self.assertIn(b"--- Original Message ---\r\nLost words\r\n", notice["content"])
            self.assertNotIn(b"X-OSPRINE", notice["content"])
            self.assertTrue(wait_for(lambda: self.queue_files() == []))
            self.assertEqual(self.upstream.lines().count(b"EHLO bbs.example\r\n"), 2)
            self.assertIn(b"MAIL From:<>\r\n", self.upstream.lines())
            self.assertTrue(wait_for(lambda: server.log().count("  Connection Terminated\r\n") == 2))
        finally:
            code, out, err = server.stop()
        self.assertEqual(code, 0, err)
        log = server.log()
        for line in ("     0  Processing message file: V1.D\r\n",
                     "     0  Outbound Socket Initiated To: 127.0.0.1\r\n",
                     "     0  <-- EHLO bbs.example\r\n",
                     "     0  <-- RCPT To:<nobody@remote.example>\r\n",
                     "     0  --> 550 5.1.1 <nobody@remote.example>: no such user\r\n",
                     "     0  <-- QUIT\r\n"):
            self.assertIn(line, log)
        self.assertIn(" : [0] <-- MAIL From:<>", out)
        self.assertIn(" : Socket 0 Closed", out)


if __name__ == "__main__":
    unittest.main()
