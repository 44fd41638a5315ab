"""Scripted web server on loopback, and the wrapper that runs a test program beside it:
    /usr/bin/python3 http_server.py [--tls FOLDER --trust HELPER] -- program [args...]
The program gets NOTELIA_HTTP_PORT and NOTELIA_DOWN_PORT (nothing listens).
With --tls (test_ca.wrapper_options) the scripts are served over TLS too: NOTELIA_HTTPS_PORT with
a good certificate, NOTELIA_HTTPS_UNTRUSTED_PORT with an untrusted one; NOTELIA_SLOW_HANDSHAKE_PORT
answers a handshake with a record that never ends, one byte every 400 ms.
Control (never logged; ScriptedWeb.cpp is the client and tells the log's and counts' shapes):
POST /_ctl/set?path=P&status=N[&mode=M][&piece=K][&headers=H] with H bytes of header lines added
to the head, then the body; modes: plain, pieces (K bytes each), cut (half the body, then the
TCP end), reset (half, then a TCP reset), notify (the body, TLS close_notify, the TCP connection
held), halfrecord (half, the start of a TLS record, the TCP end), silent (no answer), stall (the
head only), drip (a byte every K ms); "nolength_" before one drops Content-Length. An
If-None-Match equal to the script's ETag (or, without it, If-Modified-Since equal to its
Last-Modified) gets 304. POST /_ctl/keep?answers=N[&drop=1] (see KeepConnections), /_ctl/reset;
GET /_ctl/log, /_ctl/count.
Other paths answer 404, or a file of the served directory (make_server's `root`).
"""

import contextlib
import functools
import http.server
import os
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import test_ca  # noqa: E402 - the tests' CA, shared with the mail peer

LOCK = threading.Lock()
SCRIPTS = {}
LOG = []
KEEP = [None, False]  # answers per kept connection (None: each answer closes it), drop
COUNT = {}
CLOSED = []  # sockets of closed_port


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    root = None
    tls = None  # the ssl context of an HTTPS server

    def setup(self):
        # The handshake in the connection's own thread: a stalled client holds no other.
        if self.tls:
            self.request = self.tls.wrap_socket(self.request, server_side=True)
        super().setup()
        self.answers, self.counted = 0, False
        if KEEP[0] is not None:
            self.protocol_version = "HTTP/1.1"

    def count(self):
        if self.counted:
            return
        self.counted = True
        kinds = ["connections"]
        if self.tls:
            kinds.append("resumed" if self.request.session_reused else "full")
        for kind in kinds:
            COUNT[kind] = COUNT.get(kind, 0) + 1

    def log_message(self, format, *args):  # noqa: A002 - quiet
        pass

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path.startswith("/_ctl/"):
            return self.control(url)
        if KEEP[1] and self.answers >= KEEP[0] > 0:
            self.close_connection = True
            return
        asked = [self.headers.get(name, "") for name in ("If-None-Match", "If-Modified-Since")]
        with LOCK:
            self.count()
            fields = [self.headers.get(name, "") for name in ("User-Agent", "Accept-Encoding")]
            LOG.append("\t".join([self.requestline] + fields + (asked if any(asked) else [])))
            script = SCRIPTS.get(url.path)
        if script and any(asked) and self.unchanged(script[4], *asked):
            self.answer(304, b"", "plain", 0, "")
        elif script:
            self.answer(*script)
        elif self.root:
            super().do_GET()
        else:
            self.answer(404, b"", "plain", 0, "")

    do_POST = do_GET

    @staticmethod
    def unchanged(headers, etag, since):
        fields = dict(line.split(": ", 1) for line in filter(None, headers.split("\r\n")))
        return etag == fields.get("ETag") if etag else since == fields.get("Last-Modified")

    def control(self, url):
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        split = int(query.get("headers", "0"))
        headers, body = body[:split].decode("latin-1"), body[split:]
        reply = b""
        with LOCK:
            if url.path == "/_ctl/set":
                SCRIPTS[query["path"]] = (int(query["status"]), body, query.get("mode", "plain"),
                                          int(query.get("piece", "0")), headers)
            elif url.path == "/_ctl/reset":
                SCRIPTS.clear(), LOG.clear(), COUNT.clear()
                KEEP[:] = [None, False]
            elif url.path == "/_ctl/keep":
                KEEP[:] = [int(query["answers"]), query.get("drop") == "1"]
            elif url.path == "/_ctl/count":
                reply = " ".join(str(COUNT.get(k, 0)) for k in ("connections", "full", "resumed")).encode()
            elif url.path == "/_ctl/log":
                reply = "".join(line + "\n" for line in LOG).encode("latin-1")
        self.protocol_version = "HTTP/1.0"
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def answer(self, status, body, mode, piece, headers):
        if mode == "silent":
            return self.connection.recv(1)  # until the client gives up
        self.send_response(status)
        for line in filter(None, headers.split("\r\n")):
            self.send_header(*line.split(": ", 1))
        if not mode.startswith("nolength") and status != 304:
            self.send_header("Content-Length", str(len(body)))
        mode = mode.split("_")[-1]
        self.end_headers()
        self.wfile.flush()
        try:
            if mode == "pieces":
                for start in range(0, len(body), max(piece, 1)):
                    self.wfile.write(body[start:start + max(piece, 1)])
                    self.wfile.flush()
                    time.sleep(0.005)  # separate segments
            elif mode == "cut":
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
            elif mode in ("reset", "halfrecord"):
                self.wfile.write(body[: len(body) // 2])
                if mode == "reset":
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    os.close(self.connection.detach())
                else:  # past the TLS layer: a record announced and never ended
                    socket.socket.sendall(self.connection, bytes([0x17, 3, 3, 0x40, 0]) + bytes(10))
                    socket.socket.shutdown(self.connection, socket.SHUT_RDWR)
            elif mode == "notify":
                self.wfile.write(body)
                self.connection.unwrap()  # waits for the client's end
            elif mode in ("stall", "silent"):
                self.connection.recv(1)  # until the client gives up
            elif mode == "drip":
                for byte in body:
                    time.sleep(piece / 1000)
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
            else:
                self.wfile.write(body)
        except OSError:
            pass
        self.answers += 1
        keep, drop = KEEP
        self.close_connection = keep is None or mode != "plain" or (0 < keep <= self.answers and not drop)


class Server(http.server.ThreadingHTTPServer):
    request_queue_size = 64  # held connections never crowd out the next client

    def handle_error(self, request, client_address):
        pass  # refused handshakes are what some clients are for


def make_server(port, root=None, tls=None):
    """The scripted server on 127.0.0.1:`port`, serving `root` for unscripted paths, over TLS
    with the ssl context `tls`."""
    handler = functools.partial(type("Served", (Handler,), {"root": root, "tls": tls}), directory=root)
    server = Server(("127.0.0.1", port), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def serve(handle, address="127.0.0.1", port=0):
    """Runs handle(socket) in a thread of its own for each connection to `address`:`port`
    (0: a new port); answers the port."""
    listener = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(64)

    def accept():
        while True:
            threading.Thread(target=handle, args=(listener.accept()[0],), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def closed_port():
    """A loopback port bound and never listening: a connection there is refused."""
    CLOSED.append(socket.socket())
    CLOSED[-1].bind(("127.0.0.1", 0))
    return CLOSED[-1].getsockname()[1]


def drip_handshake(connection):
    with connection, contextlib.suppress(OSError):
        connection.sendall(bytes([0x16, 3, 3, 0x40, 0]))  # a 16 KiB handshake record, never ended
        while not time.sleep(0.4):
            connection.sendall(b"\0")


def main():
    folder, args = test_ca.wrapper_options(sys.argv[1:])
    ports = {"HTTP": make_server(0).server_address[1], "DOWN": closed_port()}
    if folder:
        for name, kind in (("HTTPS", "good"), ("HTTPS_UNTRUSTED", "untrusted")):
            ports[name] = make_server(0, tls=test_ca.context(folder, kind)).server_address[1]
        ports["SLOW_HANDSHAKE"] = serve(drip_handshake)
    env = dict(os.environ, **{"NOTELIA_%s_PORT" % name: str(value) for name, value in ports.items()})
    sys.exit(subprocess.call(args, env=env))


if __name__ == "__main__":
    main()
