"""The pins window's polling cost: CPU time (all threads, from schedstat) of
portpanel-pins over a span while it is shown and polls every 20 ms, against a
bare Qt window idle over the same span, alternated over rounds. Run under an X
server; LD_LIBRARY_PATH names a port library whose reads never change, so no
level is redrawn. Prints JSON: each program's CPU milliseconds per round.
Usage: pins_polling.py ROUNDS SETTLE_SECONDS SPAN_SECONDS PORTPANEL_PINS BARE_WINDOW"""
import glob
import json
import subprocess
import sys
import time

rounds, settle, span = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
commands = {"portpanel_pins": [sys.argv[4]], "bare_window": [sys.argv[5]]}


def cpu_ns(pid):
    """Time on a CPU of every thread the process has now."""
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that just ended
    return total


cpu_ms = {name: [] for name in commands}
for _ in range(rounds):
    for name, command in commands.items():
        program = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(settle)  # start-up is measured elsewhere; this is the idle span
        before = cpu_ns(program.pid)
        time.sleep(span)
        after = cpu_ns(program.pid)
        if program.poll() is not None:
            sys.exit(f"pins_polling: {name} ended with status {program.returncode}")
        program.terminate()
        program.wait()
        cpu_ms[name].append((after - before) / 1e6)
print(json.dumps({"span_seconds": span, "cpu_ms": cpu_ms}))
