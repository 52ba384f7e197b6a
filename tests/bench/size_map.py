#!/usr/bin/env python3
"""tests/bench/size_map.py: what the 32-bit launcher without its pack is made of. Builds it once more in
build/size-map with a link map (the product's own flags, no pack, no tests) and sums the map's input
sections by what pulled them in. Usage: python3 tests/bench/size_map.py [--map FILE] (FILE: an existing
map, nothing is built)."""
import argparse
import collections
import os
import re
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BUILD = os.environ.get("BUILD", os.path.join(ROOT, "build"))

# Archive members by what brings them in; the first group that matches a member takes it.
GROUPS = [
    ("resources: icon, splash picture, manifest, version", [".rc.res"]),
    ("libstdc++'s string code and std exception classes (what std::wstring and std::vector pull in)",
     ["wstring-inst", "functexcept", "snprintf_lite", "bad_array_new", "bad_cast", "bad_typeid", "(stdexcept",
      "cow-stdexcept", "cow-string-inst", "(random", "sso_string", "(string-inst", "rand_s"]),
    ("verbose terminate handler and the C++ demangler", ["vterminate", "cp-demangle", "eh_type.o"]),
    ("MinGW's C99 printf engines and float formatting (libmingwex)", ["libmingwex"]),
    ("thread-safe static guards", ["(guard.o"]),
    ("exception runtime: unwinder (libgcc_eh), its locks (gthr-win32; winpthread with posix), typeinfo, eh_*",
     ["libgcc_eh", "libpthread", "gthr-win32", "(eh_", "class_type_info", "si_class_type", "pointer_type", "pbase_type",
      "fundamental_type", "(tinfo", "bad_alloc", "new_handler"]),
    ("product code: libcorvane_core and main.cpp, optimised as one program at link time", ["ltrans"]),
]


def read_map(path):
    """Sizes of the kept input sections per archive member."""
    members = collections.Counter()
    started = False
    pending = None
    output = None
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("Linker script and memory map"):
            started = True
            continue
        if not started:
            continue
        m = re.match(r"^(\.\w+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+", line)
        if m:
            output = m.group(1)
            continue
        m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m:
            size, member = int(m.group(2), 16), m.group(3)
        else:
            # A long section name stands on a line of its own, its address and size on the next.
            alone = re.match(r"^ (\S+)$", line)
            rest = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if alone:
                pending = alone.group(1)
                continue
            if not (rest and pending):
                pending = None
                continue
            size, member = int(rest.group(1), 16), rest.group(2)
        pending = None
        if size == 0 or output in (".bss", ".tls"):
            continue
        member = member.split("/")[-1]
        members[member] += size
    return members


def build_map():
    out = os.path.join(BUILD, "size-map")
    path = os.path.join(out, "Corvane.map")
    subprocess.run(["cmake", "-S", ROOT, "-B", out, "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake",
                                                                                         "mingw-i686.cmake"),
                    "-DCORVANE_TESTS=OFF", "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map=" + path], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "-j", os.environ.get("JOBS", "2")], check=True,
                   stdout=subprocess.DEVNULL)
    return path, os.path.getsize(os.path.join(out, "Corvane.exe"))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--map")
    a = p.parse_args()
    path, size = (a.map, None) if a.map else build_map()
    members = read_map(path)
    taken = set()
    print("| What | KB |")
    print("|---|---|")
    for title, patterns in GROUPS:
        names = [m for m in members if m not in taken and any(p in m for p in patterns)]
        taken.update(names)
        print("| %s | %.1f |" % (title, sum(members[m] for m in names) / 1024))
    rest = sum(v for m, v in members.items() if m not in taken)
    print("| C runtime start-up, imports, relocations, the rest | %.1f |" % (rest / 1024))
    print("| sum of the mapped parts | %.1f |" % (sum(members.values()) / 1024))
    if size:
        print("Corvane.exe without a pack: %d bytes (%.1f KB)" % (size, size / 1024))
    return 0


if __name__ == "__main__":
    sys.exit(main())
