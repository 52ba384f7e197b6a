#!/usr/bin/env python3
"""tests/bench/make_many_files.py: the tree of a pack whose first start is long: 3,000 files in 60 folders
(small text and noise, as an application's resources come), three of them megabytes, and the core
assembly at the top for the simulated runtime. The same bytes on every run.
Usage: make_many_files.py --out DIR --assembly NAME --entry-type TYPE [--files N]"""
import argparse
import os
import shutil


def noise(seed, size):
    """Bytes from a fixed linear congruential generator: incompressible enough, never random."""
    out = bytearray()
    state = seed & 0xFFFFFFFF
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def text(seed, size):
    words = [b"corvane", b"pack", b"stream", b"storage", b"folder", b"cache", b"\r\n", b"resource", b"%d" % seed]
    out = bytearray()
    state = seed
    while len(out) < size:
        state = (state * 69069 + 1) & 0xFFFFFFFF
        out += words[(state >> 24) % len(words)] + b" "
    return bytes(out[:size])


def write(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--assembly", required=True)
    parser.add_argument("--entry-type", required=True)
    parser.add_argument("--files", type=int, default=3000)
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    # Folders two levels deep, the files spread over them and over the top.
    folders = ["res%02d/set%d" % (n // 3, n % 3) if n % 3 else "res%02d" % (n // 3) for n in range(60)]
    big = {7: 4 << 20, 1500: 2 << 20, 2900: 1 << 20}
    for n in range(args.files - 1):
        size = big.get(n, 200 + (n * 7919) % 6000)
        data = noise(n, size) if n % 2 else text(n, size)
        write(args.out, "%s/file%04d.%s" % (folders[n % len(folders)], n, "bin" if n % 2 else "txt"), data)
    # The simulated runtime loads the core assembly by file name and finds the entry type by its text.
    write(args.out, args.assembly + ".dll", b"MZ" + noise(1, 510) + args.entry_type.encode("ascii") + b"\0")


if __name__ == "__main__":
    main()
