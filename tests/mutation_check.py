"""The mutation check: each change of tests/mutations.list applied, one at a time, to a
copy of the tree; what the change's tests need is built, and the tests run until one
fails, which kills the change. Exits 1 if a change survives (all its tests pass), if an
entry's text is not found once in its file, or if a change does not build: the list then
needs mending, not the product. The unchanged copy must pass every test first.
The copy and its build stay in WORK (default build-mutants in the checkout), always the
same folder, so that a later run compiles only what changed and ccache keeps the objects.
Usage: mutation_check.py SOURCE_DIR [WORK]"""
import fcntl
import os
import shutil
import subprocess
import sys
import time

source = os.path.abspath(sys.argv[1])
work = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(source, "build-mutants"))
tree, build = os.path.join(work, "src"), os.path.join(work, "build")
started = time.monotonic()


def say(line):
    print(f"mutation: {line}", flush=True)


def read_list(path):
    """The entries (file, [(from, to)], [tests]) and each test's targets."""
    entries, needs, entry = [], {}, None
    with open(path, encoding="utf-8") as listed:
        for number, line in enumerate(listed, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, _, value = line.partition(": ")
            value = value.replace("\\n", "\n")
            if key.startswith("needs "):
                needs[key[6:]] = value.split()
            elif key == "file":
                entry = {"file": value, "changes": [], "tests": [], "line": number}
                entries.append(entry)
            elif key == "from" and entry:
                entry["changes"].append([value, None])
            elif key == "to" and entry and entry["changes"] and entry["changes"][-1][1] is None:
                entry["changes"][-1][1] = value
            elif key == "tests" and entry:
                entry["tests"] = value.split()
            else:
                sys.exit(f"{path} line {number}: not an entry's line: {line}")
    for entry in entries:
        unknown = [test for test in entry["tests"] if test not in needs]
        if not entry["tests"] or unknown or any(to is None for _, to in entry["changes"]):
            sys.exit(f"{path} line {entry['line']}: needs from/to pairs and tests named in "
                     f"a 'needs' line (unknown: {' '.join(unknown) or 'none'})")
    return entries, needs


def copy_tree():
    """The checkout's files as they stand, committed or not; a file whose text is the
    same keeps its time, so that the build recompiles only what changed."""
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], capture_output=True, check=True).stdout
    for name in filter(None, listed.decode().split("\0")):
        origin, copy = os.path.join(source, name), os.path.join(tree, name)
        if os.path.islink(origin) or not os.path.isfile(origin):
            continue
        with open(origin, "rb") as file:
            text = file.read()
        if os.path.isfile(copy):
            with open(copy, "rb") as file:
                if file.read() == text:
                    continue
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        with open(copy, "wb") as file:
            file.write(text)
        shutil.copymode(origin, copy)


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)


def built(targets, cached=True):
    """Changed units are compiled without ccache: an object stored under the wrong text
    (the file changed while it compiled) would let a change survive."""
    environment = dict(os.environ, **({} if cached else {"CCACHE_DISABLE": "1"}))
    result = run(["cmake", "--build", build, "--target", *targets], env=environment)
    return result.returncode == 0, result.stdout


def first_failing(tests):
    """The first test that fails, with its first line that says FAIL, or None."""
    for test in tests:
        result = run(["ctest", "--test-dir", build, "-R", f"^{test}$", "--no-tests=error",
                      "--output-on-failure"])
        if result.returncode:
            said = [line.strip() for line in result.stdout.splitlines() if "FAIL" in line]
            return f"{test} ({said[0] if said else 'no FAIL line'})"
    return None


def apply(entry):
    """The changed text, or why the entry no longer fits its file."""
    with open(os.path.join(tree, entry["file"]), encoding="utf-8") as file:
        text = file.read()
    for old, new in entry["changes"]:
        if text.count(old) != 1:
            return None, f"'{old}' is in {entry['file']} {text.count(old)} times, not once"
        text = text.replace(old, new)
    return text, None


def check(entry, needs):
    """One change: 'killed by TEST', or why it was not."""
    path = os.path.join(tree, entry["file"])
    with open(path, encoding="utf-8") as file:
        original = file.read()
    changed, problem = apply(entry)
    if problem:
        return False, problem
    try:
        with open(path, "w", encoding="utf-8") as file:
            file.write(changed)
        ok, output = built(sorted({t for test in entry["tests"] for t in needs[test]}), False)
        if not ok:
            return False, "does not build:\n" + output[-2000:]
        killer = first_failing(entry["tests"])
        return (True, f"killed by {killer}") if killer else (False, "SURVIVED: "
                                                            + ", ".join(entry["tests"]) + " passed")
    finally:  # written anew, so its time is newer than the changed one's objects
        with open(path, "w", encoding="utf-8") as file:
            file.write(original)


def main():
    entries, needs = read_list(os.path.join(source, "tests/mutations.list"))
    os.makedirs(tree, exist_ok=True)
    # One run at a time in a folder: another's change would be this one's.
    lock = open(os.path.join(work, "lock"), "w", encoding="utf-8")  # pylint: disable=consider-using-with
    fcntl.flock(lock, fcntl.LOCK_EX)
    copy_tree()
    if not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
        # Warnings are not errors here: a change may leave a variable unused.
        launcher = [f"-DCMAKE_{language}_COMPILER_LAUNCHER=ccache" for language in ("C", "CXX")
                    if shutil.which("ccache")]
        configured = run(["cmake", "-S", tree, "-B", build, "-G", "Ninja",
                          "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=ON",
                          *launcher])
        if configured.returncode:
            sys.exit("mutation: cannot configure the copy:\n" + configured.stdout)
    targets = sorted({target for test in needs.values() for target in test})
    ok, output = built(targets)
    if not ok:
        sys.exit("mutation: the unchanged copy does not build:\n" + output[-4000:])
    tests = sorted({test for entry in entries for test in entry["tests"]})
    failing = first_failing(tests)
    if failing:
        sys.exit(f"mutation: {failing} fails on the unchanged copy: mend it first")
    say(f"the unchanged copy passes {', '.join(tests)} ({time.monotonic() - started:.0f} s)")
    survivors = 0
    for entry in entries:
        began = time.monotonic()
        killed, verdict = check(entry, needs)
        survivors += not killed
        old, new = (text.replace("\n", "\\n") for text in entry["changes"][-1])
        verdict, _, detail = verdict.partition("\n")
        say(f"{entry['file']}: '{old}' -> '{new}': {verdict} ({time.monotonic() - began:.0f} s)")
        if detail:
            print(detail, flush=True)
    built(targets, False)  # leaves the copy's build as its tree is
    say(f"{len(entries) - survivors} of {len(entries)} changes killed "
        f"in {time.monotonic() - started:.0f} s")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
