#!/usr/bin/python3
"""A real upstream SMTP server (aiosmtpd) for the outbound client's tests.

It listens on 127.0.0.1 (or --host), prints "PORT <n>" once it accepts connections,
answers as a JSON script says, and appends every line it reads (commands,
AUTH answers and the message data as sent, transparency dots included) and
every accepted message to a record file, one JSON object per line.

Script keys (all optional): "EHLO", "HELO", "MAIL", "RCPT", "DATA" and
"DATA_END" give the replies to those commands, either one reply for every
use or a list used in turn (null = the normal reply); "auth" = {"user",
"password", "failure"} offers AUTH LOGIN and accepts that pair, answering
other pairs with "failure" (default: aiosmtpd's own 535), offering LOGIN
only unless "auth_exclude" names other mechanisms to leave out; "tls" =
{"cert", "key", "implicit"} serves TLS from the first byte (implicit) or
offers STARTTLS and requires it before MAIL and AUTH; "silent" = true
accepts connections and never says anything.
"""
import argparse
import asyncio
import base64
import json
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, path):
        self.file = open(path, "a", encoding="ascii")
        self.connections = 0

    def write(self, **entry):
        self.file.write(json.dumps(entry) + "\n")
        self.file.flush()

    def line(self, conn, data):
        self.write(conn=conn, kind="line", data=base64.b64encode(bytes(data)).decode())


class Script:
    def __init__(self, config):
        self.config = config

    def reply(self, command):
        value = self.config.get(command)
        if isinstance(value, list):
            return value.pop(0) if value else None
        return value


class Handler:
    def __init__(self, script, recorder):
        self.script = script
        self.recorder = recorder

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        scripted = self.script.reply("EHLO")
        if scripted:
            return [scripted]
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        scripted = self.script.reply("HELO")
        if scripted:
            return scripted
        session.host_name = hostname
        return "250 upstream.test"

    async def handle_MAIL(self, server, session, envelope, address, options):
        scripted = self.script.reply("MAIL")
        if scripted:
            return scripted
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        scripted = self.script.reply("RCPT")
        if scripted:
            return scripted
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        scripted = self.script.reply("DATA_END")
        if scripted:
            return scripted
        self.recorder.write(kind="message", conn=server.conn, mail_from=envelope.mail_from,
                            rcpt_tos=envelope.rcpt_tos,
                            content=base64.b64encode(envelope.original_content).decode())
        return "250 Message accepted for delivery"


class RecordingSMTP(SMTP):
    """aiosmtpd's server, with every line it reads written to the record."""

    def __init__(self, handler, script, recorder, **kwargs):
        super().__init__(handler, loop=asyncio.get_running_loop(), **kwargs)
        self.script = script
        self.recorder = recorder
        recorder.connections += 1
        self.conn = recorder.connections

    def _client_connected_cb(self, reader, writer):
        super()._client_connected_cb(reader, writer)
        self._record_reads(self.recorder)

    # Every line goes through readuntil (readline uses it too).
    def _record_reads(self, recorder):
        original = self._reader.readuntil

        async def reading(*args, **kwargs):
            data = await original(*args, **kwargs)
            if data:
                recorder.line(self.conn, data)
            return data

        self._reader.readuntil = reading

    async def smtp_DATA(self, arg):
        scripted = self.script.reply("DATA")
        if scripted:
            await self.push(scripted)
            return
        await super().smtp_DATA(arg)


def make_authenticator(auth):
    def authenticate(server, session, envelope, mechanism, data):
        if isinstance(data, LoginPassword) and data.login.decode() == auth["user"] \
                and data.password.decode() == auth["password"]:
            return AuthResult(success=True)
        return AuthResult(success=False, handled=False, message=auth.get("failure"))
    return authenticate


async def silent_client(reader, writer, recorder):
    recorder.connections += 1
    conn = recorder.connections
    while True:
        data = await reader.readline()
        if not data:
            break
        recorder.line(conn, data)
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--record", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    with open(args.config, encoding="ascii") as f:
        config = json.load(f)
    recorder = Recorder(args.record)
    script = Script(config)
    loop = asyncio.get_running_loop()

    tls = config.get("tls")
    context = None
    if tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(tls["cert"], tls["key"])
    implicit = bool(tls and tls.get("implicit"))

    if config.get("silent"):
        server = await asyncio.start_server(lambda r, w: silent_client(r, w, recorder), args.host, args.port)
    else:
        kwargs = {"hostname": "upstream.test", "ident": "upstream ESMTP"}
        if "auth" in config:
            # Over STARTTLS aiosmtpd offers AUTH only once TLS is on; implicit
            # TLS is on from the start, which aiosmtpd cannot see.
            kwargs.update(authenticator=make_authenticator(config["auth"]),
                          auth_require_tls=bool(tls) and not implicit,
                          auth_exclude_mechanism=config["auth"].get("auth_exclude", ["PLAIN"]))
        if tls and not implicit:
            kwargs.update(tls_context=context, require_starttls=True)
        handler = Handler(script, recorder)
        server = await loop.create_server(lambda: RecordingSMTP(handler, script, recorder, **kwargs),
                                          args.host, args.port, ssl=context if implicit else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
