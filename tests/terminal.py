"""Runs a command at a terminal of its own (a pseudo-terminal), prints all it writes there,
and types an answer whenever a question appears, as a person at the keyboard would.
Fails when the command fails, runs out of time, or a question was never asked.
Usage: terminal.py SECONDS 'QUESTION=ANSWER'... -- COMMAND..."""
import os
import pty
import select
import sys
import time

split = sys.argv.index("--")
seconds = float(sys.argv[1])
answers = [pair.split("=", 1) for pair in sys.argv[2:split]]
asked = {question: 0 for question, _ in answers}

pid, terminal = pty.fork()
if pid == 0:
    os.execvp(sys.argv[split + 1], sys.argv[split + 1:])

deadline = time.time() + seconds
pending = ""  # what was written since the last answer, for spotting a question
while time.time() < deadline:
    ready, _, _ = select.select([terminal], [], [], 1)
    if not ready:
        continue
    try:
        chunk = os.read(terminal, 4096).decode(errors="replace")
    except OSError:  # the command and everything it started closed the terminal
        break
    if not chunk:
        break
    sys.stdout.write(chunk)
    sys.stdout.flush()
    pending += chunk
    for question, answer in answers:
        if question in pending:
            asked[question] += 1
            pending = ""
            os.write(terminal, (answer + "\n").encode())
else:
    os.kill(pid, 9)
    sys.exit(f"terminal: still running after {seconds:.0f} s")
_, status = os.waitpid(pid, 0)
never = [question for question, times in asked.items() if times == 0]
if never:
    sys.exit(f"terminal: never asked: {never}")
sys.exit(os.waitstatus_to_exitcode(status))
