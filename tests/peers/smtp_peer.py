#!/usr/bin/python3
"""A recording SMTP server for tests (aiosmtpd).

Listens on 127.0.0.1 (port 0: a free port chosen by the system) in one of
four ways: plain, implicit TLS from the first byte, STARTTLS with AUTH
offered only after the upgrade, or STARTTLS offered with AUTH allowed before
it (starttls-optional). When it listens it prints the line
"READY <port>" on stdout.

Every connection is recorded as one JSON line appended to the --record file
when the client sends QUIT (before the 221 reply goes out, so a client that has
read 221 finds its session recorded) or, when the connection ends without
QUIT, when it is lost. A record holds:
  implicit_tls  bool
  commands      every line the client sent outside DATA content, in order:
                {"line": text without CR LF, "tls": whether TLS was on}
                (AUTH LOGIN's Base64 answers are lines of their own)
  auth          every authentication attempt: mechanism, login, password
                (decoded) and whether it was accepted
  refused       RCPT addresses refused by --refuse
  mails         every accepted mail: from, rcpt (in order), data (the content
                as the server keeps it, dot-stuffing removed) and wire (the
                DATA lines as they arrived, up to and including the end line)
With --drop-data-after N the server drops the connection (a reset) once N
bytes of DATA content arrived; with --delay-end-of-data MS it waits MS
milliseconds before it answers the final dot. With --close-after N a
connection that has carried N mails is closed without a reply when the next
MAIL FROM arrives; with --busy-after N that MAIL FROM is answered
"421 4.7.0 Too many mails on one connection" before the close. --pipelining
announces PIPELINING in the EHLO reply.
Byte strings travel as JSON strings of code points 0-255 (Latin-1).
"""
import argparse
import asyncio
import json
import signal
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


def latin1(data):
    return bytes(data).decode("latin-1")


class Recorder:
    def __init__(self, path):
        self.path = path

    def write(self, record):
        with open(self.path, "a", encoding="ascii") as f:
            f.write(json.dumps(record, ensure_ascii=True) + "\n")


class Handler:
    def __init__(self, refuse, delay_end_of_data, pipelining):
        self.refuse = {a.lower() for a in refuse}
        self.delay_end_of_data = delay_end_of_data
        self.pipelining = pipelining

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refuse:
            server.record["refused"].append(address)
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.delay_end_of_data:
            await asyncio.sleep(self.delay_end_of_data / 1000)
        server.record["mails"].append({
            "from": envelope.mail_from,
            "rcpt": list(envelope.rcpt_tos),
            "data": latin1(envelope.original_content),
            "wire": latin1(server.wire_data),
        })
        return "250 2.0.0 OK: queued"

    async def handle_QUIT(self, server, session, envelope):
        server.finish()
        return "221 2.0.0 Bye"


class RecordingSMTP(SMTP):
    def __init__(self, handler, recorder, users, implicit_tls, drop_data_after, mails_limit,
                 busy_at_limit, **kwargs):
        self.recorder = recorder
        self.drop_data_after = drop_data_after
        self.mails_limit = mails_limit
        self.busy_at_limit = busy_at_limit
        self.users = users
        self.implicit_tls = implicit_tls
        self.record = {"implicit_tls": implicit_tls, "commands": [], "auth": [],
                       "refused": [], "mails": []}
        self.finished = False
        self.closed_by_server = False
        self.in_data = False
        self.wire_data = bytearray()
        super().__init__(handler, authenticator=self.authenticate, **kwargs)

    def _client_connected_cb(self, reader, writer):
        super()._client_connected_cb(reader, writer)
        # Every line the server reads passes through readuntil (readline
        # calls it too).
        read_until = reader.readuntil

        async def readuntil(separator=b"\n"):
            line = await read_until(separator)
            self.note(line)
            return line

        reader.readuntil = readuntil

    def tls_on(self):
        return self.implicit_tls or self._tls_protocol is not None

    def note(self, line):
        if self.closed_by_server:
            return  # lines already on their way when the server closed are not heard
        if self.in_data:
            self.wire_data += line
            if self.drop_data_after is not None and len(self.wire_data) >= self.drop_data_after:
                # Gone without a word, unread bytes and all (a reset).
                (self._original_transport or self.transport).abort()
        else:
            self.record["commands"].append(
                {"line": latin1(line).rstrip("\r\n"), "tls": self.tls_on()})

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        login, password = latin1(auth_data.login), latin1(auth_data.password)
        ok = self.users.get(login) == password
        self.record["auth"].append({"mechanism": mechanism, "login": login,
                                    "password": password, "accepted": ok})
        return AuthResult(success=ok, handled=False)

    async def smtp_MAIL(self, arg):
        if self.mails_limit is not None and len(self.record["mails"]) >= self.mails_limit:
            self.closed_by_server = True
            if self.busy_at_limit:
                await self.push("421 4.7.0 Too many mails on one connection")
            (self._original_transport or self.transport).close()
            return
        await super().smtp_MAIL(arg)

    async def smtp_DATA(self, arg):
        self.in_data = True
        self.wire_data = bytearray()
        try:
            await super().smtp_DATA(arg)
        finally:
            self.in_data = False

    def finish(self):
        if not self.finished:
            self.finished = True
            self.recorder.write(self.record)

    def connection_lost(self, error):
        self.finish()
        super().connection_lost(error)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--mode", choices=["plain", "tls", "starttls", "starttls-optional"],
                        default="plain")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--record", required=True)
    parser.add_argument("--auth", default="LOGIN,PLAIN",
                        help="mechanisms offered, comma-separated; empty: none")
    parser.add_argument("--user", action="append", default=[], help="login:password")
    parser.add_argument("--refuse", action="append", default=[], help="RCPT address to refuse")
    parser.add_argument("--drop-data-after", type=int,
                        help="drop the connection once this many DATA bytes arrived")
    parser.add_argument("--delay-end-of-data", type=int, default=0,
                        help="milliseconds to wait before the reply after the final dot")
    parser.add_argument("--close-after", type=int,
                        help="close a connection at the MAIL FROM after this many mails")
    parser.add_argument("--busy-after", type=int,
                        help="answer that MAIL FROM with 421 before closing")
    parser.add_argument("--pipelining", action="store_true", help="announce PIPELINING")
    args = parser.parse_args()
    mails_limit = args.busy_after if args.busy_after is not None else args.close_after

    offered = {m for m in args.auth.upper().split(",") if m}
    excluded = [m for m in ("LOGIN", "PLAIN") if m not in offered]
    users = dict(u.split(":", 1) for u in args.user)
    recorder = Recorder(args.record)
    handler = Handler(args.refuse, args.delay_end_of_data, args.pipelining)

    context = None
    if args.mode != "plain":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        options = dict(hostname="peer.test", loop=loop, auth_exclude_mechanism=excluded)
        if args.mode == "starttls":
            options.update(tls_context=context, require_starttls=True, auth_require_tls=True)
        elif args.mode == "starttls-optional":
            # STARTTLS offered, AUTH and everything else allowed without it.
            options.update(tls_context=context, require_starttls=False, auth_require_tls=False)
        else:
            # On an implicit-TLS listener aiosmtpd does not count the
            # connection as secure, so AUTH must not wait for STARTTLS there.
            options.update(auth_require_tls=False)
        return RecordingSMTP(handler, recorder, users, args.mode == "tls", args.drop_data_after,
                             mails_limit, args.busy_after is not None, **options)

    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=args.port,
        ssl=context if args.mode == "tls" else None))
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
