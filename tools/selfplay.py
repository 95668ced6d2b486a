#!/usr/bin/env python3
"""Self-play through the brain protocol, with a referee that checks every move.

Two engine processes (the same command twice unless --engine2 is given, or one process with
--single) play fast games under one rule. Each game starts from a few random stones sent
with BOARD, so games differ; then the players answer TURN (or, with --single, a BOARD of
the whole position before every move). The referee checks each move: on the board and on
an empty square; under Renju, never a forbidden square for the first player (checked by the
rule below, a line-by-line port of tests/renju_reference.h); a pass only when no legal
move is left; a five taken whenever the mover has one. A game ends at a five (free-style:
five or more; standard: exactly five for both; Renju: exactly five for the first player,
five or more for the second), a full board, a pass or the move limit. A Renju draw message
from an engine is checked too: no five may be possible any more.

    tools/selfplay.py --engine build/pbrain-zarvel --rule renju --games 1000 --size 15,20

Exit status 0 when every game was played without a fault.
"""
import argparse
import os
import random
import shlex
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from engine_driver import Engine, EngineError  # noqa: E402

EMPTY, FIRST, SECOND, BLOCKED = 0, 1, 2, 3
DIRECTIONS = ((0, 1), (1, 0), (1, -1), (1, 1))
RULES = {"freestyle": 0, "standard": 1, "renju": 2}
RULE_NAMES = {v: k for k, v in RULES.items()}


class Board:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.cells = [[EMPTY] * height for _ in range(width)]

    def at(self, x, y):
        """Off the board reads as BLOCKED."""
        if 0 <= x < self.width and 0 <= y < self.height:
            return self.cells[x][y]
        return BLOCKED

    def empty_squares(self):
        return [(x, y) for x in range(self.width) for y in range(self.height)
                if self.cells[x][y] == EMPTY]


def run_extent(board, x, y, d, colour):
    """Steps lo <= 0 <= hi of colour's run through (x, y), which must hold colour."""
    dx, dy = DIRECTIONS[d]
    lo = hi = 0
    while board.at(x + (lo - 1) * dx, y + (lo - 1) * dy) == colour:
        lo -= 1
    while board.at(x + (hi + 1) * dx, y + (hi + 1) * dy) == colour:
        hi += 1
    return lo, hi


def run_lengths(board, x, y, colour):
    out = []
    for d in range(4):
        lo, hi = run_extent(board, x, y, d, colour)
        out.append(hi - lo + 1)
    return out


# ---- the Renju rule for the first player (see tests/renju_reference.h) ----

def _fours_on_line(board, x, y, d):
    dx, dy = DIRECTIONS[d]
    sets = set()
    for k in range(-4, 5):
        ex, ey = x + k * dx, y + k * dy
        if k == 0 or board.at(ex, ey) != EMPTY:
            continue
        board.cells[ex][ey] = FIRST
        lo, hi = run_extent(board, ex, ey, d, FIRST)
        board.cells[ex][ey] = EMPTY
        start, end = k + lo, k + hi
        if hi - lo + 1 != 5 or start > 0 or end < 0:
            continue
        sets.add(frozenset(t for t in range(start, end + 1) if t != k))
    return len(sets)


def _straight_four(board, x, y, d, k):
    dx, dy = DIRECTIONS[d]
    lo, hi = run_extent(board, x, y, d, FIRST)
    if hi - lo + 1 != 4 or k < lo or k > hi:
        return False

    def cell(t):
        return board.at(x + t * dx, y + t * dy)
    return (cell(lo - 1) == EMPTY and cell(hi + 1) == EMPTY and cell(lo - 2) != FIRST
            and cell(hi + 2) != FIRST)


def _real_three(board, x, y, d, five_square_ends_three):
    dx, dy = DIRECTIONS[d]
    for k in range(-4, 5):
        ex, ey = x + k * dx, y + k * dy
        if k == 0 or board.at(ex, ey) != EMPTY:
            continue
        board.cells[ex][ey] = FIRST
        four = _straight_four(board, x, y, d, k)
        five = 5 in run_lengths(board, ex, ey, FIRST)
        board.cells[ex][ey] = EMPTY
        if not four or (five and five_square_ends_three):
            continue
        if not renju_forbidden(board, ex, ey, five_square_ends_three):
            return True
    return False


def renju_verdict(board, x, y, five_square_ends_three=False):
    """'five', 'overline', 'double four', 'double three' or None for a FIRST move on the
    empty square (x, y). five_square_ends_three follows the engine's narrower reading: an
    extension square on which FIRST makes five does not make a three real."""
    board.cells[x][y] = FIRST
    try:
        lengths = run_lengths(board, x, y, FIRST)
        if 5 in lengths:
            return "five"
        if max(lengths) >= 6:
            return "overline"
        fours = [_fours_on_line(board, x, y, d) for d in range(4)]
        if sum(fours) >= 2:
            return "double four"
        threes = 0
        for d in range(4):
            if not fours[d] and _real_three(board, x, y, d, five_square_ends_three):
                threes += 1
                if threes == 2:
                    return "double three"
        return None
    finally:
        board.cells[x][y] = EMPTY


FOULS = ("overline", "double four", "double three")


def renju_forbidden(board, x, y, five_square_ends_three=False):
    if board.at(x, y) != EMPTY:
        return False
    return renju_verdict(board, x, y, five_square_ends_three) in FOULS


# ---- game rules ----

def move_fault(board, rule, colour, x, y):
    """Why colour may not play (x, y), or None when the move is legal."""
    if not (0 <= x < board.width and 0 <= y < board.height):
        return "%d,%d is off the board" % (x, y)
    if board.at(x, y) != EMPTY:
        return "%d,%d is occupied" % (x, y)
    if rule == 2 and colour == FIRST:
        verdict = renju_verdict(board, x, y)
        if verdict in FOULS:
            return "%d,%d is forbidden (%s)" % (x, y, verdict)
    return None


def is_win(rule, colour, lengths):
    if rule == 0 or (rule == 2 and colour == SECOND):
        return max(lengths) >= 5
    return 5 in lengths


def renju_draw(board):
    """No five-square window is left for either player (Renju)."""
    for x in range(board.width):
        for y in range(board.height):
            for dx, dy in DIRECTIONS:
                cells = [board.at(x + k * dx, y + k * dy) for k in range(5)]
                if BLOCKED in cells or (FIRST in cells and SECOND in cells):
                    continue
                if FIRST not in cells:
                    return False
                before = board.at(x - dx, y - dy)
                after = board.at(x + 5 * dx, y + 5 * dy)
                if before != FIRST and after != FIRST:
                    return False
    return True


class FiveSquares:
    """Per colour, the empty squares on which that colour wins at once; kept up to date
    around every stone."""

    def __init__(self, board, rule):
        self.board = board
        self.rule = rule
        self.squares = {FIRST: set(), SECOND: set()}

    def _check(self, x, y, colour):
        b = self.board
        if b.at(x, y) != EMPTY:
            self.squares[colour].discard((x, y))
            return
        b.cells[x][y] = colour
        win = is_win(self.rule, colour, run_lengths(b, x, y, colour))
        b.cells[x][y] = EMPTY
        if win:
            self.squares[colour].add((x, y))
        else:
            self.squares[colour].discard((x, y))

    def placed(self, x, y):
        for colour in (FIRST, SECOND):
            self.squares[colour].discard((x, y))
        colour = self.board.cells[x][y]
        for dx, dy in DIRECTIONS:
            for k in range(-5, 6):
                if k:
                    self._check(x + k * dx, y + k * dy, colour)


# ---- playing ----

class Fault(Exception):
    pass


class Late(Fault):
    """No reply in the time allowed."""


class Player:
    def __init__(self, command, crlf, name):
        self.engine = Engine(command, crlf)
        self.name = name
        self.announced_draw = False
        self.stones_after_last_move = 0

    def start(self, size, rule, timeout_turn, time_left=1000000, timeout_match=None):
        self.announced_draw = False
        self.send("INFO rule %d" % rule)
        self.send("INFO timeout_turn %d" % timeout_turn)
        if timeout_match is not None:
            self.send("INFO timeout_match %d" % timeout_match)
        self.send("INFO time_left %d" % time_left)
        self.send("START %d" % size)
        deadline = time.monotonic() + 30
        while True:
            line = self.read_line(deadline)
            if line == "OK":
                return
            if line is None or not (line.startswith("MESSAGE") or line == ""):
                raise Fault("%s: START answered %r" % (self.name, line))

    def send(self, line):
        try:
            self.engine.send(line)
        except EngineError:
            raise Fault("%s closed its input" % self.name)

    def read_line(self, deadline):
        """The next line, None at the end of the output; Late past the deadline (monotonic s)."""
        try:
            return self.engine.read(max(0.0, deadline - time.monotonic()))
        except EngineError:
            raise Late("%s gave no reply in time" % self.name)

    def read_move(self, timeout):
        """The next move line within timeout seconds; notes a draw message written after the
        previous move."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.read_line(deadline)
            if line is None:
                raise Fault("%s ended its output" % self.name)
            if line == "MESSAGE It's a draw":
                self.announced_draw = True
                continue
            if line.startswith("MESSAGE") or line == "":
                continue
            parts = line.split(",")
            try:
                return int(parts[0]), int(parts[1])
            except (ValueError, IndexError):
                raise Fault("%s answered %r instead of a move" % (self.name, line))

    def turn(self, x, y):
        self.send("TURN %d,%d" % (x, y))

    def board(self, stones, colour):
        self.send("BOARD")
        for x, y, c in stones:
            self.send("%d,%d,%d" % (x, y, 1 if c == colour else 2))
        self.send("DONE")

    def close(self):
        try:
            self.engine.send("END")
            code = self.engine.finish(10)
        except EngineError:
            self.engine.kill()
            raise Fault("%s did not end on END" % self.name)
        self.engine.reader.join(5)
        self.engine.proc.stdin.close()
        self.engine.proc.stdout.close()
        if code != 0:
            raise Fault("%s exited with %d" % (self.name, code))


def random_opening(rng, board, rule, count):
    """count random stones near the centre, alternating colours from FIRST; none wins and
    none is forbidden."""
    stones = []
    cx, cy = board.width // 2, board.height // 2
    spread = max(2, min(board.width, board.height) // 4)
    tries = 0
    while len(stones) < count and tries < 1000:
        tries += 1
        x = cx + rng.randint(-spread, spread)
        y = cy + rng.randint(-spread, spread)
        if board.at(x, y) != EMPTY:
            continue
        colour = FIRST if len(stones) % 2 == 0 else SECOND
        if rule == 2 and colour == FIRST and renju_forbidden(board, x, y):
            continue
        board.cells[x][y] = colour
        if max(run_lengths(board, x, y, colour)) >= 5:
            board.cells[x][y] = EMPTY
            continue
        stones.append((x, y, colour))
    return stones


class Result:
    def __init__(self):
        self.games = 0
        self.outcomes = {}
        self.moves = 0
        self.known_differences = []
        self.faults = []

    def add(self, outcome):
        self.outcomes[outcome] = self.outcomes.get(outcome, 0) + 1


def play_game(players, single, size, rule, opening, max_moves, move_timeout, rng, result):
    board = Board(size, size)
    fives = FiveSquares(board, rule)
    stones = random_opening(rng, board, rule, opening)
    for x, y, _ in stones:
        fives.placed(x, y)
    to_move = FIRST if len(stones) % 2 == 0 else SECOND
    mover = 0
    informed = [False, False]  # player has had the whole position once
    last = None
    while True:
        if len(stones) >= size * size:
            return "full board"
        if len(stones) >= max_moves:
            return "move limit"
        player = players[mover]
        if single or not informed[mover]:
            player.board(stones, to_move)
            informed[mover] = True
        else:
            player.turn(*last)
        x, y = player.read_move(move_timeout)
        result.moves += 1
        who = "%s (%s) move %d" % (player.name, "FIRST" if to_move == FIRST else "SECOND",
                                  len(stones) + 1)
        if (x, y) == (-1, -1):
            legal = [s for s in board.empty_squares()
                     if not (rule == 2 and to_move == FIRST and renju_forbidden(board, *s))]
            if legal:
                raise Fault("%s passed with %d legal squares, e.g. %s"
                            % (who, len(legal), legal[0]))
            return "pass"
        fault = move_fault(board, rule, to_move, x, y)
        if fault:
            if "forbidden" not in fault or renju_forbidden(board, x, y,
                                                           five_square_ends_three=True):
                raise Fault("%s: %s" % (who, fault))
            result.known_differences.append((picture(board, (x, y)), renju_verdict(board, x, y)))
            return "forbidden move (known reading difference)"
        could_win = bool(fives.squares[to_move])
        if player.announced_draw:
            # Written after this player's previous move: judge the board as it was then.
            player.announced_draw = False
            then = Board(size, size)
            for sx, sy, c in stones[:player.stones_after_last_move]:
                then.cells[sx][sy] = c
            if rule != 2 or not renju_draw(then):
                raise Fault("%s announced a draw after its previous move, but a five was "
                            "still possible:\n%s" % (player.name, picture(then)))
            return "draw announced"
        board.cells[x][y] = to_move
        stones.append((x, y, to_move))
        player.stones_after_last_move = len(stones)
        fives.placed(x, y)
        if is_win(rule, to_move, run_lengths(board, x, y, to_move)):
            return "FIRST wins" if to_move == FIRST else "SECOND wins"
        if could_win:
            raise Fault("%s: %d,%d while a five was on the board at %s" % (
                who, x, y, sorted(fives_before(board, x, y, to_move, rule))))
        last = (x, y)
        to_move = 3 - to_move
        if not single:
            mover = 1 - mover


def fives_before(board, x, y, colour, rule):
    """The five squares the mover had before (x, y) (for the fault message)."""
    board.cells[x][y] = EMPTY
    out = []
    for sx, sy in board.empty_squares():
        board.cells[sx][sy] = colour
        if is_win(rule, colour, run_lengths(board, sx, sy, colour)):
            out.append((sx, sy))
        board.cells[sx][sy] = EMPTY
    board.cells[x][y] = colour
    return out


def picture(board, mark=None):
    rows = []
    for y in range(board.height):
        rows.append("".join("*" if (x, y) == mark else ".XO#"[board.cells[x][y]]
                            for x in range(board.width)))
    return "\n".join(rows)


def parse_rule(text):
    if text.lower() in RULES:
        return RULES[text.lower()]
    value = int(text)
    if value not in (0, 1, 2):
        raise argparse.ArgumentTypeError("rule is 0/freestyle, 1/standard or 2/renju")
    return value


def run(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True,
                        help="command that starts the engine (split like a shell line)")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR-LF")
    parser.add_argument("--engine2", help="second engine command (default: the first again)")
    parser.add_argument("--single", action="store_true",
                        help="one process plays both sides (BOARD before every move)")
    parser.add_argument("--rule", type=parse_rule, default=0,
                        help="freestyle (0), standard (1) or renju (2)")
    parser.add_argument("--games", type=int, default=10)
    parser.add_argument("--size", default="15", help="board sizes, e.g. 15 or 10,15,20")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout-turn", type=int, default=30, help="INFO timeout_turn, ms")
    parser.add_argument("--move-timeout", type=float, default=30.0,
                        help="seconds to wait for one move before calling it a fault")
    parser.add_argument("--opening", default="1-6",
                        help="number of random opening stones, N or MIN-MAX")
    parser.add_argument("--max-moves", type=int, default=0,
                        help="stones on the board that end a game (default: no limit but the "
                             "full board)")
    parser.add_argument("--quiet", action="store_true", help="no line per game")
    args = parser.parse_args(argv)
    command, crlf = shlex.split(args.engine), args.crlf

    sizes = [int(s) for s in args.size.split(",")]
    lo, _, hi = args.opening.partition("-")
    opening_range = (int(lo), int(hi or lo))
    rng = random.Random(args.seed)
    result = Result()
    names = ["A", "B"]
    commands = [command, shlex.split(args.engine2) if args.engine2 else command]
    players = [Player(commands[0], crlf, names[0])]
    if not args.single:
        players.append(Player(commands[1], crlf, names[1]))
    start = time.monotonic()
    try:
        for g in range(args.games):
            size = sizes[g % len(sizes)]
            opening = rng.randint(*opening_range)
            max_moves = min(args.max_moves or size * size, size * size)
            for p in players:
                p.start(size, args.rule, args.timeout_turn)
            # Alternate which process moves first.
            order = players if args.single or g % 2 == 0 else players[::-1]
            outcome = play_game(order, args.single, size, args.rule, opening, max_moves,
                                args.move_timeout, rng, result)
            result.games += 1
            result.add(outcome)
            if not args.quiet:
                print("game %d: %dx%d %s, %s" % (g + 1, size, size, RULE_NAMES[args.rule], outcome))
        for p in players:
            p.close()
    except (Fault, EngineError) as fault:
        result.faults.append(str(fault))
        for p in players:
            p.engine.kill()

    elapsed = time.monotonic() - start
    print("%d games, %d moves in %.1f s (%s): %s" % (
        result.games, result.moves, elapsed, RULE_NAMES[args.rule],
        ", ".join("%s %d" % kv for kv in sorted(result.outcomes.items()))))
    for board_picture, verdict in result.known_differences:
        print("forbidden by the full rule (%s), allowed by the engine's reading:\n%s"
              % (verdict, board_picture))
    for fault in result.faults:
        print("FAULT: " + fault)
    return result


def main(argv=None):
    result = run(argv)
    return 1 if result.faults else 0


if __name__ == "__main__":
    sys.exit(main())
