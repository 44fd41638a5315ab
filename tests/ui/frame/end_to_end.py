#!/usr/bin/python3
"""Runs the end-to-end test of the real program beside a web server on 127.0.0.1:80.

    end_to_end.py -- <emulator...> <test.exe> [args...]

The server publishes the directory that the test fills (NOTELIA_E2E_SERVE_DIR, served as
/zandu/); a mail sink on 127.0.0.1:25, with the program's account, writes what it receives
to mail.eml in NOTELIA_E2E_SHOT_DIR. When the test has written "ready" into NOTELIA_E2E_SHOT_DIR, the screen of the
display that the Wine runner uses is saved as notelia-e2e-screen.png in the current directory,
and "done" tells the test. The server lives in this process and ends with it.
"""
import errno
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "retrieval"), os.path.join(HERE, "..", "..", "mail")]
import http_server  # noqa: E402 - the one scripted web server of the suites
import smtp_peer  # noqa: E402 - the real SMTP peer's account and prompts
from aiosmtpd.controller import Controller  # noqa: E402

PORT = 80
BIND_WAIT_SECONDS = 120
ARTEFACT = "notelia-e2e-screen.png"


def bind(root):
    # Another build's suite may hold the port for a moment: wait for it, bounded.
    deadline = time.monotonic() + BIND_WAIT_SECONDS
    while True:
        try:
            return http_server.make_server(PORT, root)
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                raise
            time.sleep(0.5)


class MailSink:
    def __init__(self, folder):
        self.folder = folder

    async def handle_DATA(self, server, session, envelope):
        part = os.path.join(self.folder, "mail.eml.part")
        with open(part, "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.replace(part, os.path.join(self.folder, "mail.eml"))
        return "250 OK"


class SinkController(Controller):
    def factory(self):
        return smtp_peer.PeerSMTP(self.handler, **self.SMTP_kwargs)


def display_of(command):
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"]
    prefix = command[command.index("--prefix") + 1] if "--prefix" in command else os.environ["WINEPREFIX"]
    with open(os.path.join(prefix, ".notelia", "display")) as f:
        return f.read().strip()


def screenshot(command, target):
    partial = target + ".part.png"
    subprocess.run(["import", "-display", display_of(command), "-window", "root", partial], check=True,
                   stdin=subprocess.DEVNULL)
    os.replace(partial, target)


def main():
    command = sys.argv[1:]
    if command and command[0] == "--":
        command = command[1:]
    root = tempfile.mkdtemp(prefix="notelia-e2e-")
    serve = os.path.join(root, "zandu")
    shots = os.path.join(root, "shots")
    os.makedirs(serve)
    os.makedirs(shots)
    server = bind(root)
    sink = SinkController(MailSink(shots), hostname="127.0.0.1", port=25, auth_require_tls=False,
                          authenticator=smtp_peer.authenticate)
    sink.start()
    env = dict(os.environ, NOTELIA_E2E_SERVE_DIR=serve, NOTELIA_E2E_SHOT_DIR=shots)
    ready = os.path.join(shots, "ready")
    done = os.path.join(shots, "done")
    artefact = os.path.abspath(ARTEFACT)
    try:
        test = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)
        while True:
            try:
                return test.wait(timeout=0.1)
            except subprocess.TimeoutExpired:
                pass
            if os.path.exists(ready) and not os.path.exists(done):
                try:
                    screenshot(command, artefact)
                    print("screenshot: " + artefact, flush=True)
                except (subprocess.CalledProcessError, OSError) as error:
                    print("screenshot failed: %s" % error, flush=True)
                open(done, "w").close()
    finally:
        sink.stop()
        server.shutdown()
        server.server_close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
