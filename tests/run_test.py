"""./run itself, as a newcomer starts it: it builds and opens the window on the simulated
port, whose trace shows start-up's write; the test closes the window, and ./run ends with
status 0. What ./run says on stderr passes through as it comes (a question included: at a
terminal it may ask to install packages) and is kept for the checks.
Usage (under xvfb-run): run_test.py SOURCE_DIR [SECONDS TO WAIT FOR THE WINDOW]"""
import os
import subprocess
import sys
import threading

from xdriver import close, wait_for, windows

source = sys.argv[1]
run = subprocess.Popen([os.path.join(source, "run")], cwd="/", stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
said = bytearray()


def pass_through():
    while chunk := os.read(run.stderr.fileno(), 4096):
        said.extend(chunk)
        sys.stderr.buffer.write(chunk)
        sys.stderr.flush()


reader = threading.Thread(target=pass_through)
reader.start()
try:
    window = wait_for("./run's window", lambda: windows("^Form1$"),
                      timeout=float(sys.argv[2]) if len(sys.argv) > 2 else 120)[0]
    close(window)
    run.wait(timeout=30)
finally:
    if run.poll() is None:
        run.kill()
    reader.join()
trace = said.decode(errors="replace")
assert "out 0x0378 <- 0x00" in trace, "the simulated library saw no write to port 888"
assert run.returncode == 0, f"./run ended with status {run.returncode}"
print("./run opened the window on the simulated port, and ended with status 0 when it closed")
