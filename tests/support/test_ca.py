"""The tests' CA and the server certificates it signs (python3-cryptography): make(folder)
writes them once, context(folder, kind) is a server context with one of them, revocable(...)
makes one with a revocation list, wrapper_options(argv) reads a test wrapper's
[--tls FOLDER --trust HELPER] [--] command. Addresses stand as IP address entries, never as
DNS names. "noca" is issued by "good", which is no CA; "big" is over 64 KiB.
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
# Authorities (issuer, permitted names, signature hash): "ca" is the one the tests trust; then
# the servers' kinds (issuer, names, signature hash, key bits, validity or None).
AUTHORITIES = {"ca": (None, None, "sha256"), "other": (None, None, "sha256"),
               "ncca": ("ca", [x509.DNSName("example.test")], "sha256"), "weakca": ("ca", None, "sha1")}
KINDS = {
    "good": ("ca", NAMES, "sha256", 2048, None),
    "expired": ("ca", NAMES, "sha256", 2048, (datetime.datetime(2020, 1, 1), datetime.datetime(2021, 1, 1))),
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
    "clientonly": ("ca", NAMES, "sha256", 2048, None),  # made out for client authentication only
}
PEM = serialization.Encoding.PEM


def _load(folder, name):
    with open(os.path.join(folder, name + ".key"), "rb") as key, open(os.path.join(folder, name + ".pem"), "rb") as pem:
        parts = pem.read().split(b"-----BEGIN")[1:]
        return (serialization.load_pem_private_key(key.read(), None),
                [x509.load_pem_x509_certificate(b"-----BEGIN" + part) for part in parts])


def _issue(folder, name, issuer, digest, bits=2048, names=None, dates=None, extensions=(), out=None):
    """Writes name.key and name.pem into `out` (else folder): the certificate, then its issuer's
    chain below the root (a root is never sent). Without `names` it is an authority."""
    key = rsa.generate_private_key(public_exponent=65537, key_size=bits)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "Notelia test " + name)])
    issuer_key, chain = _load(folder, issuer) if issuer else (key, [])
    not_before, not_after = dates or (NOW - datetime.timedelta(days=1), NOW + datetime.timedelta(days=3650))
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(chain[0].subject if chain else subject)
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(not_before).not_valid_after(not_after)
               .add_extension(x509.BasicConstraints(ca=names is None, path_length=None), critical=True))
    if names is None:
        extensions = [x509.KeyUsage(False, False, False, False, False, True, True, False, False), *extensions]
    else:
        usage = ExtendedKeyUsageOID.CLIENT_AUTH if name == "clientonly" else ExtendedKeyUsageOID.SERVER_AUTH
        extensions = [x509.ExtendedKeyUsage([usage]), *extensions, x509.SubjectAlternativeName(
            [x509.DNSName(n[4:]) if n[:4] == "DNS:" else x509.IPAddress(ipaddress.ip_address(n[3:])) for n in names])]
    for extension in extensions:
        builder = builder.add_extension(extension, critical=False)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # weak signatures are what some kinds are for
        certificate = builder.sign(issuer_key, {"sha256": hashes.SHA256, "sha1": hashes.SHA1, "md5": hashes.MD5}[digest]())
    with open(os.path.join(out or folder, name + ".key"), "wb") as file:
        file.write(key.private_bytes(PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
    with open(os.path.join(out or folder, name + ".pem"), "wb") as file:
        file.write(b"".join(c.public_bytes(PEM) for c in [certificate] + [c for c in chain if c.issuer != c.subject]))
    return certificate


def make(folder):
    """Writes the authorities and every kind of server certificate into folder (once); answers
    the trusted CA's path."""
    os.makedirs(folder, exist_ok=True)
    # Suites that run side by side share the folder: one makes it, the others wait.
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        for name, (issuer, permitted, digest) in AUTHORITIES.items():
            if not os.path.exists(os.path.join(folder, name + ".pem")):
                _issue(folder, name, issuer, digest, extensions=[x509.NameConstraints(permitted, None)] if permitted else [])
        for kind, (issuer, names, digest, bits, dates) in KINDS.items():
            if not os.path.exists(os.path.join(folder, kind + ".pem")):
                _issue(folder, kind, issuer, digest, bits, names, dates)
    return os.path.join(folder, "ca.pem")


def revocable(folder, out, name, url, revoked):
    """Into folder `out`: a certificate `name` from the trusted CA whose revocation list is at
    `url`, and that list (DER, named as the URL's last part), which holds it when `revoked`."""
    make(folder)
    point = x509.DistributionPoint([x509.UniformResourceIdentifier(url)], None, None, None)
    certificate = _issue(folder, name, "ca", "sha256", names=NAMES, extensions=[x509.CRLDistributionPoints([point])],
                         out=out)
    ca_key, (ca,) = _load(folder, "ca")
    crl = (x509.CertificateRevocationListBuilder().issuer_name(ca.subject)
           .last_update(NOW - datetime.timedelta(days=1)).next_update(NOW + datetime.timedelta(days=30)))
    if revoked:
        crl = crl.add_revoked_certificate(x509.RevokedCertificateBuilder().serial_number(certificate.serial_number)
                                          .revocation_date(NOW - datetime.timedelta(days=1)).build())
    with open(os.path.join(out, url.rsplit("/", 1)[1]), "wb") as file:
        file.write(crl.sign(ca_key, hashes.SHA256()).public_bytes(serialization.Encoding.DER))


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
