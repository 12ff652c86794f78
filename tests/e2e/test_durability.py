"""What the real osprine answered 250 for is on stable storage: checked from
an strace of the server, which the page cache cannot fool, and on a small
file system that the test fills up."""
import os
import re
import shutil
import smtplib
import subprocess
import tempfile
import unittest

from osprine_harness import BIN, Server, make_bbs, remove, set_settings, wait_for
from test_intake import email_records, put_list, read, start_server, write_handle_index
from test_outbound import Upstream, queued

CALL = re.compile(r'^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+)')
PATH = re.compile(r'"([^"]*)"')
UNFINISHED = re.compile(r'^(\d+)\s+(.*) <unfinished \.\.\.>$')
RESUMED = re.compile(r'^(\d+)\s+<\.\.\. \w+ resumed>(.*)$')


def whole_calls(lines):
    """The trace's lines with each call that another thread interrupted
    joined into one line, placed where it returned."""
    started = {}
    for line in lines:
        line = line.rstrip("\n")
        m = UNFINISHED.match(line)
        if m:
            started[m.group(1)] = m.group(2)
            continue
        m = RESUMED.match(line)
        if m and m.group(1) in started:
            yield "%s %s%s" % (m.group(1), started.pop(m.group(1)), m.group(2))
            continue
        yield line


class Trace:
    """The server's system calls in order, with the path behind each descriptor."""

    def __init__(self, path):
        self.calls = []   # (index, name, path or text, result)
        paths = {}
        with open(path, encoding="latin-1") as f:
            for line in whole_calls(f):
                m = CALL.match(line)
                if not m:
                    continue
                name, args, result = m.group(1), m.group(2), int(m.group(3))
                thread = line.split(None, 1)[0]
                quoted = PATH.findall(args)
                fd = args.split(",", 1)[0]
                if name == "openat" and result >= 0:
                    paths[result] = quoted[0]
                    self.calls.append((name, quoted[0], result, None, thread))
                elif name in ("fsync", "fdatasync", "close", "write", "writev", "sendto", "sendmsg"):
                    target = paths.get(int(fd)) if fd.isdigit() else None
                    self.calls.append((name, target, quoted[0] if quoted else "", result, thread))
                elif name in ("renameat2", "rename", "unlink", "unlinkat"):
                    self.calls.append((name, quoted[-1], quoted[0], result, thread))

    def thread(self, i):
        return self.calls[i][4]

    def index(self, predicate, start=0):
        for i in range(start, len(self.calls)):
            if predicate(self.calls[i]):
                return i
        return -1

    def replies(self, text):
        """The writes of a reply to a client (not its echo in the logs)."""
        return [i for i, c in enumerate(self.calls) if c[0] in ("write", "writev", "sendto") and c[2].startswith(text)]

    def synced_before(self, path, before, name="fdatasync"):
        return any(c[0] == name and c[1] == path and c[3] == 0 for c in self.calls[:before])


@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class DurabilityAuditTest(unittest.TestCase):
    def test_files_are_synced_before_the_reply_that_promises_them(self):
        root, port = make_bbs()
        self.addCleanup(remove, root)
        open(os.path.join(root, "BTHOLD.FLG"), "wb").close()   # the tosser waits
        write_handle_index(root)
        put_list(root, "relaydb", "")
        put_list(root, "mailforwarding", "mary jones,darkstar")
        upstream = Upstream({"RCPT": ["550 5.1.1 no such user"]})
        self.addCleanup(upstream.close)
        set_settings(root, SmtpClient=1, ClientHost="127.0.0.1", ClientPort=upstream.port)
        with open(os.path.join(root, "OUTBOUND", "V1.D"), "wb") as f:
            f.write(queued("writer@elsewhere.example", "nobody@remote.example", "Lost words\r\n"))
        trace = os.path.join(root, "strace.txt")
        # LeakSanitizer cannot work under ptrace: in the sanitizer build the
        # traced server runs without it (every other test keeps it).
        asan = os.environ.get("ASAN_OPTIONS")
        env = {"ASAN_OPTIONS": asan + ":detect_leaks=0"} if asan else {}
        server = Server(root, env=env, wrapper=["strace", "-f", "-qq", "-s", "80", "-o", trace, "-e",
                                       "trace=openat,fsync,fdatasync,close,write,writev,sendto,sendmsg,"
                                       "rename,renameat2,unlink,unlinkat"])
        try:
            # Loaded is logged before the listener opens; a traced sanitizer build is slow.
            self.assertTrue(server.wait_listening(port, 60))
            with smtplib.SMTP("127.0.0.1", port, timeout=30) as s:
                s.ehlo("client.example")
                for to in ("john.smith@bbs.example", "mary.jones@bbs.example"):
                    s.sendmail("a@remote.example", [to], b"From: a@remote.example\r\nTo: %s\r\n"
                               b"Subject: durable\r\nDate: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nkeep me\r\n" % to.encode())
            # The first outbound tick returns V1.D: its notice takes V2.D.
            queue = os.path.join(root, "OUTBOUND")
            self.assertTrue(wait_for(lambda: os.listdir(queue) and not os.path.exists(os.path.join(queue, "V1.D")),
                                     timeout=90))
        finally:
            server.stop()
        t = Trace(trace)
        spool = os.path.join(root, "SPOOL", "TMP")
        replies = t.replies("250 Received data")
        self.assertEqual(len(replies), 2)

        # The hand-off file: synced under its temporary name, renamed, its
        # directory synced, and all of it before the first 250.
        rename = t.index(lambda c: c[0] == "renameat2" and c[1].startswith(spool + "/V"))
        self.assertTrue(0 <= rename < replies[0])
        temp = t.calls[rename][2]
        self.assertTrue(t.synced_before(temp, rename), temp)
        self.assertNotEqual(t.index(lambda c: c[0] == "fsync" and c[1] == spool, rename), -1)
        self.assertLess(t.index(lambda c: c[0] == "fsync" and c[1] == spool, rename), replies[0])

        # The forward into the e-mail base: the body synced, then the record, both before the second 250.
        bin_path, dat_path = (os.path.join(root, "MSGS", n) for n in ("EMAIL.BIN", "EMAIL.DAT"))
        body = t.index(lambda c: c[0] == "fdatasync" and c[1] == bin_path, replies[0])
        record = t.index(lambda c: c[0] == "fdatasync" and c[1] == dat_path, replies[0])
        self.assertTrue(replies[0] < body < record < replies[1], (body, record, replies))
        self.assertEqual(email_records(dat_path)[0]["to_user"], "darkstar")

        # Those waits for the disk were not the event loop's: the sessions'
        # replies come from one thread, the syncs of their files from another.
        loop = {t.thread(i) for i in replies}
        waits = {t.thread(i) for i in (body, record, t.index(lambda c: c[0] == "fsync" and c[1] == spool))}
        self.assertEqual(len(loop), 1)
        self.assertFalse(loop & waits, (loop, waits))

        # The return notice is on the disk before the returned file goes.
        notice = t.index(lambda c: c[0] == "renameat2" and c[1] == os.path.join(queue, "V2.D"))
        gone = t.index(lambda c: c[0] in ("unlink", "unlinkat") and c[1] == os.path.join(queue, "V1.D"))
        self.assertTrue(0 <= notice < gone)
        self.assertTrue(t.synced_before(t.calls[notice][2], notice))
        dir_sync = t.index(lambda c: c[0] == "fsync" and c[1] == queue, notice)
        self.assertTrue(notice < dir_sync < gone)


if __name__ == "__main__":
    unittest.main()


def mount_small_fs(path, size):
    """A tmpfs of `size` over the directory; False where mounting is not allowed."""
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", path],
                          capture_output=True).returncode == 0


class FullDiskTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)
        self.spool = os.path.join(self.root, "SPOOL", "TMP")
        open(os.path.join(self.root, "BTHOLD.FLG"), "wb").close()
        write_handle_index(self.root)

    def start_on_small_fs(self, directory):
        if os.geteuid() != 0 or not mount_small_fs(directory, "256k"):
            self.skipTest("mounting a small file system needs root")
        self.addCleanup(subprocess.run, ["umount", "-l", directory])
        self.server = start_server(self, self.root, self.port)
        self.addCleanup(self.server.stop)

    def fill(self, directory):
        filler = os.path.join(directory, "filler")
        with open(filler, "wb", buffering=0) as f:
            try:
                while True:
                    f.write(b"x" * 4096)
            except OSError:
                pass
        return filler

    def test_a_full_disk_gets_451_leaves_nothing_and_the_retry_arrives_once(self):
        self.start_on_small_fs(self.spool)
        message = b"From: a@remote.example\r\nTo: john.smith@bbs.example\r\nSubject: s\r\n\r\n" + b"line\r\n" * 2000
        filler = self.fill(self.spool)
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            with self.assertRaises(smtplib.SMTPDataError) as refused:
                s.sendmail("a@remote.example", ["john.smith@bbs.example"], message)
            self.assertEqual((refused.exception.smtp_code, refused.exception.smtp_error),
                             (451, b"Requested action aborted: local error in processing."))
            self.assertEqual(os.listdir(self.spool), ["filler"])   # nothing half-written
            self.assertEqual(s.noop()[0], 250)                      # still serving
            os.remove(filler)
            s.sendmail("a@remote.example", ["john.smith@bbs.example"], message)
        files = os.listdir(self.spool)
        self.assertEqual(len(files), 1)
        self.assertTrue(read(os.path.join(self.spool, files[0])).endswith(b"line\r\n" * 2000 + b"\r\n\r\n"))
        errors = read(os.path.join(self.root, "ZRVERROR.LOG")).decode("latin-1")
        self.assertRegex(errors, re.escape(self.spool) + r"/osprine-\d+-\d+\.tmp: No space left on device")

    def test_a_full_e_mail_base_is_left_as_it_was(self):
        msgs = os.path.join(self.root, "MSGS")
        put_list(self.root, "mailforwarding", "mary jones,darkstar")
        self.start_on_small_fs(msgs)
        message = (b"From: a@remote.example\r\nTo: mary.jones@bbs.example\r\nSubject: s\r\n"
                   b"Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\n" + b"text\r\n" * 3000)
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            s.sendmail("a@remote.example", ["mary.jones@bbs.example"], message[:200] + b"\r\n")
            filler = self.fill(msgs)
            sizes = {n: os.path.getsize(os.path.join(msgs, n)) for n in ("EMAIL.BIN", "EMAIL.DAT")}
            with self.assertRaises(smtplib.SMTPDataError) as refused:
                s.sendmail("a@remote.example", ["mary.jones@bbs.example"], message)
            self.assertEqual(refused.exception.smtp_code, 451)
            self.assertEqual({n: os.path.getsize(os.path.join(msgs, n)) for n in sizes}, sizes)
            os.remove(filler)
            s.sendmail("a@remote.example", ["mary.jones@bbs.example"], message)
        records = email_records(os.path.join(msgs, "EMAIL.DAT"))
        self.assertEqual(len(records), 2)
        body = read(os.path.join(msgs, "EMAIL.BIN"))[records[1]["position"] - 1:][:records[1]["length"]]
        self.assertEqual(body, b"text\r\n" * 3000 + b"\r\n")


class ConcurrentWritersTest(unittest.TestCase):
    def test_the_tosser_and_the_server_share_the_e_mail_base(self):
        root, port = make_bbs()
        self.addCleanup(remove, root)
        write_handle_index(root)
        put_list(root, "mailforwarding", "mary jones,darkstar")
        put_list(root, "relaydb", "")
        # The substitute tosser dawdles while it holds its body positions.
        server = Server(root, stdout=subprocess.DEVNULL, env={"ZUUCP_PAUSE_MS": "100"})
        self.addCleanup(server.stop)
        self.assertTrue(server.wait_listening(port))

        # Hand-off files for the tosser and forwards into the e-mail base, in turns.
        with smtplib.SMTP("127.0.0.1", port, timeout=60) as s:
            s.ehlo("client.example")
            for i in range(240):
                to, tag = ("john.smith@bbs.example", b"handoff") if i % 2 else ("mary.jones@bbs.example", b"forward")
                s.sendmail("a@remote.example", [to],
                           b"From: a@remote.example\r\nTo: %s\r\nSubject: %s-%d\r\n"
                           b"Date: Tue, 11 Jul 2006 19:35:37 +0200\r\n\r\nbody of %s-%d\r\n"
                           % (to.encode(), tag, i, tag, i))
        spool = os.path.join(root, "SPOOL", "TMP")
        self.assertTrue(wait_for(lambda: not [n for n in os.listdir(spool) if n.upper().endswith(".D")], 30))
        msgs = os.path.join(root, "MSGS")
        records = email_records(os.path.join(msgs, "EMAIL.DAT"))
        bodies = read(os.path.join(msgs, "EMAIL.BIN"))
        self.assertEqual(len(records), 240)
        for r in records:
            body = bodies[r["position"] - 1:r["position"] - 1 + r["length"]]
            self.assertEqual(body.rstrip(b"\r\n"), b"body of %s" % r["subject"].encode(), r["subject"])
        self.assertEqual(len({r["seq"] for r in records}), 240)
