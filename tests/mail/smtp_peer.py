"""smtp_peer.py -- program [args...]: runs a test program beside a real SMTP server on
127.0.0.1 (aiosmtpd, AUTH LOGIN over plain TCP, the accounts below). A second port answers,
one command a line, what was delivered as Python's email package parsed it: "LAST" gives
"name hex" lines of the last delivery and "END"; "SUBJECT hex" gives the decoded Subject value
as hex of its Windows-1252 bytes (or "ERR"). The ports go to the program in NOTELIA_SMTP_PORT
and NOTELIA_SMTP_ORACLE; both servers stop when the program ends.
"""
import asyncio
import email
import email.policy
import os
import subprocess
import sys
import threading
import logging
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ACCOUNTS = {b"usuario": b"clave", b"Quorvex\\Pelmar": b"pXe7302tW"}


class PeerSMTP(SMTP):
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and ACCOUNTS.get(auth_data.login) == auth_data.password
    return AuthResult(success=ok, handled=False)


class Store:
    def __init__(self):
        self.last = None

    async def handle_DATA(self, server, session, envelope):
        self.last = envelope
        return "250 OK delivered"


def cp(text):
    return text.encode("cp1252", errors="replace") if isinstance(text, str) else bytes(text or b"")


def summary(envelope):
    if envelope is None:
        return "END\n"
    raw = envelope.original_content or envelope.content
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    # The first leaf part holds the text of a multipart message.
    leaf = next((part for part in msg.walk() if not part.is_multipart()), msg)
    fields = {
        "mail_from": cp(envelope.mail_from),
        "rcpt_tos": cp(",".join(envelope.rcpt_tos)),
        "raw": raw,
        "defects": cp(str(len(msg.defects))),
        "content_type": cp(msg.get_content_type()),
        "charset": cp(msg.get_content_charset() or ""),
        "subject": cp(str(msg["subject"] or "")),
        "to": cp(str(msg["to"] or "")),
        "date": cp(str(msg["date"] or "")),
        "date_ok": b"1" if msg["date"] is not None and msg["date"].datetime is not None else b"0",
        "body": leaf.get_payload(decode=True) or b"",
        "part_type": cp(leaf.get_content_type()),
    }
    sender = msg["from"]
    if sender is not None and sender.addresses:
        fields["from_name"] = cp(sender.addresses[0].display_name)
        fields["from_addr"] = cp(sender.addresses[0].addr_spec)
    return "".join(f"{k} {v.hex()}\n" for k, v in fields.items()) + "END\n"


def decode_subject(value_hex):
    try:
        raw = b"Subject: " + bytes.fromhex(value_hex) + b"\r\n\r\n"
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        return cp(str(msg["subject"])).hex() + "\n"
    except Exception:
        return "ERR\n"


async def oracle(store, reader, writer):
    while True:
        line = await reader.readline()
        if not line:
            break
        words = line.decode("ascii", "replace").split()
        if words[:1] == ["LAST"]:
            writer.write(summary(store.last).encode())
        elif words[:1] == ["SUBJECT"]:
            writer.write(decode_subject(words[1] if len(words) > 1 else "").encode())
        else:
            writer.write(b"ERR\n")
        await writer.drain()
    writer.close()


def main():
    # Plain-text AUTH is what this peer is for: no warnings about it.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    argv = sys.argv[2:] if sys.argv[1:2] == ["--"] else sys.argv[1:]
    store = Store()
    loop = asyncio.new_event_loop()
    ready = threading.Event()
    ports = {}

    async def start():
        smtp = await loop.create_server(
            lambda: PeerSMTP(store, hostname="notelia-test", authenticator=authenticate,
                             auth_require_tls=False, auth_required=True, loop=loop),
            "127.0.0.1", 0)
        query = await asyncio.start_server(lambda r, w: oracle(store, r, w), "127.0.0.1", 0)
        ports["smtp"] = smtp.sockets[0].getsockname()[1]
        ports["oracle"] = query.sockets[0].getsockname()[1]
        ready.set()

    def run():
        asyncio.set_event_loop(loop)
        loop.run_until_complete(start())
        loop.run_forever()

    threading.Thread(target=run, daemon=True).start()
    if not ready.wait(30):
        print("smtp_peer: the servers did not start", file=sys.stderr)
        return 1
    env = dict(os.environ, NOTELIA_SMTP_PORT=str(ports["smtp"]), NOTELIA_SMTP_ORACLE=str(ports["oracle"]))
    return subprocess.call(argv, env=env)


if __name__ == "__main__":
    sys.exit(main())
