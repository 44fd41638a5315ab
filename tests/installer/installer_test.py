#!/usr/bin/python3
"""The x64 installer in a fresh Wine prefix of its own, as an administrator deploys it.

    installer_test.py --source ROOT --build WIN64_BUILD --work DIR

Packages the win64 program under three versions, installs the first silently with every
property, starts the installed program as its Run value does (from C:\\Windows) against a web
server on 127.0.0.1:80, upgrades without properties and then with one, refuses a downgrade
and uninstalls, checking the files, the registry and the program's own folder at each step.
Also checks the tables of the x86 package when the win32 program has been built.
"""
import argparse
import errno
import functools
import glob
import http.server
import os
import shutil
import subprocess
import sys
import threading
import time

SETTINGS = r"HKEY_LOCAL_MACHINE\Software\Quorvex\Zandu\Usuario"
RUN = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
PROPERTIES = {"REMOTEHOST": ("RemoteHost", "127.0.0.1"), "MAILSERVER": ("MailServer", "127.0.0.1"),
              "TIMEOUT": ("TimeOut", "1500"), "KITID": ("KitId", "QX2026AB12345678"),
              "HOLDERNAME": ("HolderName", "Ferretería Ñandú S.L."),
              "HOLDERADDRESS": ("HolderAddress", "Calle Mayor 12, 41001 Sevilla"),
              "FONT": ("Font", "Courier New"), "FONTSIZE": ("FontSize", "120"),
              "ISBOLD": ("IsBold", "Yes"), "ISITALIC": ("IsItalic", "No")}
MESSAGE = "Información General: instalado por el administrador.".encode("cp1252")
WAIT_SECONDS = 60
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_until(done, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while not done():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


class Prefix:
    def __init__(self, source, path):
        self.runner = os.path.join(source, "scripts", "wine-run")
        self.path = path
        self.env = dict(os.environ, LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")

    def run(self, *args, cwd=None):
        return subprocess.run([self.runner, "--prefix", self.path, *args], env=self.env, cwd=cwd,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT_SECONDS * 2)

    def start(self, *args, cwd):
        return subprocess.Popen([self.runner, "--prefix", self.path, *args], env=self.env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def msiexec(self, *args):
        return self.run("msiexec", *args).returncode

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def keys(self, *keys, view="64"):
        """The string values of each key (None when it is missing), from reg export files."""
        exports = [os.path.join(self.path, "export%d.reg" % i) for i in range(len(keys))]
        for f in exports:
            if os.path.exists(f):
                os.remove(f)
        script = os.path.join(self.path, "export.cmd")
        with open(script, "w", newline="\r\n") as f:
            f.write("@echo off\n" + "".join('reg export "%s" %s /reg:%s /y\n' % (k, windows_path(e), view)
                                             for k, e in zip(keys, exports)))
        self.run("cmd", "/c", windows_path(script))
        return [parse_export(f) if os.path.exists(f) else None for f in exports]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def parse_export(path):
    """[(key, {name: text})] of a .reg export, the exported key first."""
    values, current = [], None
    with open(path, encoding="utf-16") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                current = {}
                values.append((line[1:-1], current))
            elif line.startswith('"') and '"="' in line:
                name, text = line[1:-1].split('"="', 1)
                current[name] = text.replace('\\"', '"').replace("\\\\", "\\")
    return values


def state(prefix):
    settings, run, uninstall = prefix.keys(SETTINGS, RUN, UNINSTALL)
    entries = [dict(v, key=k.split("\\")[-1]) for k, v in uninstall or [] if v.get("DisplayName") == "Notelia"]
    return {"settings": settings and settings[0][1], "run": run and run[0][1].get("Notelia"), "entries": entries}


def package(source, build, dest, version=None, arch="x64"):
    args = [os.path.join(source, "scripts", "package"), "--no-build", "--output", dest, arch]
    env = dict(os.environ, NOTELIA_BUILD_ROOT=os.path.dirname(build))
    out = subprocess.run(args + (["--version", version] if version else []), env=env, check=True,
                         capture_output=True, text=True).stdout
    return out.split("package: ")[-1].strip()


def check_tables(msi, arch):
    def table(name):
        rows = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                              text=True).stdout.splitlines()[3:]
        return [r.split("\t") for r in rows]
    suminfo = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    bits = 256 if arch == "x64" else 0
    check(("Template: %s;" % ("x64" if arch == "x64" else "Intel")) in suminfo, arch + ": platform")
    check(all(int(r[3]) & 256 == bits for r in table("Component")), arch + ": components in the program's view")
    check(all(int(r[4]) & 16 == bits // 16 for r in table("RegLocator")), arch + ": searches in the program's view")
    conditions = {r[0]: r[4] for r in table("Component")}
    check(conditions.get("HolderNameValue") == "HOLDERNAME", arch + ": unnamed settings stay unwritten")


def serve(root):
    deadline = time.monotonic() + WAIT_SECONDS * 2
    while True:
        try:
            handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=root)
            server = http.server.ThreadingHTTPServer(("127.0.0.1", 80), handler)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            return server
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                raise
            time.sleep(0.5)


def run_as_at_log_on(prefix, command, work):
    """Starts the Run value's command from C:\\Windows; answers the copy it fetched."""
    www = os.path.join(work, "www", "zandu")
    os.makedirs(www, exist_ok=True)
    for name, content in (("notelia_param.ini", b"[Timer]\r\nTimerRefresh=300\r\n"), ("mensaje.txt", MESSAGE)):
        with open(os.path.join(www, name), "wb") as f:
            f.write(content)
    server = serve(os.path.dirname(www))
    program = prefix.start(command.strip('"'), cwd=prefix.drive_c("windows"))
    pattern = prefix.drive_c("users", "*", "AppData", "Local", "Quorvex", "Notelia", "mensaje.txt")
    try:
        wait_until(lambda: any(open(p, "rb").read() == MESSAGE for p in glob.glob(pattern)))
        return [p for p in glob.glob(pattern) if open(p, "rb").read() == MESSAGE]
    finally:
        prefix.run("taskkill", "/f", "/im", "notelia.exe")
        program.wait(timeout=WAIT_SECONDS)
        server.shutdown()
        server.server_close()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--build", "--work"):
        parser.add_argument(option, required=True)
    a = parser.parse_args()
    msis = os.path.join(a.work, "msi")
    shutil.rmtree(msis, ignore_errors=True)
    first = package(a.source, a.build, msis)
    major, minor, patch = os.path.basename(first).split("-")[1].split(".")
    later = [package(a.source, a.build, msis, "%s.%s.%d" % (major, minor, int(patch) + n)) for n in (1, 2)]
    check_tables(first, "x64")
    if os.path.exists(os.path.join(os.path.dirname(a.build), "win32", "notelia.exe")):
        check_tables(package(a.source, a.build, msis, arch="x86"), "x86")

    prefix = Prefix(a.source, os.path.join(a.work, "prefix"))
    shutil.rmtree(prefix.path, ignore_errors=True)
    program = prefix.drive_c("Program Files", "Quorvex", "Notelia", "notelia.exe")
    # Wine puts a per-machine shortcut in the installing user's menu; Windows in the common one.
    shortcuts = lambda: [p for menu in (("ProgramData",), ("users", "*", "AppData", "Roaming")) for p in glob.glob(
        prefix.drive_c(*menu, "Microsoft", "Windows", "Start Menu", "Programs", "Notelia.lnk"))]
    expected = {name: value for name, value in PROPERTIES.values()}
    try:
        given = ["%s=%s" % (p, v) for p, (_, v) in PROPERTIES.items()]
        check(prefix.msiexec("/i", windows_path(first), "/qn", *given) == 0, "installs silently with every property")
        s = state(prefix)
        check(os.path.isfile(program) and len(shortcuts()) == 1, "program and Start-menu shortcut")
        check(s["settings"] == expected, "settings key holds every value, accents intact: %s" % s["settings"])
        check(prefix.keys(SETTINGS, view="32") == [None], "nothing in the 32-bit view")
        check(s["run"] == '"C:\\Program Files\\Quorvex\\Notelia\\notelia.exe"', "Run value: %s" % s["run"])
        entry = s["entries"][0] if len(s["entries"]) == 1 else {}
        check(entry.get("Publisher") == "Quorvex" and os.path.isfile(prefix.drive_c(
            "windows", "Installer", entry.get("key", "-"), "notelia.ico")), "uninstall entry with its icon: %s" % entry)

        fetched = run_as_at_log_on(prefix, s["run"] or "", a.work)
        check(len(fetched) == 1 and not os.path.exists(prefix.drive_c("windows", "mensaje.txt")),
              "started from C:\\Windows, fetches into the user's own folder: %s" % fetched)

        steps = [(later[0], [], expected, "upgrade without properties keeps every value"),
                 (later[1], ["TIMEOUT=2500"], dict(expected, TimeOut="2500"), "upgrade with one property changes it alone"),
                 (first, [], dict(expected, TimeOut="2500"), "a downgrade is refused and changes nothing")]
        for msi, props, values, what in steps:
            status = prefix.msiexec("/i", windows_path(msi), "/qn", *props)
            s = state(prefix)
            version = os.path.basename(msi if msi != first else later[1]).split("-")[1]
            check((status == 0) == (msi != first) and s["settings"] == values and os.path.isfile(program)
                  and [e.get("DisplayVersion") for e in s["entries"]] == [version], "%s: %s" % (what, s))

        check(prefix.msiexec("/x", windows_path(later[1]), "/qn") == 0, "uninstalls silently")
        s = state(prefix)
        check(not os.path.exists(os.path.dirname(program)) and not shortcuts(), "files and shortcut gone")
        check(s == {"settings": None, "run": None, "entries": []}, "key, Run value and entry gone: %s" % s)
        check(all(os.path.exists(p) for p in fetched), "the user's folder stays")
    finally:
        prefix.run("--shutdown")
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
