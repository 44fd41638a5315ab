#!/usr/bin/python3
"""Runs the end-to-end test of the real program beside a web server on 127.0.0.1:80.

    end_to_end.py -- <emulator...> <test.exe> [args...]

The server publishes the directory that the test fills (NOTELIA_E2E_SERVE_DIR, served as
/zandu/). When the test has written "ready" into NOTELIA_E2E_SHOT_DIR, the screen of the
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "retrieval"))
import http_server  # noqa: E402 - the one scripted web server of the suites

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
    env = dict(os.environ, NOTELIA_E2E_SERVE_DIR=serve, NOTELIA_E2E_SHOT_DIR=shots)
    ready = os.path.join(shots, "ready")
    done = os.path.join(shots, "done")
    artefact = os.path.abspath(ARTEFACT)
    try:
        test = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)
        while True:
            try:
                status = test.wait(timeout=0.1)
                break
            except subprocess.TimeoutExpired:
                pass
            if os.path.exists(ready) and not os.path.exists(done):
                try:
                    screenshot(command, artefact)
                    print("screenshot: " + artefact, flush=True)
                except (subprocess.CalledProcessError, OSError) as error:
                    print("screenshot failed: %s" % error, flush=True)
                open(done, "w").close()
        return status
    finally:
        server.shutdown()
        server.server_close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
