"""The cost of sender authentication at the intake: 4 KB messages in one
session (smtp-source), as in the intake benchmark, against osprine with
"authcheck" = 0 and = 1, the answers coming from a local dnsmasq that
publishes the sender's SPF and DMARC records (cached: each run starts with a
warm-up). The tosser is held back, so that its pace on a busy machine does
not decide: 900 messages per run fit the spool's 1000 names. Prints
messages/s, the cost per message and the loss. Usage: auth_cost.py BIN"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1]
COUNT, LENGTH, ROUNDS = 900, 4096, int(os.environ.get("BENCH_ROUNDS", "3"))
USER = "darkstar"


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1] % 12000 + 20000


def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def cpu_seconds(pid):
    """User and system time the process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def start_dns():
    port = free_udp_port()
    proc = subprocess.Popen(["/usr/sbin/dnsmasq", "--no-daemon", "--keep-in-foreground", "--port=%d" % port,
                             "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
                             "--conf-file=/dev/null", "--pid-file=", "--local-ttl=3600", "--neg-ttl=3600",
                             "--txt-record=remote.example,v=spf1 ip4:127.0.0.0/8 -all",
                             "--txt-record=_dmarc.remote.example,v=DMARC1; p=reject",
                             "--local=/remote.example/"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    return proc, port


def run(authcheck, dns_port, base):
    root = tempfile.mkdtemp(prefix="osprine-bench-auth-", dir=base)
    port = free_tcp_port()
    subprocess.run([os.path.join(BIN, "osprine-mkbbs"), root, "--port", str(port), "--authcheck", "0"],
                   check=True, capture_output=True)
    with open(os.path.join(root, "OSPRINE.CFG"), "r+b") as f:
        record = bytearray(f.read())
        struct.pack_into("<h", record, 210, 0)   # SmtpClient off
        f.seek(0)
        f.write(record)
    with open(os.path.join(root, "OSPRDATA.DAT"), "wb") as f:
        f.write(b"relaydb=\r\nmaxperip=0\r\nacceptrate=0\r\nauthcheck=%d\r\n" % authcheck)
    open(os.path.join(root, "BTHOLD.FLG"), "wb").close()   # the tosser waits
    with open(os.path.join(root, "HANDLES.UIP"), "wb") as f:
        f.write(b"system-daemon,SYSTEM-DAEMON,1,1\r\n%s,4,1,1\r\n" % USER.encode())
    proc = subprocess.Popen([os.path.join(BIN, "osprine")], cwd=root,
                            env=dict(os.environ, OSPRINE_HEADLESS="1", OSPRINE_NAMESERVERS="127.0.0.1:%d" % dns_port),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not wait_for(lambda: listening(port), 15):
            sys.exit("osprine did not start")
        source = ["smtp-source", "-d", "-s", "1", "-l", str(LENGTH), "-f", "bench@remote.example",
                  "-t", "%s@bbs.example" % USER, "127.0.0.1:%d" % port]
        subprocess.run(source[:1] + ["-m", "40"] + source[1:], check=True, stdout=subprocess.DEVNULL)   # warm-up
        began, cpu = time.monotonic(), cpu_seconds(proc.pid)
        sent = subprocess.run(source[:1] + ["-m", str(COUNT)] + source[1:], stdout=subprocess.DEVNULL)
        seconds, cpu = time.monotonic() - began, cpu_seconds(proc.pid) - cpu
        if sent.returncode != 0:
            errors = os.path.join(root, "ZRVERROR.LOG")
            sys.exit("smtp-source failed; ZRVERROR.LOG: %s" % (open(errors, errors="replace").read()[-2000:]
                                                               if os.path.exists(errors) else "none"))
        with open(os.path.join(root, "OSPRINE.LOG"), "rb") as f:
            log = f.read()
        if log.count(b"250 Received data") < COUNT:
            sys.exit("not every message was accepted")
        return COUNT / seconds, cpu / COUNT
    finally:
        proc.terminate()
        proc.wait(30)
        subprocess.run(["rm", "-rf", root])


def main():
    dns, dns_port = start_dns()
    base = os.environ.get("BENCH_DIR", "/dev/shm")
    rates, cpus = {0: [], 1: []}, {0: [], 1: []}
    try:
        for round_number in range(ROUNDS):
            for authcheck in ((0, 1) if round_number % 2 == 0 else (1, 0)):
                rate, cpu = run(authcheck, dns_port, base)
                rates[authcheck].append(rate)
                cpus[authcheck].append(cpu)
                print("4 KB x %d, one session, authcheck=%d: %8.0f msg/s, server CPU %4.0f us/msg" %
                      (COUNT, authcheck, rate, cpu * 1e6), flush=True)
    finally:
        dns.terminate()
        dns.wait(5)
    median = lambda values: sorted(values)[ROUNDS // 2]
    off, on = median(rates[0]), median(rates[1])
    cpu_off, cpu_on = median(cpus[0]), median(cpus[1])
    print("median: authcheck=0 %.0f msg/s (server CPU %.0f us/msg), authcheck=1 %.0f msg/s (server CPU %.0f us/msg)" %
          (off, cpu_off * 1e6, on, cpu_on * 1e6))
    print("sender authentication costs %.0f us of server CPU per message; one-session throughput %+.1f%% "
          "(target: a loss of at most 10%%)" % ((cpu_on - cpu_off) * 1e6, 100 * (on / off - 1)))


main()
