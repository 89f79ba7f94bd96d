"""Start-up of `portpanel-io read 0x378` against a bare program that loads the
same library and reads the same port: rounds interleaved, wall times in ms as
JSON. Usage: io_startup.py ROUNDS PORTPANEL_IO BARE_IO (LD_LIBRARY_PATH names
the library)."""
import json
import subprocess
import sys
import time

rounds, commands = int(sys.argv[1]), {"portpanel_io": [sys.argv[2], "read", "0x378"],
                                      "bare_io": [sys.argv[3]]}
times = {name: [] for name in commands}
for _ in range(rounds):
    for name, command in commands.items():
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times[name].append((time.perf_counter() - start) * 1e3)
print(json.dumps({name: {"ms": values} for name, values in times.items()}))
