"""The server and osprinectl on a machine with other local users: a second
user (a uid chosen here, run through setpriv) can neither squat nor reach the
control socket; osprinectl run by root on an installation of that user writes
as that user and never through a link; files holding mail have no access for
others under umask 022; osprinectl prints no terminal bytes from mail."""
import hashlib
import os
import pwd
import shutil
import smtplib
import socket
import stat
import subprocess
import tempfile
import unittest

from osprine_harness import BIN, Server, free_port, make_bbs, remove, set_settings, wait_for
from test_intake import listening, put_list, start_server, write_handle_index

OSPRINECTL = os.path.join(BIN, "osprinectl")


def unused_uid():
    taken = {p.pw_uid for p in pwd.getpwall()}
    return next(uid for uid in range(47000, 48000) if uid not in taken)


def as_user(uid, *command, **options):
    """Runs the command as uid (and gid) `uid`, without supplementary groups."""
    return subprocess.run(["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", *command],
                          capture_output=True, timeout=60, **options)


def ctl(root, *args):
    return subprocess.run([OSPRINECTL, "-d", root, *args], capture_output=True, timeout=60)


def socket_name(root):
    return "osprine-" + hashlib.sha1(os.path.realpath(root).encode()).hexdigest()[:16]


# Binds a local socket at argv[1] as root, becomes uid argv[2] and only then
# listens (so that its peers see that user), and answers every caller.
SQUATTER = """
import os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
uid = int(sys.argv[2])
os.setgid(uid)
os.setuid(uid)
s.listen()
print("ready", flush=True)
while True:
    c, _ = s.accept()
    try:
        c.recv(256)
        c.sendall(b"OK squatted\\n")
    except OSError:
        pass
    c.close()
"""


def squat(path, uid):
    proc = subprocess.Popen(["/usr/bin/python3", "-c", SQUATTER, path, str(uid)], stdout=subprocess.PIPE)
    if proc.stdout.readline() != b"ready\n":
        raise RuntimeError("the squatter did not start")
    return proc


def end(proc):
    proc.kill()
    proc.wait(10)
    if proc.stdout:
        proc.stdout.close()


class SharedMachineTestCase(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("a second local user needs root to be staged")
        self.uid = unused_uid()
        self.root, self.port = make_bbs()
        os.chmod(self.root, 0o755)   # a BBS directory that every local user may read
        self.addCleanup(remove, self.root)

    def path(self, *names):
        return os.path.join(self.root, *names)


class ControlSocketTest(SharedMachineTestCase):
    def test_another_user_can_neither_squat_nor_reach_the_control_socket(self):
        own = self.path("OSPRCTL")
        sock = os.path.join(own, socket_name(self.root))
        # The other user takes the name the socket had in /tmp, and tries the new place.
        old = squat("/tmp/" + socket_name(self.root), self.uid)
        self.addCleanup(os.unlink, "/tmp/" + socket_name(self.root))
        self.addCleanup(end, old)
        self.assertNotEqual(as_user(self.uid, "mkdir", own).returncode, 0)

        server = start_server(self, self.root, self.port)
        self.assertEqual(stat.S_IMODE(os.lstat(own).st_mode), 0o700)
        self.assertTrue(stat.S_ISSOCK(os.lstat(sock).st_mode))
        self.assertEqual(ctl(self.root, "reload").returncode, 0)
        self.assertTrue(wait_for(lambda: " Settings reloaded\r\n" in server.log()))

        refused = as_user(self.uid, OSPRINECTL, "-d", self.root, "stats")
        self.assertEqual((refused.returncode, refused.stdout), (1, b""))
        self.assertEqual(refused.stderr, b"osprinectl: cannot reach the running server: %s: Permission denied\n"
                         % sock.encode())
        # With the way opened, the server itself drops the other user's call unanswered.
        os.chmod(own, 0o711)
        os.chmod(sock, 0o777)
        probe = as_user(self.uid, "/usr/bin/python3", "-c",
                        "import socket, sys\ns = socket.socket(socket.AF_UNIX)\ns.connect(sys.argv[1])\n"
                        "try:\n    s.sendall(b'stats\\n')\n    print(repr(s.recv(100)))\n"
                        "except OSError as e:\n    print(e.strerror)", sock)
        self.assertIn(probe.stdout, (b"b''\n", b"Broken pipe\n", b"Connection reset by peer\n"), probe.stderr)
        refused = as_user(self.uid, OSPRINECTL, "-d", self.root, "reload")
        self.assertEqual((refused.returncode, refused.stderr), (1, b"osprinectl: the server gave no answer\n"))
        self.assertEqual(server.log().count(" Settings reloaded\r\n"), 1)
        os.chmod(own, 0o700)
        stats = ctl(self.root, "stats")
        self.assertEqual(stats.returncode, 0, stats.stderr)
        self.assertIn(b"Active Connections: 0\n", stats.stdout)
        self.assertEqual(server.stop()[0], 0)
        self.assertFalse(os.path.exists(sock))

        # A program of another user holding the name: osprinectl does not talk
        # to it, and a new server says so and ends with status 1.
        squatter = squat(sock, self.uid)
        self.addCleanup(end, squatter)
        held = ctl(self.root, "stats")
        self.assertEqual((held.returncode, held.stdout), (1, b""))
        self.assertEqual(held.stderr, b"osprinectl: the control socket is held by another program: %s\n"
                         % sock.encode())
        second = subprocess.run([os.path.join(BIN, "osprine")], cwd=self.root, capture_output=True, timeout=30,
                                env=dict(os.environ, OSPRINE_HEADLESS="1"))
        self.assertEqual(second.returncode, 1)
        self.assertEqual(second.stderr, b"OSPRINE: The control socket of this installation is held by another "
                         b"program: %s\n" % sock.encode())
        self.assertFalse(listening(self.port))


class OsprinectlAsRootTest(SharedMachineTestCase):
    """The installation belongs to the other user, who planted links where
    osprinectl writes; root runs osprinectl on it."""

    WRITTEN = {  # file -> a command that writes it
        "OSPRINE.CFG": ("config", "MaxConnections=7"),
        "OSPRDATA.DAT": ("config", "maxperip=5"),
        "DATA/TWIT.LST": ("list", "twit", "add", "Spammer Joe"),
        "SPOOL/LISTSERV.LST": ("list", "listserv", "add", "news sysop@bbs.example"),
        "DATA/NET.9": ("config", "net9.pss=1024"),
    }

    def setUp(self):
        super().setUp()
        for directory, _, names in os.walk(self.root):
            os.chown(directory, self.uid, self.uid)
            for name in names:
                os.chown(os.path.join(directory, name), self.uid, self.uid)
        self.vault = tempfile.mkdtemp(prefix="osprine-root-only-")
        self.addCleanup(remove, self.vault)
        with open(os.path.join(self.vault, "kept"), "wb") as f:
            f.write(b"root's own\n")

    def plant(self, name, target):
        os.symlink(target, self.path(name))
        os.lchown(self.path(name), self.uid, self.uid)

    def vault_as_it_was(self):
        with open(os.path.join(self.vault, "kept"), "rb") as f:
            self.assertEqual(f.read(), b"root's own\n")
        self.assertEqual(os.listdir(self.vault), ["kept"])

    def test_root_writes_as_the_owner_and_never_through_a_link(self):
        # Links at the temporary names earlier versions wrote through.
        for n, name in enumerate(["DATA/TWIT.LST.TMP", "SPOOL/LISTSERV.LST.TMP", "DATA/NET.TMP", "OSPRINE.CFG.TMP"]):
            self.plant(name, os.path.join(self.vault, "kept" if n % 2 else "made%d" % n))
        for command in self.WRITTEN.values():
            r = ctl(self.root, *command)
            self.assertEqual((r.returncode, r.stderr), (0, b""), command)
        self.vault_as_it_was()
        for name in self.WRITTEN:
            status = os.lstat(self.path(name))
            self.assertEqual((status.st_uid, status.st_gid), (self.uid, self.uid), name)
            self.assertTrue(stat.S_ISREG(status.st_mode), name)
        self.assertEqual(stat.S_IMODE(os.lstat(self.path("DATA/NET.9")).st_mode), 0o644)   # kept as it was
        self.assertEqual(stat.S_IMODE(os.lstat(self.path("OSPRINE.CFG")).st_mode), 0o600)   # it holds passwords
        leftovers = [n for d, _, names in os.walk(self.root) for n in names if n.endswith(".tmp")]
        self.assertEqual(leftovers, [])

        # A written file that is itself a link is refused, the link named.
        for n, (name, command) in enumerate(self.WRITTEN.items()):
            aside = self.path(name) + ".aside"
            os.rename(self.path(name), aside)
            self.plant(name, os.path.join(self.vault, "kept" if n % 2 else "new"))
            r = ctl(self.root, *command)
            self.assertEqual(r.returncode, 2, (name, r.stderr))
            self.assertEqual(r.stderr, b"osprinectl: refused: %s is a symbolic link (nothing was written)\n"
                             % self.path(name).encode())
            os.unlink(self.path(name))
            os.rename(aside, self.path(name))
        self.vault_as_it_was()


class PrivateFilesTest(SharedMachineTestCase):
    """Under umask 022, every file the server and osprinectl make that holds
    mail, addresses or passwords has no access for others."""

    def ok(self, *args):
        r = ctl(self.root, *args)
        self.assertEqual((r.returncode, r.stderr), (0, b""), args)

    def test_files_holding_mail_are_made_without_access_for_others(self):
        before = os.umask(0o022)
        self.addCleanup(os.umask, before)
        stand_in = tempfile.mkdtemp(prefix="osprine-standin-")
        self.addCleanup(remove, stand_in)
        # The spam scanner's scratch files, as the scanner sees them.
        with open(os.path.join(stand_in, "spamassassin"), "w") as f:
            f.write("#!/bin/sh\nmodes=$(stat -L -c %%a /proc/$$/fd/0 /proc/$$/fd/1)\n"
                    "echo \"$modes\" >> %s/scratch-modes\ncat\n" % stand_in)
        os.chmod(os.path.join(stand_in, "spamassassin"), 0o755)
        closed_port = free_port()   # nothing listens there
        with open(self.path("NOT-A-CA.pem"), "wb") as f:
            f.write(b"not a certificate\n")
        for name in ("OSPRINE.CFG", "OSPRDATA.DAT"):
            os.unlink(self.path(name))
        self.ok("config", "Port=%d" % self.port, "SmtpClient=1", "ClientHost=127.0.0.1", "ClientPort=%d" % closed_port,
                "SaveStats=1", "MaxLogSize=1024", "AutoVerify=1", "RelayEnable=0", "SpamAssassin=1",
                "clienttlsca=" + self.path("NOT-A-CA.pem"))
        for row in ("mary jones,darkstar", "7,sysop@1:100/1*4", "12,friend@far.example*9"):
            self.ok("list", "mailforwarding", "add", row)
        open(self.path("BTHOLD.FLG"), "wb").close()   # hand-off files stay to be looked at
        server = Server(self.root, env={"PATH": stand_in + ":" + os.environ["PATH"]})
        self.addCleanup(server.stop)
        if not server.wait_listening(self.port, 20):
            self.fail("the server did not start: %r" % (server.stop(),))
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.sendmail("alice@remote.example", ["Carol White@bbs.example", "mary.jones@bbs.example",
                                                "bob@bbs.example", "frank.miller@bbs.example"],
                       b"From: alice@remote.example\r\nTo: x@bbs.example\r\nSubject: Private\r\n\r\nFor your eyes only\r\n")
        self.ok("queue", "flush")
        self.assertTrue(wait_for(lambda: os.path.exists(self.path("ZRVERROR.LOG")), 30), server.log())
        self.assertTrue(wait_for(lambda: os.path.exists(self.path("OSPRINE.OLD")), 30))
        self.assertEqual(server.stop()[0], 0)

        def made(directory, pattern=""):
            names = [n for n in os.listdir(self.path(directory)) if n.upper().endswith(pattern)]
            self.assertTrue(names, directory)
            return [os.path.join(directory, n) for n in names]

        files = ["OSPRINE.CFG", "OSPRDATA.DAT", "OSPRINE.LOG", "OSPRINE.OLD", "ZRVERROR.LOG", "OSPRSTAT.DAT",
                 "HANDLES.UIP", "MSGS/EMAIL.DAT", "MSGS/EMAIL.BIN", "DATA/SPOOL.NET"]
        files += made("SPOOL/TMP", ".D") + made("OUTBOUND", ".D")
        modes = {name: stat.S_IMODE(os.lstat(self.path(name)).st_mode) for name in files}
        self.assertEqual({name: mode for name, mode in modes.items() if mode & 0o007}, {})
        self.assertEqual(modes["OSPRINE.CFG"], 0o600)
        with open(os.path.join(stand_in, "scratch-modes")) as f:
            self.assertRegex(f.read(), r"^6[046]0\n6[046]0\n$")


class HardenedUnitTest(unittest.TestCase):
    UNIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "osprine@.service")

    def settings(self):
        """The [Service] settings of the unit, each name with its values in order."""
        values = {}
        with open(self.UNIT) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith(("#", "[")):
                    name, value = line.split("=", 1)
                    values.setdefault(name, []).append(value)
        return values

    def test_systemd_analyze_rates_the_unit_ok(self):
        work = tempfile.mkdtemp(prefix="osprine-unit-")
        self.addCleanup(remove, work)
        unit = os.path.join(work, "osprine@srv-zarvel.service")
        shutil.copy(self.UNIT, unit)
        r = subprocess.run(["systemd-analyze", "security", "--offline=yes", unit], capture_output=True, text=True,
                           cwd=work, timeout=120)
        line = [l for l in r.stdout.splitlines() if "Overall exposure level" in l]
        self.assertEqual(len(line), 1, r.stdout + r.stderr)
        score = float(line[0].split(": ")[1].split()[0])
        print("systemd-analyze security --offline=yes: %s" % line[0].split(": ")[1])
        self.assertLessEqual(score, 2.5, line[0])


    def syscalls(self, group, seen=None):
        """The system calls of a filter group, nested groups resolved, as systemd-analyze lists them."""
        seen = set() if seen is None else seen
        listing = subprocess.run(["systemd-analyze", "syscall-filter", group], capture_output=True, text=True,
                                 check=True).stdout
        names = set()
        for line in listing.splitlines()[1:]:
            word = line.strip()
            if not word or word.startswith("#"):
                continue
            if word.startswith("@"):
                if word not in seen:
                    seen.add(word)
                    names |= self.syscalls(word, seen)
            else:
                names.add(word)
        return names

    def test_service_tosses_and_scans_inside_the_units_sandbox(self):
        """The unit's ExecStart in an equivalent of its sandbox, read from the
        unit: its user (a uid chosen here), UMask, NoNewPrivileges, the
        capability bounding set, ProtectSystem=strict with ReadWritePaths
        (every mount read-only but the installation, in a private mount
        namespace), PrivateTmp, and SystemCallFilter, SystemCallErrorNumber
        and RestrictAddressFamilies as a seccomp filter (libseccomp). The
        server takes a message, the real spamassassin (perl) scans it and the
        BBS's tosser files it."""
        if os.geteuid() != 0:
            self.skipTest("the sandbox needs root to be staged")
        try:
            import seccomp   # noqa: F401 (the filter below is loaded by a child)
        except ImportError:
            self.skipTest("python3-seccomp is missing")
        unit = self.settings()
        uid = unused_uid()
        base = tempfile.mkdtemp(prefix="osprine-e2e-", dir="/var/lib")   # PrivateTmp hides /tmp
        self.addCleanup(remove, base)
        os.chmod(base, 0o755)
        saved, tempfile.tempdir = tempfile.tempdir, base   # the installation's paths name where it is
        try:
            root, port = make_bbs()
        finally:
            tempfile.tempdir = saved
        os.chmod(root, 0o755)
        set_settings(root, SpamAssassin=1, SmtpClient=0)
        put_list(root, "relaydb", "")
        write_handle_index(root)
        home = os.path.join(root, "HOME")
        os.makedirs(os.path.join(home, ".spamassassin"))
        with open(os.path.join(home, ".spamassassin", "user_prefs"), "w") as f:
            f.write("dns_available no\nskip_rbl_checks 1\nuse_bayes 0\nuse_razor2 0\nuse_pyzor 0\n")
        for directory, _, names in os.walk(root):
            os.chown(directory, uid, uid)
            for name in names:
                os.chown(os.path.join(directory, name), uid, uid)

        allowed, denied = set(), set()
        for value in unit["SystemCallFilter"]:
            target = denied if value.startswith("~") else allowed
            for word in value.lstrip("~").split():
                target |= self.syscalls(word) if word.startswith("@") else {word}
        families = [int(getattr(socket, name)) for name in unit["RestrictAddressFamilies"][0].split()]
        filter_script = os.path.join(base, "filter.py")
        with open(filter_script, "w") as f:
            f.write("import errno, os, seccomp, sys\n"
                    "f = seccomp.SyscallFilter(defaction=seccomp.ERRNO(errno.%s))\n"
                    "for name in %r:\n"
                    "    try:\n        f.add_rule(seccomp.ALLOW, name)\n    except Exception:\n        pass\n"
                    "for family in %r:\n"
                    "    f.add_rule(seccomp.ALLOW, 'socket', seccomp.Arg(0, seccomp.EQ, family))\n"
                    "f.load()\n"
                    "os.execv(sys.argv[1], sys.argv[1:])\n"
                    % (unit["SystemCallErrorNumber"][0], sorted(allowed - denied - {"socket"}), families))
        self.assertEqual(unit["ProtectSystem"], ["strict"])
        self.assertEqual(unit["ReadWritePaths"], ["%f"])
        self.assertEqual(unit["PrivateTmp"], ["yes"])
        self.assertEqual(unit["NoNewPrivileges"], ["yes"])
        bounding = ",".join("+" + c.lower()[4:] for c in unit["CapabilityBoundingSet"][0].split())
        script = """set -e
mount --bind "$ROOT" "$ROOT"
for m in $(awk '{print $5}' /proc/self/mountinfo | sort -u); do
  case "$m" in /proc|/proc/*|/sys|/sys/*|/dev|/dev/*|"$ROOT") ;; *) mount -o remount,bind,ro "$m" ;; esac
done
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=1777 tmpfs /var/tmp
umask %s
cd "$ROOT"
exec setpriv --reuid=%d --regid=%d --clear-groups --no-new-privs --inh-caps=-all --bounding-set=-all,%s \
  /usr/bin/python3 %s %s
""" % (unit["UMask"][0], uid, uid, bounding, filter_script, os.path.join(BIN, "osprine"))
        self.assertEqual(unit["ExecStart"], ["/usr/bin/osprine"])
        env = dict(os.environ, ROOT=root, HOME=home, OSPRINE_HEADLESS="1")
        server = subprocess.Popen(["unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script],
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

        def stop():
            server.terminate()
            try:
                return server.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                server.kill()
                return server.communicate()
        self.addCleanup(stop)
        if not wait_for(lambda: server.poll() is None and listening(port), 30):
            self.fail("the server did not start: %r" % (stop(),))
        with smtplib.SMTP("127.0.0.1", port, timeout=120) as s:
            self.assertEqual(s.sendmail("alice@remote.example", ["darkstar@bbs.example"],
                                        b"From: alice@remote.example\r\nTo: darkstar@bbs.example\r\n"
                                        b"Subject: Sandboxed\r\n\r\nHello from outside.\r\n"), {})

        def read_mail():
            r = subprocess.run([os.path.join(BIN, "osprine-readmail"), root, "darkstar", "--body"],
                               capture_output=True)
            return r.stdout if r.returncode == 0 else b""
        if not wait_for(lambda: b"Hello from outside." in read_mail(), 60):
            self.fail("the message was not tossed: %r" % (stop(),))
        self.assertIn(b"Spam detection software", read_mail())   # the real scanner's report
        self.assertEqual([n for n in os.listdir(os.path.join(root, "SPOOL", "TMP")) if n.endswith(".D")], [])
        with open(os.path.join(root, "OSPRINE.LOG"), "rb") as f:
            log = f.read()
        self.assertIn(b"SpamAssassin", log)
        status = os.stat(os.path.join(root, "OSPRINE.LOG"))
        self.assertEqual((status.st_uid, stat.S_IMODE(status.st_mode) & 0o007), (uid, 0))


class TerminalBytesTest(SharedMachineTestCase):
    def test_queue_listing_shows_control_bytes_escaped(self):
        with open(self.path("OUTBOUND", "V3.D"), "wb") as f:
            f.write(b"From: writer\x7f@bbs.example\r\nTo: x\x1b]0;owned\x07y\x1b[2J@far.example\rfake\r\n"
                    b"Subject: hi\r\n\r\nbody\r\n")
        r = ctl(self.root, "queue")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b" writer\\x7f@bbs.example -> x\\x1b]0;owned\\x07y\\x1b[2J@far.example\n", r.stdout)
        self.assertFalse(any(b < 32 and b != 10 or b == 127 for b in r.stdout), r.stdout)


if __name__ == "__main__":
    unittest.main()
