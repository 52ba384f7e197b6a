#!/usr/bin/env python3
"""tests/bench/make_many_files.py: the tree of a pack whose first start is long: 3,000 files in 60 folders
(small text and noise, as an application's resources come), three of them megabytes, and the core
assembly at the top for the simulated runtime. The same bytes on every run.
Usage: make_many_files.py --out DIR --assembly NAME --entry-type TYPE [--files N]"""
import argparse
import os
import shutil
import sys

# The test packs' generators of text, noise and files: the same bytes on every run.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packs"))
from make_trees import noise, text, write  # noqa: E402


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
