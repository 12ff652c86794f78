"""osprinectl on a test installation, and with the real osprine running in
it: settings and lists changed from the shell with the dialogs' checks, the
queue shown and flushed, the server reloaded; and the Debian package that
carries it all, with its unit file."""
import os
import shutil
import signal
import smtplib
import struct
import subprocess
import tempfile
import unittest

import test_inbound as inbound
from osprine_harness import BIN, SETTINGS, Server, free_port, listener_inode, make_bbs, remove, set_settings, wait_for
from test_intake import listening, put_list, start_server
from test_outbound import Upstream, queued

RECORD_NAMES = ["Port", "MaxConnections", "MinToTray", "ShowEventWindow", "MaxLogSize", "DailyMaint", "LastMaintDate",
                "VerifyUser", "AutoVerify", "ClientPort", "ClientHost", "ClientAuth", "AuthUsername", "AuthPassword",
                "Pop3Before", "Pop3Host", "Pop3Username", "Pop3Password", "SmtpClient", "EmailUserNumber",
                "SaveWindowPos", "IpAllowOnly", "CheckFlags", "RelayEnable", "SpamAssassin", "Pop3Port",
                "AllowCarbonCopy", "AllowVrfy", "AllowExpn", "AutorespondUser", "AllowFreq", "MaxFreqSize",
                "MaxMailSize", "SaveStats", "CloseToTaskbar"]
KEYED_NAMES = ["clienttls", "clienttlsca", "pop3tls", "servertlscert", "servertlskey", "maxperip", "acceptrate",
               "esmtp", "freqperhour", "dkimdomain", "dkimselector", "dkimkey",
               "authcheck", "dmarcreject", "spfreject"]
NET9_NAMES = ["net9.systemid", "net9.netdir", "net9.pss", "net9.allowrefeed", "net9.striphdrs", "net9.suffix"]


def ctl(root, *args):
    return subprocess.run([os.path.join(BIN, "osprinectl"), "-d", root, *args], capture_output=True, text=True,
                          timeout=30)


class CtlTestCase(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()

    def tearDown(self):
        remove(self.root)

    def path(self, name):
        return os.path.join(self.root, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def ok(self, *args):
        r = ctl(self.root, *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        return r.stdout.splitlines()

    def refused(self, *args, why):
        """Exit status 2, one line on standard error naming the problem, no file changed."""
        before = {n: self.read(n) for n in ("OSPRINE.CFG", "OSPRDATA.DAT") if os.path.exists(self.path(n))}
        r = ctl(self.root, *args)
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertEqual(r.stderr, "osprinectl: " + why + "\n")
        self.assertEqual({n: self.read(n) for n in before}, before)


class ConfigTest(CtlTestCase):
    def test_settings_print_set_and_refuse_as_the_dialog_does(self):
        lines = self.ok("config")
        self.assertEqual([l.split(" = ")[0] for l in lines], RECORD_NAMES + KEYED_NAMES + NET9_NAMES)
        self.assertIn("Port = %d" % self.port, lines)
        self.assertIn("clienttls = auto", lines)

        self.assertEqual(self.ok("config", "port=2600", "MaxConnections=500", "ClientHost= smtp.isp.example ",
                                 "AuthPassword=app pw", "SmtpClient=0", "clienttls=STARTTLS"),
                         ["Port = 2600", "MaxConnections = 200", "ClientHost = smtp.isp.example",
                          "AuthPassword = ********", "SmtpClient = 0", "clienttls = starttls"])
        record = self.read("OSPRINE.CFG")
        self.assertEqual(len(record), 250)
        self.assertEqual(struct.unpack_from("<hh", record, 0), (2600, 200))
        self.assertEqual(record[26:56], b"smtp.isp.example".ljust(30))
        self.assertEqual(record[88:118], b"app pw".ljust(30))
        self.assertEqual(struct.unpack_from("<h", record, SETTINGS["SmtpClient"][0])[0], 0)
        for name in ("OSPRINE.CFG", "OSPRDATA.DAT"):   # both hold passwords
            self.assertEqual(os.stat(self.path(name)).st_mode & 0o777, 0o600, name)
        self.assertEqual(self.ok("config", "AuthPassword", "Port"), ["AuthPassword = ********", "Port = 2600"])
        self.assertEqual(self.ok("config", "--show-secrets", "AuthPassword"), ["AuthPassword = app pw"])

        self.refused("config", "Port=2700", "SmtpClient=7", why="SmtpClient: must be 0 or 1")   # all or none
        self.refused("config", "Port=abc", why="Port: must be a whole number from 0 to 32767")
        self.refused("config", "ClientHost=" + "h" * 31, why="ClientHost: longer than 30 characters")
        self.refused("config", "LastMaintDate=010101", why="LastMaintDate: kept by the server, not set by hand")
        self.refused("config", "NoSuch=1", why="NoSuch: no such setting")
        # NET.9 as the network dialog writes it: spaces become "_", the packet size its code.
        self.assertEqual(self.ok("config", "net9.pss=512", "net9.suffix=my bbs"), ["net9.pss = 512", "net9.suffix = my_bbs"])
        net9 = self.read(os.path.join("DATA", "NET.9"))
        self.assertIn(b"\r\npss=5\r\nallowrefeed=N\r\nstriphdrs=N\r\nsuffix=my_bbs\r\nremote=", net9)
        self.refused("config", "net9.pss=500", why="net9.pss: must be 64, 128, 256, 512, 1024 or 2048")
        self.refused("config", "pop3tls=maybe", why="pop3tls: must be auto, starttls, implicit or none")
        self.assertEqual(self.ok("config", "authcheck=1", "spfreject= 1 "), ["authcheck = 1", "spfreject = 1"])
        self.assertIn(b"authcheck=1\r\n", self.read("OSPRDATA.DAT"))
        self.refused("config", "dmarcreject=yes", why="dmarcreject: must be 0 or 1")
        self.refused("config", "servertlscert=/nonexistent/cert.pem", why="servertlscert: no such file: /nonexistent/cert.pem")
        self.refused("config", "Port", "Port=1", why="either print settings or set them, not both")
        self.assertEqual(ctl(self.root, "config", "--help").stdout.splitlines()[0],
                         "Usage: osprinectl [-d DIR] config [--show-secrets] [NAME ...]")
        r = ctl(tempfile.gettempdir(), "config")
        self.assertEqual(r.returncode, 2)
        self.assertIn("SYSPATHS.CFG is missing", r.stderr)


class ListTest(CtlTestCase):
    def test_lists_follow_the_editors_rules_and_the_running_server_uses_them(self):
        names = [l.split()[0] for l in self.ok("list")]
        self.assertEqual(names, ["domains", "aliases", "mailforwarding", "subjectfilter", "headerfilter", "passthru",
                                 "filterexemptions", "twit", "relaydb", "ipconfig", "listserv", "net9remote"])
        put_list(self.root, "relaydb", "")
        server = start_server(self, self.root, self.port)
        self.addCleanup(server.stop)

        # The alias field turns a space into a dot and stores lower case, as its key filter does.
        self.assertEqual(self.ok("list", "aliases", "add", "Web Master,John Smith"), [])
        self.assertEqual(self.ok("list", "aliases"), ["web.master,john smith"])
        c = inbound.Client(self.port)
        c.greeting()
        c.ask("HELO x")
        c.ask("MAIL FROM:<a@remote.example>")
        self.assertEqual(c.ask("RCPT TO:<web.master@bbs.example>"), '250 Recipient "web.master@bbs.example" OK...')
        c.close()

        self.refused("list", "aliases", "add", "a;b,1",
                     why='aliases: alias cannot contain ";", which the list uses to separate its entries')
        self.refused("list", "passthru", "add", "robot,0,0", why="passthru: the user number cannot be less than one")
        self.refused("list", "passthru", "add", "robot,0,1x", why="passthru: user number takes digits only")
        self.refused("list", "aliases", "delete", "nobody", why='aliases: no row "nobody"')
        self.refused("list", "nolist", why='nolist: no such list ("osprinectl list" names them)')

        for zone in ("b.example", "a.example"):
            self.ok("list", "relaydb", "add", zone)
        self.ok("list", "relaydb", "move", "A.EXAMPLE", "up")
        self.assertEqual(self.ok("list", "relaydb"), ["a.example", "b.example"])
        self.refused("list", "relaydb", "move", "a.example", "up", why='relaydb: "a.example" cannot move up')
        for pattern in ("192.168.*.*", "10.0.0.1"):
            self.ok("list", "ipconfig", "add", pattern)
        self.assertEqual(self.ok("list", "ipconfig"), ["10.0.0.1", "192.168.*.*"])
        self.refused("list", "ipconfig", "add", "10.0.0.256",
                     why='ipconfig: a pattern is four parts separated by ".", each "*" or a number from 0 to 255')
        for network in ("2001:DB8::/32", "::1/128"):
            self.ok("list", "ipconfig", "add", network)
        self.assertEqual(self.ok("list", "ipconfig"), ["10.0.0.1", "192.168.*.*", "::1/128", "2001:db8::/32"])
        self.refused("list", "ipconfig", "add", "2001:db8::/129",
                     why="ipconfig: the prefix length must be a number from 0 to 128")
        self.ok("list", "ipconfig", "delete", "::1/128")
        self.ok("list", "ipconfig", "delete", "2001:db8::/32")
        # Mailing lists and their subscribers in LISTSERV.LST, remote systems in NET.9.
        self.ok("list", "listserv", "add", "bbs-news  Sysop@BBS.example a@x.example")
        self.ok("list", "listserv:BBS-News", "add", "b@y.example")
        self.assertEqual(self.ok("list", "listserv")[-1], "BBS-NEWS sysop@bbs.example a@x.example b@y.example")
        self.refused("list", "listserv:bbs-news", "add", "c @z",
                     why='listserv:bbs-news: cannot contain " ", which the list uses to separate its entries')
        self.ok("list", "net9remote", "add", "uplink - - - - - - bbs.example NLXXXXXX -")
        self.assertEqual(self.ok("list", "net9remote")[-1], "uplink - - - - - - bbs.example NLXXXXXX -")
        self.ok("list", "twit", "add", "Spammer Joe")
        self.assertIn(b"Spammer Joe\r\n", self.read(os.path.join("DATA", "TWIT.LST")))

        self.ok("list", "aliases", "delete", "WEB.MASTER")
        self.ok("list", "relaydb", "delete", "a.example")
        self.ok("list", "relaydb", "delete", "b.example")
        self.ok("list", "ipconfig", "delete", "10.0.0.1")
        self.ok("list", "ipconfig", "delete", "192.168.*.*")
        # As the dialogs leave it: the keyed list keeps only the lists that hold entries.
        self.assertEqual(self.ok("list", "aliases"), [])


class QueueAndControlTest(CtlTestCase):
    def test_queue_flush_reload_and_stats_against_the_running_server(self):
        r = ctl(self.root, "stats")
        self.assertEqual((r.returncode, r.stderr), (1, "osprinectl: OSPRINE is not running in %s\n" % self.root))

        upstream = Upstream({})
        self.addCleanup(upstream.close)
        set_settings(self.root, SmtpClient=1, ClientHost="127.0.0.1", ClientPort=upstream.port)
        queue = os.path.join(self.root, "OUTBOUND")
        with open(os.path.join(queue, "V7.D"), "wb") as f:
            f.write(queued("writer@bbs.example", "far@remote.example", "hello\r\n").replace(
                b"\r\n\r\n", b"\r\nX-OSPRINE-Attempts: 2\r\nX-OSPRINE-Status: DEFERRED\r\n\r\n", 1))
        lines = self.ok("queue")
        self.assertEqual(lines[0], "File         Size   Age     Tries  Status      Sender -> Recipient")
        self.assertRegex(lines[1], r"^V7\.D +\d+   0m +2  DEFERRED    writer@bbs\.example -> far@remote\.example$")
        self.assertEqual(lines[2], "-- 0 KB in 1 message")
        self.refused("queue", "delete", "../OSPRINE.CFG", why="../OSPRINE.CFG: no such message in the queue")

        put_list(self.root, "relaydb", "")
        server = start_server(self, self.root, self.port)
        self.addCleanup(server.stop)
        # The minute's tick is a minute away: only the flush can send it now.
        self.assertEqual(self.ok("queue", "flush"), [])
        self.assertTrue(wait_for(lambda: len(upstream.messages()) == 1, 20))
        self.assertTrue(wait_for(lambda: self.ok("queue") == ["Mail queue is empty"]))

        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.noop()
        stats = self.ok("stats")
        self.assertEqual(len(stats), 16)
        self.assertIn("Outgoing: 1", stats)
        self.assertIn("Sent: 1", stats)

        # The listener moves only while no session is open.
        self.assertTrue(wait_for(lambda: "Active Connections: 0" in self.ok("stats")))
        new_port = free_port()
        self.ok("config", "Port=%d" % new_port)
        self.assertEqual(self.ok("reload"), [])
        self.assertTrue(wait_for(lambda: listening(new_port)))
        self.assertFalse(listening(self.port))
        self.assertIn(" Settings reloaded\r\n", server.log())
        # A reload on the same port keeps the listener: clients waiting in
        # its backlog are not refused.
        listener = listener_inode(new_port)
        server.proc.send_signal(signal.SIGHUP)   # as systemctl reload does
        self.assertTrue(wait_for(lambda: server.log().count(" Settings reloaded\r\n") == 2))
        self.assertEqual(listener_inode(new_port), listener)


class PackageTest(unittest.TestCase):
    """The .deb made by CPack from the build tree the tests run on."""

    @classmethod
    def setUpClass(cls):
        build = os.path.dirname(os.path.abspath(BIN))
        cls.out = tempfile.mkdtemp(prefix="osprine-deb-")
        subprocess.run(["cpack", "-B", cls.out], cwd=build, check=True, capture_output=True, timeout=600)
        cls.debs = [n for n in os.listdir(cls.out) if n.endswith(".deb")]

    @classmethod
    def tearDownClass(cls):
        remove(cls.out)

    def test_lintian_finds_no_error_and_no_warning(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is missing (scripts/setup.sh installs it)")
        lint = subprocess.run(["lintian", "--fail-on", "none", os.path.join(self.out, self.debs[0])],
                              capture_output=True, text=True, timeout=600)
        self.assertEqual([line for line in lint.stdout.splitlines() if line[:2] in ("E:", "W:")], [], lint.stdout)

    def test_package_contents_programs_and_unit(self):
        out = self.out
        self.assertEqual(len(self.debs), 1, os.listdir(out))
        deb = os.path.join(out, self.debs[0])
        contents = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True, text=True, check=True).stdout
        files = {line.split()[-1] for line in contents.splitlines()}
        for f in ["./usr/bin/osprine", "./usr/bin/osprinectl", "./usr/bin/ZRVUpdate", "./usr/bin/osprine-mkbbs",
                  "./usr/bin/osprine-readmail", "./usr/bin/osprine-tosser", "./usr/lib/systemd/system/osprine@.service",
                  "./usr/share/man/man8/osprine.8.gz", "./usr/share/man/man8/osprinectl.8.gz",
                  "./usr/share/man/man1/ZRVUpdate.1.gz", "./usr/share/man/man1/osprine-tosser.1.gz",
                  "./usr/share/doc/osprine/README.md", "./usr/share/doc/osprine/copyright",
                  "./usr/share/doc/osprine/changelog.gz"]:
            self.assertIn(f, files)
        control = subprocess.run(["dpkg-deb", "--field", deb, "Depends"], capture_output=True, text=True).stdout
        self.assertIn("libqt6network6", control)
        self.assertIn("ca-certificates", control)

        root = os.path.join(out, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        usr_bin = os.path.join(root, "usr", "bin")
        for program in os.listdir(usr_bin):   # every binary stripped
            symbols = subprocess.run(["readelf", "--symbols", os.path.join(usr_bin, program)], capture_output=True,
                                     text=True).stdout
            self.assertNotIn(".symtab", symbols, program)
        control = os.path.join(out, "control")
        subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
        for script in ("postinst", "prerm", "postrm"):
            self.assertTrue(os.access(os.path.join(control, script), os.X_OK), script)
            lint = subprocess.run(["sh", "-n", os.path.join(control, script)], capture_output=True, text=True)
            self.assertEqual(lint.returncode, 0, lint.stderr)
        version = subprocess.run([os.path.join(usr_bin, "osprine"), "--version"], capture_output=True, text=True)
        self.assertEqual((version.returncode, version.stdout), (0, "OSPRINE v1.4.060711\n"))
        self.assertIn("Usage: osprine", subprocess.run([os.path.join(usr_bin, "osprine"), "--help"],
                                                       capture_output=True, text=True).stdout)
        # The unpacked programs make and run an installation.
        bbs = os.path.join(out, "bbs")
        subprocess.run([os.path.join(usr_bin, "osprine-mkbbs"), bbs, "--port", str(free_port())], check=True,
                       capture_output=True)
        self.assertTrue(os.path.exists(os.path.join(bbs, "ZUUCP.EXE")))
        r = subprocess.run([os.path.join(usr_bin, "osprinectl"), "-d", bbs, "config", "Port"], capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, r.stderr)

        # systemd's own check of the unit, with the unpacked program and man pages.
        unit_dir = os.path.join(out, "units")
        os.mkdir(unit_dir)
        with open(os.path.join(root, "usr/lib/systemd/system/osprine@.service")) as f:
            unit = f.read()
        self.assertIn("AmbientCapabilities=CAP_NET_BIND_SERVICE", unit)
        self.assertIn("ExecReload=/bin/kill -HUP $MAINPID", unit)
        with open(os.path.join(unit_dir, "osprine@.service"), "w") as f:
            f.write(unit.replace("/usr/bin/osprine", os.path.join(usr_bin, "osprine")))
        verify = subprocess.run(["systemd-analyze", "verify", os.path.join(unit_dir, "osprine@srv-zarvel.service")],
                                capture_output=True, text=True, env=dict(os.environ, MANPATH=os.path.join(root, "usr/share/man")))
        self.assertEqual((verify.returncode, verify.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
