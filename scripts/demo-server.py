#!/usr/bin/python3
"""The demo's local servers: Notelia's message server and a mail sink for help-desk requests.

    demo-server.py [--messages DIR] [--ready FILE] [--parent PID] [--tls FOLDER]

- HTTP on 127.0.0.1:80 publishes every file of DIR (default: demo-messages/ beside this
  script) as /zandu/<name>. The files are kept as UTF-8 with Unix line ends and go out as
  Windows-1252 with CR LF, as the workstations expect. They are read at every request, so an
  edited message reaches the program at its next fetch.
- SMTP on 127.0.0.1:25 accepts AUTH LOGIN with any account and prints every request that it
  receives. With --tls it offers STARTTLS and takes AUTH only inside TLS, with a certificate
  for 127.0.0.1 signed by the test CA in FOLDER (tests/support/test_ca.py makes it there);
  without, AUTH goes over plain TCP.

With --ready the file is created once both servers listen; with --parent the servers stop
when that process has gone. A busy port (a test that holds it for a moment) is retried for a
minute.
"""

import argparse
import email
import email.policy
import http.server
import logging
import os
import signal
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

HOST = "127.0.0.1"
# aiosmtpd logs a warning about its own use of a deprecated field at every login.
logging.getLogger("mail.log").setLevel(logging.ERROR)
PORT_WAIT_SECONDS = 60


def say(text):
    print(text, flush=True)


def published_bytes(path):
    """A message file as the server publishes it: Windows-1252 with CR LF line ends."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp1252")


def message_handler(directory):
    class MessageHandler(http.server.BaseHTTPRequestHandler):
        server_version = "ZanduDemo/1.0"

        def do_GET(self):
            self.answer(with_body=True)

        def do_HEAD(self):
            self.answer(with_body=False)

        def answer(self, with_body):
            prefix = "/zandu/"
            name = self.path[len(prefix):] if self.path.startswith(prefix) else ""
            # Only the plain names of the published files: nothing outside the directory.
            published = name in os.listdir(directory) and "/" not in name and not name.startswith(".")
            if not published:
                self.send_error(404, "Not Found")
                return
            try:
                body = published_bytes(os.path.join(directory, name))
            except (OSError, UnicodeError) as error:
                say(f"http: cannot publish {name}: {error}")
                self.send_error(500, "Internal Server Error")
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/plain; charset=windows-1252")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if with_body:
                self.wfile.write(body)

        def log_request(self, code="-", size="-"):
            say(f"http: {self.command} {self.path} -> {int(code)}")

        def log_message(self, format, *args):
            pass  # every answer, errors included, is told once by log_request

    return MessageHandler


class HelpDeskSMTP(SMTP):
    # The program's client expects the customary prompts of AUTH LOGIN.
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class HelpDeskController(Controller):
    def factory(self):
        return HelpDeskSMTP(self.handler, **self.SMTP_kwargs)


def accept_any_account(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        say(f"smtp: AUTH {mechanism} as {auth_data.login.decode('latin-1')}")
    return AuthResult(success=True)


class PrintingHandler:
    async def handle_DATA(self, server, session, envelope):
        say("smtp: ---- help-desk request received ----")
        say(f"smtp: envelope from {envelope.mail_from} to {', '.join(envelope.rcpt_tos)}")
        try:
            message = email.message_from_bytes(envelope.content, policy=email.policy.default)
            for header in ("From", "To", "Subject", "Date"):
                say(f"smtp: {header}: {message.get(header, '')}")
            body = message.get_body(preferencelist=("plain",))
            text = body.get_content() if body is not None else ""
            for line in text.splitlines():
                say(f"smtp: | {line}")
        except Exception as error:  # show the raw mail rather than lose it
            say(f"smtp: (cannot decode: {error})")
            for line in envelope.content.decode("latin-1").splitlines():
                say(f"smtp: | {line}")
        say("smtp: ---- end ----")
        return "250 Message accepted"


def with_port_retries(what, port, start):
    """Runs `start` until the port is free (for up to a minute) and returns its result."""
    deadline = time.monotonic() + PORT_WAIT_SECONDS
    told = False
    while True:
        try:
            return start()
        except (OSError, RuntimeError) as error:
            if time.monotonic() >= deadline:
                sys.exit(f"demo-server: cannot listen on {HOST}:{port} for {what}: {error}")
            if not told:
                say(f"demo-server: {HOST}:{port} is busy ({error}); waiting for it")
                told = True
            time.sleep(0.5)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Notelia's local demo servers")
    parser.add_argument("--messages", default=os.path.join(here, "demo-messages"))
    parser.add_argument("--ready", help="file to create once both servers listen")
    parser.add_argument("--parent", type=int, help="stop when this process has gone")
    parser.add_argument("--http-port", type=int, default=80)
    parser.add_argument("--smtp-port", type=int, default=25)
    parser.add_argument("--tls", help="folder of the test CA: the sink offers STARTTLS")
    args = parser.parse_args()
    tls = None
    if args.tls:
        sys.path.insert(0, os.path.join(here, "..", "tests", "support"))
        import test_ca
        tls = test_ca.context(args.tls)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    web = with_port_retries("the message server", args.http_port, lambda: http.server.ThreadingHTTPServer(
        (HOST, args.http_port), message_handler(args.messages)))
    web.daemon_threads = True
    threading.Thread(target=web.serve_forever, daemon=True).start()

    def start_mail():
        controller = HelpDeskController(PrintingHandler(), hostname=HOST, port=args.smtp_port,
                                        authenticator=accept_any_account, auth_require_tls=bool(tls),
                                        tls_context=tls, require_starttls=bool(tls))
        controller.start()
        return controller
    mail = with_port_retries("the mail sink", args.smtp_port, start_mail)

    say(f"demo-server: messages on http://{HOST}:{args.http_port}/zandu/ from {args.messages}")
    say(f"demo-server: mail sink on {HOST}:{args.smtp_port} (AUTH LOGIN, any account"
        + (", inside STARTTLS only)" if tls else ")"))
    if args.ready:
        with open(args.ready, "w") as f:
            f.write(f"{os.getpid()}\n")

    while not stop.wait(0.5):
        if args.parent and not os.path.exists(f"/proc/{args.parent}"):
            break
    mail.stop()
    web.shutdown()
    web.server_close()


if __name__ == "__main__":
    main()
