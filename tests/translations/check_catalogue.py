#!/usr/bin/env python3
"""Checks the English catalogue against the texts of the sources.

Usage: check_catalogue.py LUPDATE CATALOGUE LUPDATE_ARGS...

lupdate itself extracts the texts (the same arguments as the build's `lupdate` target)
into a copy of the catalogue, so the check sees exactly what a translator would: a text
added or changed in the sources comes out unfinished, a text gone from them vanished.
Each message must end up finished and non-empty, and keep the source's %1, %2 ...
markers, or the running program would drop or misplace a value.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def problems(catalogue):
    found = []
    for context in ET.parse(catalogue).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source") or ""
            translation = message.find("translation")
            where = "%s: %r" % (name, source)
            kind = translation.get("type") if translation is not None else "missing"
            text = "".join(translation.itertext()) if translation is not None else ""
            if kind:
                found.append("%s is %s" % (where, kind))
            elif not text.strip():
                found.append("%s has an empty translation" % where)
            elif sorted(re.findall(r"%\d", source)) != sorted(re.findall(r"%\d", text)):
                found.append("%s: %r does not keep the markers" % (where, text))
    return found


def main():
    lupdate, catalogue, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, os.path.basename(catalogue))
        shutil.copyfile(catalogue, copy)
        run = subprocess.run([lupdate] + args + ["-ts", copy], capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout + run.stderr)
            return 1
        found = problems(copy)
        count = sum(1 for _ in ET.parse(copy).getroot().iter("message"))
    if count == 0:
        print("lupdate found no texts in the sources")
        return 1
    for line in found:
        print(line)
    if found:
        print("%d of %d messages need work: run the lupdate target and translate them in %s"
              % (len(found), count, catalogue))
        return 1
    print("%d messages, all translated" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
