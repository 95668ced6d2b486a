#!/usr/bin/env python3
"""The referee of self-play and matches: the rules that judge every move of an engine (on the
board and on an empty square; under Renju, never a forbidden square for the first player, by
the full rule, an independent port of the unit tests' Renju reference; fives per rule; the
Renju draw), and a Player that talks to an engine process over the protocol."""
import argparse
import os
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


# ---- the Renju rule for the first player ----

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

    def start(self, size, rule, timeout_turn, time_left=1000000, timeout_match=None, infos=()):
        self.announced_draw = False
        self.send("INFO rule %d" % rule)
        self.send("INFO timeout_turn %d" % timeout_turn)
        if timeout_match is not None:
            self.send("INFO timeout_match %d" % timeout_match)
        self.send("INFO time_left %d" % time_left)
        for info in infos:  # last: they may narrow the match's own settings
            self.send("INFO " + info)
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
            raise Fault("%s did not end on END" % self.name)
        finally:
            self.engine.close()
        if code != 0:
            raise Fault("%s exited with %d" % (self.name, code))


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
