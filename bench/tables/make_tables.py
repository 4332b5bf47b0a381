#!/usr/bin/env python3
"""Generates a project of N small native tables (4 files each: .TAB, .DAT, .MAP, .ID), 200
tables to a folder and 40 to a workspace, as a city's or a utility's project holds them.
Used by bench/tables/run.   make_tables.py N FOLDER"""
import os
import struct
import sys

count, root = int(sys.argv[1]), sys.argv[2]
os.makedirs(root, exist_ok=True)
NATIVE = ('!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n'
          '  Type NATIVE Charset "WindowsLatin1"\r\n  Fields 1\r\n    Name Char (20) ;\r\n')


def dbf(rows, width=20):
    header = struct.pack('<BBBBIHH20x', 3, 126, 12, 8, len(rows), 32 + 32 + 1, 1 + width)
    field = b'Name'.ljust(11, b'\0') + b'C' + b'\0' * 4 + bytes([width]) + b'\0' * 15
    return header + field + b'\r' + b''.join(b' ' + r.encode().ljust(width)[:width] for r in rows) + b'\x1a'


workspace = None
for t in range(count):
    folder = os.path.join(root, 'data%03d' % (t // 200))
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(folder, 'T%05d' % t)
    with open(base + '.TAB', 'w', newline='') as f:
        f.write(NATIVE)
    with open(base + '.DAT', 'wb') as f:
        f.write(dbf(['row %d' % i for i in range(8)]))
    with open(base + '.MAP', 'wb') as f:
        f.write(bytes(1024))
    with open(base + '.ID', 'wb') as f:
        f.write(struct.pack('<8I', *range(8)))
    if t % 40 == 0:
        if workspace:
            workspace.close()
        workspace = open(os.path.join(root, 'W%04d.WOR' % (t // 40)), 'w', newline='')
        workspace.write('!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\n')
    workspace.write('Open Table "%s" As T%05d Interactive\r\n' % (base, t))
if workspace:
    workspace.close()
