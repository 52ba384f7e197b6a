#!/usr/bin/env python3
"""Moves the resource section of a linked launcher to a page boundary in the file, so that a loader maps
the pack in place instead of reading it whole at every start (Wine reads any section whose file offset is
not page-aligned; a mingw link aligns sections to 512 bytes only). The resources stay the last section in
memory, where resource tools and UpdateResourceW expect them: only their bytes move in the file, behind a
gap of zeros that no section covers, which the PE format allows.

Usage: align-resources.py EXE"""
import struct
import sys

PAGE = 4096


def main(path):
    data = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("%s: not a PE executable" % path)
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = pe + 24
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    # A signature or a debug directory points into the file by offset: both come after this step, if ever.
    for index, what in ((4, "a signature"), (6, "a debug directory")):
        if struct.unpack_from("<II", data, directories + 8 * index) != (0, 0):
            sys.exit("%s: %s already; align the resources before signing or adding it" % (path, what))
    entries = [table + 40 * n for n in range(sections)]
    rsrc = [e for e in entries if data[e:e + 8].rstrip(b"\0") == b".rsrc"]
    if not rsrc:
        sys.exit("%s: no resource section" % path)
    start = struct.unpack_from("<I", data, rsrc[0] + 20)[0]
    gap = -start % PAGE
    if gap == 0:
        return
    for entry in entries:
        raw = struct.unpack_from("<I", data, entry + 20)[0]
        if raw >= start:
            struct.pack_into("<I", data, entry + 20, raw + gap)
    data[start:start] = bytes(gap)
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
