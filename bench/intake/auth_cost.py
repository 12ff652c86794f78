"""The cost of sender authentication at the intake: the 4 KB scenario of the
intake benchmark (2,000 messages in one session, smtp-source) against osprine
with "authcheck" = 0 and = 1, the answers coming from a local dnsmasq that
publishes the sender's SPF and DMARC records (cached: the rounds run with
warm caches after a warm-up). Prints messages/s, the cost per message and the
loss. Usage: auth_cost.py BIN"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
BIN = sys.argv[1]
COUNT, LENGTH, ROUNDS = 2000, 4096, int(os.environ.get("BENCH_ROUNDS", "3"))
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
        subprocess.run(source[:1] + ["-m", "50"] + source[1:], check=True, stdout=subprocess.DEVNULL)   # warm-up
        began = time.monotonic()
        subprocess.run(source[:1] + ["-m", str(COUNT)] + source[1:], check=True, stdout=subprocess.DEVNULL)
        seconds = time.monotonic() - began
        with open(os.path.join(root, "OSPRINE.LOG"), "rb") as f:
            log = f.read()
        annotated = log.count(b"Received data") if authcheck else 0
        return COUNT / seconds, annotated
    finally:
        proc.terminate()
        proc.wait(30)
        subprocess.run(["rm", "-rf", root])


def main():
    dns, dns_port = start_dns()
    base = os.environ.get("BENCH_DIR", "/dev/shm")
    rates = {0: [], 1: []}
    try:
        for round_number in range(ROUNDS):
            for authcheck in ((0, 1) if round_number % 2 == 0 else (1, 0)):
                rate, _ = run(authcheck, dns_port, base)
                rates[authcheck].append(rate)
                print("4 KB x %d, authcheck=%d: %8.0f msg/s" % (COUNT, authcheck, rate), flush=True)
    finally:
        dns.terminate()
        dns.wait(5)
    off = sorted(rates[0])[ROUNDS // 2]
    on = sorted(rates[1])[ROUNDS // 2]
    print("median: authcheck=0 %.0f msg/s (%.0f us/msg), authcheck=1 %.0f msg/s (%.0f us/msg)" %
          (off, 1e6 / off, on, 1e6 / on))
    print("sender authentication costs %.0f us per message, %.1f%% of one-session throughput (target: at most 10%%)" %
          (1e6 / on - 1e6 / off, 100 * (1 - on / off)))


main()
