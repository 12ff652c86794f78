"""The server killed with SIGKILL at random moments, while messages arrive
and while the outbound queue is worked, then started again: no accepted
message is lost, none is filed twice, and no file that another program
picks up by name is ever found half-written."""
import asyncio
import glob
import os
import random
import re
import signal
import smtplib
import struct
import threading
import time
import unittest

from aiosmtpd.controller import Controller

from osprine_harness import Server, free_port, make_bbs, remove, set_settings, wait_for

EMAIL_RECORD = 582
PAYLOAD_LINES = 40

# The seed is printed, so a failing run can be repeated with OSPRINE_CRASH_SEED.
SEED = int(os.environ.get("OSPRINE_CRASH_SEED", str(random.randrange(1 << 30))))


def message(token, to):
    """A message whose body proves itself complete: BEGIN, numbered lines, END."""
    lines = ["Line %03d of %s %s" % (i, token, "x" * 60) for i in range(PAYLOAD_LINES)]
    return ("From: Sender <sender@remote.example>\r\nTo: %s\r\nSubject: %s\r\nMessage-ID: <%s@remote.example>\r\n\r\n"
            "BEGIN-%s\r\n%s\r\nEND-%s\r\n" % (to, token, token, token, "\r\n".join(lines), token)).encode()


def tokens_in(text):
    return re.findall(rb"BEGIN-(T[0-9a-z-]+)\r?\n", text)


def complete(token, text):
    """The text holds the whole body of the token's message, in order."""
    start = text.find(b"BEGIN-" + token)
    end = text.find(b"END-" + token, start)
    if start < 0 or end < 0:
        return False
    lines = [l for l in text[start:end].split(b"\n") if l.startswith(b"Line ")]
    return len(lines) == PAYLOAD_LINES


def email_bodies(main_dir):
    """The bodies of every record of the BBS e-mail base, and the base's sizes."""
    dat_path, bin_path = os.path.join(main_dir, "MSGS", "EMAIL.DAT"), os.path.join(main_dir, "MSGS", "EMAIL.BIN")
    if not os.path.exists(dat_path):
        return [], 0
    with open(dat_path, "rb") as f:
        dat = f.read()
    with open(bin_path, "rb") as f:
        body_file = f.read()
    bodies = []
    for at in range(0, len(dat) - EMAIL_RECORD + 1, EMAIL_RECORD):
        position, length = struct.unpack_from("<ii", dat, at + 478)
        bodies.append(body_file[position - 1:position - 1 + length])
    return bodies, len(dat)


def handoff_files(main_dir):
    return sorted(glob.glob(os.path.join(main_dir, "SPOOL", "TMP", "*")))


class Sender(threading.Thread):
    """Sends numbered messages until the server goes away; keeps every token
    that was answered "250 Received data" without "not saved"."""

    def __init__(self, port, prefix, recipients):
        super().__init__(daemon=True)
        self.port, self.prefix, self.recipients = port, prefix, recipients
        self.accepted, self.tried = [], []
        self.stop = threading.Event()

    def run(self):
        n = 0
        deadline = time.monotonic() + 30
        while not self.stop.is_set() and time.monotonic() < deadline:
            try:
                client = smtplib.SMTP("127.0.0.1", self.port, timeout=5)
                client.ehlo("crash.example")
            except (OSError, smtplib.SMTPException):
                time.sleep(0.05)
                continue
            try:
                for _ in range(25):
                    if self.stop.is_set():
                        break
                    n += 1
                    token = "T%s-%d" % (self.prefix, n)
                    to = random.choice(self.recipients)
                    self.tried.append(token)
                    client.mail("sender@remote.example")
                    client.rcpt(to)
                    code, reply = client.data(message(token, to))
                    if code == 250 and b"not saved" not in reply:
                        self.accepted.append(token)
                client.quit()
            except (OSError, smtplib.SMTPException):
                return


class Upstream:
    """The upstream server the outbound queue goes to (aiosmtpd): records
    each message it accepts and answers slowly enough for kills to land in
    the middle of a connection."""

    def __init__(self):
        self.received = []
        self.port = free_port()
        self.controller = Controller(self, hostname="127.0.0.1", port=self.port)
        self.controller.start()

    async def handle_DATA(self, server, session, envelope):
        await asyncio.sleep(0.15)
        self.received.append(envelope.content)
        return "250 OK"

    def close(self):
        self.controller.stop()


class CrashSafetyTest(unittest.TestCase):
    def setUp(self):
        print("crash test seed", SEED)
        random.seed(SEED)
        self.root, self.port = make_bbs()
        self.server = None

    def tearDown(self):
        if self.server and self.server.proc.poll() is None:
            self.server.proc.kill()
            self.server.proc.communicate()
        remove(self.root)

    def start(self):
        self.server = Server(self.root)
        self.assertTrue(self.server.wait_listening(self.port, timeout=20), "the server did not start")

    def kill(self):
        self.server.proc.send_signal(signal.SIGKILL)
        self.server.proc.communicate()

    def stop(self):
        code, _, err = self.server.stop(timeout=30)
        self.assertEqual(code, 0, err[-3000:])

    def assert_server_files_whole(self):
        with open(os.path.join(self.root, "OSPRINE.CFG"), "rb") as f:
            self.assertEqual(len(f.read()), 250)
        with open(os.path.join(self.root, "OSPRDATA.DAT"), "rb") as f:
            lists = f.read()
        self.assertTrue(lists.endswith(b"\r\n") and b"relaydb=" in lists.lower(), lists[-200:])
        stats = os.path.join(self.root, "OSPRSTAT.DAT")
        if os.path.exists(stats):
            self.assertEqual(os.path.getsize(stats), 44)

    def test_accepted_inbound_mail_survives_kills(self):
        set_settings(self.root, SaveStats=1, MaxConnections=10)
        recipients = ["john.smith@bbs.example", "mary.jones@bbs.example", "sysop@bbs.example"]
        accepted, tried, rounds = [], [], 6
        for r in range(rounds):
            self.start()
            senders = [Sender(self.port, "%d%s" % (r, c), recipients) for c in "ab"]
            for s in senders:
                s.start()
            time.sleep(random.uniform(0.3, 2.5))
            self.kill()
            for s in senders:
                s.stop.set()
                s.join(timeout=20)
                accepted += s.accepted
                tried += s.tried
            for name in handoff_files(self.root):
                if re.search(r"/V\d+\.D$", name):
                    with open(name, "rb") as f:
                        text = f.read()
                    found = tokens_in(text)
                    self.assertEqual(len(found), 1, name)
                    self.assertTrue(complete(found[0], text), "hand-off file %s is partial" % name)
            self.assert_server_files_whole()
        print("inbound: %d rounds, %d messages sent, %d accepted" % (rounds, len(tried), len(accepted)))
        self.assertGreater(len(accepted), rounds)

        # A clean run afterwards: the tosser takes everything left behind.
        self.start()
        drained = wait_for(lambda: not any(re.search(r"/V\d+\.D$", n) for n in handoff_files(self.root)), 30)
        self.stop()
        self.assertTrue(drained, "hand-off files left after a restart: %s" % handoff_files(self.root))

        bodies, dat_size = email_bodies(self.root)
        self.assertEqual(dat_size % EMAIL_RECORD, 0, "EMAIL.DAT ends in a partial record")
        filed = {}
        for body in bodies:
            found = tokens_in(body)
            self.assertEqual(len(found), 1, body[:200])
            self.assertTrue(complete(found[0], body), "partial body of %s" % found[0])
            filed[found[0].decode()] = filed.get(found[0].decode(), 0) + 1
        missing = [t for t in accepted if t not in filed]
        self.assertEqual(missing, [], "accepted but lost")
        twice = {t: n for t, n in filed.items() if n > 1}
        self.assertEqual(twice, {}, "filed more than once")
        self.assertTrue(set(filed) <= set(tried))

    def test_outbound_queue_survives_kills(self):
        upstream = Upstream()
        self.addCleanup(upstream.close)
        set_settings(self.root, SmtpClient=1, ClientHost="127.0.0.1", ClientPort=upstream.port)
        queue = os.path.join(self.root, "OUTBOUND")
        tokens = ["Tout-%d" % i for i in range(30)]
        for i, token in enumerate(tokens):
            with open(os.path.join(queue, "V%d.D" % (100 + i)), "wb") as f:
                f.write(message(token, "someone%d@elsewhere.example" % i))

        def queue_files_whole():
            for name in glob.glob(os.path.join(queue, "*")):
                with open(name, "rb") as f:
                    text = f.read()
                found = tokens_in(text)
                self.assertEqual(len(found), 1, name)
                self.assertTrue(complete(found[0], text), "queue file %s is partial" % name)

        # The queue is worked once a minute; each run is killed shortly after
        # the upstream server saw its first message of that run.
        kills = 0
        for _ in range(2):
            before = len(upstream.received)
            self.start()
            self.assertTrue(wait_for(lambda: len(upstream.received) > before, 90), "the queue was not worked")
            time.sleep(random.uniform(0.0, 1.5))
            self.kill()
            kills += 1
            queue_files_whole()
            self.assert_server_files_whole()

        self.start()
        emptied = wait_for(lambda: not glob.glob(os.path.join(queue, "*.D")), 120)
        self.stop()
        self.assertTrue(emptied, "messages left in the queue: %s" % os.listdir(queue))
        self.assertEqual(glob.glob(os.path.join(queue, "*")), [], "files left in the queue")

        sent = {}
        for content in upstream.received:
            found = tokens_in(content)
            self.assertEqual(len(found), 1)
            self.assertTrue(complete(found[0], content))
            sent[found[0].decode()] = sent.get(found[0].decode(), 0) + 1
        self.assertEqual(sorted(sent), sorted(tokens), "lost on the way out")
        # Only a message whose final 250 came in just before a kill, before
        # its queue file was deleted, may go out again: one per kill at most.
        again = sum(n - 1 for n in sent.values())
        print("outbound: %d kills, %d messages, %d sent again" % (kills, len(tokens), again))
        self.assertLessEqual(again, kills)


if __name__ == "__main__":
    unittest.main()
