#!/usr/bin/python3
"""The Group Policy template in packaging/: both language files and the template are
well-formed XML, every policy writes a value that the program reads (and every value it reads
under its settings key has a policy), in the settings key of HKEY_LOCAL_MACHINE, and every
string and presentation that the template names exists in each language file.
    policy_template_test.py SOURCE_DIR"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
KEY = r"Software\Quorvex\Zandu\Usuario"
LANGUAGES = ("es-ES", "en-US")
# The settings key is read through these, with the value's name as first argument.
READER = re.compile(r'\b(?:Try)?Read(?:Font)?Setting\(\s*"(\w+)"')


def values_read(source):
    names = set()
    for folder in ("app", "net", "mail", "retrieval", "request", "ui", "program"):
        for path in (source / folder).glob("*.cpp"):
            names.update(READER.findall(path.read_text(encoding="utf-8")))
    return names


def main(source):
    source = pathlib.Path(source)
    failures = []
    admx = ET.parse(source / "packaging" / "notelia.admx").getroot()
    admls = {lang: ET.parse(source / "packaging" / lang / "notelia.adml").getroot() for lang in LANGUAGES}

    written = {}
    for policy in admx.iterfind("p:policies/p:policy", NS):
        name = policy.get("name")
        if policy.get("class") != "Machine" or policy.get("key") != KEY:
            failures.append(f"{name}: not written under HKEY_LOCAL_MACHINE\\{KEY}")
        elements = list(policy.iterfind("p:elements/*", NS))
        for element in elements:
            if element.get("key", KEY) != KEY:
                failures.append(f"{name}: element {element.get('id')} writes under another key")
        names = {e.get("valueName") for e in elements} | ({policy.get("valueName")} - {None})
        if names != {name}:
            failures.append(f"{name}: writes {sorted(names)}, not one value of its own name")
        written[name] = {e.get("id") for e in elements}

    read = values_read(source)
    for name in sorted(set(written) - read):
        failures.append(f"{name}: a policy for a value the program does not read")
    for name in sorted(read - set(written)):
        failures.append(f"{name}: read by the program, without a policy")

    text = ET.tostring(admx, encoding="unicode")
    strings = set(re.findall(r"\$\(string\.(\w+)\)", text))
    presentations = set(re.findall(r"\$\(presentation\.(\w+)\)", text))
    for lang, adml in admls.items():
        table = {s.get("id") for s in adml.iterfind("p:resources/p:stringTable/p:string", NS)}
        for missing in sorted(strings - table):
            failures.append(f"{lang}: no string {missing}")
        shown = {p.get("id"): {c.get("refId") for c in p} for p in
                 adml.iterfind("p:resources/p:presentationTable/p:presentation", NS)}
        for name in sorted(presentations):
            if name not in shown:
                failures.append(f"{lang}: no presentation {name}")
            elif shown[name] != written.get(name):
                failures.append(f"{lang}: presentation {name} shows {sorted(shown[name])}")

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(written)} policies, {len(read)} values read, {len(failures)} failures")
    return 1 if failures or not written else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
