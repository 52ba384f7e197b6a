# tests/bench/phases.py: where a start's time goes, read from Wine's own debug output (+timestamp with the
# loader and COM channels), so that the launcher runs exactly as it ships: nothing is added to it.
import re

# Channels: loaddll marks each DLL mapped (the executable, the shim, ITStorage's DLL); ole marks
# CoInitializeEx, each CoCreateInstance, each BSTR the launcher makes (one per storage element's name as the
# walk meets it) and the SetErrorInfo(0, NULL) with which every call into the runtime begins. The file
# channel would mark more, but it traces every read and write of a cold start and triples its time.
CHANNELS = "+timestamp,+pid,+loaddll,+ole"
LINE = re.compile(r"^(\d+)\.(\d{3}):([0-9a-f]{4}):[0-9a-f]{4}:(\w+):(\w+):(\S+)\s?(.*)$")
CLSID_ITSTORAGE = "{5d02926a-212e-11d0-9df9-00a0c922e6ec}"

PHASES = [
    ("process creation, the executable mapped", "created", "exe"),
    ("DLL imports, C runtime start, OS check", "exe", "coinit"),
    ("COM and splash (WIC decode, window)", "coinit", "shim"),
    ("shim and binding", "shim", "bound"),
    ("framework check, cache folder, pack file test (cold: the pack file written)", "bound", "itss"),
    ("opening the storage (ITStorage and its DLLs, the directory)", "itss", "walk"),
    ("the walk (attribute test per file; cold: decode and write)", "walk", "domain"),
    ("storage release, domain and entry, process exit", "domain", "exited"),
]


def markers(trace, figures):
    """The tick of each phase boundary, from the launcher process's lines of the trace."""
    found = {"created": figures["tick0"], "exited": figures["tick1"]}
    last_runtime_call = None
    for raw in trace.splitlines():
        m = LINE.match(raw)
        if not m or m.group(3) != figures["pid"]:
            continue
        tick = int(m.group(1)) * 1000 + int(m.group(2))
        channel, func, rest = m.group(5), m.group(6), m.group(7).lower()
        if channel == "loaddll":
            found.setdefault("exe", tick)
            if "mscoree.dll" in rest:
                found.setdefault("shim", tick)
        elif func == "CoInitializeEx":
            found.setdefault("coinit", tick)
        elif func == "SetErrorInfo" and "shim" in found:
            # Every call into the runtime starts by clearing the thread's error object.
            if "walk" in found:
                found.setdefault("domain", tick)
            elif "itss" not in found:
                last_runtime_call = tick
        elif func == "CoCreateInstance" and CLSID_ITSTORAGE in rest and "itss" not in found:
            found["itss"] = tick
            if last_runtime_call is not None:
                found["bound"] = last_runtime_call
        elif func == "SysAllocStringLen" and "itss" in found:
            found.setdefault("walk", tick)
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
            found = markers(trace, figures)
            if kept is None or found["exited"] - found["created"] < kept["exited"] - kept["created"]:
                kept = found
        runs.append((title, kept, best[kind]))
    return table(runs)
