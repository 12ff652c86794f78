"""The soak's load client and upstream server.

Drives a running osprine on 127.0.0.1:PORT for a bounded time with a mix of
sessions (normal mail, aborts in the middle of DATA, idle clients, garbage,
lines without line ends, oversized messages, many recipients, connection
floods from one address, clients that trickle a byte at a time, file-request
storms), each kind from addresses of its own in 127.0.0.0/8, while an upstream SMTP server (aiosmtpd) takes the outbound queue
and by turns refuses, stalls and drops. Prints what was sent and accepted.
Writes the tokens of the accepted messages (token and number of accepted
recipients, one pair a line) to the file given with --accepted.
"""
import argparse
import asyncio
import os
import random
import socket
import threading
import time

from aiosmtpd.controller import Controller

LOCAL_USERS = ["john.smith", "mary.jones", "darkstar", "bob", "carol.white", "night.owl", "frank.miller",
               "gina.brown"] + ["user.%d" % n for n in range(15, 215)]
DOMAIN = "bbs.example"


class Conversation:
    """One SMTP client connection on a raw socket: any bytes may be sent."""

    def __init__(self, port, timeout=30, source=None):
        # Real senders come from many addresses; each attack from one of its own.
        source = source or "127.0.1.%d" % random.randint(1, 250)
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0))
        self.buffer = b""

    def reply(self):
        """The next complete reply (the last line of a multi-line one)."""
        while True:
            while b"\r\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\r\n", 1)
                if len(line) < 4 or line[3:4] != b"-":
                    return line
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("closed by the server")
            self.buffer += data

    def command(self, line):
        self.sock.sendall(line + b"\r\n")
        return self.reply()

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Load:
    def __init__(self, port, max_mail):
        self.port, self.max_mail = port, max_mail
        self.lock = threading.Lock()
        self.counts = {}
        self.accepted = {}       # token -> accepted recipients
        self.sent = 0
        self.serial = 0
        self.errors = {}
        self.greeting_waits = []   # seconds from connecting to the 220 of real senders

    def count(self, what, n=1):
        with self.lock:
            self.counts[what] = self.counts.get(what, 0) + n

    def token(self):
        with self.lock:
            self.serial += 1
            return "S%06d" % self.serial

    def body(self, token, size):
        line = ("%s soak line " % token).encode() + b"x" * 58 + b"\r\n"
        lines = max(1, size // len(line))
        return (b"BEGIN-" + token.encode() + b"\r\n" + line * lines + b".leading dot\r\n" +
                b"END-" + token.encode() + b"\r\n")

    def message(self, token, recipients, size):
        head = ("From: Soak <soak@remote.example>\r\nTo: %s\r\nSubject: soak %s\r\n"
                "Message-ID: <%s@remote.example>\r\n\r\n" % (recipients[0], token, token)).encode()
        text = head + self.body(token, size)
        return text.replace(b"\r\n.", b"\r\n..")

    def transaction(self, c, recipients, size, abort=False):
        token = self.token()
        if not c.command(b"MAIL FROM:<soak@remote.example>").startswith(b"250"):
            return
        ok = [r for r in recipients if c.command(b"RCPT TO:<%s>" % r.encode()).startswith(b"250")]
        if not ok:
            c.command(b"RSET")
            return
        if not c.command(b"DATA").startswith(b"354"):
            return
        text = self.message(token, ok, size)
        with self.lock:
            self.sent += 1
        if abort:
            c.sock.sendall(text[: len(text) // 2])
            raise ConnectionAbortedError
        c.sock.sendall(text + b".\r\n")
        reply = c.reply()
        if reply.startswith(b"250") and b"not saved" not in reply:
            with self.lock:
                self.accepted[token] = len(set(ok))
            self.count("accepted")

    def greeted(self):
        began = time.monotonic()
        c = Conversation(self.port)
        if not c.reply().startswith(b"220"):
            raise ConnectionError("no greeting")
        with self.lock:
            self.greeting_waits.append(time.monotonic() - began)
        c.command(b"EHLO soak.example")
        return c

    # The kinds of session and how often each is chosen.
    def normal(self):
        c = self.greeted()
        for _ in range(random.randint(1, 8)):
            rcpts = ["%s@%s" % (u, DOMAIN) for u in random.sample(LOCAL_USERS, random.randint(1, 3))]
            self.transaction(c, rcpts, random.choice([300, 2000, 8000, 30000]))
        c.command(b"QUIT")
        c.close()

    def abort_data(self):
        c = self.greeted()
        try:
            self.transaction(c, ["%s@%s" % (random.choice(LOCAL_USERS), DOMAIN)], 20000, abort=True)
        except ConnectionAbortedError:
            pass
        c.close()

    def idle(self):
        c = Conversation(self.port, timeout=200)
        c.reply()
        # Waits for the server's idle time-out to end the session.
        try:
            while c.sock.recv(4096):
                pass
        except OSError:
            pass
        c.close()

    def garbage(self):
        c = Conversation(self.port)
        c.reply()
        c.sock.sendall(os.urandom(random.randint(1, 20000)) + b"\r\nQUIT\r\n")
        c.close()

    def no_line_end(self):
        c = Conversation(self.port)
        c.reply()
        try:
            c.sock.sendall(b"HELO " + b"y" * 100000)
            c.reply()
        except OSError:
            pass
        c.close()

    def oversized(self):
        c = self.greeted()
        self.transaction(c, ["%s@%s" % (random.choice(LOCAL_USERS), DOMAIN)], self.max_mail + 50000)
        c.command(b"QUIT")
        c.close()

    def many_rcpts(self):
        c = self.greeted()
        self.transaction(c, ["%s@%s" % (u, DOMAIN) for u in random.sample(LOCAL_USERS, 120)], 1000)
        c.command(b"QUIT")
        c.close()

    def flood(self):
        conns = []
        try:
            for _ in range(40):
                try:
                    conns.append(socket.create_connection(("127.0.0.1", self.port), timeout=5,
                                                          source_address=("127.0.0.3", 0)))
                except OSError:
                    self.count("flood refused")
            for s in conns:
                try:
                    if s.recv(256).startswith(b"421 Too many connections from your address."):
                        self.count("flood 421 per address")
                except OSError:
                    pass
        finally:
            for s in conns:
                s.close()

    def trickle(self):
        """A byte every few seconds, never a whole line: it holds a slot
        only until its idle time-out."""
        c = Conversation(self.port, timeout=200, source="127.0.0.2")
        try:
            c.reply()
            while True:
                c.sock.sendall(b"N")
                time.sleep(5)
        except OSError:
            pass
        c.close()

    def freq_storm(self):
        """A file request whose recipients are one address in many spellings."""
        c = self.greeted()
        c.command(b"MAIL FROM:<soak@remote.example>")
        for i in range(100):
            c.command(b"RCPT TO:<SYSOP**F@%s%s>" % (b" " * i, DOMAIN.encode()))
        if c.command(b"DATA").startswith(b"354"):
            c.sock.sendall(b"From: victim@far.example\r\nSubject: NOSUCH.ZIP\r\n\r\nplease\r\n.\r\n")
            c.reply()
        c.command(b"QUIT")
        c.close()

    KINDS = [("normal", 70), ("abort_data", 5), ("idle", 2), ("garbage", 5), ("no_line_end", 4),
             ("oversized", 4), ("many_rcpts", 5), ("flood", 2), ("trickle", 2), ("freq_storm", 2)]

    def worker(self, deadline, max_sessions):
        names = [k for k, _ in self.KINDS]
        weights = [w for _, w in self.KINDS]
        while time.monotonic() < deadline:
            with self.lock:
                if sum(v for k, v in self.counts.items() if k.startswith("session ")) >= max_sessions:
                    return
            kind = random.choices(names, weights)[0]
            self.count("session " + kind)
            try:
                getattr(self, kind)()
            except (OSError, ConnectionError) as e:
                with self.lock:
                    key = "%s: %s" % (kind, type(e).__name__)
                    self.errors[key] = self.errors.get(key, 0) + 1


class Upstream:
    """Takes the outbound queue: refuses, stalls or drops by the message's
    token, accepts the rest."""

    def __init__(self, port):
        self.received = []
        self.behaviour = {}
        self.port = port
        self.controller = Controller(self, hostname="127.0.0.1", port=port)
        self.controller.start()

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.startswith("refuse"):
            return "550 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        to = envelope.rcpt_tos[0]
        if to.startswith("stall"):
            await asyncio.sleep(15)
        if to.startswith("drop") and session.peer not in self.behaviour:
            self.behaviour[session.peer] = "dropped"
            server.transport.close()
            return "421 closing"
        self.received.append(envelope.content)
        return "250 OK"

    def close(self):
        self.controller.stop()


def queue_outbound(queue_dir, serial):
    """Queues a few messages as the BBS's Internet export leaves them."""
    kinds = ["ok", "ok", "refuse", "stall", "drop"]
    written = []
    for i, kind in enumerate(kinds):
        token = "O%04d%d" % (serial, i)
        text = ("From: John Smith <john.smith@%s>\r\nTo: %s%s@elsewhere.example\r\nSubject: out %s\r\n\r\n"
                "BEGIN-%s\r\nbody\r\nEND-%s\r\n" % (DOMAIN, kind, token, token, token, token)).encode()
        path = os.path.join(queue_dir, "V%d.D" % (90000 + serial * 10 + i))
        with open(path + ".tmp", "wb") as f:
            f.write(text)
        os.rename(path + ".tmp", path)
        written.append((token, kind))
    return written


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--seconds", type=int, default=120)
    parser.add_argument("--max-sessions", type=int, default=100000)
    parser.add_argument("--workers", type=int, default=6)
    parser.add_argument("--max-mail", type=int, required=True)
    parser.add_argument("--queue", required=True)
    parser.add_argument("--accepted", required=True, help="also FILE.verdict: whether real senders got in")
    parser.add_argument("--upstream-port", type=int, required=True)
    parser.add_argument("--greeting-limit", type=float, default=5.0,
                        help="the real senders' median wait for the greeting must stay under this (seconds)")
    args = parser.parse_args()

    upstream = Upstream(args.upstream_port)

    load = Load(args.port, args.max_mail)
    deadline = time.monotonic() + args.seconds
    workers = [threading.Thread(target=load.worker, args=(deadline, args.max_sessions), daemon=True)
               for _ in range(args.workers)]
    for w in workers:
        w.start()
    queued, serial = [], 0
    while any(w.is_alive() for w in workers):
        if time.monotonic() < deadline - 30 and serial < 50:
            queued += queue_outbound(args.queue, serial)
            serial += 1
        for w in workers:
            w.join(timeout=20)
    for w in workers:
        w.join(timeout=250)   # an idle client waits for the server's time-out

    with open(args.accepted, "w") as f:
        for token, n in sorted(load.accepted.items()):
            f.write("%s %d\n" % (token, n))
    sessions = sum(v for k, v in load.counts.items() if k.startswith("session "))
    print("sessions run:        %d (%s)" % (sessions, ", ".join(
        "%s %d" % (k[8:], v) for k, v in sorted(load.counts.items()) if k.startswith("session "))))
    print("messages sent:       %d" % load.sent)
    print("messages accepted:   %d (%d copies for BBS users)" % (len(load.accepted), sum(load.accepted.values())))
    print("client-side errors:  %s" % (", ".join("%s %d" % kv for kv in sorted(load.errors.items())) or "none"))
    print("outbound queued:     %d (refused, stalled and dropped by turns)" % len(queued))
    print("outbound delivered:  %d" % len(upstream.received))
    print("floods refused per address: %d connection(s)" % load.counts.get("flood 421 per address", 0))
    waits = sorted(load.greeting_waits)
    median = waits[len(waits) // 2] if waits else 0.0
    print("real senders' greeting: median %.2f s, slowest %.2f s (%d sessions)"
          % (median, waits[-1] if waits else 0.0, len(waits)))
    upstream.close()
    # A real sender must get in while the server is under attack.
    with open(args.accepted + ".verdict", "w") as f:
        f.write("ok\n" if median < args.greeting_limit else
                "greeting median %.2f s, not under %g s\n" % (median, args.greeting_limit))
    with open(args.accepted + ".median", "w") as f:
        f.write("%.2f s (slowest %.2f s)\n" % (median, waits[-1] if waits else 0.0))


if __name__ == "__main__":
    main()
