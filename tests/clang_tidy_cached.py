"""clang-tidy over the files of a compile database under the given folders, one per core,
as run-clang-tidy runs it; but a file found clean is not checked again until something it
is made of changes. Its verdict is kept under a key made of clang-tidy's version, the
configuration, and each of the file's compile commands with the unit as the preprocessor
sees it, comments kept (every header's path and text, and every NOLINT). Run from the
source folder, which holds .clang-tidy.
Prints what clang-tidy says of each file that is not clean, and then exits 1.
Usage: clang_tidy_cached.py BUILD_DIR CACHE_DIR FOLDER..."""
import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys

build, cache, folders = sys.argv[1], sys.argv[2], sys.argv[3:]
os.makedirs(cache, exist_ok=True)
version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout
with open(".clang-tidy", "rb") as config_file:
    config = config_file.read()
# A file built into several targets has an entry for each, and clang-tidy checks them all.
units = {}
with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as database:
    for unit in json.load(database):
        if any(unit["file"].startswith(os.path.join(folder, "")) for folder in folders):
            units.setdefault(unit["file"], []).append(unit)


def preprocessing(unit):
    """The unit's compile command, made to print the preprocessed unit and its comments."""
    words = unit["arguments"] if "arguments" in unit else shlex.split(unit["command"])
    kept, skip = [], False
    for word in words:
        if skip or word in ("-c", "-MD", "-MMD"):
            skip = False
            continue
        skip = word in ("-o", "-MF", "-MT", "-MQ")
        if not skip:
            kept.append(word)
    return kept + ["-E", "-CC"]


def check(file):
    """None if the file is clean, else what clang-tidy says; and whether it ran."""
    key, known = hashlib.sha256(b"\0".join([version, config])), True
    for unit in units[file]:
        seen = subprocess.run(preprocessing(unit), cwd=unit["directory"], capture_output=True)
        known = known and seen.returncode == 0
        key.update(b"\0".join([json.dumps(unit).encode(), seen.stdout]))
    verdict = os.path.join(cache, key.hexdigest())
    if known and os.path.exists(verdict):
        return None, False
    tidy = subprocess.run(["clang-tidy", "-quiet", "-p", build, file],
                          capture_output=True, text=True)
    if tidy.returncode != 0:
        return tidy.stdout + tidy.stderr, True
    if known:
        open(verdict, "w", encoding="utf-8").close()
    return None, True


with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    results = list(pool.map(check, sorted(units)))
said = [text for text, _ in results if text is not None]
ran = sum(1 for _, checked in results if checked)
for text in said:
    print(text, file=sys.stderr)
print(f"clang-tidy: {len(units)} files, {ran} checked now, {len(units) - ran} clean before",
      "and unchanged")
sys.exit(1 if said or not units else 0)
