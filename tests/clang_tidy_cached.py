"""clang-tidy over the units of a compile database whose file matches a pattern, one per
core, as run-clang-tidy runs it; but a unit found clean is not checked again until
something it is made of changes. Its verdict is kept under a key made of clang-tidy's
version, the configuration, the compile command and the unit as the preprocessor sees
it (every header's path and text). Run from the source folder, which holds .clang-tidy.
Prints what clang-tidy says of each unit that is not clean, and then exits 1.
Usage: clang_tidy_cached.py BUILD_DIR PATTERN CACHE_DIR"""
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys

build, pattern, cache = sys.argv[1:4]
os.makedirs(cache, exist_ok=True)
version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout
with open(".clang-tidy", "rb") as config_file:
    config = config_file.read()
with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as database:
    units = [unit for unit in json.load(database) if re.search(pattern, unit["file"])]


def preprocessing(unit):
    """The unit's compile command, made to print the preprocessed unit instead."""
    words = unit["arguments"] if "arguments" in unit else shlex.split(unit["command"])
    kept, skip = [], False
    for word in words:
        if skip or word in ("-c", "-MD", "-MMD"):
            skip = False
            continue
        skip = word in ("-o", "-MF", "-MT", "-MQ")
        if not skip:
            kept.append(word)
    return kept + ["-E"]


def check(unit):
    """None if the unit is clean, else what clang-tidy says; and whether it ran."""
    seen = subprocess.run(preprocessing(unit), cwd=unit["directory"], capture_output=True)
    key = hashlib.sha256(b"\0".join([version, config, json.dumps(unit).encode(), seen.stdout]))
    verdict = os.path.join(cache, key.hexdigest())
    if seen.returncode == 0 and os.path.exists(verdict):
        return None, False
    tidy = subprocess.run(["clang-tidy", "-quiet", "-p", build, unit["file"]],
                          capture_output=True, text=True)
    if tidy.returncode != 0:
        return tidy.stdout + tidy.stderr, True
    if seen.returncode == 0:
        open(verdict, "w", encoding="utf-8").close()
    return None, True


with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    results = list(pool.map(check, units))
said = [text for text, _ in results if text is not None]
ran = sum(1 for _, checked in results if checked)
for text in said:
    print(text, file=sys.stderr)
print(f"clang-tidy: {len(units)} units, {ran} checked now, {len(units) - ran} clean before",
      "and unchanged")
sys.exit(1 if said or not units else 0)
