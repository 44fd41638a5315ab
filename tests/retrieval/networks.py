"""networks.py --prefix PREFIX --ca FOLDER --trust HELPER -- wine-run program [args...]
Runs a test program under Wine (its own prefix, whose wineserver owns the sockets and so must
start in here) in a network namespace of its own. The web peer (NOTELIA_HTTP_PORT, TLS on
NOTELIA_HTTPS_PORT) and the SMTP peer (NOTELIA_SMTP_PORT) listen on 127.0.0.1, and on the same
ports (TLS aside) at fd00:7a6e::5 (only address of v6only.notelia.test), 127.0.0.9 (drops
echoes), 127.0.0.5 (second address of multi.notelia.test, first 127.0.0.3 refusing, and of
hole.notelia.test, first 127.0.0.4 dropping everything) and 127.0.0.7, which, as the TLS port,
only the proxy (NOTELIA_PROXY_PORT) reaches. NOTELIA_AUTH_PROXY_PORT asks for credentials;
both proxies append each request line to NOTELIA_PROXY_LOG. Nothing listens on
NOTELIA_DOWN_PORT.
"""

import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
import http_server  # noqa: E402
import test_ca  # noqa: E402

HOSTS = """127.0.0.1 localhost
fd00:7a6e::5 v6only.notelia.test
127.0.0.3 multi.notelia.test
127.0.0.5 multi.notelia.test
127.0.0.4 hole.notelia.test
127.0.0.5 hole.notelia.test
"""
SERVED = ["fd00:7a6e::5", "127.0.0.9", "127.0.0.5", "127.0.0.7"]
PROXY_SOURCE = "127.0.0.8"  # the one source the server behind the proxy accepts


def run(*command):
    subprocess.run(command, check=True)


def relay(a, b):
    """Copies both ways until either side ends (or a minute passes idle)."""
    with a, b:
        while ready := select.select([a, b], [], [], 60)[0]:
            for side in ready:
                if not (data := side.recv(65536)):
                    return
                (b if side is a else a).sendall(data)


def forward_to(port):
    return lambda client: relay(client, socket.create_connection(("127.0.0.1", port)))


def proxy(log, asks_credentials):
    def handle(client):
        head = b""
        while b"\r\n\r\n" not in head:
            if not (data := client.recv(4096)):
                return client.close()
            head += data
        head, rest = head.split(b"\r\n\r\n", 1)
        with open(log, "ab") as out:
            out.write(head.split(b"\r\n")[0] + b"\n")
        if asks_credentials:
            client.sendall(b"HTTP/1.0 407 Proxy Authentication Required\r\n"
                           b"Proxy-Authenticate: Basic realm=\"corp\"\r\nContent-Length: 0\r\n\r\n")
            return client.close()
        verb, target, version = head.split(b"\r\n")[0].split(b" ")
        host, _, port = (target if verb == b"CONNECT" else target.split(b"/")[2]).rpartition(b":")
        upstream = socket.create_connection((host.strip(b"[]").decode(), int(port)), source_address=(PROXY_SOURCE, 0))
        if verb == b"CONNECT":
            client.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
        else:
            path = b"/" + target.split(b"/", 3)[3]
            lines = [b" ".join([verb, path, version])] + head.split(b"\r\n")[1:]
            upstream.sendall(b"\r\n".join(lines) + b"\r\n\r\n" + rest)
        relay(client, upstream)

    return handle


def outside(argv):
    # A namespace of our own, with a private /etc/hosts.
    os.execvp("unshare", ["unshare", "-n", "-m", "--propagation", "private", sys.executable, __file__, "--inside"] + argv)


def inside(argv):
    options = dict(zip(argv[0:6:2], argv[1:6:2]))
    command = argv[argv.index("--") + 1:]
    run("ip", "link", "set", "lo", "up")
    run("ip", "-6", "addr", "add", "fd00:7a6e::5/128", "dev", "lo", "nodad")
    work = tempfile.mkdtemp(prefix="notelia-networks-")
    hosts, log = os.path.join(work, "hosts"), os.path.join(work, "proxy.log")
    with open(hosts, "w") as out, open(log, "w"):
        out.write(HOSTS)
    run("mount", "--bind", hosts, "/etc/hosts")

    ports = {"HTTP": http_server.make_server(0).server_address[1],
             "HTTPS": http_server.make_server(0, tls=test_ca.context(options["--ca"])).server_address[1]}
    smtp = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "mail", "smtp_peer.py"), "--", sys.executable,
                             "-c", "import os,sys; print(os.environ['NOTELIA_SMTP_PORT'], flush=True); sys.stdin.read()"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    ports["SMTP"] = int(smtp.stdout.readline())
    ports["DOWN"] = http_server.closed_port()
    for address in SERVED:
        for name in ("HTTP", "SMTP"):
            http_server.serve(forward_to(ports[name]), address, ports[name])
    ports["PROXY"] = http_server.serve(proxy(log, False))
    ports["AUTH_PROXY"] = http_server.serve(proxy(log, True))

    for rule in ("-p icmp --icmp-type echo-request -d 127.0.0.9 -j DROP",
                 "-p icmp --icmp-type echo-request -d 127.0.0.7 -j DROP", "-p tcp -d 127.0.0.4 -j DROP",
                 "-p tcp -d 127.0.0.7 ! -s %s -j REJECT --reject-with tcp-reset" % PROXY_SOURCE,
                 "-p tcp -d 127.0.0.1 --dport %d ! -s %s -j REJECT --reject-with tcp-reset" % (ports["HTTPS"], PROXY_SOURCE)):
        run("iptables", "-A", "OUTPUT", *rule.split())

    # The runner given, in this suite's own prefix (whose wineserver must be this namespace's:
    # one left from elsewhere is stopped); the program comes last.
    wine_run = [command[0], "--prefix", options["--prefix"]]
    subprocess.run(wine_run + ["--shutdown"])
    try:
        ca = test_ca.make(options["--ca"])
        run(*wine_run, options["--trust"], "Z:" + ca.replace("/", "\\"))
        env = dict(os.environ, NOTELIA_PROXY_LOG="Z:" + log.replace("/", "\\"),
                   **{"NOTELIA_%s_PORT" % name: str(port) for name, port in ports.items()})
        return subprocess.call(wine_run + command[-1:], env=env)
    finally:
        subprocess.run(wine_run + ["--shutdown"])
        smtp.stdin.close()
        smtp.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--inside"]:
        sys.exit(inside(sys.argv[2:]))
    outside(sys.argv[1:])
