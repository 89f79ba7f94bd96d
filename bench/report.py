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


def samples(name):
    """Real times in ns of each benchmark's repetitions in a Google Benchmark file."""
    runs = {}
    for b in load(name)["benchmarks"]:
        if b.get("run_type") != "aggregate":
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
            runs.setdefault(b["run_name"], []).append(b["real_time"] * scale)
    return runs


def medians(name):
    return {k: statistics.median(v) for k, v in samples(name).items()}


def spread(values):
    """Half the interquartile range, as a share of the median."""
    if len(values) < 4:
        return 0.0
    q1, _, q3 = statistics.quantiles(values, n=4)
    return (q3 - q1) / 2 / statistics.median(values)


rows = []
failed = []


def compare(what, a_values, b_values, budget, unit, slack=0):
    """Medians a/b against the budget; a difference within slack is one no user
    notices, so it passes whatever the ratio (sub-nanosecond noise, wine's scatter)."""
    a, b = statistics.median(a_values), statistics.median(b_values)
    ratio = a / b
    ok = budget is None or ratio <= budget or a - b <= slack
    allowed = f"<= {budget}" + (f" or +{slack:g} {unit}" if slack else "") if budget else ""
    rows.append((what, f"{a:.1f} {unit} ±{spread(a_values):.0%} vs {b:.1f} {unit} "
                 f"±{spread(b_values):.0%}", f"{ratio:.3f}", allowed or "(reported)",
                 "ok" if ok else "OVER"))
    if not ok:
        failed.append(what)


def absolute(what, value, unit, budget=None):
    ok = budget is None or value <= budget
    rows.append((what, f"{value:.1f} {unit}", "", f"<= {budget} {unit}" if budget else "",
                 ("ok" if ok else "OVER") if budget else ""))
    if not ok:
        failed.append(what)


# Slacks: differences below what anyone could notice at that scale.
startup = load("startup.json")
compare("start-up wall time: portpanel / bare Qt window", startup["portpanel"]["ms"],
        startup["bare_window"]["ms"], 1.10, "ms", slack=20)
compare("start-up peak RSS: portpanel / bare Qt window",
        [kb / 1024 for kb in startup["portpanel"]["peak_kb"]],
        [kb / 1024 for kb in startup["bare_window"]["peak_kb"]], 1.10, "MiB", slack=1)
startup = load("io-startup.json")
compare("start-up wall time: portpanel-io read / bare program, null library",
        startup["portpanel_io"]["ms"], startup["bare_io"]["ms"], 1.5, "ms", slack=5)
for library in ("simulated", "null"):
    runs = samples(f"binding_{library}.json")
    compare(f"Out32+Inp32, {library} library: bound / direct", runs["bound"], runs["direct"],
            1.05, "ns", slack=2)
absolute("Command1_Click, simulated library, per click", medians("handler.json")["commitClick"] / 1e3,
         "us", 20)
for name, value in medians("conversions.json").items():
    absolute(name, value, "ns")
# The status line follows the register at the polling interval (20 ms).
shown = sorted(load("pins.json")["ms"])
absolute("pins window: a status change shown after, median", statistics.median(shown), "ms")
absolute("pins window: a status change shown after, 95th percentile",
         shown[min(len(shown) - 1, len(shown) * 95 // 100)], "ms", 100)
# Every route against root's inline pair from the same boot.
inline = samples("guest-ioperm.json")["inlineInstructions"]
compare("emulated PC, root (ioperm): Out32+Inp32 / inline outb+inb",
        samples("guest-ioperm.json")["bound"], inline, 1.5, "ns", slack=20)
for route, user in (("ppdev", "lp"), ("helper", "portpanel")):
    bound = samples(f"guest-{route}.json")["bound"]
    compare(f"emulated PC, in {user} ({route}): Out32+Inp32 / root's inline outb+inb", bound,
            inline, None, "ns")
absolute("emulated PC, in portpanel: Out32+Inp32 through the helper",
         statistics.median(bound) / 1e3, "us", 1000)
# portpanel-run gives the same inline path as root's: on a parallel port and on a UART.
for pair, where in (("bound", "0x378"), ("boundScratch", "the UART's scratch register")):
    inline_pair = samples("guest-ioperm.json")["inlineInstructions" if pair == "bound" else "inlineScratch"]
    launched = samples("guest-run.json")[pair]
    compare(f"emulated PC, {where}: portpanel-run pair / root's inline pair", launched,
            inline_pair, 1.5, "ns", slack=20)
    compare(f"emulated PC, {where}: helper pair / portpanel-run pair",
            samples("guest-helper.json")[pair], launched, None, "ns")
startups = samples("guest-startup.json")
compare("emulated PC, root: start-up of portpanel-io read 0x378, portpanel-run / direct",
        [t / 1e6 for t in startups["startupLaunched/real_time"]],
        [t / 1e6 for t in startups["startupDirect/real_time"]], None, "ms")
absolute("emulated PC, in lp and portpanel: first access to a held port refused after",
         next(iter(medians("guest-held.json").values())) / 1e6, "ms", 100)
# capture's register reads (3 a sample) against bench's reads on the same port and route.
rates = {}
with open(os.path.join(out, "capture-rates.txt")) as f:
    for fields in (line.split() for line in f):
        if len(fields) == 4:
            rates.setdefault((fields[1], fields[2]), []).append(float(fields[3]))
for user, route in (("root", "ioperm"), ("lp", "ppdev")):
    compare(f"emulated PC, {user} ({route}): us per register read, capture / bench",
            [1e6 / (3 * r) for r in rates.get((user, "capture"), [float("nan")])],
            [1e6 / r for r in rates.get((user, "bench"), [float("nan")])], 1.5, "us")
# A pulse's width against the one asked: median and 95th percentile of the error.
widths = {}
with open(os.path.join(out, "pulse-widths.txt")) as f:
    for fields in (line.split() for line in f):
        if len(fields) == 3:
            widths.setdefault(fields[1], []).append(float(fields[2]))
for asked in ("0.1", "1", "10"):
    errors = sorted(abs(w - float(asked) * 1000) for w in widths.get(asked, [float("nan")]))
    p95 = errors[min(len(errors) - 1, int(0.95 * len(errors)))]
    absolute(f"emulated PC, root (ioperm): {asked} ms pulse's width error, median "
             f"{statistics.median(errors):.0f} us, 95th percentile", p95, "us", 20)

if os.path.exists(os.path.join(out, "startup-windows.json")):
    startup = load("startup-windows.json")
    compare("Windows start-up under wine: portpanel.exe / bare Win32 window",
            startup["portpanel"]["ms"], startup["bare_window"]["ms"], 1.10, "ms", slack=30)
    with open(os.path.join(out, "exe-sizes.txt")) as f:
        for line in f:
            name, size = line.split()
            absolute(f"size of {name}", int(size) / 1024, "KiB")

# The pins window's timer, against a window with none.
polling = load("pins-polling.json")
for name, what, budget in (("portpanel_pins", "portpanel-pins polling every 20 ms", 1),
                           ("bare_window", "bare Qt window, idle", None)):
    share = statistics.median(polling["cpu_ms"][name]) / 1e3 / polling["span_seconds"] * 100
    absolute(f"{what}: CPU, share of one core", share, "%", budget)

width = [max(len(r[i]) for r in rows) for i in range(5)]
header = ("measure", "medians", "ratio", "budget", "")
for r in [header] + rows:
    print("  ".join(c.ljust(w) for c, w in zip(r, width)).rstrip())
if smoke:
    sys.exit(0)
if failed:
    print("over budget: " + "; ".join(failed))
    sys.exit(1)
