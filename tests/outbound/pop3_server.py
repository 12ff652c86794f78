#!/usr/bin/python3
"""A scripted POP3 server for the POP3-before-SMTP log-in: it greets, answers
CAPA with its capabilities, USER with "+OK", PASS with "+OK" or, when
--password is given and differs, "-ERR", closes after QUIT, and appends every
line it reads to a record file. With --cert/--key it serves TLS from the
first byte (--implicit) or offers STLS. Prints "PORT <n>" once it accepts
connections."""
import argparse
import asyncio
import ssl


async def serve(reader, writer, args, context):
    def record(line):
        with open(args.record, "ab") as f:
            f.write(line)

    async def say(text):
        writer.write(text.encode() + b"\r\n")
        await writer.drain()

    await say("+OK POP3 ready")
    while True:
        line = await reader.readline()
        if not line:
            break
        record(line)
        word = line.split(b" ", 1)[0].strip().upper()
        if word == b"QUIT":
            await say("+OK bye")
            break
        if word == b"CAPA":
            offers_stls = context is not None and not args.implicit and writer.get_extra_info("sslcontext") is None
            await say("+OK capabilities follow\r\nUSER" + ("\r\nSTLS" if offers_stls else "") + "\r\n.")
        elif word == b"STLS" and context is not None:
            await say("+OK begin TLS")
            await writer.start_tls(context)
        elif word == b"PASS" and args.password is not None and line[5:].rstrip(b"\r\n").decode() != args.password:
            await say("-ERR [AUTH] invalid password")
        else:
            await say("+OK")
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--password")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--implicit", action="store_true")
    args = parser.parse_args()
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    server = await asyncio.start_server(lambda r, w: serve(r, w, args, context), "127.0.0.1", 0,
                                        ssl=context if args.implicit else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
