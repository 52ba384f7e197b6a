#!/usr/bin/env python3
"""tests/bench/bench.py: make bench. Measures every figure of the launcher against a baseline taken in the
same run, and prints one table of ratios with the machine's load.

Start-up figures: the real launcher with the simulated runtime (its entry returns at once and reads
nothing), started by corvane-bench-start inside Wine and timed from the process's creation to its exit,
under the persistent Wine server of tests/run-in-wine.sh; best of BENCH_ROUNDS, the rows interleaved, the
short starts BENCH_REPEAT times a round. Floors beside them, taken in the same rounds: the splash screen
alone (the product's own first steps, corvane-bench-splash), the splash followed by the creation of the
ITStorage object (corvane-bench-splash --storage), and ITStorage's enumeration of the corpus with one
attribute query per file (corvane-bench-stat); the walk again into a folder as deep as the cache's. After the
rounds: the peak working set of warm starts (the starter reads it until the process ends), the longest the
splash takes to answer WM_NULL during a cold start (the starter's --probe; the release without the pumping
beside it), and, when the cold start misses its goal, each cost the launcher adds to the copy and walk,
alone (corvane-bench-costs: the pack's hash, the pack file's write, the hash of every byte, the folders). What the
integrity checks cost: the same corpus in a launcher built from BENCH_BASE (the last release without the
digest checks; its sources taken with git archive), cold and warm, in the same rounds. Pack
figures: tools/corvane-pack/bench/bench.py, run as it is. Exe size: the launcher variant built without a
pack (tests/packs).

Environment: BENCH_QUICK=1 (a 40-file corpus, 3 rounds, the 32-bit product only: about a minute),
BENCH_ROUNDS=N (8), BENCH_REPEAT=N (4; 1 with BENCH_QUICK), BENCH_FLAVOURS="win32 win64", BENCH_PHASES=0
(no phase breakdown), BENCH_PACK=0 (no pack rows), BENCH_BASE=REV (777165e), JOBS (build parallelism)."""
import filecmp
import os
import re
import runpy
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
BUILD = os.environ.get("BUILD", os.path.join(ROOT, "build"))
WORK = os.path.join(BUILD, "bench")
QUICK = os.environ.get("BENCH_QUICK") == "1"
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3" if QUICK else "8"))
REPEAT = int(os.environ.get("BENCH_REPEAT", "1" if QUICK else "4"))
FLAVOURS = os.environ.get("BENCH_FLAVOURS", "win32" if QUICK else "win32 win64").split()
FLAVOUR_NAMES = {"win32": "32-bit product (qemu-i386)", "win64": "64-bit build (native)"}
SYSTEM_DIR = {"win32": "syswow64", "win64": "system32"}
CORPUS_FILES = 40 if QUICK else 548
# The launcher without the integrity checks, for what they cost.
BASE_REV = os.environ.get("BENCH_BASE", "777165e")
TOOLCHAINS = {"win32": "mingw-i686.cmake", "win64": "mingw-x86_64.cmake"}
# The application behind the entry returns at once and touches nothing: every figure is the launcher's.
SCENARIO = "# make bench: the entry returns at once, nothing is hashed or shown.\nentry.result = i4:0\n"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


LOADS = []


def loadavg():
    """The load averages as /proc/loadavg gives them; the 1-minute figure is kept for the verdict."""
    with open("/proc/loadavg") as f:
        fields = f.read().split()[:3]
    LOADS.append(float(fields[0]))
    return " ".join(fields)


def cmake_cache(flavour, name):
    with open(os.path.join(BUILD, flavour, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise SystemExit("%s not in the %s build's cache" % (name, flavour))


def pack_corpus_builder():
    """build_corpus of the pack benchmark, run as a module of its own (not as a script)."""
    return runpy.run_path(os.path.join(ROOT, "tools", "corvane-pack", "bench", "bench.py"))["build_corpus"]


def replace_if_changed(source, target):
    """Copies only changed bytes, so that an unchanged corpus pack relinks nothing."""
    if os.path.exists(target) and filecmp.cmp(source, target, shallow=False):
        return
    shutil.copyfile(source, target)


def prepare_corpus():
    """The pack benchmark's corpus of real PE files plus the demo's entry assembly at the top, so that the
    simulated runtime finds the entry type: the tree the corpus launcher carries."""
    corpus = os.path.join(WORK, "corpus")
    pack_corpus_builder()(corpus, CORPUS_FILES)
    entry = cmake_cache(FLAVOURS[0], "CORVANE_ENTRY_ASSEMBLY") + ".dll"
    shutil.copyfile(os.path.join(BUILD, FLAVOURS[0], "demo-content", entry), os.path.join(corpus, entry))
    files = sum(len(names) for _, _, names in os.walk(corpus))
    size = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(corpus) for n in names)
    pack = os.path.join(WORK, "corpus.chm")
    fresh = pack + ".new"
    r = subprocess.run([os.path.join(BUILD, "host", "corvane-pack"), "--digests", fresh + ".digests", corpus, fresh],
                       capture_output=True)
    if r.returncode != 0:
        raise SystemExit("corvane-pack failed: " + r.stderr.decode(errors="replace"))
    for suffix in ("", ".digests"):
        replace_if_changed(fresh + suffix, pack + suffix)
        os.remove(fresh + suffix)
    return corpus, pack, files, size


def build_base(name, corpus):
    """The launcher of BASE_REV carrying the corpus: the release before the integrity checks."""
    src = os.path.join(WORK, "base-src-" + BASE_REV)
    if not os.path.exists(os.path.join(src, "CMakeLists.txt")):
        os.makedirs(src, exist_ok=True)
        archive = subprocess.run(["git", "-C", ROOT, "archive", BASE_REV], capture_output=True, check=True)
        subprocess.run(["tar", "-x", "-C", src], input=archive.stdout, check=True)
    out = os.path.join(WORK, "base-" + name)
    subprocess.run(["cmake", "-S", src, "-B", out, "-DCORVANE_TESTS=OFF",
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(src, "cmake", TOOLCHAINS[name]),
                    "-DCORVANE_PACK_TOOL=" + os.path.join(BUILD, "host", "corvane-pack"),
                    "-DCORVANE_CONTENT_DIR=" + corpus], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "--target", "Corvane", "-j", os.environ.get("JOBS", "2")], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(out, "Corvane.exe")


class Flavour:
    """One build of the launcher and its bench programs in the prefix, and the starts that time them."""

    def __init__(self, name, pack, corpus):
        self.name = name
        self.dir = os.path.join(BUILD, name)
        self.bench_dir = os.path.join(self.dir, "tests", "bench")
        self.work = os.path.join(WORK, name)
        os.makedirs(self.work, exist_ok=True)
        os.makedirs(self.bench_dir, exist_ok=True)
        for suffix in ("", ".digests"):
            replace_if_changed(pack + suffix, os.path.join(self.bench_dir, "corpus.chm" + suffix))
        subprocess.run(["cmake", "--build", self.dir, "--target", "corvane_bench", "-j",
                        os.environ.get("JOBS", "2")], check=True, stdout=subprocess.DEVNULL)
        shutil.copyfile(os.path.join(self.dir, "fakeclr", "full", "mscoree.dll"),
                        os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", SYSTEM_DIR[name],
                                     "mscoree.dll"))
        self.scenario = os.path.join(self.work, "bench.scenario")
        with open(self.scenario, "w") as f:
            f.write(SCENARIO)
        self.pack = os.path.join(self.bench_dir, "corpus.chm")
        self.exe = {"corpus": os.path.join(self.bench_dir, "corvane-bench-corpus.exe"),
                    "demo": os.path.join(self.dir, "Corvane.exe"),
                    "empty": os.path.join(self.bench_dir, "corvane-bench-empty.exe"),
                    "splash": os.path.join(self.bench_dir, "corvane-bench-splash.exe"),
                    "walk": os.path.join(self.bench_dir, "corvane-bench-walk.exe"),
                    "stat": os.path.join(self.bench_dir, "corvane-bench-stat.exe"),
                    "costs": os.path.join(self.bench_dir, "corvane-bench-costs.exe"),
                    "base": build_base(name, corpus)}

    def temp(self, which):
        # Each launcher its own TEMP: both use the same cache folder name below it.
        path = os.path.join(self.work, "temp-" + which)
        os.makedirs(path, exist_ok=True)
        return path

    def cache(self, which):
        return os.path.join(self.temp(which), "Skarnveld", "Corvane", "v" + cmake_cache(self.name,
                                                                                      "CORVANE_VERSION"),
                            "ProductContentCache")

    def start(self, exe, args=(), env=(), copy=None, debug="-all", log=None, options=()):
        """Runs one start; returns the starter's figures (ms, exit, pid, tick0, tick1; the peak working set;
        with the option --probe CLASS, the longest wait for its window's answer) and Wine's stderr."""
        cmd = [os.environ["WINELOADER"], os.path.join(self.bench_dir, "corvane-bench-start.exe")] + list(options)
        for name, value in env:
            cmd += ["--env", "%s=%s" % (name, value)]
        if copy:
            cmd += ["--copy", winpath(copy[0]), winpath(copy[1])]
        cmd += [winpath(exe)] + list(args)
        wine_env = dict(os.environ, WINEDEBUG=debug, WINEDLLOVERRIDES="mscoree=n")
        r = subprocess.run(cmd, capture_output=True, env=wine_env, timeout=900)
        out = r.stdout.decode(errors="replace")
        m = re.search(r"ms=([\d.]+) exit=(\d+) pid=([0-9a-f]+) tick0=(\d+) tick1=(\d+) peak=(\d+) "
                      r"longest=([\d.]+) probes=(\d+)", out)
        if not m or r.returncode != 0:
            raise SystemExit("start of %s failed: %s %s" % (exe, out, r.stderr.decode(errors="replace")[-2000:]))
        figures = {"ms": float(m.group(1)), "exit": int(m.group(2)), "pid": m.group(3),
                   "tick0": int(m.group(4)), "tick1": int(m.group(5)), "peak": int(m.group(6)),
                   "longest": float(m.group(7)), "probes": int(m.group(8))}
        return figures, r.stderr.decode(errors="replace")

    def launch(self, which, debug="-all", log=None, args=()):
        env = [("TEMP", winpath(self.temp(which))), ("TMP", winpath(self.temp(which))),
               ("CORVANE_FAKECLR_SCENARIO", winpath(self.scenario))]
        if log:
            env.append(("CORVANE_FAKECLR_LOG", winpath(log)))
        # args: the starter's own options (--probe CLASS), given before the program.
        figures, trace = self.start(self.exe[which], env=env, debug=debug, options=args)
        if figures["exit"] != 0:
            raise SystemExit("%s exited with %d" % (self.exe[which], figures["exit"]))
        return figures, trace

    def clear_cache(self, which):
        shutil.rmtree(os.path.join(self.temp(which), "Skarnveld"), ignore_errors=True)

    def walk_baseline(self, debug="-all", deep=False):
        """Copying the pack file, then a bare walk through ITStorage writing every file: the cold floor. deep:
        into a folder as deep as the launcher's cache, as Wine resolves every component of every path."""
        top = os.path.join(self.work, "walk-out")
        shutil.rmtree(top, ignore_errors=True)
        out = os.path.join(top, os.path.relpath(self.cache("corpus"), self.temp("corpus"))) if deep else top
        os.makedirs(out)
        copy = os.path.join(out, "ProductContent.chm")
        figures, trace = self.start(self.exe["walk"], [winpath(copy), winpath(out)], copy=(self.pack, copy),
                                    debug=debug)
        if figures["exit"] != 0:
            raise SystemExit("the walker failed on %s" % self.pack)
        return figures, trace

    def stat_floor(self):
        """The warm walk's floor: ITStorage's enumeration of the corpus launcher's cache and one attribute
        query per file, timed inside the walker (no process start)."""
        cache = self.cache("corpus")
        pack = winpath(os.path.join(cache, "ProductContent.chm"))
        r = subprocess.run([os.environ["WINELOADER"], self.exe["stat"], pack, winpath(cache)], capture_output=True,
                           env=dict(os.environ, WINEDEBUG="-all"), timeout=600)
        m = re.search(r"^T (\d+) ms", r.stdout.decode(errors="replace"), re.M)
        if r.returncode != 0 or not m:
            raise SystemExit("the attribute walk failed: " + r.stdout.decode(errors="replace")[-2000:])
        return float(m.group(1))

    def verify(self, corpus):
        """One untimed start of each launcher with the call log: the entry ran, the runtime saw nothing
        wrong, the corpus was unpacked whole. Also fills both caches for the warm rows."""
        for which in ("demo", "corpus", "base"):
            log = os.path.join(self.work, which + "-clr.log")
            if os.path.exists(log):
                os.remove(log)
            self.clear_cache(which)
            self.launch(which, log=log)
            with open(log, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
            bad = [l for l in lines if l.startswith(("VIOLATION", "scenario error", "FATAL"))]
            if bad or not any(l.startswith("app return") for l in lines):
                raise SystemExit("%s did not run its entry cleanly: %s" % (which, bad or lines[-5:]))
        for which in ("corpus", "base"):
            r = subprocess.run(["diff", "-r", "-q", "-x", "ProductContent.chm", corpus, self.cache(which)],
                               capture_output=True)
            if r.returncode != 0:
                raise SystemExit("the %s launcher unpacked a different tree:\n%s" % (which, r.stdout.decode()[:2000]))

    def peak_mib(self, which, starts=3):
        """The least peak working set of warm starts (the cache filled by the rounds before), in MiB."""
        return min(self.launch(which)[0]["peak"] for _ in range(starts)) / 1048576.0

    def longest_unanswered(self, which, starts=3):
        """The longest the splash took to answer WM_NULL during cold starts (the worst of them), in ms."""
        splash = cmake_cache(self.name, "CORVANE_MAKER") + "LauncherSplash"
        worst = 0.0
        for _ in range(starts):
            self.clear_cache(which)
            figures = self.launch(which, args=("--probe", splash))[0]
            if figures["probes"] == 0:
                raise SystemExit("the probe never reached the splash of %s" % self.exe[which])
            worst = max(worst, figures["longest"])
        return worst

    def costs(self, corpus):
        """What a cold start adds to the copy and walk, each alone (corvane-bench-costs), best of three."""
        out = os.path.join(self.work, "costs-out")
        best = {}
        for _ in range(3):
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            r = subprocess.run([os.environ["WINELOADER"], self.exe["costs"], winpath(self.pack), winpath(corpus),
                                winpath(out)], capture_output=True, env=dict(os.environ, WINEDEBUG="-all"),
                               timeout=600)
            m = re.search(r"^T check=([\d.]+) write=([\d.]+) hashes=([\d.]+) folders=([\d.]+)",
                          r.stdout.decode(errors="replace"), re.M)
            if r.returncode != 0 or not m:
                raise SystemExit("the cost breakdown failed: " + r.stdout.decode(errors="replace")[-2000:])
            for key, value in zip(("check", "write", "hashes", "folders"), m.groups()):
                best[key] = min(best.get(key, float(value)), float(value))
        return best, sum(1 for _, dirs, _ in os.walk(corpus) for _ in dirs)

    def measure(self, rounds):
        """Best of the rounds, interleaved: each round runs every row once, from a rotating first row."""
        rows = {
            "cold": lambda: (self.clear_cache("corpus"), self.launch("corpus"))[1][0]["ms"],
            "walk": lambda: self.walk_baseline()[0]["ms"],
            "walk-deep": lambda: self.walk_baseline(deep=True)[0]["ms"],
            "warm-corpus": lambda: self.launch("corpus")[0]["ms"],
            "base-cold": lambda: (self.clear_cache("base"), self.launch("base"))[1][0]["ms"],
            "base-warm": lambda: self.launch("base")[0]["ms"],
            "warm-demo": lambda: self.launch("demo")[0]["ms"],
            "empty": lambda: self.start(self.exe["empty"])[0]["ms"],
            "splash": lambda: self.start(self.exe["splash"])[0]["ms"],
            "splash-storage": lambda: self.start(self.exe["splash"], ["--storage"])[0]["ms"],
            "stat": self.stat_floor,
        }
        order = list(rows)
        # The short starts differ by tens of milliseconds and vary by more from start to start on these
        # machines: each round takes them REPEAT times, so that their best is one of many.
        short = ["warm-corpus", "base-warm", "warm-demo", "empty", "splash", "splash-storage"]
        times = {name: [] for name in order}
        for n in range(rounds):
            sequence = order[n % len(order):] + order[:n % len(order)]
            for k in range(1, REPEAT):
                sequence += short[(n + k) % len(short):] + short[:(n + k) % len(short)]
            for name in sequence:
                # A warm row right after the cold one of its round still finds the cache filled.
                times[name].append(rows[name]())
            print("  %s round %d/%d, load %s: %s" % (self.name, n + 1, rounds, loadavg(), ", ".join(
                "%s %.0f" % (k, v[-1]) for k, v in times.items())), flush=True)
        return times


def hold_desktop(flavour):
    """A program that keeps Wine's desktop up for the whole run: Wine closes it a second after its last
    program ends and the next start pays for a new one, where Windows always has it."""
    holder = subprocess.Popen([os.environ["WINELOADER"], flavour.exe["empty"], "--hold"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=dict(os.environ, WINEDEBUG="-all"))
    time.sleep(3)
    return holder


def pack_rows():
    """The pack benchmark as it is; its table's corvane-pack and chmcmd lines give size and time. Its
    ITStorage column gets the walker built here, in this run's prefix and server (make test otherwise
    writes that choice)."""
    flavour = "win64" if "win64" in FLAVOURS else FLAVOURS[0]
    choice = os.path.join(WORK, "itss_walker.txt")
    with open(choice, "w") as f:
        f.write("\n".join([os.environ["WINELOADER"], os.path.join(BUILD, flavour, "tests", "bench",
                                                                 "corvane-bench-walk.exe"),
                           os.environ["WINEPREFIX"]]) + "\n")
    r = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "corvane-pack", "bench", "bench.py"),
                        "--walker-choice", choice], capture_output=True, env=os.environ)
    out = r.stdout.decode(errors="replace")
    print("\n".join("  | " + line for line in out.splitlines()), flush=True)
    found = {}
    for line in out.splitlines():
        # tool, size MB, time s, size/chmcmd, chmcmd/time, ITStorage s, round trip
        m = re.match(r"^(corvane-pack|chmcmd)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)x\s+\S+\s+(\S+)", line)
        if m:
            found[m.group(1)] = (float(m.group(2)), float(m.group(3)), float(m.group(4)), float(m.group(5)),
                                 m.group(6))
    return found


def exe_size():
    """The 32-bit launcher without its pack: the test variant built without the pack resource, and, as a
    check, the product's size less the pack file's."""
    none = os.path.join(BUILD, "win32", "corvane-pack-none.exe")
    if not os.path.exists(none):
        none = os.path.join(BUILD, "win32", "tests", "packs", "corvane-pack-none.exe")
    product = os.path.join(BUILD, "win32", "Corvane.exe")
    pack = os.path.join(BUILD, "win32", "ProductPack.chm")
    less_pack = os.path.getsize(product) - os.path.getsize(pack)
    return (os.path.getsize(none) if os.path.exists(none) else less_pack), less_pack


def fmt_s(ms):
    return "%.2f s" % (ms / 1000) if ms >= 1000 else "%.0f ms" % ms


def main():
    started = time.time()
    load_start = loadavg()
    print("make bench: %s; load average at start %s; %d rounds%s" % (
        time.strftime("%Y-%m-%d %H:%M"), load_start, ROUNDS, " (BENCH_QUICK)" if QUICK else ""), flush=True)
    corpus, pack, files, size = prepare_corpus()
    print("corpus: %d files, %.1f MB; pack %.2f MB" % (files, size / 1e6, os.path.getsize(pack) / 1e6), flush=True)

    table = []
    floors = []
    phases = []
    holder = None
    for name in FLAVOURS:
        flavour = Flavour(name, pack, corpus)
        if not holder:
            holder = hold_desktop(flavour)
        flavour.verify(corpus)
        times = flavour.measure(ROUNDS)
        best = {k: min(v) for k, v in times.items()}
        med = {k: statistics.median(v) for k, v in times.items()}
        label = FLAVOUR_NAMES[name]
        table.append(("Cold start (empty cache), %d files" % files, label, best["cold"], med["cold"],
                      "copy + ITStorage walk %s" % fmt_s(best["walk"]),
                      "%.2f×" % (best["cold"] / best["walk"]), "≤ 1.2×", best["cold"] / best["walk"] <= 1.2))
        if best["cold"] / best["walk"] > 1.2:
            # Each cost the launcher adds to the copy and walk, alone, as a share of the walk.
            costs, folders = flavour.costs(corpus)
            for what, ms in (("the splash screen (over the empty program)", best["splash"] - best["empty"]),
                             ("the pack check (the hash of the pack)", costs["check"]),
                             ("the pack file's write", costs["write"]),
                             ("the hash of every unpacked byte", costs["hashes"]),
                             ("the %d folders of the tree" % folders, costs["folders"])):
                table.append(("Cold start, what the launcher adds: %s" % what, label, ms, None,
                              "copy + ITStorage walk %s" % fmt_s(best["walk"]), "+%.2f×" % (ms / best["walk"]),
                              "—", None))
        table.append(("Warm start, cache up to date, %d files" % files, label, best["warm-corpus"],
                      med["warm-corpus"], "demo pack warm %s" % fmt_s(best["warm-demo"]),
                      "%+.0f ms" % (best["warm-corpus"] - best["warm-demo"]), "≤ +25 ms",
                      best["warm-corpus"] - best["warm-demo"] <= 25))
        peak, peak_demo = flavour.peak_mib("corpus"), flavour.peak_mib("demo")
        table.append(("Peak working set, warm start, %d files (least of 3)" % files, label, None, None,
                      "demo pack warm %.1f MiB" % peak_demo, "%.1f MiB (%+.1f MiB)" % (peak, peak - peak_demo),
                      "≤ +5 MiB", peak - peak_demo <= 5))
        longest, longest_base = flavour.longest_unanswered("corpus"), flavour.longest_unanswered("base", 1)
        table.append(("Longest wait for the splash's answer to WM_NULL, cold start, %d files (worst of 3)" % files,
                      label, longest, None, "release without it %s" % fmt_s(longest_base), fmt_s(longest),
                      "≤ 500 ms", longest <= 500))
        table.append(("Integrity checks, cold start, %d files" % files, label, best["cold"], med["cold"],
                      "release without them %s" % fmt_s(best["base-cold"]),
                      "%.2f×" % (best["cold"] / best["base-cold"]), "≤ 1.05×",
                      best["cold"] / best["base-cold"] <= 1.05))
        table.append(("Integrity checks, warm start, %d files" % files, label, best["warm-corpus"],
                      med["warm-corpus"], "release without them %s" % fmt_s(best["base-warm"]),
                      "%+.0f ms" % (best["warm-corpus"] - best["base-warm"]), "≤ +10 ms",
                      best["warm-corpus"] - best["base-warm"] <= 10))
        table.append(("Warm start, demo pack", label, best["warm-demo"], med["warm-demo"],
                      "empty GUI program %s" % fmt_s(best["empty"]),
                      "%+.0f ms" % (best["warm-demo"] - best["empty"]), "≤ +100 ms",
                      best["warm-demo"] - best["empty"] <= 100))
        # What no launcher that shows the splash and reads the storage can go below, and the launcher beside it.
        splash = best["splash"] - best["empty"]
        floors.append(("Warm start, demo pack: the splash screen alone (system gate, COM, WIC decode, layered "
                       "window) over the empty program", label, "%+.0f ms" % splash,
                       "%+.0f ms" % (best["warm-demo"] - best["empty"]),
                       "%+.0f ms" % (best["warm-demo"] - best["splash"])))
        storage = best["splash-storage"] - best["empty"]
        floors.append(("Warm start, demo pack: the splash screen, then the ITStorage object every start opens the "
                       "pack with (itss.dll and the libraries it imports) over the empty program", label,
                       "%+.0f ms" % storage, "%+.0f ms" % (best["warm-demo"] - best["empty"]),
                       "%+.0f ms" % (best["warm-demo"] - best["splash-storage"])))
        floors.append(("Warm start, %d files over the demo pack: ITStorage's enumeration and one attribute query "
                       "per file, inside the process" % files, label, "%.0f ms" % best["stat"],
                       "%+.0f ms" % (best["warm-corpus"] - best["warm-demo"]),
                       "%+.0f ms" % (best["warm-corpus"] - best["warm-demo"] - best["stat"])))
        floors.append(("Cold start: copy + ITStorage walk, plus the splash screen's cost", label,
                       "%.2f× (%s)" % ((best["walk"] + splash) / best["walk"], fmt_s(best["walk"] + splash)),
                       "%.2f× (%s)" % (best["cold"] / best["walk"], fmt_s(best["cold"])),
                       "%+.0f ms" % (best["cold"] - best["walk"] - splash)))
        deep = best["walk-deep"] + splash
        floors.append(("Cold start: copy + ITStorage walk into a folder as deep as the cache's, plus the splash "
                       "screen's cost", label, "%.2f× (%s)" % (deep / best["walk"], fmt_s(deep)),
                       "%.2f× (%s)" % (best["cold"] / best["walk"], fmt_s(best["cold"])),
                       "%+.0f ms" % (best["cold"] - deep)))
        if os.environ.get("BENCH_PHASES", "1") != "0":
            import phases as phase_module
            phases.append((label, phase_module.breakdown(flavour, best)))

    if holder:
        holder.kill()
        holder.wait()

    if os.environ.get("BENCH_PACK", "1") != "0":
        print("pack benchmark (tools/corvane-pack/bench/bench.py):", flush=True)
        found = pack_rows()
        if "corvane-pack" in found and "chmcmd" in found:
            ours_mb, ours_s, size_ratio, speed, round_trip = found["corvane-pack"]
            ref_mb, ref_s = found["chmcmd"][:2]
            table.append(("Pack size (round trip through ITStorage: %s)" % round_trip, "host tool", None, None,
                          "chmcmd %.2f MB" % ref_mb, "%.3f× (%.2f MB)" % (size_ratio, ours_mb), "≤ 0.90×",
                          size_ratio <= 0.90))
            table.append(("Pack build time (one run each)", "host tool", ours_s * 1000, None,
                          "chmcmd %.2f s" % ref_s, "%.1f× faster" % speed, "≥ 12×", speed >= 12))
        else:
            table.append(("Pack size and build time", "host tool", None, None, "chmcmd", "not measured", "", None))

    without_pack, less_pack = exe_size()
    table.append(("32-bit exe without its pack", "32-bit product", None, None,
                  "Corvane.exe less ProductPack.chm: %.0f KB" % (less_pack / 1024),
                  "%.0f KB" % (without_pack / 1024), "≤ 170 KB", without_pack <= 170 * 1024))

    load_end = loadavg()
    lines = ["", "Results (best of %d interleaved rounds, the short starts %d times a round; median beside it), "
             "load average %s at start, %s at end" % (ROUNDS, REPEAT, load_start, load_end), "",
             "| Figure | Build | Best | Median | Baseline (same run, best) | Ratio / difference | Goal | Met |",
             "|---|---|---|---|---|---|---|---|"]
    for figure, build, best, med, base, ratio, goal, met in table:
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            figure, build, fmt_s(best) if best is not None else "—", fmt_s(med) if med is not None else "—", base,
            ratio, goal, "—" if met is None else ("yes" if met else "no")))
    lines += ["", "Floors (same run, best of the rounds): what the platform costs for the same work, and the "
              "launcher beside it", "", "| Floor | Build | Floor | Launcher | Launcher beyond the floor |",
              "|---|---|---|---|---|"]
    lines += ["| %s |" % " | ".join(row) for row in floors]
    for label, text in phases:
        lines += ["", "Phases of one traced start, %s:" % label, "", text]
    lines.append("")
    # The benchmark itself keeps about one core busy.
    busy = max(LOADS) > 1.5
    lines.append("%d s in all. Highest 1-minute load average seen: %.2f on %d cores (the benchmark itself "
                 "accounts for about 1): %s" % (time.time() - started, max(LOADS), os.cpu_count(),
                                                "taken UNDER LOAD, the figures are upper bounds and the differences "
                                                "noisy." if busy else "a quiet machine."))
    report = "\n".join(lines)
    print(report)
    with open(os.path.join(WORK, "results.md"), "w") as f:
        f.write(report + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
