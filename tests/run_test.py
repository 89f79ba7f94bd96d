"""./run itself, as a newcomer starts it: it builds (nothing is left to do by now) and opens
the window on the simulated port, whose trace shows start-up's write; the test closes the
window, and ./run ends with status 0.
Usage (under xvfb-run): run_test.py SOURCE_DIR"""
import os
import subprocess
import sys

from xdriver import close, wait_for, windows

source = sys.argv[1]
run = subprocess.Popen([os.path.join(source, "run")], cwd="/", stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
try:
    window = wait_for("./run's window", lambda: windows("^Form1$"), timeout=120)[0]
    close(window)
    _, trace = run.communicate(timeout=30)
finally:
    if run.poll() is None:
        run.kill()
print(trace.strip())
assert "out 0x0378 <- 0x00" in trace, "the simulated library saw no write to port 888"
assert run.returncode == 0, f"./run ended with status {run.returncode}"
print("./run opened the window on the simulated port, and ended with status 0 when it closed")
