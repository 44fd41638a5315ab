"""The tests' CA and the server certificates it signs, made with python3-cryptography.
make(folder) writes them once and answers the trusted CA's path; context(folder, kind) is a
server-side ssl context with that kind's certificate and chain; wrapper_options(argv) reads a
test wrapper's [--tls FOLDER --trust HELPER] [--] command; revocable(folder, out, name, url, revoked)
makes a certificate whose revocation list is at `url`.

Kinds (a name the client asks for is "localhost" or 127.0.0.1, as IP address entries: never a
DNS entry for an address): good, expired, wrongname, untrusted (a CA nothing trusts), noca
(issued by "good", which is no CA), constrained (its CA may name only *.example.test), md5 and
sha1 (signatures), sha1ca (an intermediate signed with SHA-1), rsa1024, iponly (IP:127.0.0.1
alone), wildip (DNS:*.0.0.1 alone), big (a certificate over 64 KiB).
"""
import datetime
import fcntl
import ipaddress
import os
import ssl
import subprocess
import warnings

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

NAMES = ["DNS:localhost", "IP:127.0.0.1", "IP:::1"]
NOW = datetime.datetime.now(datetime.timezone.utc)
PAST = (datetime.datetime(2020, 1, 1), datetime.datetime(2021, 1, 1))
# kind: (issuer, names, signature hash, key bits, validity or None)
KINDS = {
    "good": ("ca", NAMES, "sha256", 2048, None),
    "expired": ("ca", NAMES, "sha256", 2048, PAST),
    "wrongname": ("ca", ["DNS:otro.nombre.test"], "sha256", 2048, None),
    "untrusted": ("other", NAMES, "sha256", 2048, None),
    "noca": ("good", NAMES, "sha256", 2048, None),
    "constrained": ("ncca", NAMES, "sha256", 2048, None),
    "md5": ("ca", NAMES, "md5", 2048, None),
    "sha1": ("ca", NAMES, "sha1", 2048, None),
    "sha1ca": ("weakca", NAMES, "sha256", 2048, None),
    "rsa1024": ("ca", NAMES, "sha256", 1024, None),
    "iponly": ("ca", ["IP:127.0.0.1"], "sha256", 2048, None),
    "wildip": ("ca", ["DNS:*.0.0.1"], "sha256", 2048, None),
    "big": ("ca", NAMES + ["DNS:n%05d.relleno.example.test" % i for i in range(2600)], "sha256", 2048, None),
}
# Authorities: (issuer, signature hash, name constraints); "ca" is the one the tests trust.
AUTHORITIES = {"ca": (None, "sha256", None), "other": (None, "sha256", None),
               "ncca": ("ca", "sha256", [x509.DNSName("example.test")]), "weakca": ("ca", "sha1", None)}
HASHES = {"sha256": hashes.SHA256, "sha1": hashes.SHA1, "md5": hashes.MD5}


def _name_entry(text):
    kind, value = text.split(":", 1)
    return x509.DNSName(value) if kind == "DNS" else x509.IPAddress(ipaddress.ip_address(value))


def _load(folder, name):
    with open(os.path.join(folder, name + ".key"), "rb") as key, open(os.path.join(folder, name + ".pem"), "rb") as pem:
        text = pem.read()
        certificates = [x509.load_pem_x509_certificate(b"-----BEGIN" + part) for part in text.split(b"-----BEGIN")[1:]]
        return serialization.load_pem_private_key(key.read(), None), certificates


def _write(folder, name, key, chain):
    with open(os.path.join(folder, name + ".key"), "wb") as out:
        out.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()))
    with open(os.path.join(folder, name + ".pem"), "wb") as out:
        out.write(b"".join(c.public_bytes(serialization.Encoding.PEM) for c in chain))


def _issue(folder, name, issuer, digest, bits=2048, authority=False, names=(), dates=None, extensions=(), out=None):
    """Writes name.key and name.pem into `out` (else folder): the certificate, then its issuer's
    chain below the root."""
    key = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "Notelia test " + name)])
    issuer_key, issuer_chain = _load(folder, issuer) if issuer else (key, [])
    not_before, not_after = dates or (NOW - datetime.timedelta(days=1), NOW + datetime.timedelta(days=3650))
    builder = (x509.CertificateBuilder().subject_name(subject)
               .issuer_name(issuer_chain[0].subject if issuer else subject)
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(not_before).not_valid_after(not_after)
               .add_extension(x509.BasicConstraints(ca=authority, path_length=None), critical=True))
    if authority:
        builder = builder.add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False, False), True)
    else:
        builder = builder.add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
        builder = builder.add_extension(x509.SubjectAlternativeName([_name_entry(n) for n in names]), critical=False)
    for extension in extensions:
        builder = builder.add_extension(extension, critical=False)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # weak signatures are what some kinds are for
        certificate = builder.sign(issuer_key, HASHES[digest]())
    # A root is never sent; everything below it is.
    _write(out or folder, name, key, [certificate] + [c for c in issuer_chain if c.issuer != c.subject])


def make(folder):
    """Writes the authorities and every kind of server certificate into folder (once); answers
    the trusted CA's path."""
    os.makedirs(folder, exist_ok=True)
    # Suites that run side by side share the folder: one makes it, the others wait.
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        for name, (issuer, digest, permitted) in AUTHORITIES.items():
            if not os.path.exists(os.path.join(folder, name + ".pem")):
                constraints = [x509.NameConstraints(permitted, None)] if permitted else []
                _issue(folder, name, issuer, digest, authority=True, extensions=constraints)
        for kind, (issuer, names, digest, bits, dates) in KINDS.items():
            if not os.path.exists(os.path.join(folder, kind + ".pem")):
                _issue(folder, kind, issuer, digest, bits, names=names, dates=dates)
    return os.path.join(folder, "ca.pem")


def revocable(folder, out, name, url, revoked):
    """Into folder `out`: a certificate `name` from the trusted CA whose revocation list is at
    `url`, and that list (name.crl, DER), which holds the certificate when `revoked`."""
    make(folder)
    point = x509.DistributionPoint([x509.UniformResourceIdentifier(url)], None, None, None)
    _issue(folder, name, "ca", "sha256", names=NAMES, extensions=[x509.CRLDistributionPoints([point])], out=out)
    ca_key, (ca,) = _load(folder, "ca")
    (_, (certificate, *_)) = _load(out, name)
    crl = (x509.CertificateRevocationListBuilder().issuer_name(ca.subject)
           .last_update(NOW - datetime.timedelta(days=1)).next_update(NOW + datetime.timedelta(days=30)))
    if revoked:
        crl = crl.add_revoked_certificate(x509.RevokedCertificateBuilder().serial_number(certificate.serial_number)
                                          .revocation_date(NOW - datetime.timedelta(days=1)).build())
    with open(os.path.join(out, name + ".crl"), "wb") as crl_file:
        crl_file.write(crl.sign(ca_key, hashes.SHA256()).public_bytes(serialization.Encoding.DER))


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


def context(folder, kind="good", versions=(ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.MAXIMUM_SUPPORTED), at=None):
    """A server context with `kind`'s certificate (from make, or from revocable into `at`) for
    TLS `versions`; weak certificates and old versions are allowed here, so that the client is
    the one to refuse."""
    make(folder)
    at = at or folder
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
    ctx.minimum_version, ctx.maximum_version = versions
    ctx.load_cert_chain(os.path.join(at, kind + ".pem"), os.path.join(at, kind + ".key"))
    return ctx
