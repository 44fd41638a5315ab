"""TLS servers on loopback for the TLS stream's suite, and the wrapper that runs it beside them:
    /usr/bin/python3 tls_peer.py --tls FOLDER --trust HELPER -- program [args...]
NOTELIA_TLS_<NAME> is a server's port: one per certificate kind of test_ca (GOOD, MD5 ...),
REVOKED and NOCRL (revocation list on loopback, or at a port where nothing listens), TLS10
(TLS 1.0 and 1.1 only), NOTTLS (answers like a web server, never closes). After its handshake
a server reads a line and answers "sni=NAME\\n" ("-": none indicated). NOTELIA_TLS_LOG: a
server's name (CRL: the list's server) and a line end; once its connections have ended, the
answer is what it saw since the last ask, a line each: "hello SNI", "data LINE", "refused",
"get PATH".
"""
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "retrieval")]
import http_server  # noqa: E402 - its loopback servers
import test_ca  # noqa: E402 - the tests' CA

EVENTS, ACTIVE, CHANGED = {}, {}, threading.Condition()


def log(server, event):
    with CHANGED:
        EVENTS.setdefault(server, []).append(event)


def read_line(receive):
    line = b""
    while not line.endswith(b"\n") and (piece := receive(1)):
        line += piece
    return line.decode("latin-1").strip()


def handle_counted(name, handle, sock):
    with CHANGED:
        ACTIVE[name] = ACTIVE.get(name, 0) + 1
    try:
        with sock:
            sock.settimeout(60)
            handle(sock)
    except OSError:
        log(name, "refused")
    finally:
        with CHANGED:
            ACTIVE[name] -= 1
            CHANGED.notify_all()


def serve(name, handle):
    """Runs handle(socket) for each connection to a new loopback port; answers the port."""
    return http_server.serve(lambda sock: handle_counted(name, handle, sock))


def tls_handler(name, context):
    context.sni_callback = lambda ssl_socket, sni, _: setattr(ssl_socket, "sni", sni)

    def handle(sock):
        with context.wrap_socket(sock, server_side=True) as tls:
            sni = getattr(tls, "sni", None) or "-"
            log(name, "hello " + sni)
            log(name, "data " + read_line(tls.recv))
            tls.sendall(("sni=%s\n" % sni).encode())
    return handle


def not_tls(sock):
    log("NOTTLS", "data " + sock.recv(4096).decode("latin-1"))
    sock.sendall(b"HTTP/1.0 400 Bad Request\r\nContent-Type: text/html\r\n\r\n")
    sock.recv(1)  # never closes first


class CrlHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):  # noqa: A002 - quiet
        log("CRL", "get " + self.path)


def log_server(sock):
    name = read_line(sock.recv)
    with CHANGED:
        CHANGED.wait_for(lambda: ACTIVE.get(name, 0) == 0, timeout=30)
        sock.sendall("".join(event + "\n" for event in EVENTS.pop(name, [])).encode("latin-1"))


def main():
    folder, command = test_ca.wrapper_options(sys.argv[1:])
    run = tempfile.mkdtemp(prefix="notelia-tls-")
    crl = http.server.ThreadingHTTPServer(("127.0.0.1", 0), lambda *a: CrlHandler(*a, directory=run))
    threading.Thread(target=crl.serve_forever, daemon=True).start()
    # New addresses every run (ports come back): the chain engine keeps what it fetched, failures too.
    url = "http://127.0.0.1:%d/{}-" + os.path.basename(run) + ".crl"
    test_ca.revocable(folder, run, "revoked", url.format("revoked") % crl.server_address[1], True)
    # Nothing listens where "nocrl" has its list: no revocation information to be had.
    test_ca.revocable(folder, run, "nocrl", url.format("none") % http_server.closed_port(), False)
    contexts = {kind.upper(): test_ca.context(folder, kind) for kind in test_ca.KINDS}
    contexts.update(REVOKED=test_ca.context(folder, "revoked", at=run), NOCRL=test_ca.context(folder, "nocrl", at=run),
                    TLS10=test_ca.context(folder, "good", (ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1)))
    ports = {name: serve(name, tls_handler(name, ctx)) for name, ctx in contexts.items()}
    ports.update(NOTTLS=serve("NOTTLS", not_tls), LOG=serve("LOG", log_server))
    env = dict(os.environ, **{"NOTELIA_TLS_" + name: str(port) for name, port in ports.items()})
    sys.exit(subprocess.call(command, env=env))


if __name__ == "__main__":
    main()
