"""Prints the benchmark table from bench/run's results and checks the budgets."""
import json
import os
import statistics
import sys

out = sys.argv[1]
smoke = "--smoke" in sys.argv


def load(name):
    with open(os.path.join(out, name)) as f:
        return json.load(f)


def medians(name):
    """Median real time in ns of each benchmark in a Google Benchmark file."""
    runs = {}
    for b in load(name)["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("run_type") == "aggregate" or "aggregate_name" not in b:
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
            runs.setdefault(b["run_name"], []).append(b["real_time"] * scale)
    return {k: v[-1] for k, v in runs.items()}  # the median aggregate comes last


rows = []
failed = []


def compare(what, a_name, a, b_name, b, budget, unit):
    ratio = a / b
    ok = budget is None or ratio <= budget
    rows.append((what, f"{a:.1f} {unit} vs {b:.1f} {unit}", f"{ratio:.3f}",
                 f"<= {budget}" if budget else "(reported)", "ok" if ok else "OVER"))
    if not ok:
        failed.append(what)


def absolute(what, value, unit, budget=None):
    ok = budget is None or value <= budget
    rows.append((what, f"{value:.1f} {unit}", "", f"<= {budget} {unit}" if budget else "",
                 ("ok" if ok else "OVER") if budget else ""))
    if not ok:
        failed.append(what)


startup = load("startup.json")
compare("start-up wall time: portpanel / bare Qt window", "portpanel",
        statistics.median(startup["portpanel"]["ms"]), "bare",
        statistics.median(startup["bare_window"]["ms"]), 1.10, "ms")
compare("start-up peak RSS: portpanel / bare Qt window", "portpanel",
        statistics.median(startup["portpanel"]["peak_kb"]) / 1024, "bare",
        statistics.median(startup["bare_window"]["peak_kb"]) / 1024, 1.10, "MiB")
for library in ("simulated", "null"):
    m = medians(f"binding_{library}.json")
    compare(f"Out32+Inp32, {library} library: bound / direct", "bound", m["bound"],
            "direct", m["direct"], 1.05, "ns")
absolute("Command1_Click, simulated library, per click", medians("handler.json")["commitClick"] / 1e3,
         "us", 20)
for name, value in medians("conversions.json").items():
    absolute(name, value, "ns")
# Every route against root's inline pair from the same boot.
guest = medians("guest-ioperm.json")
inline = guest["inlineInstructions"]
compare("emulated PC, root (ioperm): Out32+Inp32 / inline outb+inb", "bound", guest["bound"],
        "inline", inline, 1.5, "ns")
for route, user in (("ppdev", "lp"), ("helper", "portpanel")):
    guest = medians(f"guest-{route}.json")
    compare(f"emulated PC, in {user} ({route}): Out32+Inp32 / root's inline outb+inb", "bound",
            guest["bound"], "inline", inline, None, "ns")
absolute("emulated PC, in portpanel: Out32+Inp32 through the helper", guest["bound"] / 1e3, "us",
         1000)

if os.path.exists(os.path.join(out, "startup-windows.json")):
    startup = load("startup-windows.json")
    compare("Windows start-up under wine: portpanel.exe / bare Win32 window", "portpanel",
            statistics.median(startup["portpanel"]["ms"]), "bare",
            statistics.median(startup["bare_window"]["ms"]), 1.10, "ms")
    with open(os.path.join(out, "exe-sizes.txt")) as f:
        for line in f:
            name, size = line.split()
            absolute(f"size of {name}", int(size) / 1024, "KiB")

width = [max(len(r[i]) for r in rows) for i in range(5)]
header = ("measure", "medians", "ratio", "budget", "")
for r in [header] + rows:
    print("  ".join(c.ljust(w) for c, w in zip(r, width)).rstrip())
if smoke:
    sys.exit(0)
if failed:
    print("over budget: " + "; ".join(failed))
    sys.exit(1)
