"""A test CA made with openssl, and server certificates it signs: "good" for 127.0.0.1 and
localhost (also as a DNS name: Wine's name check compares only those), "expired" for the same names, "wrongname" for another name; "untrusted" is signed
by a second CA that nothing trusts. make(folder) writes them once and answers their paths;
context(folder, kind) is a server-side ssl context with that certificate; wrapper_options(argv)
reads a test wrapper's [--tls FOLDER --trust HELPER] [--] command.
"""
import fcntl
import os
import ssl
import subprocess

KINDS = {
    "good": ("ca", "subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1", None),
    "expired": ("ca", "subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1", ("20200101000000Z", "20210101000000Z")),
    "wrongname": ("ca", "subjectAltName=DNS:otro.nombre.test", None),
    "untrusted": ("other", "subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1", None),
}


def _run(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_ca(folder, name):
    if not os.path.exists(os.path.join(folder, name + ".pem")):
        _run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".pem",
             "-days", "3650", "-subj", "/CN=Notelia test CA " + name,
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             cwd=folder)


def _make_server(folder, kind):
    ca, san, dates = KINDS[kind]
    if os.path.exists(os.path.join(folder, kind + ".pem")):
        return
    _run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", kind + ".key", "-out", kind + ".csr",
         "-subj", "/CN=" + ("otro.nombre.test" if kind == "wrongname" else "localhost"), cwd=folder)
    with open(os.path.join(folder, kind + ".ext"), "w") as ext:
        ext.write(san + "\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n")
    # openssl ca is the only way to give past dates: a minimal database of its own.
    db = os.path.join(folder, "db-" + kind)
    os.makedirs(db, exist_ok=True)
    open(os.path.join(db, "index.txt"), "w").close()
    with open(os.path.join(db, "ca.cnf"), "w") as cnf:
        cnf.write("[ca]\ndefault_ca=d\n[d]\ndatabase=%s/index.txt\nnew_certs_dir=%s\nserial=%s/serial\n"
                  "default_md=sha256\npolicy=p\nunique_subject=no\ncopy_extensions=none\n[p]\ncommonName=supplied\n"
                  % (db, db, db))
    with open(os.path.join(db, "serial"), "w") as serial:
        serial.write(os.urandom(8).hex() + "\n")
    dates_args = ["-startdate", dates[0], "-enddate", dates[1]] if dates else ["-days", "3650"]
    _run("ca", "-batch", "-config", os.path.join(db, "ca.cnf"), "-cert", ca + ".pem", "-keyfile", ca + ".key",
         "-in", kind + ".csr", "-out", kind + ".pem", "-extfile", kind + ".ext", "-notext", *dates_args, cwd=folder)


def make(folder):
    """Writes the CAs and every kind of server certificate into folder (once); answers the
    trusted CA's path."""
    os.makedirs(folder, exist_ok=True)
    # Suites that run side by side share the folder: one makes it, the others wait.
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        _make_ca(folder, "ca")
        _make_ca(folder, "other")
        for kind in KINDS:
            _make_server(folder, kind)
    return os.path.join(folder, "ca.pem")


def wrapper_options(argv):
    """Answers FOLDER (None without --tls) and the command, after making the CA there and adding it
    to the Root store of the command's Wine prefix (HELPER, trust_ca.exe, under its emulator)."""
    found = {}
    while argv[:1] in (["--tls"], ["--trust"]):
        found[argv[0]], argv = argv[1], argv[2:]
    command = argv[1:] if argv[:1] == ["--"] else argv
    if "--tls" in found:
        ca = make(found["--tls"])
        program = next(i for i, arg in enumerate(command) if arg.lower().endswith(".exe"))
        subprocess.run(command[:program] + [found["--trust"], "Z:" + ca.replace("/", "\\")], check=True)
    return found.get("--tls"), command


def context(folder, kind="good"):
    make(folder)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(os.path.join(folder, kind + ".pem"), os.path.join(folder, kind + ".key"))
    return ctx
