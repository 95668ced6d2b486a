#!/usr/bin/env python3
"""Plants deliberate faults in a copy of the engine, one at a time, and tells which tests catch
each: the measure of the test suite's power, to be kept when the suite changes.

The copy (tracked files of this tree, synced at every run) lives in WORK/src with its own
sanitized build (WORK/src/build), so a fault costs an incremental rebuild. For each fault: apply
it, rebuild, run the unit tests; only when none fails (or with --all) run the pipe tests one by
one. A failed build counts as caught by "build", a hang as "(timeout)". The real tree is never
touched. Exit status 0 when the run completed, 2 on a tool error (a snippet not found exactly
once, a copy, configure or clean build that failed, unit tests failing without a fault).

    tools/plant_faults.py [--only NAME[,NAME]] [--all] [--quick] [--list] [--work DIR]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UNIT_TIMEOUT = PIPE_TIMEOUT = 600
# Pipe tests in this order, fastest first (for --quick); others after them by name.
PIPE_ORDER = ["smoke", "protocol", "turn", "selfplay"]

# (name, file, exact snippet of the current source, faulty replacement)
FAULTS = [
    # board/
    ("lowbit-table-short", "board/tables.cpp",
     "for (int k = 0; k <= 15; k++) lowBitIndex", "for (int k = 0; k < 15; k++) lowBitIndex"),
    ("diag-position-off-by-one", "board/tables.cpp",
     "diagPos[s] = std::min(boardSize - 1 - x, y);", "diagPos[s] = std::min(boardSize - x, y);"),
    ("block-does-not-close-window", "board/tables.cpp",
     "c[w - 1] == opp || c[w - 1] == BLOCKED;", "c[w - 1] == opp;"),
    ("room-misses-nearest-cell", "board/tables.cpp",
     "for (int k = 4; k >= 1 && (c[k]", "for (int k = 3; k >= 1 && (c[k]"),
    ("closed-three-is-threat", "board/threats.cpp",
     "{-1, -1, -1, -1, -1, -1, -1, T_THREE, T_THREE,",
     "{-1, -1, -1, -1, -1, -1, T_THREE, T_THREE, T_THREE,"),
    ("light-unmake-no-refresh", "board/board.cpp",
     "+ 10));\n        if (FULL) updateDirection(d, s);\n        else updateDirectionLight(d, s);",
     "+ 10));\n        if (FULL) updateDirection(d, s);"),
    ("unmake-keeps-hash", "board/board.cpp",
     "    g_board.hashKey ^= zobrist[s][v - 1];\n    if (v != BLOCKED) g_board.stoneCount--;",
     "    if (v != BLOCKED) g_board.stoneCount--;"),
    ("blocks-counted-as-stones", "board/board.cpp",
     "if (v != BLOCKED) g_board.stones[g_board.stoneCount++]",
     "g_board.stones[g_board.stoneCount++]"),
    ("three-recursion-cut", "board/forbidden.cpp",
     "!inThreat(T_FIVE, 0, e) &&\n            !isForbidden(e)) {", "!inThreat(T_FIVE, 0, e)) {"),
    ("open-four-counts-twice", "board/forbidden.cpp",
     "            if (firstCode == SHAPE_OPEN_FOUR) break;\n", ""),
    ("overline-allowed", "board/forbidden.cpp",
     "    if (overline) return 1;\n", ""),
    # tactics/
    ("renju-correction-sign", "tactics/evaluate.cpp",
     "v += side == FIRST ? -w : w;", "v += side == FIRST ? w : -w;"),
    ("renju-takeback-correction-lost", "tactics/evaluate.cpp",
     "if (takenBack && allForbidden(squares, n)) v -= 100;", "(void)takenBack;"),
    ("crowding-window-narrow", "tactics/evaluate.cpp",
     "if (x < 3 || x + 3 >= boardWidth) return 0;", "if (x < 4 || x + 4 >= boardWidth) return 0;"),
    ("tt-probe-shallow-counts-deep", "tactics/hashtable.cpp",
     "bool deep = e.depth >= depth;", "bool deep = e.depth >= depth - 1;"),
    ("tt-store-upper-widened", "tactics/hashtable.cpp",
     "std::min(e.upper, stored) : stored;", "std::max(e.upper, stored) : stored;"),
    ("tt-wins-not-relative", "tactics/hashtable.cpp",
     "return value >= MATE_BOUND ? value - depth : (value <= -MATE_BOUND ? value + depth : value);",
     "return value;"),
    ("rule-change-keeps-tables", "tactics/hashtable.cpp",
     "    if (tablesRule != clearedRule) clearTables();\n", ""),
    ("threat-table-keeps-equal-budget", "tactics/hashtable.h",
     "e->check != 0 && e->budget > b &&", "e->check != 0 && e->budget >= b &&"),
    ("four-three-ignores-counter-four", "tactics/threatsearch.cpp",
     "c >= 0 && !inThreat(T_FOUR, q, c) && !inThreat", "c >= 0 && !inThreat"),
    ("threat-stores-aborted-result", "tactics/threatsearch.cpp",
     "    if (g_abort) return 0;\n    threatStore(role, side, key, result, t);",
     "    threatStore(role, side, key, result, t);"),
    ("threat-ply-guard-off-by-one", "tactics/threatsearch.cpp",
     "if (ply < 0 || ply >= MAX_PLY) return 0;", "if (ply < 0 || ply > MAX_PLY) return 0;"),
    ("futility-too-deep", "tactics/nodesearch.cpp",
     "if (nullWindow && eff <= 4) {", "if (nullWindow && eff <= 7) {"),
    ("late-move-pruning-early", "tactics/nodesearch.cpp",
     "case 3: return stage >= 5 && i >= 12;", "case 3: return stage >= 4 && i >= 4;"),
    ("forced-node-searches-all", "tactics/nodesearch.cpp",
     "for (int i = 0; n > 0 || (!forced && (n = nextStage(node, list)) > 0); n = 0) {",
     "for (int i = 0; n > 0 || ((n = nextStage(node, list)) > 0); n = 0) {"),
    ("killer-wrong-shape", "tactics/nodesearch.cpp",
     "killers[1] = {m, g_board.squares[m].shape[side - 1]};",
     "killers[1] = {m, g_board.squares[m].shape[2 - side]};"),
    ("node-ply-guard-off-by-one", "tactics/nodesearch.cpp",
     "if (ply < 0 || ply >= MAX_PLY - 1) return evaluate(depth, side);",
     "if (ply < 0 || ply >= MAX_PLY) return evaluate(depth, side);"),
    ("full-board-counts-stones", "tactics/nodesearch.cpp",
     "bool boardFull() {\n", "bool boardFull() {\n    return g_board.stoneCount >= boardWidth * boardHeight;\n"),
    ("pvs-no-research", "tactics/nodesearch.cpp",
     "if (!g_abort && alpha < value && value < beta) {",
     "if (!g_abort && alpha < value && value < alpha) {"),
    # search/
    ("stop-request-ignored", "search/timecontrol.cpp",
     " < timeLimit && stopRequested.load() < 1;", " < timeLimit;"),
    ("no-time-margin", "search/timecontrol.cpp",
     "searchStartTime + 30 < timeLimit", "searchStartTime < timeLimit"),
    ("budget-in-32-bits", "search/timecontrol.cpp",
     "int64_t k = 1 + largeValue + scoreDropped + extensionFlag;\n    return static_cast<int32_t>("
     "std::min<int64_t>(int64_t{timeLeft.load()} * k / 24, timeoutTurn.load()));",
     "int32_t k = 1 + largeValue + scoreDropped + extensionFlag;\n"
     "    return std::min<int32_t>(timeLeft.load() * k / 24, timeoutTurn.load());"),
    ("node-limit-off-by-one", "search/timecontrol.cpp",
     "(g_nodeCount >> 10) <= nodeLimit", "(g_nodeCount >> 10) < nodeLimit"),
    ("interrupted-one-root-move-counts", "search/rootsearch.cpp",
     "if (completed < 2) return 0;", "if (completed < 1) return 0;"),
    ("score-drop-threshold-wide", "search/rootsearch.cpp",
     ": last - 50;", ": last - 500;"),
    ("stable-count-short", "search/rootsearch.cpp",
     "if (stableCount >= 5 && !plentyOfTime", "if (stableCount >= 4 && !plentyOfTime"),
    ("extra-defence-far-off-by-one", "search/candidates.cpp",
     "int far = s + 4 * t, near = s - t;", "int far = s + 3 * t, near = s - t;"),
    ("defence-without-own-fours", "search/candidates.cpp",
     "    n += listThreatSquares(list, n, side, T_FOUR);\n    node.defenceOnly = real;",
     "    node.defenceOnly = real;"),
    ("forbidden-moves-not-filtered", "search/candidates.cpp",
     "searchedAt(ply, m)) || (renjuFirst && isForbidden(m))) {", "searchedAt(ply, m))) {"),
    # protocol/
    ("play-echo-swapped", "protocol/commands.cpp",
     '            writeLine("%d,%d", x, y);', '            writeLine("%d,%d", y, x);'),
    ("coordinate-error-text", "protocol/commands.cpp",
     '        writeLine("ERROR bad coordinates");\n        return false;',
     '        writeLine("ERROR bad coordinate");\n        return false;'),
    ("stop-ignored", "protocol/commands.cpp",
     "nothing to answer.\n        stopAndWait();", "nothing to answer.\n        (void)0;"),
    ("rectstart-swapped", "protocol/commands.cpp",
     "        } else {\n            startWithSize(v[0], v[1]);",
     "        } else {\n            startWithSize(v[1], v[0]);"),
    ("carriage-return-kept", "protocol/commands.cpp",
     "    if (stored >= 2 && lineBuffer[stored - 2] == '\\r') lineBuffer[stored - 2] = '\\0';\n",
     ""),
    ("rebuild-loses-blocks", "protocol/game.cpp",
     "    for (int i = 0; i < blockCount; i++) makeMove(blockRecord[i].x * 32 + blockRecord[i].y, "
     "BLOCKED);\n", ""),
    ("takeback-any-matching-coordinate", "protocol/game.cpp",
     "if (last.x != x || last.y != y) return 2;", "if (last.x != x && last.y != y) return 2;"),
    ("block-error-text", "protocol/game.cpp",
     '"ERROR board-block move [%d,%d]"', '"ERROR block move [%d,%d]"'),
    ("draw-window-of-four", "protocol/think.cpp",
     "for (int k = -2; k <= 2 && usable; k++)", "for (int k = -2; k < 2 && usable; k++)"),
    ("turn-reply-swapped", "protocol/think.cpp",
     'writeLine("%d,%d", bestX, bestY);', 'writeLine("%d,%d", bestY, bestX);'),
    ("opening-off-centre", "protocol/think.cpp",
     "int cx = boardWidth / 2, cy = boardHeight / 2,",
     "int cx = (boardWidth - 1) / 2, cy = (boardHeight - 1) / 2,"),
    ("rule-2-not-renju", "protocol/settings.cpp",
     "((v & 4) != 0 || v == 2) ? RULE_RENJU", "(v & 4) != 0 ? RULE_RENJU"),
]


class ToolError(Exception):
    pass


def log(text):
    print(text, file=sys.stderr, flush=True)


def run(cmd, cwd, timeout=None):
    """(exit code, or None after a timeout, and the output); a timeout ends the process group."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out.decode("utf-8", "replace")
    return proc.returncode, out.decode("utf-8", "replace")


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def write(path, data, mode="w"):
    with open(path, mode) as f:
        f.write(data)


def sync_copy(src):
    """Makes src hold this tree's tracked files; only the changed ones get a new time."""
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "-z"], check=True,
                            capture_output=True).stdout.decode().split("\0")
    tracked = {p for p in listed if p and os.path.isfile(os.path.join(ROOT, p))}
    for p in tracked:
        data, target = read(os.path.join(ROOT, p), "rb"), os.path.join(src, p)
        if not os.path.isfile(target) or read(target, "rb") != data:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            write(target, data, "wb")
            os.chmod(target, os.stat(os.path.join(ROOT, p)).st_mode)
    for top, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if top != src or d != "build"]
        for name in files:
            if os.path.relpath(os.path.join(top, name), src) not in tracked:
                os.remove(os.path.join(top, name))
    if not os.path.isfile(os.path.join(src, "build", "CMakeCache.txt")):
        rc, out = run(["cmake", "-S", src, "-B", os.path.join(src, "build"),
                       "-DZARVEL_SANITIZE=ON", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], src)
        if rc != 0:
            raise ToolError("configure failed:\n" + out[-3000:])


def build(src):
    return run(["cmake", "--build", os.path.join(src, "build"), "-j2", "--target", "pbrain-zarvel",
                "zarvel_tests"], src)


def unit_tests(src, everything, quick=False):
    """The unit tests that fail, crash or hang. Without everything, the first crash or hang
    ends the list (quick: the first failure); with it, the binary runs again without the tests
    that already ran."""
    caught, ran = [], []
    while True:
        cmd = [os.path.join(src, "build", "tests", "zarvel_tests")] + ["--gtest_fail_fast"] * quick
        rc, out = run(cmd + ["--gtest_filter=-" + ":".join(ran)] * bool(ran), src, UNIT_TIMEOUT)
        names = r"([\w/]+\.[\w/]+)"
        started = re.findall(r"^\[ RUN      \] " + names, out, re.M)
        ended = re.findall(r"^\[ +(?:OK|FAILED) +\] " + names, out, re.M)
        caught += [t for t in dict.fromkeys(re.findall(r"^\[  FAILED  \] " + names, out, re.M))
                   if t not in caught]
        if re.search(r"^\[==========\] \d+ tests? from .* ran", out, re.M):
            return caught
        broken = [t for t in started if t not in ended] or ["zarvel_tests"]
        caught.append(broken[-1] + (" (timeout)" if rc is None else " (crash)"))
        if not everything or broken == ["zarvel_tests"]:
            return caught
        ran += started


def pipe_tests(src, everything, quick):
    """The pipe tests (test methods where unittest names them) that fail or hang."""
    caught, engine = [], os.path.join(src, "build", "pbrain-zarvel")
    names = [f[:-3] for f in os.listdir(os.path.join(src, "tests")) if f.endswith("_test.py")]
    order = {f"{n}_test": i for i, n in enumerate(PIPE_ORDER)}
    for name in sorted(names, key=lambda n: (order.get(n, len(order)), n)):
        rc, out = run([sys.executable, f"tests/{name}.py", "--engine", engine], src, PIPE_TIMEOUT)
        if rc is None:
            caught.append(name + " (timeout)")
        elif rc != 0:
            methods = dict.fromkeys(re.findall(r"^(?:FAIL|ERROR): (\w+)", out, re.M))
            caught += [f"{name}.{m}" for m in methods] or [name]
        if caught and quick and not everything:
            break
    return caught


def plant(src, fault, args):
    name, path, old, new = fault
    target = os.path.join(src, path)
    original = read(target)
    if original.count(old) != 1:
        raise ToolError(f"fault {name}: snippet not found exactly once in the copy of {path}")
    start = time.time()
    try:
        write(target, original.replace(old, new))
        if build(src)[0] != 0:
            caught = ["build"]
        else:
            caught = unit_tests(src, args.all, args.quick and not args.all)
            if args.all or not caught:
                caught += pipe_tests(src, args.all, args.quick)
    finally:
        write(target, original)
    return {"name": name, "file": path, "caught": caught, "seconds": round(time.time() - start)}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", action="append", help="fault names (comma-separated, repeatable)")
    parser.add_argument("--all", action="store_true", help="run every test for every fault")
    parser.add_argument("--quick", action="store_true",
                        help="stop at the first test that catches the fault")
    parser.add_argument("--list", action="store_true", help="print the faults (snippets checked)")
    parser.add_argument("--work", default="/tmp/zarvel-faults",
                        help="directory of the copy and its build (default %(default)s)")
    args = parser.parse_args()
    wanted = {n for item in args.only or [] for n in item.split(",") if n}
    if wanted - {f[0] for f in FAULTS}:
        raise ToolError("unknown faults: " + ", ".join(sorted(wanted - {f[0] for f in FAULTS})))
    faults = [f for f in FAULTS if not wanted or f[0] in wanted]
    for name, path, old, new in faults:  # a changed source shows up here
        if (count := read(os.path.join(ROOT, path)).count(old)) != 1:
            raise ToolError(f"fault {name}: snippet found {count} times in {path}:\n{old}")
        if args.list:
            print(f"{name:34} {path:24} {old.strip().splitlines()[0]}")
    if args.list:
        return 0

    os.nice(19)
    src, started = os.path.join(args.work, "src"), time.time()
    commit = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip()
    mode = "all tests" if args.all else "quick" if args.quick else "unit tests, then pipe tests"
    os.makedirs(src, exist_ok=True)
    sync_copy(src)
    log("building and testing the copy without a fault")
    if (result := build(src))[0] != 0:
        raise ToolError("the copy does not build without a fault:\n" + result[1][-3000:])
    if clean := unit_tests(src, True) + (pipe_tests(src, True, False) if args.all else []):
        raise ToolError("tests fail without a fault: " + ", ".join(clean))
    results = []
    for i, fault in enumerate(faults, 1):
        log(f"[{i}/{len(faults)}] {fault[0]} ({fault[1]})")
        results.append(plant(src, fault, args))
        log(f"    {results[-1]['seconds']} s: {', '.join(results[-1]['caught']) or 'NOT CAUGHT'}")
    missed = sum(not r["caught"] for r in results)
    print(f"# tools/plant_faults.py at {commit}; mode: {mode}; {len(results)} faults, "
          f"{missed} not caught; {(time.time() - started) / 60:.0f} min")
    for r in results:
        print(f"{r['name']:34} {r['file']:24} {', '.join(r['caught']) or 'NOT CAUGHT'}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (ToolError, subprocess.CalledProcessError, OSError) as error:
        log(f"plant_faults: {error}")
        sys.exit(2)
