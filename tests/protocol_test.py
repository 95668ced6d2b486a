#!/usr/bin/env python3
"""The protocol through the real binary: a table of command lines, well formed, malformed, out
of range and hostile, each row with the replies the engine gives; then what a row cannot hold
(every board size, 600 moves, the end of input; rule changes at random moments: turn_test).

After every row the engine must still answer, and the game record must hold exactly the moves
that were accepted: they are taken back one by one from the last (TAKEBACK accepts only the
last recorded move), after which one more TAKEBACK must be refused. Turns are kept short; an
engine move is only required to be a free square of the board. Every read is time-bounded.

    protocol_test.py --engine COMMAND [--crlf] [unittest arguments]
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import (ABOUT_RE, BAD, BLOCK_END, CHATTER, DRAW, PASS, RECT, RESET,  # noqa
                           SIZE, SPEED, UNKNOWN, Engine, board_text, engine_command_from_args,
                           matches)

COMMAND, CRLF, TIMEOUT = None, False, 10.0
# Reply token: a free square, recorded; and in a row's record, the moves of its setup.
MOVE, BASE = "<move>", "<base>"
OPP, MINE = "ERROR opponents's move [%s]", "ERROR my move [%s]"
FREE = "MESSAGE Rule Gomoku (Freestyle)"

# Starting positions: the rule, the start, the move after PLAY 3,3 and the board (width, height).
# "built" has had a search, so the free-style board is built; under Renju it is built at once.
SETUPS = {"free": (0, "START 15", "PLAY 4,4", (15, 15)),
          "renju": (4, "START 15", "PLAY 4,4", (15, 15)),
          "built": (0, "START 15", "TURN 4,4", (15, 15)),
          "rect": (0, "RECTSTART 15,10", "PLAY 14,9", (15, 10))}  # width, then height


def xy(square):
    return "%d,%d" % square


def row(setup, *steps, record=(BASE,), size=None):
    """steps: (input, replies); input: lines joined by newlines, or raw bytes."""
    return setup, steps, record, size


def rows(setup, replies, *inputs):
    """One row for each input, all with the same replies and the record left as it was."""
    return [row(setup, (text, replies)) for text in inputs]


def played(setup, *inputs, square=(7, 7)):
    """Rows whose turn (or other input) is read as a turn on the square."""
    return [row(setup, (text, [MOVE]), record=[BASE, square, MOVE]) for text in inputs]


TABLE = [
    # Numbers beyond the 32-bit range saturate; a value that would wrap onto a square is no square.
    *rows("free", [BAD], "TURN 2147483648,0", "TURN 1,4294967297", "TURN -4294967295,0",
          "TURN 4294967299,3", "PLAY 4294967301,5", "TAKEBACK 4294967300,4"),
    # Sizes outside 1..22 are refused and leave the game and the board as they were.
    *rows("free", [SIZE], "START 4294967311", "START -4294967281", "START " + "9" * 30,
          "RECTSTART 4294967311,15", "RECTSTART 15,4294967311", "START -1", "START 15 23",
          "RECTSTART 22,23", "RECTSTART 0,5"),
    row("free", ("START 23", [SIZE]), ("TURN 15,0", [BAD]), ("TURN 14,14", [MOVE]),
        record=[BASE, (14, 14), MOVE]),
    row("rect", ("RECTSTART 23,5", [SIZE]), ("TURN 0,10", [BAD]), ("PLAY 15,0", [BAD]),
        ("TURN 13,9", [MOVE]), record=[BASE, (13, 9), MOVE]),
    # A height of 0 is the default board: two reset lines; no number keeps the size (bytes
    # beyond ASCII are no blanks).
    *[row("free", (text, [*RESET, *RESET]), ("TURN 19,19", [MOVE]), record=[(19, 19), MOVE],
          size=(20, 20)) for text in ("START 0", "START -0", "RECTSTART 5,0")],
    row("rect", (b"START\xa015\n", [*RESET]), ("TURN 14,10", [BAD]), ("TURN 14,9", [MOVE]),
        record=[(14, 9), MOVE]),
    # Command words: any case, matched by their start; a blank before the word is none.
    row("rect", ("start 16", [*RESET]), ("STARTED 15", [*RESET]), ("TURN 15,15", [MOVE]),
        record=[(15, 15), MOVE], size=(16, 16)),
    *rows("free", [ABOUT_RE], "about", "ABOUT" + "x" * 9000),
    *rows("free", [UNKNOWN], "", " TURN 3,3", "SWAP2", "STO", "Q" * 20000),
    # RECTSTART needs two numbers around a comma; blanks and tabs may surround them.
    *rows("free", [RECT], "RECTSTART", "RECTSTART 10", "RECTSTART 10 10", "RECTSTART ,10",
          "RECTSTART 10,x"),
    row("free", ("RECTSTART\t12 ,\t10", [*RESET]), ("TURN 12,0", [BAD]), ("TURN 0,10", [BAD]),
        ("TURN 11,9", [MOVE]), record=[(11, 9), MOVE], size=(12, 10)),
    # Moves that are no square, and forms that are one.
    *rows("free", [BAD], "TURN", "TURN 5,", "TURN 5 ,5", "TURN 0x5,5", "TURN 0,-1"),
    *played("free", "TURN 5, 5", "TURN 5,5,5", "TURN +5,+5", square=(5, 5)),
    # Occupied squares, before the board is built (free-style), after it (a search has run)
    # and under Renju (built at once). A refused TURN still starts a turn.
    *[row(s, ("PLAY 4,4", [MINE % "4,4", "4,4"]), ("TURN 3,3", [OPP % "3,3", MOVE]),
          record=[BASE, MOVE]) for s in ("free", "built", "renju")],
    # BOARD empties the record, then takes the block; a refused stone does not end it; blocks
    # are not recorded.
    *[r for s in ("free", "renju") for r in (
        row(s, ("BOARD\n7,7,1\n6,6,3\nDONE", [MOVE]), ("TURN 6,6", [OPP % "6,6", MOVE]),
            record=[(7, 7), MOVE, MOVE]),
        row(s, ("BOARD\n5,5,1\n5,5,2\n6,6,2\nDONE", [OPP % "5,5", MOVE]),
            record=[(5, 5), (6, 6), MOVE]))],
    row("free", ("BOARD\n5,5,3\n5,5,1\n5,5,3\n6,6,2\nDONE",
                 [MINE % "5,5", "ERROR board-block move [5,5]", MOVE]), record=[(6, 6), MOVE]),
    row("renju", ("BOARD\n5,5,1\n5,5,3\nDONE", ["ERROR board-block move [5,5]", MOVE]),
        record=[(5, 5), MOVE]),
    row("built", ("BOARD\n4,4,1\n8,8,2\ndone", [MOVE]), record=[(4, 4), (8, 8), MOVE]),
    # A bad line ends the block and the engine moves; the rest of the block is commands.
    row("free", ("BOARD\n5,5,1\n6,6,0", [BLOCK_END, MOVE]), ("7,7,2\nDONE", [UNKNOWN, UNKNOWN]),
        record=[(5, 5), MOVE]),
    *[row(s, ("BOARD\n5,5,1\n" + bad, [BLOCK_END, MOVE]), record=[(5, 5), MOVE])
      for s, bad in (("renju", "6,6,4"), ("free", "6,6,4294967297"), ("rect", "5,10,2"),
                     ("free", "4294967302,6,1"), ("free", "6,6"), ("free", "DONE "),
                     ("free", "STOP"))],
    *[row("free", ("BOARD\n" + line + "\ndone", [MOVE]), record=[(5, 5), MOVE])
      for line in ("5,5,1,7", " 5,5,1", "5,5,1" + " " * 8200 + "6,6,2")],
    # Lines longer than the 8192-byte buffer are one line; NUL ends the command as read; only
    # one CR right before the line feed is a line end; bytes beyond ASCII are neither letters
    # nor blanks nor digits.
    *played("free", "TURN 7,7" + " " * 8200 + "TURN 8,8", b"TURN 7,7\0TURN 8,8\n",
            b"TURN 7,7\rTURN 8,8\n", b"TURN\r7,7\n", "TURN 7,7\u200b".encode("utf-8") + b"\n"),
    *rows("free", [UNKNOWN], b"TU\0RN 7,7\n", "\u00e9TURN 7,7".encode("utf-8") + b"\n"),
    *rows("free", [BAD], b"PLAY 7,\x007\n", "TURN \uff17,7".encode("utf-8") + b"\n"),
    row("free", (b"BOARD\n5,5,1\0,9\nDONE\0x\n", [MOVE]), record=[(5, 5), MOVE]),
    row("free", (b"BOARD\n5,5,1\r\nDONE\r\r\n", [BLOCK_END, MOVE]), record=[(5, 5), MOVE]),
    row("free", (b"BOARD\r\n7,7,1\r\n8,8,2\r\nDONE\r\n", [MOVE]), record=[(7, 7), (8, 8), MOVE]),
    # TAKEBACK only of the last recorded move.
    *rows("free", [BAD], "TAKEBACK 3,3", "TAKEBACK 4,3", "TAKEBACK 3,4", "TAKEBACK",
          "TAKEBACK 15,15"),
    row("renju", ("TAKEBACK 4,4,4", ["OK"]), ("TAKEBACK 4,4", [BAD]), record=[(3, 3)]),
    *[row(s, ("RESTART", [*RESET]), ("TAKEBACK 3,3", [BAD]), record=[]) for s in ("free", "renju")],
    # STOP and YXSTOP: the move at once during a turn, nothing when idle; the record stays.
    *rows("built", [], "STOP now 3,3"),
    row("free", ("TURN 7,7\nSTOP", [MOVE]), ("YXSTOP", []), record=[BASE, (7, 7), MOVE]),
    row("renju", ("BOARD\n5,5,1\nDONE\nStop", [MOVE]), record=[(5, 5), MOVE]),
    # INFO values beyond the 32-bit range saturate, odd keys are ignored; the turns go on.
    # A negative timeout is no limit: the turn goes on until YXSTOP.
    *[row("free", (info, []), ("TURN 7,7" + stop, [MOVE]), record=[BASE, (7, 7), MOVE])
      for info, stop in (("INFO time_left -99999999999", ""), ("INFO time_left " + "9" * 30, ""),
                         ("INFO timeout_turn 99999999999\nINFO time_left 1000", ""),
                         ("INFO timeout_turn -99999999999", "\nYXSTOP"), ("INFO max_memory 99999999999\n"
                          "INFO timeout_match -99999999999\nINFO game_type 99999999999\ninfo RULE 0\n"
                          "INFO evaluate 7,7\nINFO folder C:\\d\xe4t\xe4" + "d" * 9000,
                          "\nYXSTOP\nINFO timeout_match 100000000"))],
    *[row(s, (info, []), ("TURN 7,7", [*rule, SPEED, MOVE]), record=[BASE, (7, 7), MOVE])
      for s, info, rule in (("free", "INFO rule 4294967297", []), ("renju", "INFO rule", [FREE]),
                            ("free", "INFO rule -4294967295", [FREE]),
                            ("free", "INFO\nINFO 5\nINFO rul 1", [FREE]))],
]


class Session(Engine):
    """One engine process with the table's reply tokens and the record check. Under Renju the
    engine may follow a move with the draw message (on small boards after every move): the
    scenarios skip it."""

    def __init__(self, skip_draw=False):
        super().__init__(COMMAND, crlf=CRLF, stderr=None)
        self.size, self.skip_draw = (15, 15), skip_draw
        self.command("INFO timeout_turn 50\nABOUT", ABOUT_RE)  # rows may set another budget

    def next(self, chatter):
        """The next line, after any draw message when skipped, and rule and speed messages when
        chatter is set."""
        while (line := self.read(TIMEOUT)) is not None:
            if not (chatter and CHATTER.match(line)
                    or self.skip_draw and line == DRAW[0] and self.read(TIMEOUT) == DRAW[1]):
                return line
        self.fail("output ended")

    def command(self, data, *replies, occupied=()):
        """Sends the data and reads the replies; returns the squares of the MOVE replies."""
        self.send(data)
        moves = []
        for want in replies:
            line = self.next(want in (MOVE, PASS[0]))
            if want == MOVE:
                moves.append(self.square(line, self.size, occupied))
            elif not matches(want, line):
                self.fail("expected %r, got %r" % (want, line))
        return moves

    def check_record(self, record):
        """The record is exactly these moves: each is taken back from the last, then none."""
        self.command("\n".join(["TAKEBACK " + xy(m) for m in reversed(record)] + ["TAKEBACK 0,0",
                     "ABOUT"]), *["OK"] * len(record), BAD, ABOUT_RE)  # and nothing was pending

    def setup(self, name):
        """Plays the starting position; returns its record."""
        rule, start, second, self.size = SETUPS[name]
        record = [(3, 3), tuple(map(int, second[5:].split(",")))]
        for move in self.command("INFO timeout_turn 50\nINFO time_left 100000000\nINFO rule %d\n"
                                 "%s\nPLAY 3,3\n%s" % (rule, start, second), *RESET, "3,3",
                                 MOVE if "TURN" in second else second[5:], occupied=record):
            self.command("TAKEBACK " + xy(move), "OK")  # the board stays built for the rule
        return record


class SessionCase(unittest.TestCase):
    SKIP_DRAW = True

    def setUp(self):
        self.s = Session(self.SKIP_DRAW)
        self.addCleanup(lambda: self.s.close())

    def tearDown(self):
        if self.s.proc.poll() is None:
            self.s.end(TIMEOUT)


class Table(SessionCase):
    SKIP_DRAW = False

    def test_table(self):
        for setup, steps, record, size in TABLE:
            with self.subTest(row=repr(steps[0][0])[:80]):
                try:
                    s, base = self.s, self.s.setup(setup)
                    s.size = size or s.size
                    moves = [m for data, replies in steps for m in s.command(data, *replies)]
                    expected = [m for item in record for m in (
                        base if item == BASE else [moves.pop(0) if item == MOVE else item])]
                    moves and s.fail("engine moves %r not in the expected record" % moves)
                    s.check_record(expected)
                except Exception:
                    self.s.close()  # the next row starts with a new engine
                    self.s = Session(self.SKIP_DRAW)
                    raise


class Scenarios(SessionCase):
    def test_every_size_and_shape(self):
        # Every square board (START, free-style) and thin or odd shapes (RECTSTART width,height)
        # under free-style and Renju; boards of up to 22 squares are filled to a pass.
        s = self.s
        shapes = [(n, n, 0) for n in range(1, 23)] + [(h, w, rule) for rule in (0, 4) for h, w in [
            (1, 22), (22, 1), (1, 1), (2, 22), (22, 2), (1, 5), (5, 1), (3, 7), (22, 21), (21, 22),
            (1, 2), (2, 1)]]
        for height, width, rule in shapes:
            with self.subTest(shape="%dx%d" % (height, width), rule=rule):
                s.size = (width, height)
                s.command("INFO rule %d\n" % rule + ("RECTSTART %d,%d" % (width, height) if rule
                          or height != width else "START %d" % width), *RESET)
                record = s.command("BEGIN", MOVE)
                s.command("TURN %d,0\nTURN 0,%d" % (width, height), BAD, BAD)
                if width * height <= 22:
                    # All squares but one by PLAY; the engine takes the last, then passes.
                    record += [(x, y) for x in range(width) for y in range(height)
                               if (x, y) != record[0]]
                    s.command("\n".join(["PLAY " + xy(m) for m in record[1:]] + ["TAKEBACK "
                              + xy(record[-1])]), *map(xy, record[1:]), "OK")
                    record[-1:] = s.command("BEGIN", MOVE, occupied=record[:-1])
                    s.command("BEGIN", *PASS)
                    s.command("TURN 0,0", OPP % "0,0", *PASS)
                s.check_record(record)

    def test_600_moves(self):
        # 600 moves into a game: the first fill the board, every later one is refused.
        s = self.s
        for n, rule, use_board in ((20, 0, False), (20, 4, True), (22, 1, True)):
            s.size = (n, n)
            s.command("INFO rule %d\nSTART %d" % (rule, n), *RESET)
            order = [(x, (y + 2 * x) % n) for x in range(n) for y in range(n)]
            late = [order[(7 * i) % len(order)] for i in range(600 - len(order))]
            if use_board:  # the engine's own stones come first
                s.command(board_text(*order, *late),
                          *[(OPP if i % 2 else MINE) % xy(m) for i, m in enumerate(late)], *PASS)
            else:
                s.command("\n".join("PLAY " + xy(m) for m in order + late), *map(xy, order),
                          *[r for m in late for r in (MINE % xy(m), xy(m))])
                s.command("BEGIN", *PASS)
            s.command("TURN 1,1", OPP % "1,1", *PASS)
            s.check_record(order)

    def test_end_of_input(self):
        # Input that ends: exit code 0 and exactly these lines after it.
        for data, replies in [
                (b"START 15\nBOARD\n5,5,1\n6,6,2\n", RESET), (b"BOARD\n5,5,1\n6,6", RESET),
                (b"START 15\nTURN 7,7" + b" " * 9000, RESET), (b"TURN 7,7\n", [*RESET, MOVE]),
                (b"PLAY 19,19\nPLAY 20,0\n", [*RESET, "19,19", BAD]), (b"RESTART\n", RESET * 2),
                (b"TAKEBACK 0,0\n", [*RESET, BAD]),
                (b"START 23\nRECTSTART 5\nSTART -1\n", [SIZE, RECT, SIZE])]:
            with self.subTest(input=data[:40]):
                s = Session()
                self.addCleanup(s.close)
                s.size = (20, 20)
                s.command(data, *replies)
                s.end(TIMEOUT, by_eof=True)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest)
