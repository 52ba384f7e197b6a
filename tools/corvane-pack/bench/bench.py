#!/usr/bin/env python3
"""Benchmark on a release-shaped corpus (about 550 PE files, 110 MB, nested folders): pack size and time of
corvane-pack, Free Pascal's chmcmd, 7z -tzip and 7z -t7z, and the time to unpack each CHM through Wine's
ITStorage with itss_walk. BENCH_QUICK=1 runs a small subset as a smoke check."""
import argparse
import os
import shutil
import subprocess
import sys
import time

SOURCE = "/usr/lib/i386-linux-gnu/wine/i386-windows/"


def sh(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def timed(cmd, **kw):
    t = time.perf_counter()
    r = sh(cmd, **kw)
    return r, time.perf_counter() - t


def build_corpus(root, count):
    """The smallest PE files, nested three levels (extension / first letter / size class) with files at every
    level, so that writers which list only folders holding files still list them all."""
    names = [n for n in os.listdir(SOURCE) if os.path.isfile(SOURCE + n)]
    pe = []
    for n in names:
        with open(SOURCE + n, "rb") as f:
            if f.read(2) == b"MZ":
                pe.append(n)
    pe.sort(key=lambda n: (os.path.getsize(SOURCE + n), n))
    shutil.rmtree(root, ignore_errors=True)
    rels = []
    for i, n in enumerate(pe[:count]):
        ext = n.rsplit(".", 1)[-1].lower()
        level = [ext, ext + "/" + n[0].lower(), ext + "/" + n[0].lower() + "/s%d" % (os.path.getsize(SOURCE + n) // 400000)]
        rel = level[i % 3] + "/" + n
        os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
        shutil.copyfile(SOURCE + n, os.path.join(root, rel))
        rels.append(rel)
    return rels


def ensure_chmcmd():
    if shutil.which("chmcmd"):
        return True
    print("installing fp-utils for chmcmd ...", flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    sh(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "fp-utils"], env=env)
    return bool(shutil.which("chmcmd"))


def tree_equal(a, b):
    r = sh(["diff", "-r", "-q", a, b])
    return r.returncode == 0


def itss_unpack(choice, pack, out, src, rels=None):
    """Seconds to read and write out every stream through ITStorage, and whether the result equals the
    source. Without rels the walker enumerates as the launcher does; with rels it opens the listed paths
    (chmcmd leaves out the folder entries that enumeration needs)."""
    if not choice:
        return None, False
    wine, walker, prefix = choice
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=prefix)
    win = lambda p: "Z:" + os.path.abspath(p).replace("/", "\\")
    cmd = [wine, walker, win(pack), win(out)]
    if rels is not None:
        listing = os.path.join(os.path.dirname(out), "names.txt")
        with open(listing, "w", encoding="utf-8") as f:
            f.write("\n".join(rels) + "\n")
        cmd.append(win(listing))
    # The walker reports its own time, so Wine's start-up is not counted; best of three against machine noise.
    secs = None
    for _ in range(3):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        r = sh(cmd, env=env)
        ms = [l for l in r.stdout.decode("utf-8", "replace").splitlines() if l.startswith("T ")]
        if ms:
            t = int(ms[-1].split()[1]) / 1000.0
            secs = t if secs is None else min(secs, t)
    ok = r.returncode == 0 and all(
        sh(["cmp", "-s", os.path.join(src, rel), os.path.join(out, rel)]).returncode == 0 for rel in (rels or []))
    if rels is None:
        ok = r.returncode == 0 and tree_equal(src, out)
    return secs, ok


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_build = os.path.normpath(os.path.join(here, "..", "..", "..", "build", "host"))
    p = argparse.ArgumentParser()
    p.add_argument("--packer", default=os.path.join(default_build, "corvane-pack"))
    p.add_argument("--walker-choice", default=os.path.join(default_build, "itss_walker.txt"),
                   help="file written by the itss_walker_select test: wine, walker, prefix")
    p.add_argument("--work", default=os.path.join(default_build, "bench"))
    a = p.parse_args()
    quick = os.environ.get("BENCH_QUICK") == "1"
    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, "corpus")
    rels = build_corpus(src, 40 if quick else 548)
    total = sum(os.path.getsize(os.path.join(src, r)) for r in rels)
    print("corpus: %d files, %.1f MB, %d folders" % (len(rels), total / 1e6,
                                                     sum(len(d) for _, d, _ in os.walk(src))), flush=True)
    choice = None
    if os.path.exists(a.walker_choice):
        with open(a.walker_choice) as f:
            choice = f.read().splitlines()[:3]
    rows = []

    ours = os.path.join(work, "corvane.chm")
    r, secs = timed([a.packer, src, ours])
    if r.returncode != 0:
        sys.exit("corvane-pack failed: " + r.stderr.decode())
    ok = sh([a.packer, "--verify", ours, src]).returncode == 0
    walk, walk_ok = itss_unpack(choice, ours, os.path.join(work, "out-corvane"), src)
    print("corvane-pack pack walked through ITStorage (enumeration, as the launcher): %s s, %s" %
          (walk, "identical" if walk_ok else "FAILED"), flush=True)
    unpack, unpack_ok = itss_unpack(choice, ours, os.path.join(work, "out-corvane"), src, rels)
    rows.append(("corvane-pack", os.path.getsize(ours), secs, unpack, unpack_ok and ok and walk_ok))

    # The same pack without E8 call translation, to show what the translation gives on PE files.
    plain = os.path.join(work, "corvane-no-e8.chm")
    r, secs = timed([a.packer, "--no-e8", src, plain])
    ok = r.returncode == 0 and sh([a.packer, "--verify", plain, src]).returncode == 0
    rows.append(("corvane --no-e8", os.path.getsize(plain), secs, None, ok))

    flat = os.path.join(work, "flat")
    shutil.rmtree(flat, ignore_errors=True)
    os.makedirs(flat)
    flat_rels = [os.path.basename(r) for r in rels]
    for rel in rels:
        shutil.copyfile(os.path.join(src, rel), os.path.join(flat, os.path.basename(rel)))
    if ensure_chmcmd():
        # chmcmd writes no root or folder entries, so ITStorage cannot enumerate its packs; every CHM is
        # therefore also read by name, and both writers are timed on a flat copy as well.
        for label, tree, names in (("chmcmd", src, rels), ("chmcmd flat", flat, flat_rels)):
            hhp = os.path.join(tree, "corpus.hhp")
            chm = os.path.join(work, label.replace(" ", "-") + ".chm")
            with open(hhp, "w", newline="\r\n") as f:
                f.write("[OPTIONS]\nCompiled file=%s\nTitle=bench\n\n[FILES]\n" % chm)
                for rel in names:
                    f.write(rel + "\n")
            if os.path.exists(chm):
                os.remove(chm)
            r, secs = timed(["chmcmd", "corpus.hhp"], cwd=tree)
            os.remove(hhp)
            if not os.path.exists(chm):
                print("chmcmd failed: %s" % r.stdout.decode()[-500:])
                continue
            unpack, unpack_ok = itss_unpack(choice, chm, os.path.join(work, "out-" + label.replace(" ", "-")), tree,
                                            names)
            rows.append((label, os.path.getsize(chm), secs, unpack, unpack_ok))
    else:
        print("chmcmd not available")
    ours_flat = os.path.join(work, "corvane-flat.chm")
    r, secs = timed([a.packer, flat, ours_flat])
    unpack, unpack_ok = itss_unpack(choice, ours_flat, os.path.join(work, "out-corvane-flat"), flat, flat_rels)
    rows.append(("corvane flat", os.path.getsize(ours_flat), secs, unpack, unpack_ok and r.returncode == 0))

    for kind in ("zip", "7z"):
        out = os.path.join(work, "corpus." + kind)
        if os.path.exists(out):
            os.remove(out)
        r, secs = timed(["7z", "a", "-t" + kind, out, "."], cwd=src)
        rows.append(("7z -t" + kind, os.path.getsize(out), secs, None, r.returncode == 0))

    ref = next((row for row in rows if row[0] == "chmcmd"), None)
    print()
    with open("/proc/loadavg") as f:
        print("machine load (1, 5, 15 min): %s; %d processors" % (" ".join(f.read().split()[:3]), os.cpu_count()))
    print("%-16s %10s %9s %11s %11s %13s %9s" % ("tool", "size MB", "time s", "size/chmcmd", "chmcmd/time",
                                                  "ITStorage s*", "round trip"))
    for name, size, secs, unpack, ok in rows:
        print("%-16s %10.2f %9.2f %11s %11s %13s %9s" % (
            name, size / 1e6, secs,
            "%.3f" % (size / ref[1]) if ref else "-",
            "%.1fx" % (ref[2] / secs) if ref else "-",
            "%.2f" % unpack if unpack is not None else "-",
            "ok" if ok else "FAILED"))
    print("* ITStorage s: reading every file by name through Wine's ITStorage and writing it out, walk time "
          "measured inside the walker (no Wine start-up).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
