#!/usr/bin/env python3
"""A match between two engine programs through the brain protocol, judged move by move.

    tools/match.py --engine build/pbrain-zarvel --baseline /tmp/base/build/pbrain-zarvel \\
        --rule renju --size 15 --turn-ms 200 --games 10
    tools/match.py --engine build/pbrain-zarvel --baseline v1.0 ...

A baseline given as a git tag or commit (v1.0 is the engine as first released) is checked out
into build-baselines/REF and built there once (Release, no tests); later matches reuse it.

Every opening of tools/openings.txt is played twice, colours swapped. Both programs start
afresh for each game, as a tournament manager starts them, so a crash or a late reply cannot
reach the next game. The side to move gets the opening with BOARD, later moves with TURN.

The referee of tools/referee.py judges every move: a move off the board, on a stone, or (for
FIRST under Renju) on a forbidden square loses the game; so do a reply later than the time
allowed, a crash, the end of the output and a line that is not a move. A game ends at a five
(free-style: five or more; standard: exactly five; Renju: exactly five for FIRST, five or
more for SECOND), a full board, or under Renju when nobody can make five any more.

Exit status 0 when the match was played, whatever the score; 2 on an error of the tool or its
arguments (a program that cannot be started, a bad openings file).
"""
import argparse
import math
import os
import shlex
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from referee import (BLOCKED, DIRECTIONS, EMPTY, FIRST, RULE_NAMES, SECOND,  # noqa: E402
                     Board, Fault, Late, Player, is_win, move_fault, parse_rule, renju_draw,
                     run_lengths)

OPENINGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "openings.txt")
PROTOCOL_RULE = {0: 0, 1: 1, 2: 4}  # INFO rule values as Gomocup managers send them
NO_CLOCK = 2 ** 31 - 1  # time_left without a match clock: never the binding limit
COLOUR = {FIRST: "FIRST", SECOND: "SECOND"}
LASTING_REPLIES = 20  # a game that lasts: the share of the clock it used is the one to judge


class ToolError(Exception):
    pass


def baseline_command(given):
    """The command line of a baseline: the given command itself, or the program built from
    the git revision it names (a tag such as v1.0, or a commit) when no such program exists."""
    program = shlex.split(given)[0]
    if os.path.exists(program) or shutil.which(program):
        return given
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    source = os.path.join(root, "build-baselines", given.replace("/", "_"))
    program = os.path.join(source, "build", "pbrain-zarvel")
    if not os.path.exists(program):
        steps = [["git", "-C", root, "worktree", "add", "--detach", source, given],
                 ["cmake", "-S", source, "-B", os.path.join(source, "build"), "-DZARVEL_TESTS=OFF",
                  "-DCMAKE_BUILD_TYPE=Release"],
                 ["cmake", "--build", os.path.join(source, "build"), "-j2", "--target", "pbrain-zarvel"]]
        for step in steps[0 if not os.path.isdir(source) else 1:]:
            if subprocess.run(step, stdout=subprocess.DEVNULL).returncode != 0:
                raise ToolError("cannot build the baseline %s: %s failed" % (given, " ".join(step)))
    return shlex.quote(program)


# ---- openings ----

def opening_problem(stones, size):
    """Why the stones make no fair opening on a size x size board, or None."""
    board = Board(size, size)
    for x, y, colour in stones:
        if board.at(x, y) != EMPTY:
            return "%d,%d is off the board or taken twice" % (x, y)
        board.cells[x][y] = colour
    for x, y, colour in stones:
        for dx, dy in DIRECTIONS:
            for start in range(-4, 1):
                window = [board.at(x + (start + k) * dx, y + (start + k) * dy) for k in range(5)]
                if 3 - colour not in window and BLOCKED not in window and \
                        window.count(colour) >= 3:
                    return "%s already has a three through %d,%d" % (COLOUR[colour], x, y)
    return None


def load_openings(path, size):
    """[(text, [(x, y, colour)])] from lines of x,y offsets from the centre."""
    openings = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            text = line.split("#")[0].strip()
            if not text:
                continue
            try:
                offsets = [tuple(int(v) for v in token.split(",")) for token in text.split()]
                stones = [(size // 2 + dx, size // 2 + dy, FIRST if i % 2 == 0 else SECOND)
                          for i, (dx, dy) in enumerate(offsets)]
            except ValueError:
                raise ToolError("%s:%d: not a list of x,y offsets: %r" % (path, number, text))
            problem = opening_problem(stones, size)
            if problem:
                raise ToolError("%s:%d: %s on %dx%d" % (path, number, problem, size, size))
            openings.append((text, stones))
    return openings


# ---- one game ----

class Game:
    def __init__(self, number, opening_number, opening, engine_colour):
        self.number = number
        self.opening_number = opening_number
        self.opening_text, self.opening = opening
        self.engine_colour = engine_colour
        self.moves = []  # (x, y, ms taken)
        self.winner = None  # "engine", "baseline" or None for a draw
        self.how = ""
        self.forfeit = None  # (name, colour, move number, reason)
        self.mover = FIRST  # the side whose fault a Fault is
        self.longest = {"engine": 0.0, "baseline": 0.0}  # ms
        self.used = {"engine": 0.0, "baseline": 0.0}  # ms on the clock, all replies
        self.replies = {"engine": 0, "baseline": 0}
        self.transcript = ""

    def name(self, colour):
        return "engine" if colour == self.engine_colour else "baseline"

    def score(self):
        return {"engine": 1.0, "baseline": 0.0, None: 0.5}[self.winner]


def play(game, cfg):
    """Plays one game; the engines' failures become the result, anything else is raised."""
    board = Board(cfg.size, cfg.size)
    stones = list(game.opening)
    for x, y, colour in stones:
        board.cells[x][y] = colour
    players = {}
    try:
        for game.mover in (FIRST, SECOND):  # a failed start loses the game
            name = game.name(game.mover)
            players[game.mover] = Player(cfg.commands[name], cfg.crlf, name)
            players[game.mover].start(cfg.size, PROTOCOL_RULE[cfg.rule], cfg.turn_ms,
                                      time_left=cfg.match_ms or NO_CLOCK,
                                      timeout_match=cfg.match_ms or None, infos=cfg.infos[name])
        game.how = turns(game, cfg, board, stones, players)
    except Fault as fault:
        colour = game.mover
        game.forfeit = (game.name(colour), colour, len(stones) + 1, str(fault))
        game.winner = game.name(3 - colour)
        game.how = "forfeit"
        if cfg.verbose and colour in players:
            game.transcript = players[colour].engine.dump()
    finally:
        for c, player in players.items():
            if game.forfeit and c == game.forfeit[1]:
                player.engine.close()
                continue
            try:
                player.close()
            except Fault as fault:
                player.engine.close()
                cfg.warn("game %d: %s" % (game.number, fault))
    return game


def turns(game, cfg, board, stones, players):
    """Asks for moves until the game ends; returns how it ended (game.winner set) or raises
    the Fault of game.mover."""
    used = {FIRST: 0.0, SECOND: 0.0}  # ms on each match clock
    informed = set()
    last = None
    colour = FIRST if len(stones) % 2 == 0 else SECOND
    while len(stones) < cfg.size * cfg.size:
        game.mover = colour
        player, name = players[colour], game.name(colour)
        allowed, limit = cfg.allowance(cfg.turn_ms), "timeout_turn %d ms" % cfg.turn_ms
        if cfg.match_ms:
            left = cfg.match_ms - used[colour]
            if cfg.allowance(cfg.match_ms) - used[colour] < allowed:
                allowed, limit = cfg.allowance(cfg.match_ms) - used[colour], \
                    "match clock, %.0f ms left" % left
            player.send("INFO time_left %d" % max(0, left))
        if colour in informed:
            player.turn(*last)
        else:
            player.board(stones, colour)
            informed.add(colour)
        start = time.monotonic()
        try:
            x, y = player.read_move(max(0.0, allowed) / 1000)
        except Late:
            raise Fault("no move within %.0f ms (%s)" % (max(0.0, allowed), limit))
        elapsed = (time.monotonic() - start) * 1000
        used[colour] += elapsed
        game.longest[name] = max(game.longest[name], elapsed)
        game.used[name] += elapsed
        game.replies[name] += 1
        fault = move_fault(board, cfg.rule, colour, x, y)
        if fault:
            raise Fault(fault)
        board.cells[x][y] = colour
        stones.append((x, y, colour))
        game.moves.append((x, y, elapsed))
        if is_win(cfg.rule, colour, run_lengths(board, x, y, colour)):
            game.winner = name
            return "five"
        if cfg.rule == 2 and renju_draw(board):
            return "no five possible"
        last = (x, y)
        colour = 3 - colour
    return "full board"


# ---- the match ----

class Config:
    def __init__(self, args, openings):
        self.commands = {"engine": shlex.split(args.engine),
                         "baseline": shlex.split(args.baseline)}
        self.infos = {"engine": args.engine_info or [], "baseline": args.baseline_info or []}
        self.crlf = args.crlf
        self.rule, self.size = args.rule, args.size
        self.turn_ms, self.match_ms = args.turn_ms, args.match_ms
        self.margin_pct, self.margin_ms = args.margin_pct, args.margin_ms
        self.verbose = args.verbose
        self.openings = openings
        self.warnings = []
        self.lock = threading.Lock()

    def allowance(self, limit_ms):
        """A limit plus the margin past which a reply is late."""
        return limit_ms * (1 + self.margin_pct / 100) + self.margin_ms

    def warn(self, text):
        with self.lock:
            self.warnings.append(text)


def elo(scores):
    """Elo difference and its 95% interval from per-game scores (1, 0.5, 0), logistic model:
    Elo(s) = -400 log10(1/s - 1) for the mean score s; the interval is Elo(s -/+ 1.96 se), se =
    sqrt(v / n) with v the variance of the per-game scores. A score of 0 or 1 has no finite
    Elo: s and the interval's ends are clamped to [0.5, n + 0.5] / (n + 1), as if one more game
    had been drawn."""
    n = len(scores)
    s = sum(scores) / n
    se = math.sqrt(sum((x - s) ** 2 for x in scores) / n / n)
    edge = 0.5 / (n + 1)

    def of(p):
        p = min(max(p, edge), 1 - edge)
        return -400 * math.log10(1 / p - 1) + 0.0  # no "-0"
    return of(s), of(s - 1.96 * se), of(s + 1.96 * se)


def tally(games):
    """'wins W, losses L, draws D' of the engine."""
    count = {w: sum(1 for g in games if g.winner == w) for w in ("engine", "baseline", None)}
    return "wins %d, losses %d, draws %d" % (count["engine"], count["baseline"], count[None])


def describe(game):
    line = "game %d: opening %d [%s], engine %s: " % (
        game.number, game.opening_number, game.opening_text, COLOUR[game.engine_colour])
    if game.forfeit:
        return line + "%s FORFEITS at move %d" % (game.forfeit[0], game.forfeit[2])
    result = "draw" if game.winner is None else game.winner + " wins"
    return line + "%s (%s) after %d moves" % (result, game.how, len(game.moves))


def report(games, cfg, elapsed):
    scores = [g.score() for g in games]
    n = len(games)
    print("\nengine %s against baseline %s" % (shlex.join(cfg.commands["engine"]),
                                               shlex.join(cfg.commands["baseline"])))
    print("%d games in %.0f s: %s; score %.1f/%d = %.1f%%" % (
        n, elapsed, tally(games), sum(scores), n, 100 * sum(scores) / n))
    value, low, high = elo(scores)
    print("Elo %+.0f, 95%% interval %+.0f .. %+.0f" % (value, low, high))
    for colour in (FIRST, SECOND):
        print("engine as %s: %s" % (COLOUR[colour],
                                    tally([g for g in games if g.engine_colour == colour])))
    print("longest reply: engine %.0f ms, baseline %.0f ms (timeout_turn %d ms, late after "
          "%.0f ms)" % (max(g.longest["engine"] for g in games),
                        max(g.longest["baseline"] for g in games), cfg.turn_ms,
                        cfg.allowance(cfg.turn_ms)))
    if cfg.match_ms:
        # What the clock was for: the share used, overall and in the games that lasted.
        def share(name, chosen):
            return "%.0f%%" % (100 * sum(g.used[name] for g in chosen) / (cfg.match_ms * len(chosen))) \
                if chosen else "-"
        print("match clock used: " + ", ".join(
            "%s %s (games of %d+ replies: %s)" % (
                name, share(name, games), LASTING_REPLIES,
                share(name, [g for g in games if g.replies[name] >= LASTING_REPLIES]))
            for name in ("engine", "baseline")))
    forfeits = [g for g in games if g.forfeit]
    if forfeits:
        print("\n*** %d FORFEIT%s ***" % (len(forfeits), "S" if len(forfeits) > 1 else ""))
    for g in forfeits:
        name, colour, move, reason = g.forfeit
        print("  game %d, opening %d [%s]: %s (%s) at move %d: %s" % (
            g.number, g.opening_number, g.opening_text, name, COLOUR[colour], move, reason))
    for text in cfg.warnings:
        print("warning: " + text)


def run(argv=None):
    """Plays the match and prints the report; returns the games."""
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="command of the engine under test")
    parser.add_argument("--baseline", required=True,
                        help="command of the engine to beat, or a git tag or commit to build")
    parser.add_argument("--engine-info", action="append", metavar="'KEY VALUE'",
                        help="an INFO setting for the engine under test before START (repeatable), "
                             "e.g. 'thread_num 2', or 'timeout_turn 150' for time odds")
    parser.add_argument("--baseline-info", action="append", metavar="'KEY VALUE'",
                        help="the same for the baseline")
    parser.add_argument("--rule", type=parse_rule, default=0,
                        help="freestyle (0), standard (1) or renju (2)")
    parser.add_argument("--size", type=int, default=15, help="board size, 7 to 22")
    parser.add_argument("--turn-ms", type=int, default=1000, help="INFO timeout_turn, ms")
    parser.add_argument("--match-ms", type=int, default=0,
                        help="match clock per engine and game, ms (INFO timeout_match and "
                             "time_left); 0: none")
    parser.add_argument("--margin-pct", type=float, default=10,
                        help="a reply is late after the limit plus this percentage ...")
    parser.add_argument("--margin-ms", type=float, default=200, help="... plus this many ms")
    parser.add_argument("--games", type=int, default=0,
                        help="use the first N openings (2N games); default all")
    parser.add_argument("--openings", default=OPENINGS, help="openings file")
    parser.add_argument("--concurrency", type=int, default=1, help="games played at once")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR-LF")
    parser.add_argument("--verbose", action="store_true", help="print the moves of each game")
    args = parser.parse_args(argv)
    args.baseline = baseline_command(args.baseline)
    if not 7 <= args.size <= 22:
        parser.error("--size must be 7 to 22")
    openings = load_openings(args.openings, args.size)[:args.games or None]
    if not openings:
        raise ToolError("no openings in " + args.openings)
    cfg = Config(args, openings)
    print("%s %dx%d, timeout_turn %d ms%s, %d openings x 2 colours, concurrency %d" % (
        RULE_NAMES[args.rule], args.size, args.size, args.turn_ms,
        ", match clock %d ms" % args.match_ms if args.match_ms else "", len(openings),
        args.concurrency), flush=True)

    games = [Game(2 * i + k + 1, i + 1, opening, (FIRST, SECOND)[k])
             for i, opening in enumerate(openings) for k in (0, 1)]
    queue = list(reversed(games))
    errors = []

    def worker():
        while not errors:
            with cfg.lock:
                if not queue:
                    return
                game = queue.pop()
            try:
                play(game, cfg)
            except BaseException as error:  # a fault of the tool: stop the match
                errors.append(error)
                return
            with cfg.lock:
                print(describe(game), flush=True)
                if cfg.verbose:
                    print("  moves (x,y:ms): " + " ".join("%d,%d:%.0f" % m for m in game.moves))
                    if game.transcript:
                        print("  last lines with %s:\n%s" % (game.forfeit[0], game.transcript))

    start = time.monotonic()
    threads = [threading.Thread(target=worker, daemon=True)
               for _ in range(max(1, args.concurrency))]
    for t in threads:
        t.start()
    for t in threads:
        while t.is_alive():
            t.join(0.5)
    if errors:
        raise errors[0]
    report(games, cfg, time.monotonic() - start)
    return games


def main(argv=None):
    try:
        run(argv)
    except (ToolError, OSError) as error:
        print("match.py: error: %s" % error, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
