#!/usr/bin/python3
"""The Group Policy template in packaging/ (policy_template_test.py SOURCE_DIR): well-formed
XML, one policy for each value that the program reads from its settings key, written there,
and every string and presentation that the template names in each language file."""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
KEY = r"Software\Quorvex\Zandu\Usuario"
# The settings key is read through these, with the value's name first.
READER = re.compile(r'\b(?:Try)?Read(?:Font)?Setting\(\s*"(\w+)"')


def main(source):
    source = pathlib.Path(source)
    read = {name for folder in ("app", "net", "mail", "retrieval", "request", "ui", "program")
            for path in (source / folder).glob("*.cpp") for name in READER.findall(path.read_text("utf-8"))}
    admx = ET.parse(source / "packaging" / "notelia.admx").getroot()
    failures, elements = [], {}
    for policy in admx.iterfind("p:policies/p:policy", NS):
        name = policy.get("name")
        items = list(policy.iterfind("p:elements/*", NS))
        keys = {policy.get("key")} | {e.get("key", KEY) for e in items}
        values = {e.get("valueName") for e in items} | ({policy.get("valueName")} - {None})
        if policy.get("class") != "Machine" or keys != {KEY} or values != {name}:
            failures.append(f"{name}: writes {sorted(values)} under {sorted(keys)}, not its own value in the key")
        elements[name] = {e.get("id") for e in items}
    failures += [f"{name}: no such value is read" for name in sorted(set(elements) - read)]
    failures += [f"{name}: read, without a policy" for name in sorted(read - set(elements))]

    text = ET.tostring(admx, encoding="unicode")
    for lang in ("es-ES", "en-US"):
        adml = ET.parse(source / "packaging" / lang / "notelia.adml").getroot()
        table = {s.get("id") for s in adml.iterfind("p:resources/p:stringTable/p:string", NS)}
        failures += [f"{lang}: no string {s}" for s in sorted(set(re.findall(r"\$\(string\.(\w+)\)", text)) - table)]
        shown = {p.get("id"): {c.get("refId") for c in p}
                 for p in adml.iterfind("p:resources/p:presentationTable/p:presentation", NS)}
        for name in sorted(set(re.findall(r"\$\(presentation\.(\w+)\)", text))):
            if shown.get(name) != elements.get(name):
                failures.append(f"{lang}: presentation {name} shows {shown.get(name)}")

    print("\n".join(f"FAIL {f}" for f in failures) or f"{len(elements)} policies, all good")
    return 1 if failures or not elements else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
