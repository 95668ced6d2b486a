#!/usr/bin/env python3
"""Plants the faults of tools/faults.txt in a copy of the engine, one at a time, and tells which
tests catch each: the measure of the test suite's power, to be kept when the suite changes.

The copy (the tracked files of this tree, synced at every run) lives in WORK/src with its own
sanitized build, so a fault costs an incremental rebuild. For each fault: apply it, rebuild, run
the unit tests (--quick: up to the first failure); only when none fails, the pipe tests. A
failed build counts as caught by "build", a crash or hang names the test. A fault faults.txt
lists as caught that no test catches now is LOST. A fault that only the pinned search figures
catch (Search.NodeCountsArePinned notices that the search changed, not that it is wrong: a
meant change passes it once re-pinned) is tried again without that test, the other unit tests
and then the pipe tests; if nothing else catches it, the summary lists it apart. The real tree
is never touched. Exit status 1 when a fault was lost, 2 on a tool error (a snippet not found
exactly once, a failed build, tests failing without a fault).

    tools/plant_faults.py [--only NAME[,NAME]] [--quick] [--list] [--work DIR]
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
PIPE_ORDER = ["protocol", "gui", "turn", "selfplay"]  # fastest first, for --quick
TEST = r"([\w/]+\.[\w/]+)"  # a GoogleTest name
PINNED = "Search.NodeCountsArePinned"


class ToolError(Exception):
    pass


def load_faults():
    """[(name, file, source text, faulty text, tests that caught it)] from tools/faults.txt."""
    faults = []
    for line in (ROOT / "tools" / "faults.txt").read_text().splitlines():
        if line[:1] in ("-", "+"):
            faults[-1][2 if line[0] == "-" else 3].append(line[1:])
        elif line.strip() and not line.startswith("#"):
            head, _, caught = line.partition(" = ")
            faults.append([*head.split(), [], [], caught])
    return [(n, p, "\n".join(old), "\n".join(new), c) for n, p, old, new, c in faults]


def run(cmd, cwd, timeout=600):
    """(exit code, None after a timeout, and the output); a timeout ends the process group."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        out = proc.communicate(timeout=timeout)[0]
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        out, proc.returncode = proc.communicate()[0], None
    return proc.returncode, out.decode("utf-8", "replace")


def sync_copy(src):
    """Makes src hold this tree's tracked files; only the changed ones get a new time."""
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "-z"], check=True,
                            capture_output=True).stdout.decode().split("\0")
    tracked = {p for p in listed if p and (ROOT / p).is_file()}
    for p in tracked:
        data, target = (ROOT / p).read_bytes(), src / p
        if not target.is_file() or target.read_bytes() != data:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
            target.chmod((ROOT / p).stat().st_mode)
    for top, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if top != str(src) or d != "build"]
        for f in files:
            if os.path.relpath(os.path.join(top, f), src) not in tracked:
                os.remove(os.path.join(top, f))
    if not (src / "build" / "CMakeCache.txt").is_file():
        if run(["cmake", "-S", src, "-B", src / "build", "-DZARVEL_SANITIZE=ON",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], src, None)[0] != 0:
            raise ToolError("configure failed")


def build(src):
    return run(["cmake", "--build", src / "build", "-j2", "--target", "pbrain-zarvel",
                "zarvel_tests"], src, None)


def unit_tests(src, quick, skip=()):
    """The unit tests that fail, crash or hang, skip not run; after a crash or hang the binary
    runs again without the tests that already ran (quick: the first failure ends the list)."""
    caught, ran = [], list(skip)
    while True:
        cmd = [src / "build" / "tests" / "zarvel_tests"] + ["--gtest_fail_fast"] * quick
        rc, out = run(cmd + ["--gtest_filter=-" + ":".join(ran)] * bool(ran), src)
        caught += [t for t in dict.fromkeys(re.findall(r"^\[  FAILED  \] " + TEST, out, re.M))
                   if t not in caught]
        if re.search(r"^\[==========\] \d+ tests? from .* ran", out, re.M):
            return caught
        started = re.findall(r"^\[ RUN      \] " + TEST, out, re.M)
        ended = re.findall(r"^\[ +(?:OK|FAILED) +\] " + TEST, out, re.M)
        broken = [t for t in started if t not in ended] or ["zarvel_tests"]
        caught.append(broken[-1] + (" (timeout)" if rc is None else " (crash)"))
        if quick or broken == ["zarvel_tests"]:
            return caught
        ran += started


def pipe_tests(src, quick):
    """The pipe tests (test methods where unittest names them) that fail or hang."""
    caught, order = [], {f"{n}_test.py": i for i, n in enumerate(PIPE_ORDER)}
    for test in sorted((src / "tests").glob("*_test.py"), key=lambda t: (order.get(t.name, 9), t)):
        rc, out = run([sys.executable, test, "--engine", src / "build" / "pbrain-zarvel"], src)
        if rc is None:
            caught.append(test.stem + " (timeout)")
        elif rc:
            methods = dict.fromkeys(re.findall(r"^(?:FAIL|ERROR): (\w+)", out, re.M))
            caught += [f"{test.stem}.{m}" for m in methods] or [test.stem]
        if caught and quick:
            break
    return caught


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", action="append", help="fault names (comma-separated, repeatable)")
    parser.add_argument("--quick", action="store_true",
                        help="stop at the first test that catches the fault")
    parser.add_argument("--list", action="store_true", help="print the faults (snippets checked)")
    parser.add_argument("--work", default="/tmp/zarvel-faults",
                        help="directory of the copy and its build (default %(default)s)")
    args = parser.parse_args()
    faults, wanted = load_faults(), {n for item in args.only or [] for n in item.split(",") if n}
    if unknown := wanted - {f[0] for f in faults}:
        raise ToolError("unknown faults: " + ", ".join(sorted(unknown)))
    faults = [f for f in faults if not wanted or f[0] in wanted]
    for name, path, old, _, caught in faults:  # a changed source shows up here
        if (count := (ROOT / path).read_text().count(old)) != 1:
            raise ToolError(f"fault {name}: snippet found {count} times in {path}:\n{old}")
        if args.list:
            print(f"{name:34} {path:24} {caught}")
    if args.list:
        return 0

    os.nice(19)
    src, started = pathlib.Path(args.work, "src").resolve(), time.time()
    commit = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip()
    src.mkdir(parents=True, exist_ok=True)
    sync_copy(src)
    print("building and testing the copy without a fault", file=sys.stderr, flush=True)
    if (result := build(src))[0] != 0:
        raise ToolError("the copy does not build without a fault:\n" + result[1][-3000:])
    if clean := unit_tests(src, False):
        raise ToolError("tests fail without a fault: " + ", ".join(clean))
    lines, lost, pinned_only = [], 0, []
    for i, (name, path, old, new, before) in enumerate(faults, 1):
        start, target = time.time(), src / path
        original = target.read_text()
        try:
            target.write_text(original.replace(old, new))
            caught = ["build"] if build(src)[0] else unit_tests(src, args.quick) or pipe_tests(
                src, args.quick)
            if caught == [PINNED]:
                caught += unit_tests(src, args.quick, [PINNED]) if args.quick else []
                caught += [] if caught[1:] else pipe_tests(src, args.quick)
                pinned_only += [name] if caught == [PINNED] else []
        finally:
            target.write_text(original)
        lost += not caught and before != "NOT CAUGHT"
        lines.append(f"{name:34} {path:24} {', '.join(caught) or 'NOT CAUGHT'}"
                     + ("  LOST" if not caught and before != "NOT CAUGHT" else ""))
        print(f"[{i}/{len(faults)}] {time.time() - start:.0f} s: {lines[-1]}", file=sys.stderr,
              flush=True)
    print(f"# tools/plant_faults.py at {commit}; {'quick' if args.quick else 'unit, then pipe'};"
          f" {len(faults)} faults, {lost} lost, {len(pinned_only)} caught only by the pinned"
          f" figures; {(time.time() - started) / 60:.0f} min", *lines, sep="\n")
    if pinned_only:
        print("# caught only by the pinned figures (a changed search, not a wrong one):",
              *pinned_only, sep="\n#   ")
    return 1 if lost else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (ToolError, subprocess.CalledProcessError, OSError) as error:
        print(f"plant_faults: {error}", file=sys.stderr)
        sys.exit(2)
