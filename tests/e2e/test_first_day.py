"""A new sysop's mistakes on the real programs, each named with its cause:
settings the service user cannot read, a port it cannot open, a display that
is gone, a certificate that does not fit its key or has expired, a client
that never ends its TLS handshake, a second start, an unknown option; and
what osprinectl tells of the server and its queue."""
import os
import pwd
import shutil
import signal
import smtplib
import socket
import subprocess
import tempfile
import unittest

import test_inbound as inbound
from osprine_harness import BIN, Server, free_port, make_bbs, remove, wait_for
from test_intake import listening, put_list, start_server
from test_osprinectl import ctl
from test_outbound import Upstream, queued

CERTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "make_certs.sh")
SERVICE_USER = "nobody"
AS_SERVICE_USER = ["setpriv", "--reuid=%s" % SERVICE_USER, "--regid=nogroup", "--clear-groups", "--"]


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


class ServiceUserTestCase(unittest.TestCase):
    """The installation belongs to the service user, who runs the programs
    through setpriv; root (the test) makes the mistakes a sysop makes."""

    def setUp(self):
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv to act as a second user")
        self.root, self.port = make_bbs()
        put_list(self.root, "relaydb", "")
        user = pwd.getpwnam(SERVICE_USER)
        for folder, dirs, files in os.walk(self.root):
            for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                os.chown(name, user.pw_uid, user.pw_gid)
        self.addCleanup(remove, self.root)

    def path(self, name):
        return os.path.join(self.root, name)

    def server(self):
        server = Server(self.root, wrapper=AS_SERVICE_USER)
        server.wrapped = False   # setpriv becomes the server: signals go to it
        return server

    def failed_start(self):
        """A start that ends on its own: the exit status and standard error."""
        server = self.server()
        server.proc.wait(timeout=60)
        code, _, err = server.stop()
        return code, err

    def ctl_as_service_user(self, *args):
        return subprocess.run([*AS_SERVICE_USER, os.path.join(BIN, "osprinectl"), "-d", self.root, *args],
                              capture_output=True, text=True, timeout=30)

    def make_root_only(self, name):
        os.chown(self.path(name), 0, 0)
        os.chmod(self.path(name), 0o600)


class UnreadableSettingsTest(ServiceUserTestCase):
    def test_an_unreadable_file_ends_a_start_and_is_never_a_running_servers_default(self):
        cfg = self.path("OSPRINE.CFG")
        # As "sudo osprinectl config ..." leaves it: root's, mode 0600.
        self.make_root_only("OSPRINE.CFG")
        code, err = self.failed_start()
        self.assertEqual(code, 1, err)
        self.assertEqual(err, "OSPRINE - Error: Cannot read %s: Permission denied\n" % cfg)
        r = self.ctl_as_service_user("config", "Port")
        self.assertEqual((r.returncode, r.stdout, r.stderr),
                         (1, "", "osprinectl: cannot read %s: Permission denied\n" % cfg))

        os.chown(cfg, pwd.getpwnam(SERVICE_USER).pw_uid, 0)
        server = self.server()
        self.addCleanup(server.stop)
        if not server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (server.stop(),))
        # A reload that cannot read keeps what runs; so does the minute's re-read.
        self.make_root_only("OSPRINE.CFG")
        server.proc.send_signal(signal.SIGHUP)
        self.assertTrue(wait_for(lambda: "Settings not reloaded" in server.log()), server.log())
        self.assertIn("      0  Settings not reloaded: Cannot read %s: Permission denied\r\n" % cfg, server.log())
        self.assertNotIn("Settings reloaded", server.log())
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            self.assertEqual(s.noop()[0], 250)

        # A list file read for every session: its fault is logged once a minute, not once a session.
        os.chown(cfg, pwd.getpwnam(SERVICE_USER).pw_uid, 0)
        self.make_root_only("OSPRDATA.DAT")
        for _ in range(3):
            c = inbound.Client(self.port, timeout=30)
            c.greeting()
            c.ask("HELO client.example")
            c.ask("RCPT TO:<john.smith@bbs.example>")
            c.close()
        errors = read_text(self.path("ZRVERROR.LOG"))
        self.assertEqual(errors.count("GetData - Cannot read %s\r\n" % self.path("OSPRDATA.DAT")), 1, errors)
        code, _, err = server.stop()
        self.assertEqual(code, 0, err)


class PortTest(ServiceUserTestCase):
    def test_a_port_that_cannot_be_opened_is_named_with_its_cause_and_ends_the_server(self):
        box = "OSPRINE - Error: The SMTP listen port is being used by another application. "
        with socket.socket() as holder:
            holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            holder.bind(("0.0.0.0", self.port))
            holder.listen(1)
            code, err = self.failed_start()
        self.assertEqual(code, 1, err)
        self.assertEqual(err, box + "port %d: Address already in use\n" % self.port)

        r = self.ctl_as_service_user("config", "Port=25")
        self.assertEqual(r.returncode, 0, r.stderr)
        code, err = self.failed_start()
        self.assertEqual(code, 1, err)
        self.assertEqual(err, box + "port 25: Permission denied (ports below 1024 need root or "
                              "CAP_NET_BIND_SERVICE)\n")
        self.assertIn("frmMain OpenListenPort - port 25: Permission denied", read_text(self.path("ZRVERROR.LOG")))


class ConsoleTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)
        put_list(self.root, "relaydb", "")

    def test_the_console_says_where_it_runs_names_the_running_copy_and_refuses_unknown_options(self):
        wrong = subprocess.run([os.path.join(BIN, "osprine"), "--frobnicate"], cwd=self.root, capture_output=True,
                               text=True, timeout=30, env=dict(os.environ, OSPRINE_HEADLESS="1"))
        self.assertEqual(wrong.returncode, 2)
        self.assertEqual(wrong.stdout, "")
        self.assertTrue(wrong.stderr.startswith("osprine: unknown option --frobnicate\nUsage: osprine [/RESETWINDOW]\n"))

        server = start_server(self, self.root, self.port)
        self.addCleanup(server.stop)
        first = next(line for line in iter(server.proc.stdout.readline, b"") if line.startswith(b"OSPRINE v"))
        self.assertEqual(first.decode(), "OSPRINE v1.4.060711 listening on 0.0.0.0 and [::] port %d, STARTTLS not offered, "
                                "BBS main directory %s\n" % (self.port, self.root))
        second = subprocess.run([os.path.join(BIN, "osprine")], cwd=self.root, capture_output=True, text=True,
                                timeout=30, env=dict(os.environ, OSPRINE_HEADLESS="1"))
        self.assertEqual((second.returncode, second.stdout, second.stderr),
                         (0, "OSPRINE is already running in %s (pid %d).\n" % (self.root, server.proc.pid), ""))

    def test_a_display_that_is_gone_leaves_the_server_in_the_console(self):
        display = next(n for n in range(99, 200) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        env = {k: v for k, v in os.environ.items() if k not in ("OSPRINE_HEADLESS", "QT_QPA_PLATFORM",
                                                                 "WAYLAND_DISPLAY")}
        env["DISPLAY"] = ":%d" % display
        proc = subprocess.Popen([os.path.join(BIN, "osprine")], cwd=self.root, env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            self.assertTrue(wait_for(lambda: listening(self.port) or proc.poll() is not None, 30))
            with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
                self.assertEqual(s.noop()[0], 250)
        finally:
            proc.send_signal(signal.SIGTERM)
            out, err = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err.decode(), "osprine: cannot open display :%d; running in the console\n" % display)


class CertificateTest(unittest.TestCase):
    def setUp(self):
        self.certs = tempfile.mkdtemp(prefix="osprine-certs-")
        self.addCleanup(remove, self.certs)
        subprocess.run(["/bin/sh", CERTS, self.certs], check=True)
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)

    def cert(self, name):
        return os.path.join(self.certs, name)

    def start(self, cert, key, env=None):
        put_list(self.root, "servertlscert", self.cert(cert))
        put_list(self.root, "servertlskey", self.cert(key))
        put_list(self.root, "relaydb", "")
        server = Server(self.root, env=env)
        self.addCleanup(server.stop)
        if not server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (server.stop(),))
        return server

    def ehlo_offers(self):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.ehlo("client.example")
            return s.has_extn("starttls")

    def test_a_key_of_another_certificate_and_an_expired_certificate_are_refused_with_the_reason(self):
        cases = [("server.pem", "otherhost.key", "the key in %s does not belong to the certificate in %s"
                  % (self.cert("otherhost.key"), self.cert("server.pem"))),
                 ("expired.pem", "expired.key", "the certificate in %s expired on 2020-02-01"
                  % self.cert("expired.pem"))]
        for cert, key, reason in cases:
            server = self.start(cert, key)
            line = "Inbound TLS not active: %s." % reason
            self.assertTrue(wait_for(lambda: line in server.log()), server.log())
            self.assertFalse(self.ehlo_offers())
            self.assertIn("frmMain ReloadTls - " + line, read_text(os.path.join(self.root, "ZRVERROR.LOG")))
            self.assertEqual(server.stop()[0], 0)

    def test_a_certificate_near_its_end_is_warned_about_and_still_offered(self):
        server = self.start("soon.pem", "soon.key")
        end = subprocess.run(["openssl", "x509", "-in", self.cert("soon.pem"), "-noout", "-enddate", "-dateopt",
                              "iso_8601"], capture_output=True, text=True, check=True).stdout
        day = end.split("=", 1)[1][:10]
        line = "Inbound TLS warning: the certificate in %s expires on %s." % (self.cert("soon.pem"), day)
        self.assertTrue(wait_for(lambda: line in server.log()), server.log())
        self.assertTrue(self.ehlo_offers())

    def test_a_client_that_never_ends_its_handshake_is_dropped_with_an_event_line(self):
        # The limit is 30 s; the test shortens it as it does the session limit.
        server = self.start("server.pem", "server.key", env={"OSPRINE_TEST_TLS_HANDSHAKE_S": "2"})
        c = inbound.Client(self.port, timeout=60)
        self.addCleanup(c.close)
        c.greeting()
        c.ask("EHLO x")
        c.line()
        self.assertEqual(c.ask("STARTTLS"), "220 Ready to start TLS")
        self.assertTrue(c.closed())
        self.assertTrue(wait_for(lambda: "TLS handshake not completed within 2 seconds; session closed" in
                                 server.log()), server.log())


class CtlStateTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        self.addCleanup(remove, self.root)

    def ok(self, *args):
        r = ctl(self.root, *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.splitlines()

    def test_status_queue_after_a_refused_log_in_and_the_changed_settings(self):
        self.assertEqual(self.ok("config", "-n"), ["Port = %d" % self.port])   # osprine-mkbbs set it
        upstream = Upstream({"auth": {"user": "bbs", "password": "right"}})
        self.addCleanup(upstream.close)
        self.ok("config", "SmtpClient=1", "ClientHost=127.0.0.1", "ClientPort=%d" % upstream.port, "ClientAuth=1",
                "AuthUsername=bbs", "AuthPassword=wrong", "maxperip=5", "clienttls=none")
        self.assertEqual(self.ok("config", "-n"), [
            "Port = %d" % self.port, "ClientPort = %d" % upstream.port, "ClientHost = 127.0.0.1", "ClientAuth = 1",
            "AuthUsername = bbs", "AuthPassword = ********", "clienttls = none", "maxperip = 5"])
        queue = os.path.join(self.root, "OUTBOUND")
        message = os.path.join(queue, "V7.D")
        with open(message, "wb") as f:
            f.write(queued("writer@bbs.example", "far@remote.example", "hello\r\n"))
        two_hours_ago = os.path.getmtime(message) - 2 * 3600
        os.utime(message, (two_hours_ago, two_hours_ago))

        stopped = ctl(self.root, "status")
        self.assertEqual(stopped.returncode, 1, stopped.stderr)
        self.assertEqual(stopped.stdout.splitlines(), [
            "Server: not running (OSPRINE is not running in %s)" % self.root, "Port: %d" % self.port,
            "STARTTLS: not configured", "Queue: 1 message, 0 KB", "Last error: none"])

        server = start_server(self, self.root, self.port)
        self.addCleanup(server.stop)
        self.assertEqual(self.ok("queue", "flush"), [])
        self.assertTrue(wait_for(lambda: "Upstream server refused the session" in server.log(), 30), server.log())
        lines = self.ok("queue")
        self.assertRegex(lines[1], r"^V7\.D +\d+   2h00m +1  DEFERRED    writer@bbs\.example -> far@remote\.example$")
        self.assertRegex(lines[2], r"^             Last: Upstream server refused the session: 535 .*; the messages "
                                   r"stay queued\.$")
        status = self.ok("status")
        with open(os.path.join(self.root, "ZRVERROR.LOG"), "rb") as f:
            last_error = f.read().decode("latin-1").rstrip("\r\n").split("\r\n")[-1]
        self.assertEqual(status, ["Server: running (pid %d)" % server.proc.pid,
                                  "Listening: 0.0.0.0 and [::] port %d" % self.port, "STARTTLS: not offered",
                                  "Queue: 1 message, 0 KB", "Last error: " + last_error])
        self.assertIn("Upstream server refused the session: 535", last_error)


if __name__ == "__main__":
    unittest.main()
