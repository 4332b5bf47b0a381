#!/usr/bin/env python3
"""Judges the archive the Windows engine made under Wine (FOLDER/packed.zip) against the
entries its test listed beside it (FOLDER/expected.tsv: the stored name's bytes in hex, the
file holding the entry's bytes relative to FOLDER in hex or nothing for a folder, and the
attributes R read-only, D folder). unzip -t and zipfile must pass the archive, and it must hold exactly
the listed entries."""
import os
import subprocess
import sys
import zipfile

folder = sys.argv[1]
archive = os.path.join(folder, "packed.zip")
subprocess.run(["unzip", "-tqq", archive], check=True)

expected = {}
with open(os.path.join(folder, "expected.tsv"), encoding="ascii") as listing:
    for line in listing:
        name, source, flags = line.rstrip("\n").split("\t")
        expected[bytes.fromhex(name)] = (bytes.fromhex(source), flags)

failures = []
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    if bad:
        failures.append(f"bad CRC: {bad}")
    # The name's bytes as stored: zipfile decodes them as UTF-8 when the flag says so, else as cp437.
    found = {i.filename.encode("utf-8" if i.flag_bits & 0x800 else "cp437"): i for i in z.infolist()}
    if sorted(found) != sorted(expected):
        failures.append(f"entries {sorted(found)}, expected {sorted(expected)}")
    for name, (source, flags) in expected.items():
        entry = found.get(name)
        if entry is None:
            continue
        attributes = ("R" if entry.external_attr & 0x01 else "") + ("D" if entry.external_attr & 0x10 else "")
        if attributes != flags:
            failures.append(f"{name}: attributes {attributes!r}, expected {flags!r}")
        if source:
            with open(os.path.join(os.fsencode(folder), source), "rb") as f:
                if z.read(entry) != f.read():
                    failures.append(f"{name}: content differs from {source}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
