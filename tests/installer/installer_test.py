#!/usr/bin/python3
"""installer_test.py --source ROOT --build WIN64_BUILD --work DIR: the x64 package in a fresh
Wine prefix, as an administrator deploys it (and the x86 package's tables once built)."""
import argparse, glob, os, shutil, subprocess, sys, time

KEY = r"HKEY_LOCAL_MACHINE\Software\Quorvex\Zandu\Usuario"
RUN = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SETTINGS = {"REMOTEHOST": "RemoteHost=127.0.0.1", "MAILSERVER": "MailServer=127.0.0.1",
            "MAILPORT": "MailPort=587", "MAILSECURITY": "MailSecurity=required",
            "PROXYSERVER": "ProxyServer=direct", "TIMEOUT": "TimeOut=1500",
            "KITID": "KitId=QX2026AB12345678", "HOLDERNAME": "HolderName=Ferretería Ñandú S.L.",
            "HOLDERADDRESS": "HolderAddress=Calle Mayor 12, 41001 Sevilla", "FONT": "Font=Courier New",
            "FONTSIZE": "FontSize=120", "ISBOLD": "IsBold=Yes", "ISITALIC": "IsItalic=No"}
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    failures.extend([] if condition else [what])


def wait_until(done, seconds=60):
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        time.sleep(0.2)  # paces the checks of a bounded wait
    return done()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def parse_export(path):
    """[(key, {name: text})] of a reg export, the exported key first; strings only."""
    keys = []
    with open(path, encoding="utf-16") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                keys.append((line[1:-1], {}))
            elif line.startswith('"') and '"="' in line:
                name, text = line[1:-1].split('"="', 1)
                keys[-1][1][name] = text.replace('\\"', '"').replace("\\\\", "\\")
    return keys


class Prefix:
    def __init__(self, source, path):
        self.runner, self.path = os.path.join(source, "scripts", "wine-run"), path
        self.env = dict(os.environ, LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")

    def run(self, *args, cwd=None, wait=True):
        command = [self.runner, "--prefix", self.path, *args]
        if not wait:
            return subprocess.Popen(command, env=self.env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120).returncode

    def c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def keys(self, *keys):
        """Each key's values and subkeys from a reg export (None when it is missing)."""
        files = [os.path.join(self.path, "export%d.reg" % i) for i in range(len(keys))]
        with open(os.path.join(self.path, "export.cmd"), "w", newline="\r\n") as script:
            script.write("@echo off\n" + "".join('del %s 2>nul\nreg export "%s" %s /reg:64 /y\n' % (
                windows_path(f), k, windows_path(f)) for k, f in zip(keys, files)))
        self.run("cmd", "/c", windows_path(script.name))
        return [parse_export(f) if os.path.exists(f) else None for f in files]

    def state(self):
        key, run, uninstall = self.keys(KEY, RUN, UNINSTALL)
        entries = [dict(v, code=k.split("\\")[-1]) for k, v in uninstall or [] if v.get("DisplayName") == "Notelia"]
        return key and key[0][1], run and run[0][1].get("Notelia"), entries


def package(a, arch="x64", version=None):
    command = [os.path.join(a.source, "scripts", "package"), "--no-build", "--output", a.msis, arch]
    out = subprocess.run(command + (["--version", version] if version else []), check=True, capture_output=True,
                         text=True, env=dict(os.environ, NOTELIA_BUILD_ROOT=os.path.dirname(a.build))).stdout
    msi = out.split("package: ")[-1].strip()
    table = lambda name: [r.split("\t") for r in subprocess.run(
        ["msiinfo", "export", msi, name], check=True, capture_output=True, text=True).stdout.splitlines()[3:]]
    info = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    bits = 256 if arch == "x64" else 0
    check(("Template: %s;" % {"x64": "x64", "x86": "Intel"}[arch]) in info and all(
        int(r[3]) & 256 == bits for r in table("Component")) and all(
        int(r[4]) & 16 == bits // 16 for r in table("RegLocator")), arch + " package: the program's registry view")
    return msi, os.path.basename(msi).split("-")[1]


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--build", "--work"):
        parser.add_argument(option, required=True)
    a = parser.parse_args()
    a.msis = os.path.join(a.work, "msi")
    shutil.rmtree(a.msis, ignore_errors=True)
    first, version = package(a)
    later = [package(a, version="%s.%d" % (version.rsplit(".", 1)[0], int(version.split(".")[2]) + n)) for n in (1, 2)]
    if os.path.exists(os.path.join(os.path.dirname(a.build), "win32", "notelia.exe")):
        package(a, "x86")

    prefix = Prefix(a.source, os.path.join(a.work, "prefix"))
    shutil.rmtree(prefix.path, ignore_errors=True)
    program = prefix.c("Program Files", "Quorvex", "Notelia", "notelia.exe")
    # Wine puts a per-machine shortcut in the installing user's menu, Windows in the common one.
    shortcuts = lambda: [p for menu in (("ProgramData",), ("users", "*", "AppData", "Roaming")) for p in glob.glob(
        prefix.c(*menu, "Microsoft", "Windows", "Start Menu", "Programs", "Notelia.lnk"))]
    values = dict(v.split("=", 1) for v in SETTINGS.values())
    try:
        given = [p + "=" + v.split("=", 1)[1] for p, v in SETTINGS.items()]
        check(prefix.run("msiexec", "/i", windows_path(first), "/qn", *given) == 0, "installs silently")
        key, run, entries = prefix.state()
        check(os.path.isfile(program) and len(shortcuts()) == 1, "program and Start-menu shortcut")
        check(key == values, "settings key with every value, accents intact: %s" % key)
        check(run == '"C:\\Program Files\\Quorvex\\Notelia\\notelia.exe"', "Run value: %s" % run)
        check(len(entries) == 1 and entries[0]["Publisher"] == "Quorvex" and os.path.isfile(prefix.c(
            "windows", "Installer", entries[0]["code"], "notelia.ico")), "uninstall entry with its icon: %s" % entries)

        # As at log-on: the Run value's command, started from C:\Windows.
        ready = os.path.join(a.msis, "servers.ready")
        servers = subprocess.Popen(["/usr/bin/python3", os.path.join(a.source, "scripts", "demo-server.py"),
                                    "--ready", ready, "--parent", str(os.getpid())], stdout=subprocess.DEVNULL)
        folder = lambda: glob.glob(prefix.c("users", "*", "AppData", "Local", "Quorvex", "Notelia"))
        copy = lambda: [f + "/mensaje.txt" for f in folder() if os.path.exists(f + "/mensaje.txt")]
        try:
            check(wait_until(lambda: os.path.exists(ready), 90), "servers up")
            started = prefix.run((run or "").strip('"'), cwd=prefix.c("windows"), wait=False)
            check(wait_until(lambda: copy() and os.path.getsize(copy()[0]) > 0) and not os.path.exists(
                prefix.c("windows", "mensaje.txt")), "fetches into the user's own folder: %s" % copy())
            prefix.run("taskkill", "/f", "/im", "notelia.exe")
            started.wait(timeout=60)
        finally:
            servers.terminate()
            servers.wait(timeout=60)

        changed = dict(values, TimeOut="2500")
        for (msi, v), props, expected, what in [(later[0], [], values, "upgrade without properties keeps every value"),
                                                (later[1], ["TIMEOUT=2500"], changed, "upgrade with one property"),
                                                ((first, later[1][1]), [], changed, "downgrade refused")]:
            status = prefix.run("msiexec", "/i", windows_path(msi), "/qn", *props)
            key, run, entries = prefix.state()
            check((status == 0) == (msi != first) and key == expected and os.path.isfile(program) and
                  [e["DisplayVersion"] for e in entries] == [v], "%s: %s %s" % (what, key, entries))

        check(prefix.run("msiexec", "/x", windows_path(later[1][0]), "/qn") == 0, "uninstalls silently")
        check(not os.path.exists(os.path.dirname(program)) and not shortcuts(), "program and shortcut gone")
        check(prefix.state() == (None, None, []), "key, Run value and entry gone")
        check(len(folder()) == 1, "the user's folder stays")
    finally:
        prefix.run("--shutdown")
        if not failures: shutil.rmtree(prefix.path, ignore_errors=True)  # kept for a look when failed
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
