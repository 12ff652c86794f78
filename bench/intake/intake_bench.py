"""Runs the intake scenarios against osprine, smtp-sink and aiosmtpd on each
given file system and prints the figures. Usage: intake_bench.py BIN [NOSYNC_BIN] DIR...
NOSYNC_BIN (a directory name ending in "-nosync/bin") holds an osprine built
without syncs, run as "osprine-nosync" to show what durability costs."""
import os
import random
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1]
NOSYNC_BIN = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2].endswith("-nosync/bin") else None
DIRS = sys.argv[3 if NOSYNC_BIN else 2:]
# Directories are removed when every run is over: on a file system that is
# slow to reuse recently freed inodes, a clean-up between runs would slow
# down whichever server runs next.
LEFT_FOR_LATER = []
# Title, messages, bytes each, parallel sessions, whether a session sends
# them all (smtp-source -d) or one message each, as most mail arrives.
SCENARIOS = [("2000 x 4 KB", 2000, 4096, 1, True), ("2000 x 4 KB, 4 sessions", 2000, 4096, 4, True),
             ("500 x 4 KB, one a session", 500, 4096, 4, False),
             ("200 x 256 KB", 200, 256 * 1024, 1, True), ("5 x 8 MB", 5, 8 * 1024 * 1024, 1, True)]
# BENCH_ONLY runs the scenarios whose title holds it ("one a session", say).
SCENARIOS = [s for s in SCENARIOS if os.environ.get("BENCH_ONLY", "") in s[0]]
# The accept gate as it comes (one admission a second): sessions of one
# message each, 4 at a time, this many (each waits its second).
DEFAULT_GATE_SESSIONS = 20
USER = "darkstar"                     # user 4 of the test installation
RECORD = 582

AIOSMTPD_SERVER = r'''
import asyncio, itertools, os, sys
from aiosmtpd.controller import Controller
directory, port = sys.argv[1], int(sys.argv[2])
counter = itertools.count(1)
class OneFilePerMessage:
    # Durable before its 250, as a mail server must be: the file synced,
    # then the directory that holds its name.
    async def handle_DATA(self, server, session, envelope):
        with open(os.path.join(directory, "%d.eml" % next(counter)), "wb") as f:
            f.write(envelope.original_content)
            f.flush()
            os.fsync(f.fileno())
        folder = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
        os.fsync(folder)
        os.close(folder)
        return "250 OK"
controller = Controller(OneFilePerMessage(), hostname="127.0.0.1", port=port, data_size_limit=0)
controller.start()
print("ready", flush=True)
sys.stdin.read()
controller.stop()
'''


def free_port():
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", port))
                return port
            except OSError:
                pass
    sys.exit("no free port")


def listening(port):
    """A listening socket on the port, IPv4 or IPv6 (the server's is dual-stack)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            if any(int(l.split()[1].rsplit(":", 1)[1], 16) == port and l.split()[3] == "0A" for l in f.readlines()[1:]):
                return True
    return False


def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def status_kb(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def smtp_source(port, count, length, sessions, keep=True):
    """`sessions` parallel sessions sending `count` messages in all, each
    session staying connected (`keep`) or ending after its message; returns
    the seconds it took."""
    began = time.monotonic()
    subprocess.run(["smtp-source", *(["-d"] if keep else []), "-s", str(sessions), "-m", str(count), "-l", str(length),
                    "-f", "bench@remote.example", "-t", "%s@bbs.example" % USER, "127.0.0.1:%d" % port],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    return time.monotonic() - began


def accepted_in_log(root):
    with open(os.path.join(root, "OSPRINE.LOG"), "rb") as f:
        log = f.read()
    return log.count(b"  <-- 250 Received data ("), log.count(b"  <-- 451 ")


def mail_in_base(root):
    """Records of the e-mail base addressed to the user."""
    path = os.path.join(root, "MSGS", "EMAIL.DAT")
    if not os.path.exists(path):
        return 0
    with open(path, "rb") as f:
        data = f.read()
    return sum(1 for at in range(0, len(data) - RECORD + 1, RECORD)
               if data[at + 48:at + 88].strip().lower() == USER.encode())


def tosser_done(root):
    tmp = os.path.join(root, "SPOOL", "TMP")
    busy = any(n.upper().startswith("BT") and n.upper().endswith(".FLG") for n in os.listdir(root))
    return not busy and not any(n.upper().endswith(".D") for n in os.listdir(tmp))


class Osprine:
    name = "osprine"
    bin = BIN
    gate = b"acceptrate=0\r\n"

    def __init__(self, base):
        self.root = tempfile.mkdtemp(prefix="osprine-bench-intake-", dir=base)
        self.port = free_port()
        subprocess.run([os.path.join(BIN, "osprine-mkbbs"), self.root, "--port", str(self.port)],
                       check=True, capture_output=True)
        with open(os.path.join(self.root, "OSPRINE.CFG"), "r+b") as f:
            record = bytearray(f.read())
            struct.pack_into("<i", record, 242, 64 * 1024 * 1024)    # MaxMailSize
            struct.pack_into("<h", record, 210, 0)                   # SmtpClient off
            f.seek(0)
            f.write(record)
        with open(os.path.join(self.root, "OSPRDATA.DAT"), "wb") as f:
            # No block-list lookups; sessions admitted as every peer admits
            # them: four from one address (the default allows three), and
            # as many per second as come (the default admits one a second).
            f.write(b"relaydb=\r\nmaxperip=0\r\n" + self.gate)
        with open(os.path.join(self.root, "HANDLES.UIP"), "wb") as f:
            f.write(b"system-daemon,SYSTEM-DAEMON,1,1\r\n%s,4,1,1\r\n" % USER.encode())
        self.proc = subprocess.Popen([os.path.join(self.bin, "osprine")], cwd=self.root,
                                     env=dict(os.environ, OSPRINE_HEADLESS="1"),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: listening(self.port), 15):
            sys.exit("osprine did not start")
        time.sleep(1.2)                  # the accept lock's first second
        self.idle_kb = status_kb(self.proc.pid, "VmRSS")

    def check(self, count):
        saved, refused = accepted_in_log(self.root)
        wait_for(lambda: tosser_done(self.root), 120)
        found = mail_in_base(self.root)
        peak = status_kb(self.proc.pid, "VmHWM") - self.idle_kb
        with open(os.path.join(self.root, "OSPRINE.LOG"), "rb") as f:
            ended = f.read().count(b"  Connection Terminated\r\n")
        return "accepted %d/%d, 451: %d, in the BBS: %d, sessions ended: %d, peak memory +%.1f MB" % (
            saved, count, refused, found, ended, peak / 1024)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        LEFT_FOR_LATER.append(self.root)


class OsprineDefaultGate(Osprine):
    """The accept gate as it comes: one admission a second."""
    name = "osprine-default-gate"
    gate = b""


class OsprineNoSync(Osprine):
    """Today's osprine without its syncs: the price of durability."""
    name = "osprine-nosync"
    bin = NOSYNC_BIN


class SmtpSink:
    name = "smtp-sink"

    def __init__(self, base):
        self.port = free_port()
        run_as = ["-u", "nobody"] if os.geteuid() == 0 else []     # it refuses to run as root
        self.proc = subprocess.Popen(["smtp-sink", *run_as, "127.0.0.1:%d" % self.port, "100"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: listening(self.port), 10)

    def check(self, count):
        return ""

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class Aiosmtpd:
    name = "aiosmtpd+fsync"

    def __init__(self, base):
        self.dir = tempfile.mkdtemp(prefix="aiosmtpd-bench-", dir=base)
        self.port = free_port()
        self.proc = subprocess.Popen(["/usr/bin/python3", "-c", AIOSMTPD_SERVER, self.dir, str(self.port)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.proc.stdout.readline()

    def check(self, count):
        return "files written: %d" % len(os.listdir(self.dir))

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)
        LEFT_FOR_LATER.append(self.dir)


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
myhostname = bench.example
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
virtual_mailbox_domains = bbs.example
virtual_mailbox_base = {root}/mail
virtual_mailbox_maps = static:box/
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
virtual_mailbox_limit = 0
message_size_limit = 0
maillog_file = {root}/maillog
maillog_file_prefixes = {root}
mynetworks = 127.0.0.0/8
smtpd_recipient_restrictions = permit_mynetworks, reject
"""


class Postfix:
    """A private Postfix instance delivering every message to one maildir."""
    name = "postfix"

    def __init__(self, base):
        self.root = tempfile.mkdtemp(prefix="postfix-bench-", dir=base)
        os.chmod(self.root, 0o755)               # its daemons run as the postfix user
        self.port = free_port()
        for d in ("etc", "spool", "data", "mail"):
            os.makedirs(os.path.join(self.root, d))
        shutil.chown(os.path.join(self.root, "data"), "postfix")
        shutil.chown(os.path.join(self.root, "mail"), "nobody", "nogroup")
        with open(os.path.join(self.root, "etc", "main.cf"), "w") as f:
            f.write(POSTFIX_MAIN_CF.format(root=self.root))
        with open("/etc/postfix/master.cf") as f:
            master = f.read().splitlines()
        out = []
        for line in master:
            fields = line.split()
            if len(fields) >= 8 and fields[0] == "smtp" and fields[1] == "inet":
                line = "127.0.0.1:%d inet n - n - - smtpd" % self.port
            elif len(fields) >= 8 and fields[1] in ("unix", "unix-dgram") and fields[4] == "y":
                fields[4] = "n"                  # no chroot: the instance lives in a temporary directory
                line = " ".join(fields)
            out.append(line)
        with open(os.path.join(self.root, "etc", "master.cf"), "w") as f:
            f.write("\n".join(out) + "\n")
        started = subprocess.run(["postfix", "-c", os.path.join(self.root, "etc"), "start"], capture_output=True)
        if started.returncode != 0:
            sys.exit("postfix did not start: " + started.stderr.decode(errors="replace"))
        wait_for(lambda: listening(self.port), 20)

    def delivered(self):
        new = os.path.join(self.root, "mail", "box", "new")
        return len(os.listdir(new)) if os.path.isdir(new) else 0

    def check(self, count):
        wait_for(lambda: self.delivered() >= count, 120)
        return "delivered to the maildir: %d" % self.delivered()

    def stop(self):
        subprocess.run(["postfix", "-c", os.path.join(self.root, "etc"), "stop"], capture_output=True)
        LEFT_FOR_LATER.append(self.root)


def peers():
    """The reference servers; Postfix's master has to start as root."""
    kinds = [SmtpSink, Aiosmtpd]
    if os.geteuid() == 0 and shutil.which("postfix"):
        kinds.append(Postfix)
    return kinds


ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))


def run_once(kind, base, count, length, sessions, keep=True):
    server = kind(base)
    try:
        seconds = smtp_source(server.port, count, length, sessions, keep)
        note = server.check(count)
    finally:
        server.stop()
    return count / seconds, note


def run_on(base):
    """Each scenario runs in rounds, the servers' order turned by one each
    round: whoever runs after another's burst of file deletions finds the
    file system slower to create files, and the machine's pace drifts."""
    print("--- storage on %s (%d rounds; ratios of the medians)" % (base, ROUNDS))
    for title, count, length, sessions, keep in SCENARIOS:
        kinds = peers() + [Osprine] + ([OsprineNoSync] if NOSYNC_BIN else [])
        rates = {kind.name: [] for kind in kinds}
        for round_number in range(ROUNDS):
            order = kinds[round_number % len(kinds):] + kinds[:round_number % len(kinds)]
            for kind in order:
                rate, note = run_once(kind, base, count, length, sessions, keep)
                rates[kind.name].append(rate)
                print("%-24s %-14s %8.0f msg/s %8.1f MB/s  %s" % (title, kind.name, rate,
                                                                 rate * length / 1e6, note), flush=True)
        median = {name: sorted(r)[len(r) // 2] for name, r in rates.items()}
        print("%-24s median:   %s" % (title, ", ".join("%s %.0f msg/s %.1f MB/s" % (name, rate, rate * length / 1e6)
                                                         for name, rate in median.items())))
        ratios = ", ".join("osprine/%s %.2f" % (peer, median["osprine"] / rate)
                           for peer, rate in median.items() if peer != "osprine")
        print("%-24s %s" % (title, ratios), flush=True)
        if not keep:
            rate, note = run_once(OsprineDefaultGate, base, DEFAULT_GATE_SESSIONS, length, sessions, keep)
            print("%-24s %-14s %8.1f msg/s  (%d sessions, the default accept gate)  %s" % (
                title, OsprineDefaultGate.name, rate, DEFAULT_GATE_SESSIONS, note), flush=True)


def clean_up():
    while LEFT_FOR_LATER:
        shutil.rmtree(LEFT_FOR_LATER.pop(), ignore_errors=True)


print("osprine runs with maxperip=0 and acceptrate=0: no limit of sessions per address or of admissions "
      "per second, as the peers run")
try:
    for base in DIRS:
        run_on(base)
        clean_up()
finally:
    clean_up()
