#!/usr/bin/env python3
"""Generates the benchmark project: one workspace opening 400 small native tables (about
100 KB each, in 20 folders) and three large raster tables of 300 MB: one compressible, one
noisy, one already compressed. About 1 GB in all. Used by bench/copy and bench/package."""
import os
import random
import struct
import sys
import zlib

root = sys.argv[1]
rng = random.Random(1234)
os.makedirs(root, exist_ok=True)


def dbf(rows, width=60):
    header = struct.pack('<BBBBIHH20x', 3, 126, 12, 8, len(rows), 32 + 32 + 1, 1 + width)
    field = b'Name'.ljust(11, b'\0') + b'C' + b'\0' * 4 + bytes([width]) + b'\0' * 15
    body = b''.join(b' ' + r.encode().ljust(width)[:width] for r in rows)
    return header + field + b'\r' + body + b'\x1a'


NATIVE = ('!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n'
          '  Type NATIVE Charset "WindowsLatin1"\r\n  Fields 1\r\n    Name Char (60) ;\r\n')
lines = ['!Workspace', '!Version 600', '!Charset WindowsLatin1']
for t in range(400):
    folder = os.path.join(root, 'data%02d' % (t % 20))
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(folder, 'T%03d' % t)
    open(base + '.TAB', 'w', newline='').write(NATIVE)
    open(base + '.DAT', 'wb').write(dbf(['feature %d of table %d' % (i, t) for i in range(1300)]))
    open(base + '.MAP', 'wb').write(rng.randbytes(20000))
    open(base + '.ID', 'wb').write(struct.pack('<%dI' % 1300, *range(1300)))
    lines.append('Open Table "%s" As T%03d Interactive' % (base, t))

MB = 1 << 20
imagery = os.path.join(root, 'imagery')
os.makedirs(imagery, exist_ok=True)


def raster(name, ext, writer):
    path = os.path.join(imagery, name + ext)
    with open(path, 'wb') as f:
        writer(f)
    open(os.path.join(imagery, name + '.TAB'), 'w', newline='').write(
        '!table\r\n!version 300\r\n\r\nDefinition Table\r\n  File "%s%s"\r\n  Type "RASTER"\r\n'
        '  (0,0) (0,0) Label "Pt 1",\r\n  (1,1) (1000,1000) Label "Pt 2"\r\n' % (name, ext))
    lines.append('Open Table "%s" As %s Interactive' % (os.path.join(imagery, name), name))


def compressible(f):  # a scanned map: long runs and repeated rows with some variation
    row = bytes(rng.choice(b'\x00\x10\x20\xff') for _ in range(4096))
    for i in range(300 * MB // 4096):
        if i % 97 == 0:
            row = bytes(rng.choice(b'\x00\x10\x20\xff') for _ in range(4096))
        f.write(row)


def noisy(f):
    for _ in range(300):
        f.write(os.urandom(MB))


def compressed(f):  # already compressed data looks like noise behind a small header
    f.write(b'\xff\xd8\xff\xe0')
    for _ in range(300):
        f.write(zlib.compress(os.urandom(MB), 1))


raster('Scan', '.tif', compressible)
raster('Noise', '.tif', noisy)
raster('Photo', '.jpg', compressed)
open(os.path.join(root, 'Project.WOR'), 'w', newline='').write('\r\n'.join(lines) + '\r\n')
