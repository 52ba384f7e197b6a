# tests/bench/phases.py: where a start's time goes, read from Wine's own debug output (+timestamp with the
# loader, file and COM channels), so that the launcher runs exactly as it ships: nothing is added to it.
import re

# Channels: loaddll marks each DLL mapped (the shim, ITStorage's DLL), file each call by name (the temporary
# path, the pack file's test and open, every cache file), ole CoInitializeEx and each CoCreateInstance.
CHANNELS = "+timestamp,+pid,+loaddll,+file,+ole"
LINE = re.compile(r"^(\d+)\.(\d{3}):([0-9a-f]{4}):[0-9a-f]{4}:(\w+):(\w+):(\S+)\s?(.*)$")
CLSID_ITSTORAGE = "{5d02926a-212e-11d0-9df9-00a0c922e6ec}"

PHASES = [
    ("process creation, the executable mapped", "created", "exe"),
    ("DLL imports, C runtime start, OS check", "exe", "coinit"),
    ("COM and splash (WIC decode, window)", "coinit", "shim"),
    ("shim and binding, framework check", "shim", "temp"),
    ("cache folder and pack file test (cold: the pack file written)", "temp", "itss"),
    ("opening the storage (ITStorage and its DLLs, the directory)", "itss", "walk"),
    ("the walk (attribute test per file; cold: decode and write)", "walk", "domain"),
    ("storage release, domain and entry, process exit", "domain", "exited"),
]


def markers(trace, figures, cache):
    """The tick of each phase boundary, from the launcher process's lines of the trace."""
    pid = figures["pid"]
    cache_l = cache.lower()
    found = {"created": figures["tick0"], "exited": figures["tick1"]}
    for raw in trace.splitlines():
        m = LINE.match(raw)
        if not m or m.group(3) != pid:
            continue
        tick = int(m.group(1)) * 1000 + int(m.group(2))
        channel, func, rest = m.group(5), m.group(6), m.group(7)
        low = rest.lower()

        def first(name):
            found.setdefault(name, tick)

        if channel == "loaddll" and "exe" not in found:
            first("exe")
        elif channel == "ole" and func == "CoInitializeEx":
            first("coinit")
        elif channel == "loaddll" and "mscoree.dll" in low:
            first("shim")
        elif channel == "file" and func == "GetTempPathW" and "shim" in found:
            first("temp")
        elif channel == "ole" and func == "CoCreateInstance" and CLSID_ITSTORAGE in low:
            first("itss")
        elif "itss" in found and channel == "file" and cache_l in low and "productcontent.chm" not in low:
            # The launcher tests and makes cache entries by GetFileAttributesExW, CreateDirectoryW and
            # CreateFileW; the simulated runtime's first look at the tree is a plain GetFileAttributesW.
            if func in ("GetFileAttributesExW", "CreateDirectoryW", "CreateFileW") and "domain" not in found:
                first("walk")
            elif func == "GetFileAttributesW" and "walk" in found:
                first("domain")
    return found


def table(rows):
    """rows: (title, markers, untimed best ms). Phases in ms, one column per start."""
    out = ["| Phase | " + " | ".join(title for title, _, _ in rows) + " |",
           "|---" * (len(rows) + 1) + "|"]
    for name, start, end in PHASES:
        cells = []
        for _, found, _ in rows:
            cells.append("%d" % (found[end] - found[start]) if start in found and end in found else "—")
        out.append("| %s | %s |" % (name, " | ".join(cells)))
    out.append("| **total, traced** (from the process's creation to its exit) | %s |" % " | ".join(
        "%d" % (found["exited"] - found["created"]) for _, found, _ in rows))
    out.append("| total untraced, best of the timed rounds | %s |" % " | ".join(
        "%.0f" % best for _, _, best in rows))
    return "\n".join(out)


def breakdown(flavour, best, tries=2):
    """One traced warm and one traced cold start of the corpus launcher, and the empty program for the
    process's floor; of each the traced start with the shortest total is kept."""
    # Wine's debug output doubles each backslash of a path.
    cache = ("Z:" + flavour.cache("corpus")).replace("/", "\\\\")
    runs = []
    for title, kind, prepare in (("warm, corpus", "warm-corpus", None),
                                 ("cold, corpus", "cold", lambda: flavour.clear_cache("corpus")),
                                 ("empty GUI program", "empty", None)):
        kept = None
        for _ in range(tries):
            if prepare:
                prepare()
            if kind == "empty":
                figures, trace = flavour.start(flavour.exe["empty"], debug=CHANNELS)
            else:
                figures, trace = flavour.launch("corpus", debug=CHANNELS)
            found = markers(trace, figures, cache)
            if kept is None or found["exited"] - found["created"] < kept["exited"] - kept["created"]:
                kept = found
        runs.append((title, kept, best[kind]))
    return table(runs)
