#!/usr/bin/env python3
"""Packs generated trees with corvane-pack and reads them back with readers no one here wrote (chmlib's
extract_chmLib, 7-Zip, Wine's ITStorage through itss_walk.exe) and with our own --verify; every byte is
compared, exit codes are not trusted."""
import argparse
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile

FRAME = 32768


class Failures:
    def __init__(self):
        self.items = []
        self.checks = 0

    def check(self, ok, what):
        self.checks += 1
        if not ok:
            self.items.append(what)
            print("FAIL: " + what, flush=True)
        return ok


F = Failures()
ARGS = None


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def make_tree(root, layout):
    """layout maps relative paths to bytes (a file) or None (a folder)."""
    os.makedirs(root, exist_ok=True)
    for rel, data in layout.items():
        path = os.path.join(root, rel)
        if data is None:
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    return root


def snapshot(root):
    """Relative folders and files (with content) below root."""
    dirs, files = set(), {}
    for cur, subdirs, names in os.walk(root):
        rel = os.path.relpath(cur, root)
        for d in subdirs:
            dirs.add(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            with open(os.path.join(cur, n), "rb") as f:
                files[os.path.normpath(os.path.join(rel, n))] = f.read()
    return dirs, files


def same_tree(src, out, label):
    sd, sf = snapshot(src)
    od, of = snapshot(out)
    ok = F.check(sd == od, "%s: folders differ: missing %s, extra %s" % (label, sorted(sd - od)[:5], sorted(od - sd)[:5]))
    ok &= F.check(sf.keys() == of.keys(),
                  "%s: files differ: missing %s, extra %s" % (label, sorted(sf.keys() - of.keys())[:5],
                                                             sorted(of.keys() - sf.keys())[:5]))
    bad = [k for k in sf if k in of and sf[k] != of[k]]
    ok &= F.check(not bad, "%s: content differs in %s" % (label, bad[:5]))
    return ok


def pack(src, out, store=False, expect_ok=True):
    cmd = [ARGS.packer] + (["--store"] if store else []) + [src, out]
    r = run(cmd)
    if expect_ok:
        F.check(r.returncode == 0 and os.path.isfile(out), "pack %s: rc %d %s" % (src, r.returncode, r.stderr[-500:]))
    return r


def fresh(work, name):
    path = os.path.join(work, name)
    shutil.rmtree(path, ignore_errors=True)
    return path


def read_all(pack_path, src, work, label, wine=True):
    """Every reader extracts the pack; each result must equal the source tree."""
    r = run([ARGS.packer, "--verify", pack_path, src])
    F.check(r.returncode == 0 and b"verify OK" in r.stdout, "%s: our --verify: %s" % (label, r.stderr[-400:]))

    out = fresh(work, "chmlib-out")
    run(["extract_chmLib", pack_path, out])  # exits 0 even when decoding fails
    os.makedirs(out, exist_ok=True)
    same_tree(src, out, label + " via chmlib")

    out = fresh(work, "7z-out")
    r = run(["7z", "x", "-y", "-o" + out, pack_path])
    F.check(r.returncode == 0, "%s: 7z x rc %d" % (label, r.returncode))
    os.makedirs(out, exist_ok=True)
    same_tree(src, out, label + " via 7-Zip")

    if wine and ARGS.walker:
        read_wine(pack_path, src, work, label)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_wine(pack_path, src, work, label):
    out = fresh(work, "wine-out")
    os.makedirs(out)
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=ARGS.wineprefix)
    r = run([ARGS.wine, ARGS.walker, windows_path(pack_path), windows_path(out)], env=env, timeout=600)
    listing = r.stdout.decode("utf-8", "replace").splitlines()
    errors = [l for l in listing if l.startswith("ERROR")]
    F.check(r.returncode == 0 and not errors, "%s: ITStorage walk rc %d %s %s" %
            (label, r.returncode, errors[:5], r.stderr[-300:]))
    # The walker opened every element it listed; the listing must name exactly the source tree.
    sd, sf = snapshot(src)
    want = {"D /"} | {"D /%s/" % d for d in sd}
    want |= {"F %d /%s" % (len(v), k) for k, v in sf.items()}
    got = set()
    for l in listing:
        parts = l.split(" ", 3)
        if parts[0] == "D":
            got.add(l)
        elif parts[0] == "F" and len(parts) == 4:
            got.add("F %s %s" % (parts[1], parts[3]))
    F.check(want == got, "%s: ITStorage listing differs: missing %s, extra %s" %
            (label, sorted(want - got)[:4], sorted(got - want)[:4]))
    same_tree(src, out, label + " via ITStorage")


def itsp_depth(pack_path):
    with open(pack_path, "rb") as f:
        head = f.read(0x78 + 0x54)
    return struct.unpack_from("<I", head, 0x78 + 0x18)[0]


def text_bytes(rng, n):
    words = ["".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9))).encode() for _ in range(3000)]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
        if rng.random() < 0.02:
            out += bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 64)))
    return bytes(out[:n])


# ---- groups ----------------------------------------------------------------------------------------------

def group_structure(work):
    rng = random.Random(1)
    layout = {
        "top.txt": b"top level\n",
        "a/b/c/deep.txt": b"three levels down\n" * 50,
        "a/b/c/d/deeper.bin": text_bytes(rng, 5000),
        "a/b/sibling.txt": b"sibling",
        "a/empty.dat": b"",
        "a/b/c/zero-length": b"",
        "Upper/Mixed_Case.TXT": b"case kept",
        "_under/#hash/$dollar.txt": b"collation edge names",
        "a.txt": b"sorts before a/",
        "empty-folder": None,
        "nest/ed/empty": None,
    }
    src = make_tree(fresh(work, "structure-src"), layout)
    for store in (False, True):
        out = os.path.join(work, "structure%s.chm" % ("-store" if store else ""))
        pack(src, out, store)
        read_all(out, src, work, "structure" + (" --store" if store else ""))
    r = run([ARGS.packer, "--list", os.path.join(work, "structure.chm")])
    listing = r.stdout.decode()
    F.check(r.returncode == 0 and "/a/b/c/deep.txt" in listing and "/empty-folder/" in listing
            and "::DataSpace" not in listing and "#SYSTEM" not in listing, "--list shows the tree only")


def group_sizes(work):
    rng = random.Random(2)
    sizes = [0, 1, FRAME - 1, FRAME, FRAME + 1, 2 * FRAME - 1, 2 * FRAME, 2 * FRAME + 1, 3 * FRAME]
    both = {}
    for n in sizes:
        data = text_bytes(rng, n)
        both["size-%06d.bin" % n] = data
        src = make_tree(fresh(work, "size-src"), {"only.bin": data})
        out = os.path.join(work, "size.chm")
        pack(src, out)
        read_all(out, src, work, "single file of %d bytes" % n)
    src = make_tree(fresh(work, "sizes-src"), both)
    out = os.path.join(work, "sizes.chm")
    pack(src, out)
    read_all(out, src, work, "all edge sizes in one pack")


def group_data(work):
    rng = random.Random(3)
    layout = {
        "big/several-mb.bin": text_bytes(rng, 5 * 1024 * 1024 + 123),
        "random.bin": bytes(rng.getrandbits(8) for _ in range(300000)),
        "zeros.bin": bytes(1024 * 1024),
        "repeated.bin": b"\xAB" * 200001,
    }
    src = make_tree(fresh(work, "data-src"), layout)
    for store in (False, True):
        out = os.path.join(work, "data%s.chm" % ("-store" if store else ""))
        pack(src, out, store)
        read_all(out, src, work, "data" + (" --store" if store else ""))
    lzx, stored = os.path.getsize(os.path.join(work, "data.chm")), os.path.getsize(os.path.join(work, "data-store.chm"))
    F.check(lzx < stored * 0.6, "LZX pack (%d) clearly smaller than --store (%d)" % (lzx, stored))


def group_scale(work):
    rng = random.Random(4)
    layout = {}
    for i in range(3000):
        layout["d%02d/file-%04d.txt" % (i % 40, i)] = text_bytes(rng, rng.randint(0, 300))
    src = make_tree(fresh(work, "many-src"), layout)
    out = os.path.join(work, "many.chm")
    pack(src, out)
    F.check(itsp_depth(out) >= 2, "3000 files need an index level (depth %d)" % itsp_depth(out))
    read_all(out, src, work, "3000 small files")
    # Long names: few entries per chunk, so the index needs two levels.
    layout = {}
    for i in range(450):
        layout["long/%s-%04d.txt" % ("n" * 180, i)] = b"%d" % i
    src = make_tree(fresh(work, "long-src"), layout)
    out = os.path.join(work, "long.chm")
    pack(src, out)
    F.check(itsp_depth(out) >= 3, "450 long names need two index levels (depth %d)" % itsp_depth(out))
    read_all(out, src, work, "450 long names")


def group_names(work):
    layout = {
        "données/été.txt": b"french",
        "данные/файл.txt": b"russian",
        "日本語/ファイル.txt": b"japanese",
        "mixed ä ö ü/ß.bin": b"\x00\x01\x02",
    }
    src = make_tree(fresh(work, "names-src"), layout)
    out = os.path.join(work, "names.chm")
    pack(src, out)
    read_all(out, src, work, "UTF-8 names")


def group_refused(work):
    bad = ["con", "CON.txt", "aux.tar.gz", "com1", "LPT9.log", "nul", "prn", "trailing.", "trailing ", "a:b",
           "a<b", "a>b", 'a"b', "a|b", "a?b", "a*b", "a\\b", "tab\tname"]
    for name in bad:
        src = fresh(work, "bad-src")
        make_tree(src, {"ok.txt": b"fine", "sub/" + name: b"bad"})
        out = os.path.join(work, "bad.chm")
        if os.path.exists(out):
            os.remove(out)
        r = pack(src, out, expect_ok=False)
        err = r.stderr.decode("utf-8", "replace")
        F.check(r.returncode != 0, "refused %r: non-zero exit" % name)
        F.check(name in err or name.replace("\\", "\\\\") in err, "refused %r: message names the path: %s" % (name, err[:200]))
        F.check(not os.path.exists(out) and not os.path.exists(out + ".tmp") and not os.path.exists(out + ".tmp-data"),
                "refused %r: nothing written" % name)
    # Too long as a whole path though every part is fine.
    src = fresh(work, "bad-src")
    make_tree(src, {"/".join(["p" * 60] * 4) + "/" + "f" * 30: b"x"})
    r = pack(src, os.path.join(work, "bad.chm"), expect_ok=False)
    F.check(r.returncode != 0 and b"259" in r.stderr, "path over 259 characters refused")
    for pair in (("Readme.txt", "README.TXT"), ("Été", "éTÉ"), ("dir", "DIR")):
        src = fresh(work, "bad-src")
        make_tree(src, {"x/" + pair[0]: b"1", "x/" + pair[1]: b"2"})
        out = os.path.join(work, "bad.chm")
        r = pack(src, out, expect_ok=False)
        F.check(r.returncode != 0 and b"differs only in case" in r.stderr and not os.path.exists(out),
                "case clash %s / %s refused" % pair)


def group_determinism(work):
    rng = random.Random(5)
    layout = {"z/%d.txt" % i: text_bytes(rng, 1000 * i) for i in range(30)}
    layout.update({"a/%d/empty" % i: None for i in range(3)})
    src = make_tree(fresh(work, "det-src"), layout)
    # Same tree built in the opposite order with other timestamps.
    copy = fresh(work, "det-copy")
    os.makedirs(copy)
    for rel in sorted(layout, reverse=True):
        make_tree(copy, {rel: layout[rel]})
    for cur, _, names in os.walk(copy):
        for n in names:
            os.utime(os.path.join(cur, n), (1000000, 1000000))
    outs = [os.path.join(work, "det%d.chm" % i) for i in range(3)]
    pack(src, outs[0])
    pack(src, outs[1])
    pack(copy, outs[2])
    data = [open(p, "rb").read() for p in outs]
    F.check(data[0] == data[1], "same tree packed twice gives the same bytes")
    F.check(data[0] == data[2], "same tree built differently gives the same bytes")
    r = run([ARGS.packer, "--threads", "1", src, outs[1]])
    F.check(r.returncode == 0 and open(outs[1], "rb").read() == data[0], "thread count does not change the bytes")


def group_errors(work):
    src = make_tree(fresh(work, "err-src"), {"a.txt": b"a" * 1000, "b/c.txt": b"c"})
    # Output folder missing; output name taken by a folder; a file where the output folder should be.
    blocker = os.path.join(work, "blocker")
    with open(blocker, "wb") as f:
        f.write(b"x")
    os.makedirs(os.path.join(work, "is-a-dir.chm"), exist_ok=True)
    for out in (os.path.join(work, "no", "such", "dir", "o.chm"), os.path.join(work, "is-a-dir.chm"),
                os.path.join(blocker, "o.chm")):
        r = pack(src, out, expect_ok=False)
        F.check(r.returncode != 0 and b"corvane-pack:" in r.stderr, "unwritable output %s refused: %s" % (out, r.stderr[-200:]))
        F.check(not os.path.exists(out + ".tmp") and not os.path.exists(out + ".tmp-data"), "no temp left for %s" % out)
    # Unreadable source: missing folder, a dangling link, a FIFO.
    r = pack(os.path.join(work, "missing-src"), os.path.join(work, "e.chm"), expect_ok=False)
    F.check(r.returncode != 0 and b"missing-src" in r.stderr, "missing source folder reported")
    for kind in ("dangling", "fifo"):
        bad = make_tree(fresh(work, "err-src2"), {"ok.txt": b"ok"})
        node = os.path.join(bad, "broken")
        os.symlink("/nonexistent/target", node) if kind == "dangling" else os.mkfifo(node)
        out = os.path.join(work, "e.chm")
        with open(out, "wb") as f:
            f.write(b"previous pack")
        r = pack(bad, out, expect_ok=False)
        F.check(r.returncode != 0 and b"broken" in r.stderr, "%s entry reported: %s" % (kind, r.stderr[-200:]))
        F.check(open(out, "rb").read() == b"previous pack", "%s: existing output untouched" % kind)
    # Disk full: a tiny tmpfs, when this machine lets us mount one.
    mnt = fresh(work, "tiny")
    os.makedirs(mnt)
    if run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt]).returncode == 0:
        try:
            rng = random.Random(6)
            big = make_tree(fresh(work, "full-src"), {"r.bin": bytes(rng.getrandbits(8) for _ in range(400000))})
            out = os.path.join(mnt, "full.chm")
            r = pack(big, out, expect_ok=False)
            F.check(r.returncode != 0 and b"disk full" in r.stderr, "disk full reported: %s" % r.stderr[-200:])
            F.check(os.listdir(mnt) == [], "disk full: nothing left behind (%s)" % os.listdir(mnt))
        finally:
            run(["umount", mnt])
    else:
        print("note: cannot mount a tmpfs here; disk-full case not run")


GROUPS = {
    "structure": group_structure, "sizes": group_sizes, "data": group_data, "scale": group_scale,
    "names": group_names, "refused": group_refused, "determinism": group_determinism, "errors": group_errors,
}


def is_win64_prefix(prefix):
    try:
        with open(os.path.join(prefix, "system.reg"), errors="replace") as f:
            return "#arch=win64" in f.read(4096)
    except OSError:
        return False


def probe_walker(wine, walker, prefix, arch):
    """Makes the prefix once if needed, then checks the walker starts (it prints its usage)."""
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=prefix, WINEDLLOVERRIDES="mscoree,mshtml=")
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        env["WINEARCH"] = arch
        try:
            run([wine, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, timeout=240)
        except subprocess.TimeoutExpired:
            return False
    try:
        r = run([wine, walker], env=env, stdin=subprocess.DEVNULL, timeout=120)
    except (subprocess.TimeoutExpired, OSError):
        return False
    return b"usage: itss_walk" in r.stdout


def choose_walker():
    """The 32-bit walker as the launcher is built; the 64-bit one where this machine cannot run 32-bit Wine."""
    env_prefix = os.environ.get("WINEPREFIX")
    if ARGS.walker32:
        prefix = env_prefix or os.path.join(ARGS.prefix_root, "wineprefix32")
        if probe_walker(ARGS.wine32, ARGS.walker32, prefix, "win32"):
            return ARGS.wine32, ARGS.walker32, prefix
        print("note: the 32-bit walker does not run under %s in %s" % (ARGS.wine32, prefix), flush=True)
    if ARGS.walker64:
        prefix = env_prefix if env_prefix and is_win64_prefix(env_prefix) else os.path.join(ARGS.prefix_root,
                                                                                              "wineprefix64")
        if probe_walker(ARGS.wine64, ARGS.walker64, prefix, "win64"):
            return ARGS.wine64, ARGS.walker64, prefix
    return None


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--packer", required=True)
    p.add_argument("--group", choices=sorted(GROUPS), action="append")
    p.add_argument("--select-walker", metavar="FILE", help="find a walker that runs under Wine, record it in FILE")
    p.add_argument("--itss", metavar="FILE", help="also read every pack through Wine's ITStorage, as FILE says")
    p.add_argument("--walker32", help="itss_walk.exe built for i686")
    p.add_argument("--walker64", help="itss_walk.exe built for x86_64")
    p.add_argument("--wine32", default="wine")
    p.add_argument("--wine64", default="wine64")
    p.add_argument("--prefix-root", default=tempfile.gettempdir(), help="where Wine prefixes are made if needed")
    p.add_argument("--work", help="keep files here instead of a temporary folder")
    ARGS = p.parse_args()
    ARGS.walker = None
    if ARGS.select_walker:
        chosen = choose_walker()
        if not chosen:
            print("FAIL: no itss_walk.exe runs under Wine here; ITStorage cannot be checked")
            return 1
        with open(ARGS.select_walker, "w") as f:
            f.write("\n".join(chosen) + "\n")
        print("ITStorage through %s under %s (%s)" % (chosen[1], chosen[0], chosen[2]))
        return 0
    if ARGS.itss:
        try:
            with open(ARGS.itss) as f:
                ARGS.wine, ARGS.walker, ARGS.wineprefix = f.read().splitlines()[:3]
        except (OSError, ValueError):
            print("FAIL: no working ITStorage walker recorded in %s" % ARGS.itss)
            return 1
    work = ARGS.work or tempfile.mkdtemp(prefix="corvane-pack-test-")
    os.makedirs(work, exist_ok=True)
    try:
        for g in ARGS.group or sorted(GROUPS):
            print("== %s" % g, flush=True)
            GROUPS[g](work)
    finally:
        if not ARGS.work:
            shutil.rmtree(work, ignore_errors=True)
    print("%d checks, %d failed" % (F.checks, len(F.items)))
    return 1 if F.items else 0


if __name__ == "__main__":
    sys.exit(main())
