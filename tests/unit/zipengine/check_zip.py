#!/usr/bin/env python3
"""Independent reading of an archive for the engine tests: tests every CRC with Python's
zipfile and lists the entries, one per line, tab-separated:
name, file_size, compress_size, compress_type, external_attr, flag_bits, create_system,
header_offset, date_time (YYYY-MM-DD hh:mm:ss), sha256 of the content."""
import hashlib
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    print("BAD " + bad if bad else "OK")
    for i in z.infolist():
        data = z.read(i)
        y, mo, d, h, mi, s = i.date_time
        print("\t".join(str(x) for x in (
            i.filename, i.file_size, i.compress_size, i.compress_type, i.external_attr, i.flag_bits,
            i.create_system, i.header_offset, f"{y:04}-{mo:02}-{d:02} {h:02}:{mi:02}:{s:02}",
            hashlib.sha256(data).hexdigest())))
