#!/usr/bin/python3
"""A scripted POP3 server for the POP3-before-SMTP log-in: it greets,
answers "+OK" to every line, closes after QUIT, and appends every line it
reads to a record file. Prints "PORT <n>" once it accepts connections."""
import argparse
import asyncio


async def serve(reader, writer, record):
    writer.write(b"+OK POP3 ready\r\n")
    await writer.drain()
    while True:
        line = await reader.readline()
        if not line:
            break
        with open(record, "ab") as f:
            f.write(line)
        if line.upper().startswith(b"QUIT"):
            writer.write(b"+OK bye\r\n")
            await writer.drain()
            break
        writer.write(b"+OK\r\n")
        await writer.drain()
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    args = parser.parse_args()
    server = await asyncio.start_server(lambda r, w: serve(r, w, args.record), "127.0.0.1", 0)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
