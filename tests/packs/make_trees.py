#!/usr/bin/env python3
# Writes the source trees of the test packs, a file that is no container, (with --rename) a pack whose
# element name is patched to one no file may carry, and (with --damage) a pack cut short or with a broken
# LZX control block, as an interrupted download or a bad disk leaves it; the same bytes on every run.
import argparse
import os
import shutil
import sys


def noise(seed, size):
    """Bytes from a fixed linear congruential generator: incompressible enough, never random."""
    out = bytearray()
    state = seed & 0xFFFFFFFF
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def text(seed, size):
    words = [b"corvane", b"pack", b"stream", b"storage", b"folder", b"cache", b"\r\n", b"\xc3\xa9t\xc3\xa9"]
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


def make_full(root, assembly, entry_type):
    # Pre-order under Wine's storage (sorted, case-folded): a.txt, b/, b/a/, b/a/a/, b/a/a/deep.bin,
    # b/a/b.txt, b/b.bin, b/c/, b/d.txt, c.txt, d/, d/<non-ASCII>.txt, e.txt, <assembly>.dll.
    write(root, "a.txt", text(1, 3000))
    write(root, "b/a/a/deep.bin", noise(2, 4096))
    write(root, "b/a/b.txt", text(3, 1500))
    write(root, "b/b.bin", noise(4, 2500))
    os.makedirs(os.path.join(root, "b", "c"))
    write(root, "b/d.txt", text(5, 700))
    write(root, "c.txt", b"")
    write(root, "d/Gr\u00fc\u00dfe \u2013 \u00f1 \u65e5\u672c.txt", text(6, 1200))
    write(root, "e.txt", text(7, 900))
    # The simulated runtime loads the core assembly by file name and finds the entry type by its text.
    write(root, assembly + ".dll", b"MZ" + noise(8, 510) + entry_type.encode("ascii") + b"\0" + noise(9, 300))


def make_changed(root, assembly, entry_type):
    # The full tree rebuilt with one file changed at the same size, as a release rebuilt under its version.
    make_full(root, assembly, entry_type)
    write(root, "b/a/b.txt", text(33, 1500))


def make_long(root):
    # A name that fits below a short TEMP and not below a long one, whose cache folder still fits.
    write(root, "a.txt", text(14, 100))
    write(root, "n" * 60 + ".txt", text(15, 100))


def make_unsafe(root):
    # "auq.txt" becomes "aux.txt" (a device name) in the pack; same length, so the directory stays whole.
    write(root, "a.txt", text(10, 400))
    write(root, "auq.txt", text(11, 300))
    write(root, "z.txt", text(12, 200))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True, help="folder that receives the trees")
    parser.add_argument("--assembly", help="core assembly name")
    parser.add_argument("--entry-type", help="entry type name")
    parser.add_argument("--rename", nargs=4, metavar=("PACK", "OLD", "NEW", "OUT"),
                        help="copy PACK to OUT with the one directory name OLD replaced by NEW")
    parser.add_argument("--damage", nargs=3, metavar=("PACK", "HOW", "OUT"),
                        help="copy PACK to OUT cut to a fraction of its length (HOW 0.5) or with the window "
                             "size of its LZX control block made invalid (HOW control)")
    args = parser.parse_args()

    if args.damage:
        pack, how, out = args.damage
        data = bytearray(open(pack, "rb").read())
        if how == "control":
            at = data.find(b"LZXC")
            if at < 0 or data.count(b"LZXC") != 1:
                sys.exit("no single LZX control block in %s" % pack)
            data[at + 12:at + 16] = (0x7F).to_bytes(4, "little")  # window size, in 32 KiB units
        else:
            data = data[:int(len(data) * float(how))]
        with open(out, "wb") as f:
            f.write(data)
        return

    if args.rename:
        pack, old, new, out = args.rename
        old_b, new_b = old.encode("utf-8"), new.encode("utf-8")
        if len(old_b) != len(new_b):
            sys.exit("names must have the same length")
        data = open(pack, "rb").read()
        if data.count(old_b) != 1:
            sys.exit("%s occurs %d times in %s, not once" % (old, data.count(old_b), pack))
        with open(out, "wb") as f:
            f.write(data.replace(old_b, new_b))
        return

    shutil.rmtree(args.out, ignore_errors=True)
    make_full(os.path.join(args.out, "full"), args.assembly, args.entry_type)
    make_changed(os.path.join(args.out, "changed"), args.assembly, args.entry_type)
    make_long(os.path.join(args.out, "long"))
    make_unsafe(os.path.join(args.out, "unsafe"))
    write(args.out, "not-a-pack.bin", b"This is no compiled-help container.\r\n" + text(13, 2000))


if __name__ == "__main__":
    main()
