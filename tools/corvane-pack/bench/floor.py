#!/usr/bin/env python3
"""How small the pack could get under the container's independence constraint, with a stronger coder.

The packer lays the files out back to back in case-folded name order, pads the end to a whole 32 KiB frame
and encodes every 64 KiB reset interval on its own. This script builds that same uncompressed stream from
SOURCE_DIR and compresses each 64 KiB piece independently with LZMA2 (raw, preset 9 | PRESET_EXTREME), once
plain and once behind the x86 BCJ filter (the counterpart of LZX's E8 translation). The sum of the pieces plus
the pack's non-content bytes (PACK's size minus its Content stream) is what a pack would weigh with that
coder; it is set against REF (chmcmd's output) when given.

usage: floor.py SOURCE_DIR PACK [REF]     (the bench corpus is build/host/bench/corpus after bench.py)

LZX's own ceiling is the packer at its slowest settings, e.g.
corvane-pack --depth 256 --nice 257 --passes 4 --split-depth 4 SOURCE_DIR strong.chm
"""
import lzma
import os
import sys
from concurrent.futures import ProcessPoolExecutor

INTERVAL = 0x10000
FRAME = 0x8000


def section_stream(root):
    """File contents in the packer's order: full names compared with ASCII letters folded."""
    names = []
    for d, _, files in os.walk(root):
        for f in files:
            full = os.path.join(d, f)
            names.append((("/" + os.path.relpath(full, root)).lower().encode("utf-8"), full))
    names.sort()
    data = bytearray()
    for _, full in names:
        with open(full, "rb") as f:
            data += f.read()
    data += bytes(-len(data) % FRAME)
    return bytes(data)


def encint(buf, i):
    v = 0
    while True:
        b = buf[i]
        i += 1
        v = (v << 7) | (b & 0x7F)
        if b < 0x80:
            return v, i


def content_size(pack):
    """Length of ::DataSpace/Storage/MSCompressed/Content, read from the PMGL listing chunks."""
    with open(pack, "rb") as f:
        buf = f.read()
    chunk = int.from_bytes(buf[0x78 + 0x10:0x78 + 0x14], "little")
    count = int.from_bytes(buf[0x78 + 0x2C:0x78 + 0x30], "little")
    for k in range(count):
        c = buf[0x78 + 0x54 + k * chunk:0x78 + 0x54 + (k + 1) * chunk]
        if c[:4] != b"PMGL":
            continue
        end = chunk - int.from_bytes(c[4:8], "little")
        i = 0x14
        while i < end:
            n, i = encint(c, i)
            name = c[i:i + n]
            i += n
            _, i = encint(c, i)
            _, i = encint(c, i)
            length, i = encint(c, i)
            if name == b"::DataSpace/Storage/MSCompressed/Content":
                return length
    sys.exit("no Content stream in " + pack)


def piece_sizes(args):
    piece, = args
    # A dictionary as large as the piece compresses the same as preset 9's 64 MiB one, without allocating it.
    lz = {"id": lzma.FILTER_LZMA2, "preset": 9 | lzma.PRESET_EXTREME, "dict_size": INTERVAL}
    plain = len(lzma.compress(piece, format=lzma.FORMAT_RAW, filters=[lz]))
    bcj = len(lzma.compress(piece, format=lzma.FORMAT_RAW, filters=[{"id": lzma.FILTER_X86}, lz]))
    return plain, bcj


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    stream = section_stream(sys.argv[1])
    pack_size = os.path.getsize(sys.argv[2])
    overhead = pack_size - content_size(sys.argv[2])
    pieces = [(stream[i:i + INTERVAL],) for i in range(0, len(stream), INTERVAL)]
    with ProcessPoolExecutor() as ex:
        sizes = list(ex.map(piece_sizes, pieces, chunksize=16))
    ref = os.path.getsize(sys.argv[3]) if len(sys.argv) == 4 else None
    print("stream %d bytes in %d intervals; pack %d bytes, of which %d not content" %
          (len(stream), len(pieces), pack_size, overhead))
    rows = [("this pack", pack_size),
            ("LZMA2 9e per 64 KiB", overhead + sum(s[0] for s in sizes)),
            ("x86 BCJ + LZMA2 9e per 64 KiB", overhead + sum(s[1] for s in sizes))]
    for label, size in rows:
        print("%-30s %12d%s" % (label, size, "  %.3f of REF" % (size / ref) if ref else ""))


if __name__ == "__main__":
    main()
