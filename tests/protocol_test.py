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
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import (ABOUT_RE, BAD, BLOCK_END, DRAW, PASS, RECT, RESET,  # noqa
                           SIZE, SPEED, UNKNOWN, Engine, engine_command_from_args)

COMMAND, CRLF, TIMEOUT = None, False, 10.0
# Reply tokens: a free square (recorded, or one a later BOARD discards), a pass; and in a
# row's record, the moves of its setup.
MOVE, ANY, PASSES, BASE = "<move>", "<any move>", "<pass>", "<base>"
OPP, MINE = "ERROR opponents's move [%s]", "ERROR my move [%s]"
FREE = "MESSAGE Rule Gomoku (Freestyle)"

# Starting positions: commands, and the board (width, height) they leave. "built" has had a
# search, so the free-style board is built; under Renju it is built at once.
SETUPS = {
    "free": ("INFO rule 0\nSTART 15\nPLAY 3,3\nPLAY 4,4", (15, 15)),
    "standard": ("INFO rule 1\nSTART 15\nPLAY 3,3\nPLAY 4,4", (15, 15)),
    "renju": ("INFO rule 4\nSTART 15\nPLAY 3,3\nPLAY 4,4", (15, 15)),
    "built": ("INFO rule 0\nSTART 15\nPLAY 3,3\nTURN 4,4", (15, 15)),
    "rect": ("INFO rule 0\nRECTSTART 10,15\nPLAY 14,9", (15, 10)),  # height, then width
}


def row(setup, *steps, record=(BASE,), size=None):
    """steps: (input, replies); input: lines joined by newlines, or raw bytes."""
    return setup, steps, list(record), size


def rows(setup, replies, *inputs):
    """One row for each input, all with the same replies and the record left as it was."""
    return [row(setup, (text, replies)) for text in inputs]


def played(setup, *inputs, square=(7, 7)):
    """Rows whose turn (or other input) is read as a turn on the square."""
    return [row(setup, (text, [MOVE]), record=[BASE, square, MOVE]) for text in inputs]


TABLE = [
    # Numbers beyond the 32-bit range saturate; a value that would wrap onto a square is no square.
    *rows("free", [BAD], "TURN 99999999999,1", "TURN 1,99999999999", "TURN 2147483648,0",
          "TURN -99999999999,-99999999999", "TURN -2147483649,0", "TURN 4294967299,3",
          "PLAY 4294967301,5", "TAKEBACK 4294967300,4"),
    *rows("free", [SIZE], "START 4294967311", "START -4294967281", "START 2147483647",
          "START -2147483648", "START " + "9" * 30, "RECTSTART 4294967311,15",
          "RECTSTART 15,4294967311"),
    # Refused sizes leave the game and the board as they were.
    *rows("free", [SIZE], "START -1", "START 23", "START 15 -3", "START 15 23", "START 5 23",
          "RECTSTART -1,-1", "RECTSTART 22,23", "RECTSTART 23,22", "RECTSTART 5,0"),
    row("free", ("START 23", [SIZE]), ("TURN 15,0", [BAD]), ("TURN 14,14", [MOVE]),
        record=[BASE, (14, 14), MOVE]),
    row("rect", ("RECTSTART 23,5", [SIZE]), ("TURN 0,10", [BAD]), ("TURN 13,9", [MOVE]),
        record=[BASE, (13, 9), MOVE]),
    # A height of 0 is the default board: two reset lines; no number or junk keeps the size.
    *[row("free", (text, [*RESET, *RESET]), ("TURN 19,19", [MOVE]), record=[(19, 19), MOVE],
          size=(20, 20)) for text in ("START 0", "START -0", "RECTSTART 0,5")],
    row("free", ("START", [*RESET]), ("TURN 14,14", [MOVE]), record=[(14, 14), MOVE]),
    row("rect", ("START abc", [*RESET]), ("TURN 14,10", [BAD]), ("TURN 14,9", [MOVE]),
        record=[(14, 9), MOVE]),
    # Command words: any case, matched by their start; a blank before the word is none.
    row("rect", ("start 15", [*RESET]), ("TURN 14,14", [MOVE]), record=[(14, 14), MOVE],
        size=(15, 15)),
    row("free", ("Start 16", [*RESET]), ("STARTED 15", [*RESET]), ("TURN 15,15", [MOVE]),
        record=[(15, 15), MOVE], size=(16, 16)),
    *rows("free", [ABOUT_RE], "about", "ABOUT" + "x" * 9000),
    *rows("free", [UNKNOWN], "", " TURN 3,3", "\tSTART 15", "FOO", "SWAP2BOARD", "STO", "Q" * 20000),
    # RECTSTART needs two numbers around a comma; blanks and tabs may surround them.
    *rows("free", [RECT], "RECTSTART", "RECTSTART 10", "RECTSTART 10 10", "RECTSTART ten,ten",
          "RECTSTART ,10", "RECTSTART 10;10", "RECTSTART 10,x"),
    row("free", ("RECTSTART\t10 ,\t12", [*RESET]), ("TURN 12,0", [BAD]), ("TURN 0,10", [BAD]),
        ("TURN 11,9", [MOVE]), record=[(11, 9), MOVE], size=(12, 10)),
    # Moves that are no square, and forms that are one.
    *rows("free", [BAD], "TURN", "TURN 5", "TURN 5,", "TURN 5 ,5", "TURN a,b", "TURN 0x5,5",
          "TURN 15,0", "TURN 0,15", "TURN -1,0", "PLAY 15,3", "PLAY 3", "PLAY -1,0"),
    *rows("rect", [BAD], "TURN 0,10", "PLAY 15,0"),
    *played("free", "TURN 5, 5", "TURN 5,5,5", square=(5, 5)),
    *played("free", "TURN +5,+6", square=(5, 6)),
    row("free", ("PLAY 14,14" + " " * 9000, ["14,14"]), record=[BASE, (14, 14)]),
    # Occupied squares, before the board is built (free-style, standard), after it (a search
    # has run) and under Renju (built at once). A refused TURN still starts a turn.
    *[row(s, ("TURN 3,3", [OPP % "3,3", MOVE]), record=[BASE, MOVE])
      for s in ("free", "standard", "built", "renju")],
    *[row(s, ("PLAY 4,4", [MINE % "4,4", "4,4"])) for s in ("free", "built", "renju")],
    *[row(s, ("BOARD\n6,6,3\nDONE", [MOVE]), ("TURN 6,6", [OPP % "6,6", MOVE]),
          record=[MOVE, MOVE]) for s in ("free", "renju")],
    # BOARD empties the record, then takes the block; a refused stone does not end it.
    *[row(s, ("BOARD\n5,5,1\n5,5,2\n6,6,2\nDONE", [OPP % "5,5", MOVE]),
          record=[(5, 5), (6, 6), MOVE]) for s in ("free", "renju")],
    row("free", ("BOARD\n5,5,2\n5,5,1\nDONE", [MINE % "5,5", MOVE]), record=[(5, 5), MOVE]),
    row("free", ("BOARD\n5,5,3\n5,5,1\n5,5,3\n6,6,2\nDONE",
                 [MINE % "5,5", "ERROR board-block move [5,5]", MOVE]), record=[(6, 6), MOVE]),
    row("renju", ("BOARD\n5,5,1\n5,5,3\nDONE", ["ERROR board-block move [5,5]", MOVE]),
        record=[(5, 5), MOVE]),
    row("free", ("BOARD\n7,7,1\n8,8,2\nDONE", [ANY]), ("BOARD\n7,7,1\n8,8,2\n7,8,1\ndone", [MOVE]),
        record=[(7, 7), (8, 8), (7, 8), MOVE]),
    # A bad line ends the block and the engine moves; the rest of the block is commands.
    row("free", ("BOARD\n5,5,1\n6,6,0", [BLOCK_END, MOVE]), ("7,7,2\nDONE", [UNKNOWN, UNKNOWN]),
        record=[(5, 5), MOVE]),
    *[row(s, ("BOARD\n5,5,1\n" + bad, [BLOCK_END, MOVE]), record=[(5, 5), MOVE])
      for s, bad in (("free", "6,6,4"), ("renju", "6,6,-1"), ("free", "6,6,4294967297"),
                     ("rect", "5,10,2"), ("free", "DONE "), ("free", "STOP"))],
    *[row(s, (text, [BLOCK_END, MOVE]), record=[MOVE])
      for s, text in (("free", "BOARD\n4294967302,6,1"), ("free", "BOARD\n5,5"))],
    *[row("free", ("BOARD\n" + line + "\ndone", [MOVE]), record=[(5, 5), MOVE])
      for line in ("5,5,1,7", " 5,5,1", "5,5,1" + " " * 8200 + "6,6,2")],
    row("free", ("BOARD\n5,5,1\n" + "x" * 9000, [BLOCK_END, MOVE]), ("DONE", [UNKNOWN]),
        record=[(5, 5), MOVE]),
    # Lines longer than the 8192-byte buffer are one line; NUL ends the command as read; only
    # one CR right before the line feed is a line end; bytes beyond ASCII are neither letters
    # nor blanks.
    *played("free", "TURN 7,7" + " " * 8200 + "TURN 8,8", b"TURN 7,7\0TURN 8,8\n",
            b"TURN 7,7\rTURN 8,8\n", b"TURN\r7,7\n", "TURN 7,7\u200b".encode("utf-8") + b"\n"),
    *rows("free", [UNKNOWN], b"TU\0RN 7,7\n", b"\0\n", b"\r\n", b"\xff\xfe\x80\n",
          "\u00e9TURN 7,7".encode("utf-8") + b"\n"),
    *rows("free", [BAD], b"PLAY 7,\x007\n", b"TURN\xff7,7\n", "TURN \uff17,7".encode("utf-8") + b"\n"),
    *rows("free", [ABOUT_RE], b"ABOUT\r\r\n", b"ABOUT\r\n"),
    row("free", (b"BOARD\n5,5,1\0,9\nDONE\0x\n", [MOVE]), record=[(5, 5), MOVE]),
    row("free", (b"BOARD\n5,5,1\r\nDONE\r\r\n", [BLOCK_END, MOVE]), record=[(5, 5), MOVE]),
    row("free", (b"PLAY 14,14\r\n", ["14,14"]), (b"BOARD\r\n7,7,1\r\n8,8,2\r\nDONE\r\n", [MOVE]),
        record=[(7, 7), (8, 8), MOVE]),
    row("rect", (b"START\xa015\n", [*RESET]), ("TURN 14,10", [BAD]), record=[]),
    # TAKEBACK only of the last recorded move.
    *rows("free", [BAD], "TAKEBACK 3,3", "TAKEBACK 5,5", "TAKEBACK 4,3", "TAKEBACK 3,4",
          "TAKEBACK", "TAKEBACK 15,15", "TAKEBACK -1,-1"),
    row("free", ("TAKEBACK 4,4,4", ["OK"]), record=[(3, 3)]),
    row("renju", ("TAKEBACK 4,4", ["OK"]), ("TAKEBACK 4,4", [BAD]), record=[(3, 3)]),
    row("free", ("BOARD\n6,6,3\n7,7,1\nDONE", [MOVE]), ("TAKEBACK 6,6", [BAD]), record=[(7, 7), MOVE]),
    *[row(s, ("RESTART", [*RESET]), ("TAKEBACK 3,3", [BAD]), record=[]) for s in ("free", "renju")],
    # STOP and YXSTOP: the move at once during a turn, nothing when idle; the record stays.
    *rows("free", [], "STOP", "INFO folder C:\\d\xe4t\xe4"),
    *rows("renju", [], "yxstop"),
    *rows("built", [], "STOP now 3,3"),
    row("free", ("TURN 7,7\nSTOP", [MOVE]), ("YXSTOP", []), record=[BASE, (7, 7), MOVE]),
    row("renju", ("BOARD\n5,5,1\nDONE\nStop", [MOVE]), record=[(5, 5), MOVE]),
    # INFO values beyond the 32-bit range saturate, odd keys are ignored; the turns go on.
    *[row("free", (info, []), ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE])
      for info in ("INFO time_left 99999999999", "INFO time_left -99999999999",
                   "INFO time_left " + "9" * 30, "INFO timeout_turn 99999999999\nINFO time_left 1000",
                   "INFO timeout_turn -99999999999", "INFO max_memory 99999999999\n"
                   "INFO timeout_match -99999999999\nINFO game_type 99999999999",
                   "info RULE 0\nINFO evaluate 7,7\nINFO folder " + "d" * 9000)],
    row("free", ("INFO rule 4294967297", []), ("TURN 7,7", [SPEED, MOVE]),
        record=[BASE, (7, 7), MOVE]),
    *[row(s, (info, []), ("TURN 7,7", [FREE, SPEED, MOVE]), record=[BASE, (7, 7), MOVE])
      for s, info in (("free", "INFO rule -4294967295"), ("standard", "INFO rule"),
                      ("free", "INFO\nINFO 5\nINFO rul 1"))],
]


class Session(Engine):
    """One engine process with the table's reply tokens and the record check."""

    def __init__(self, skip_draw=False):
        super().__init__(COMMAND, crlf=CRLF, stderr=None)
        self.size = (15, 15)
        # Under Renju the engine may follow a move with the draw message (on small boards after
        # every move): the scenarios skip it.
        self.skip_draw = skip_draw
        self.send("INFO timeout_turn 50")  # rows that need another budget set their own
        self.send("ABOUT")
        self.expect_replies([ABOUT_RE])

    def next(self):
        line = self.read(TIMEOUT)
        if self.skip_draw and line == DRAW[0]:
            if self.read(TIMEOUT) != "":
                self.fail("no empty line after the draw message")
            line = self.read(TIMEOUT)
        if line is None:
            self.fail("output ended")
        return line

    def send_all(self, data):
        if isinstance(data, bytes):
            self.send(data, raw=True)
        else:
            for line in data.split("\n"):
                self.send(line)

    def move(self, occupied=()):
        """The engine's move after any MESSAGE lines but a pass: a free square of the board."""
        while (line := self.next()).startswith("MESSAGE ") and line != PASS[0]:
            pass
        return self.square(line, self.size, occupied)

    def expect_replies(self, replies, moves=None):
        for want in replies:
            if want in (MOVE, ANY):
                square = self.move()
                if want == MOVE and moves is not None:
                    moves.append(square)
            elif want == PASSES:  # other MESSAGE lines may come first
                while (line := self.next()) != PASS[0]:
                    line.startswith("MESSAGE ") or self.fail("expected a pass, got %r" % line)
                self.expect_replies([PASS[1]])
            else:
                line = self.next()
                if not (want.fullmatch(line) if isinstance(want, re.Pattern) else line == want):
                    self.fail("expected %r, got %r" % (want, line))

    def command(self, data, *replies):
        self.send_all(data)
        self.expect_replies(replies)

    def check_record(self, record):
        """The record is exactly these moves: each is taken back from the last, then none."""
        for x, y in reversed(record):
            self.command("TAKEBACK %d,%d" % (x, y), "OK")
        self.command("TAKEBACK 0,0", BAD)
        self.command("ABOUT", ABOUT_RE)  # and nothing else was pending

    def setup(self, name):
        """Plays the starting position; returns its record."""
        commands, self.size = SETUPS[name]
        record = []
        self.send_all("INFO timeout_turn 50\nINFO time_left 100000000")
        for line in commands.split("\n"):
            self.send(line)
            word, _, square = line.partition(" ")
            if word in ("START", "RECTSTART"):
                self.expect_replies(RESET)
            elif word in ("PLAY", "TURN"):
                record.append(tuple(map(int, square.split(","))))
                if word == "PLAY":
                    self.expect_replies([square])
                else:  # the engine's move taken back: the board stays built for the rule
                    self.command("TAKEBACK %d,%d" % self.move(record), "OK")
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
                    self.run_row(setup, steps, record, size)
                except Exception:
                    self.s.close()  # the next row starts with a new engine
                    self.s = Session(self.SKIP_DRAW)
                    raise

    def run_row(self, setup, steps, record, size):
        s = self.s
        base = s.setup(setup)
        s.size = size or s.size
        moves = []
        for data, replies in steps:
            s.send_all(data)
            s.expect_replies(replies, moves)
        expected = []
        for item in record:
            expected += base if item == BASE else [moves.pop(0) if item == MOVE else item]
        if moves:
            s.fail("engine moves %r not in the expected record" % moves)
        s.check_record(expected)


class Scenarios(SessionCase):
    def test_every_size_and_shape(self):
        # Every square board (START, free-style) and thin or odd shapes (RECTSTART height,width)
        # under free-style and Renju; boards of up to 22 squares are filled to a pass.
        s = self.s
        shapes = [(n, n, 0) for n in range(1, 23)] + [
            (h, w, rule) for h, w in [(1, 22), (22, 1), (1, 1), (2, 22), (22, 2), (1, 5), (5, 1),
                                      (3, 7), (22, 21), (21, 22), (1, 2), (2, 1)] for rule in (0, 4)]
        for height, width, rule in shapes:
            with self.subTest(shape="%dx%d" % (height, width), rule=rule):
                s.send("INFO rule %d" % rule)
                s.command("START %d" % width if height == width and rule == 0
                          else "RECTSTART %d,%d" % (height, width), *RESET)
                s.size = (width, height)
                s.send("BEGIN")
                record = [s.move()]
                s.command("TURN %d,0\nTURN 0,%d" % (width, height), BAD, BAD)
                if width * height <= 22:
                    # All squares but one by PLAY; the engine takes the last, then passes.
                    for square in [(x, y) for x in range(width) for y in range(height)
                                   if (x, y) not in record]:
                        s.command("PLAY %d,%d" % square, "%d,%d" % square)
                        record.append(square)
                    s.command("TAKEBACK %d,%d" % record.pop(), "OK")
                    s.send("BEGIN")
                    record.append(s.move(record))
                    s.command("BEGIN", PASSES)
                    s.command("TURN 0,0", OPP % "0,0", PASSES)
                s.check_record(record)

    def test_600_moves(self):
        # 600 moves into a game: the first fill the board, every later one is refused.
        for n, rule, use_board in ((20, 0, False), (20, 4, True), (22, 1, True)):
            s = self.s
            s.send("INFO rule %d" % rule)
            s.command("START %d" % n, *RESET)
            s.size = (n, n)
            order = [(x, (y + 2 * x) % n) for x in range(n) for y in range(n)]
            moves = order + [order[(7 * i) % len(order)] for i in range(600 - len(order))]
            refused = [((OPP if use_board and i % 2 == 0 else MINE) % "%d,%d" % m)
                       for i, m in enumerate(moves) if i >= len(order)]
            if use_board:
                s.send_all("\n".join(["BOARD"] + ["%d,%d,%d" % (x, y, 2 - i % 2)
                                                  for i, (x, y) in enumerate(moves)] + ["DONE"]))
                s.expect_replies(refused + [PASSES])
            else:
                s.send_all("\n".join("PLAY %d,%d" % m for m in moves))
                s.expect_replies([r for i, m in enumerate(moves) for r in
                                  ([refused[i - len(order)]] if i >= len(order) else [])
                                  + ["%d,%d" % m]])
                s.command("BEGIN", PASSES)
            s.command("TURN 1,1", OPP % "1,1", PASSES)
            s.check_record(order)

    def test_end_of_input(self):
        # Rows that end the engine's input: exit code 0 and exactly these lines after it.
        for data, replies in [
                (b"START 15\nBOARD\n5,5,1\n6,6,2\n", RESET), (b"START 15\nBOARD\n", RESET),
                (b"BOARD\n5,5,1\n6,6", RESET), (b"START 15\nTURN 7,7", RESET),
                (b"START 15\nTURN 7,7" + b" " * 9000, RESET), (b"\0" * 100, []),
                (b"\0\n\0\n", [UNKNOWN, UNKNOWN]), (b"TAKEBACK 0,0\n", [*RESET, BAD]),
                (b"STOP\nYXSTOP\n", []), (b"PLAY 19,19\nPLAY 20,0\n", [*RESET, "19,19", BAD]),
                (b"RESTART\nPLAY 19,19\n", [*RESET, *RESET, "19,19"]),
                (b"TURN 7,7\n", [*RESET, MOVE]), (b"START 15\nTURN 7,7\n", [*RESET, MOVE]),
                (b"START 23\nRECTSTART 5\nSTART -1\n", [SIZE, RECT, SIZE]),
                (b"START 15\nBOARD\n5,5,1\n5,5\n", [*RESET, BLOCK_END, MOVE])]:
            with self.subTest(input=data[:40]):
                s = Session()
                self.addCleanup(s.close)
                s.size = (15, 15) if b"START 15" in data else (20, 20)
                s.send(data, raw=True)
                s.expect_replies(replies)
                s.close_input()
                self.assertEqual(s.finish(TIMEOUT), 0, s.dump())
                self.assertIsNone(s.read(TIMEOUT), s.dump())


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest)
