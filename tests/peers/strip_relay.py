#!/usr/bin/python3
"""A relay on 127.0.0.1 that hides a mail server's encryption, for tests.

It listens on a free port (printing "READY <port>" on stdout) and passes every
connection on to 127.0.0.1:--target. The first --honest connections pass
through untouched in both directions, TLS included. On every later one it
does what something on the network path could do:
  smtp  removes STARTTLS from the EHLO reply, and adds "AUTH LOGIN PLAIN" when
        the reply offered no AUTH, so that the client sees a server that takes
        a password in clear;
  pop3  removes STLS from the CAPA reply.
When a connection ends, one JSON line is appended to the --record file:
  {"number": n, "stripped": bool, "client": every byte the client sent}
with bytes as code points 0-255 (Latin-1).
"""
import argparse
import asyncio
import itertools
import json
import signal
import sys


def latin1(data):
    return bytes(data).decode("latin-1")


class Relay:
    def __init__(self, args):
        self.args = args
        self.numbers = itertools.count(1)

    async def connection(self, client_reader, client_writer):
        number = next(self.numbers)
        stripped = number > self.args.honest
        sent = bytearray()
        try:
            server_reader, server_writer = await asyncio.open_connection(
                "127.0.0.1", self.args.target)
        except OSError:
            client_writer.close()
            return

        async def upstream():
            while True:
                data = await client_reader.read(65536)
                if not data:
                    break
                sent.extend(data)
                server_writer.write(data)
                await server_writer.drain()
            server_writer.close()

        async def downstream():
            if stripped:
                await self.rewrite(server_reader, client_writer)
            else:
                while True:
                    data = await server_reader.read(65536)
                    if not data:
                        break
                    client_writer.write(data)
                    await client_writer.drain()
            client_writer.close()

        tasks = [asyncio.ensure_future(upstream()), asyncio.ensure_future(downstream())]
        try:
            await asyncio.wait(tasks, return_when=asyncio.FIRST_COMPLETED)
        finally:
            for task in tasks:
                task.cancel()
            for writer in (client_writer, server_writer):
                writer.close()
            with open(self.args.record, "a", encoding="ascii") as f:
                f.write(json.dumps({"number": number, "stripped": stripped,
                                    "client": latin1(sent)}) + "\n")

    async def rewrite(self, reader, writer):
        """Passes the server's lines on, without the offer of encryption."""
        pending = []  # the lines of a multi-line SMTP reply so far
        while True:
            line = await reader.readline()
            if not line:
                return
            if self.args.protocol == "pop3":
                if line.strip().upper() != b"STLS":
                    writer.write(line)
                    await writer.drain()
                continue
            if line[:4] == b"250-":
                pending.append(line)
                continue
            if pending:
                lines = pending + [line]
                pending = []
                words = [l[4:].strip().upper() for l in lines]
                kept = [l[4:] for l, w in zip(lines, words) if w != b"STARTTLS"]
                if not any(w.startswith(b"AUTH") for w in words):
                    kept.append(b"AUTH LOGIN PLAIN\r\n")
                for i, text in enumerate(kept):
                    writer.write((b"250 " if i == len(kept) - 1 else b"250-") + text)
            else:
                writer.write(line)
            await writer.drain()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--protocol", choices=["smtp", "pop3"], required=True)
    parser.add_argument("--honest", type=int, default=0)
    parser.add_argument("--record", required=True)
    args = parser.parse_args()

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    relay = Relay(args)
    server = loop.run_until_complete(
        asyncio.start_server(relay.connection, host="127.0.0.1", port=0))
    port = server.sockets[0].getsockname()[1]
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    print("READY %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
