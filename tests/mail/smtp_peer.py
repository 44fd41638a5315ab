"""smtp_peer.py [--tls FOLDER --trust HELPER] -- program [args...]: runs a test program beside
real SMTP servers on 127.0.0.1 (aiosmtpd, AUTH LOGIN, the accounts below), their ports in
NOTELIA_SMTP_<NAME>; all stop when the program ends. PORT takes plain TCP. ORACLE answers one
command a line: "LAST" gives "name hex" lines and "END" (the last delivery as Python's email
package parsed it; whether it and its AUTH came inside TLS; the count of AUTHs; the commands of
STRIPPED's last session); "SUBJECT hex" the decoded Subject value as hex of its Windows-1252
bytes (or "ERR"); "MODE m" how STRIPPED treats STARTTLS from its next session on.

With --tls (under Wine; see test_ca.wrapper_options) more servers start: STARTTLS required
before AUTH with a good certificate (STARTTLS), TLS from the first byte (IMPLICIT), STARTTLS
with an expired, a wrong-name or an untrusted certificate (EXPIRED, WRONGNAME, UNTRUSTED), one
that sends a line ahead of the handshake with its 220 (AHEAD), and STRIPPED, whose STARTTLS is
as someone on the path could make it: "tls" (as it is), "strip" (not in the EHLO reply), "454"
(refused) or "break" (a record that cannot be decrypted after the handshake).
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import test_ca  # noqa: E402 - the tests' CA, shared with the web peer

ACCOUNTS = {b"usuario": b"clave", b"Quorvex\\Pelmar": b"pXe7302tW"}


class PeerSMTP(SMTP):
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class AheadSMTP(PeerSMTP):
    """Its 220 to STARTTLS comes with a reply the client never asked for."""

    async def push(self, status):
        if isinstance(status, str) and status.startswith("220 Ready to start TLS"):
            status += "\r\n250 AUTH LOGIN sent ahead of the handshake"
        await super().push(status)


class StrippedSMTP(PeerSMTP):
    def __init__(self, store, **kwargs):
        super().__init__(store, **kwargs)
        self.mode = store.mode
        store.verbs = []
        if self.mode == "strip":
            self.tls_context = None

        def recorded(name, method):
            async def call(arg):
                store.verbs.append(name)
                return await method(arg)
            return call
        self._smtp_methods = {name: recorded(name, method) for name, method in self._smtp_methods.items()}

    async def smtp_EHLO(self, hostname):
        if self.mode == "break" and self._tls_protocol:
            # A record that cannot be decrypted, written under the secure channel.
            raw = self._original_transport.get_extra_info("socket")
            os.write(raw.fileno(), b"\x17\x03\x03\x00\x20" + bytes(32))
            return
        await super().smtp_EHLO(hostname)

    async def smtp_STARTTLS(self, arg):
        if self.mode == "454":
            await self.push("454 4.7.0 TLS not available due to temporary reason")
            return
        await super().smtp_STARTTLS(arg)


def secure(server):
    return server.transport.get_extra_info("ssl_object") is not None


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and ACCOUNTS.get(auth_data.login) == auth_data.password
    return AuthResult(success=ok, handled=False)


class Store:
    def __init__(self):
        self.last = None
        self.tls = self.auth_tls = False
        self.auths = 0
        self.mode = "tls"
        self.verbs = []

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        self.auths += 1
        self.auth_tls = secure(server)
        return authenticate(server, session, envelope, mechanism, auth_data)

    async def handle_DATA(self, server, session, envelope):
        self.last = envelope
        self.tls = secure(server)
        return "250 OK delivered"


def cp(text):
    return text.encode("cp1252", errors="replace") if isinstance(text, str) else bytes(text or b"")


def summary(store):
    counts = "".join(f"{k} {cp(str(v)).hex()}\n" for k, v in (
        ("auths", store.auths), ("tls", int(store.tls)),
        ("auth_tls", int(store.auth_tls)), ("verbs", " ".join(store.verbs))))
    envelope = store.last
    if envelope is None:
        return counts + "END\n"
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
    return counts + "".join(f"{k} {v.hex()}\n" for k, v in fields.items()) + "END\n"


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
            writer.write(summary(store).encode())
        elif words[:1] == ["MODE"] and len(words) == 2:
            store.mode = words[1]
            writer.write(b"OK\n")
        elif words[:1] == ["SUBJECT"]:
            writer.write(decode_subject(words[1] if len(words) > 1 else "").encode())
        else:
            writer.write(b"ERR\n")
        await writer.drain()
    writer.close()


def main():
    # Plain-text AUTH is what the first peer is for: no warnings about it.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    folder, argv = test_ca.wrapper_options(sys.argv[1:])
    store = Store()
    loop = asyncio.new_event_loop()
    ports = {}

    async def serve(name, kind=None, cls=PeerSMTP, implicit=False):
        context = test_ca.context(folder, kind) if kind else None
        starttls = bool(context) and not implicit
        server = await loop.create_server(
            lambda: cls(store, hostname="notelia-test", authenticator=store.authenticate, auth_required=True,
                        auth_require_tls=starttls, tls_context=context if starttls else None,
                        require_starttls=starttls, loop=loop),
            "127.0.0.1", 0, ssl=context if implicit else None)
        ports[name] = server.sockets[0].getsockname()[1]

    async def start():
        await serve("PORT")
        if folder:
            await serve("STARTTLS", "good")
            await serve("IMPLICIT", "good", implicit=True)
            await serve("AHEAD", "good", AheadSMTP)
            await serve("STRIPPED", "good", StrippedSMTP)
            for kind in ("expired", "wrongname", "untrusted"):
                await serve(kind.upper(), kind)
        query = await asyncio.start_server(lambda r, w: oracle(store, r, w), "127.0.0.1", 0)
        ports["ORACLE"] = query.sockets[0].getsockname()[1]

    # Every server listens before the program starts; then the loop serves them on its own thread.
    asyncio.set_event_loop(loop)
    loop.run_until_complete(start())
    threading.Thread(target=loop.run_forever, daemon=True).start()
    env = dict(os.environ, **{"NOTELIA_SMTP_" + name: str(port) for name, port in ports.items()})
    return subprocess.call(argv, env=env)


if __name__ == "__main__":
    sys.exit(main())
