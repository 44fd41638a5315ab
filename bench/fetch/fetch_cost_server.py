#!/usr/bin/python3
"""The message server of the fetch-cost benchmark, and the wrapper that runs the benchmark
beside it:

    fetch_cost_server.py --tls FOLDER --trust HELPER -- [emulator...] program.exe [args...]

It publishes every file of the demo's messages as /zandu/<name>, as a
well-kept web server does: HTTP/1.1 answers with Content-Length, ETag and Last-Modified, 304
to a matching If-None-Match or If-Modified-Since, and the connection kept when the client
asks for it. One server speaks plain HTTP, one HTTPS with the test CA's "good" certificate
(trust_ca.exe, HELPER, adds the CA to the program's Wine prefix first). Each sits behind a relay on loopback that counts
what crosses the wire: connections and bytes both ways; the HTTPS server counts full and
resumed handshakes. The program gets NOTELIA_BENCH_HTTP_PORT, NOTELIA_BENCH_HTTPS_PORT and
NOTELIA_BENCH_STATS_PORT; on the stats port, GET /reset sets the counters to zero and
GET /stats answers them as "connections bytes full resumed requests" for http, then https.
"""

import email.utils
import hashlib
import http.server
import os
import socket
import socketserver
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import test_ca  # noqa: E402 - the tests' CA, as the demo uses it

HOST = "127.0.0.1"
LOCK = threading.Lock()


class Counters:
    def __init__(self):
        self.reset()

    def reset(self):
        with LOCK:
            self.connections = self.bytes = self.full = self.resumed = self.requests = 0

    def add(self, name, amount=1):
        with LOCK:
            setattr(self, name, getattr(self, name) + amount)

    def line(self):
        with LOCK:
            return f"{self.connections} {self.bytes} {self.full} {self.resumed} {self.requests}"


def published(directory):
    """Every file as the server publishes it: Windows-1252 with CR LF line ends, with its
    validators."""
    files = {}
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        with open(path, encoding="utf-8") as f:
            body = f.read().replace("\r\n", "\n").replace("\n", "\r\n").encode("cp1252")
        etag = '"' + hashlib.sha1(body).hexdigest()[:16] + '"'
        modified = email.utils.formatdate(os.stat(path).st_mtime, usegmt=True)
        files["/zandu/" + name] = (body, etag, modified)
    return files


def handler(files, counters, tls):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "BenchServer/1.0"

        def setup(self):
            if tls:
                self.request = tls.wrap_socket(self.request, server_side=True)
                counters.add("resumed" if self.request.session_reused else "full")
            super().setup()

        def log_message(self, format, *args):  # noqa: A002 - quiet
            pass

        def do_GET(self):
            counters.add("requests")
            entry = files.get(self.path)
            if not entry:
                return self.reply(404, b"", {})
            body, etag, modified = entry
            validators = {"ETag": etag, "Last-Modified": modified}
            asked_etag = self.headers.get("If-None-Match")
            asked_date = self.headers.get("If-Modified-Since")
            if (asked_etag and asked_etag == etag) or (not asked_etag and asked_date == modified):
                return self.reply(304, b"", validators)
            self.reply(200, body, dict(validators, **{"Content-Type": "text/plain"}))

        def reply(self, status, body, headers):
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            if status != 304:
                self.send_header("Content-Length", str(len(body)))
            # An HTTP/1.0 request keeps its connection only when it asks to; a request that
            # asks to close it is told it closes.
            if self.request_version == "HTTP/1.0" and not self.close_connection:
                self.send_header("Connection", "keep-alive")
            elif self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def relay(front, back_port, counters):
    """Accepts on `front` and pumps every connection to the server on `back_port`, counting."""
    def pump(source, sink):
        try:
            while data := source.recv(65536):
                counters.add("bytes", len(data))
                sink.sendall(data)
        except OSError:
            pass
        for s in (sink, source):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    while True:
        client, _ = front.accept()
        counters.add("connections")
        server = socket.create_connection((HOST, back_port))
        for pair in ((client, server), (server, client)):
            threading.Thread(target=pump, args=pair, daemon=True).start()


def serve(files, tls):
    counters = Counters()
    back = Server((HOST, 0), handler(files, counters, tls))
    threading.Thread(target=back.serve_forever, daemon=True).start()
    front = socket.create_server((HOST, 0))
    threading.Thread(target=relay, args=(front, back.server_address[1], counters), daemon=True).start()
    return front.getsockname()[1], counters


def stats_server(all_counters):
    class Stats(http.server.BaseHTTPRequestHandler):
        def log_message(self, format, *args):  # noqa: A002 - quiet
            pass

        def do_GET(self):
            if self.path == "/reset":
                for c in all_counters:
                    c.reset()
            body = "\n".join(c.line() for c in all_counters).encode() + b"\n"
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = Server((HOST, 0), Stats)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    certs, program = test_ca.wrapper_options(sys.argv[1:])
    files = published(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "demo-messages"))
    http_port, http_counters = serve(files, None)
    https_port, https_counters = serve(files, test_ca.context(certs, "good"))
    env = dict(os.environ, NOTELIA_BENCH_HTTP_PORT=str(http_port), NOTELIA_BENCH_HTTPS_PORT=str(https_port),
               NOTELIA_BENCH_STATS_PORT=str(stats_server([http_counters, https_counters])))
    sys.exit(subprocess.run(program, env=env).returncode)


if __name__ == "__main__":
    main()
