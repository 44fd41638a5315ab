"""Scripted web server on loopback for the download tests, and the wrapper that runs a test
program beside it.

    /usr/bin/python3 http_server.py [--port80] -- program [args...]

Starts, on 127.0.0.1:
  - the scripted server (port in NOTELIA_HTTP_PORT; 80 with --port80): answers each path as
    the test scripts it;
  - a server that accepts connections and never answers (NOTELIA_STALL_PORT);
and names a port where nothing listens (NOTELIA_DOWN_PORT). Runs the program with these
variables, and ends with its exit status; the servers end with it.

Control requests of the scripted server (never logged):
  POST /_ctl/set?path=P&status=N[&mode=M][&piece=K][&location=L]   body: the content
      mode plain (default): Content-Length and the whole body;
      mode pieces: Content-Length, the body in pieces of K bytes, each sent on its own;
      mode cut: Content-Length of the whole body, then half of it, then the connection ends;
      mode nolength: no Content-Length, the body, then the connection ends.
  POST /_ctl/reset          forget every script and the log
  GET  /_ctl/log            the logged requests, one a line: request line, a tab, User-Agent
Unscripted paths answer 404.
"""

import http.server
import os
import socket
import subprocess
import sys
import threading
import time
import urllib.parse


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.scripts = {}
        self.log = []


STATE = State()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, format, *args):  # noqa: A002 - quiet
        pass

    def do_POST(self):
        self.handle_any()

    def do_GET(self):
        self.handle_any()

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path.startswith("/_ctl/"):
            self.control(url)
            return
        with STATE.lock:
            STATE.log.append(self.requestline + "\t" + self.headers.get("User-Agent", ""))
            script = STATE.scripts.get(url.path)
        if script is None:
            self.answer(404, b"", "plain", 0, None)
        else:
            self.answer(*script)

    def control(self, url):
        query = urllib.parse.parse_qs(url.query)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        reply = b""
        with STATE.lock:
            if url.path == "/_ctl/set":
                STATE.scripts[query["path"][0]] = (
                    int(query["status"][0]),
                    body,
                    query.get("mode", ["plain"])[0],
                    int(query.get("piece", ["0"])[0]),
                    query.get("location", [None])[0],
                )
            elif url.path == "/_ctl/reset":
                STATE.scripts.clear()
                STATE.log.clear()
            elif url.path == "/_ctl/log":
                reply = "".join(line + "\n" for line in STATE.log).encode("latin-1")
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def answer(self, status, body, mode, piece, location):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        if mode != "nolength":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "pieces":
            for start in range(0, len(body), max(piece, 1)):
                self.wfile.write(body[start:start + max(piece, 1)])
                self.wfile.flush()
                # Separate segments, so that the client sees the body arrive in pieces.
                time.sleep(0.005)
        elif mode == "cut":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        else:
            self.wfile.write(body)


def stall_server():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    held = []

    def accept():
        while True:
            connection, _ = listener.accept()
            held.append(connection)

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def unused_port():
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def main():
    args = sys.argv[1:]
    port = 0
    if args and args[0] == "--port80":
        port = 80
        args = args[1:]
    if args and args[0] == "--":
        args = args[1:]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["NOTELIA_HTTP_PORT"] = str(server.server_address[1])
    env["NOTELIA_STALL_PORT"] = str(stall_server())
    env["NOTELIA_DOWN_PORT"] = str(unused_port())
    status = subprocess.call(args, env=env)
    sys.exit(status)


if __name__ == "__main__":
    main()
