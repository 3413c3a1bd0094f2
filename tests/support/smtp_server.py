"""A real SMTP server for the mail tests, on a free port of 127.0.0.1.

Usage: smtp_server.py MODE OUTPUT_DIR [CERT KEY]
MODE: plain, auth (login "user" / "secret"), starttls (TLS required before the login),
refuse (greets with 554), close (closes at once), silent (greets, then never answers).
The port is written to OUTPUT_DIR/port once the server listens. Each message received is written
to OUTPUT_DIR/message-N: "FROM", "TO", "TLS", "LOGIN" lines, an empty line, the data. The server
stops when the file OUTPUT_DIR/stop appears (a test under Wine cannot signal it), or after five
minutes.
"""

import asyncio
import logging
import itertools
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult

mode, out = sys.argv[1], sys.argv[2]
# The server library logs a warning about its own use of an old session field at every login.
logging.getLogger("mail.log").setLevel(logging.ERROR)
counter = itertools.count(1)


class Handler:
    async def handle_DATA(self, server, session, envelope):
        path = os.path.join(out, "message-%d" % next(counter))
        head = "FROM %s\nTO %s\nTLS %s\nLOGIN %s\n\n" % (
            envelope.mail_from, ",".join(envelope.rcpt_tos),
            "yes" if session.ssl else "no",
            session.auth_data.login.decode() if session.auth_data else "")
        with open(path + ".part", "wb") as f:
            f.write(head.encode() + envelope.original_content)
        os.rename(path + ".part", path)
        return "250 OK"


def authenticate(server, session, envelope, mechanism, data):
    ok = data.login == b"user" and data.password == b"secret"
    return AuthResult(success=ok, handled=False, auth_data=data if ok else None)


def smtp():
    options = {}
    if mode in ("auth", "starttls"):
        options = dict(authenticator=authenticate, auth_require_tls=mode == "starttls")
    if mode == "starttls":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        options.update(tls_context=context, require_starttls=True)
    return SMTP(Handler(), hostname="mail.test", **options)


async def misbehave(reader, writer):
    if mode == "refuse":
        writer.write(b"554 No service here\r\n")
        await writer.drain()
        await reader.read()
    elif mode == "silent":
        writer.write(b"220 mail.test ready\r\n")
        await writer.drain()
        await asyncio.sleep(3600)
    writer.close()


async def main():
    loop = asyncio.get_running_loop()
    if mode in ("refuse", "close", "silent"):
        server = await asyncio.start_server(misbehave, "127.0.0.1", 0)
    else:
        server = await loop.create_server(smtp, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    with open(os.path.join(out, "port.part"), "w") as f:
        f.write(str(port))
    os.rename(os.path.join(out, "port.part"), os.path.join(out, "port"))
    stop = os.path.join(out, "stop")
    for _ in range(3000):
        if os.path.exists(stop):
            break
        await asyncio.sleep(0.1)
    server.close()


asyncio.run(main())
