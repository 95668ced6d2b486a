#!/usr/bin/env python3
"""Bad input through the real binary: a table of malformed, out-of-range and hostile command
lines, each with the reply lines the engine gives, followed by scenarios that a table row
cannot hold (every board size, a game of 600 moves, rule changes mid-game, end of input).

After every row the engine must still answer, and the game record must hold exactly the moves
that were accepted: they are taken back one by one from the last (TAKEBACK accepts only the
last recorded move), after which one more TAKEBACK must be refused. Turns are kept short with
INFO timeout_turn; an engine move is only required to be a square of the board that the
engine itself accepts. Every read is time-bounded.

    bad_input_test.py --engine COMMAND [--crlf] [unittest arguments]
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, EngineError, MOVE_RE, engine_command_from_args  # noqa: E402

COMMAND, CRLF = None, False
TIMEOUT = 10.0

BAD = "ERROR bad coordinates"
SIZE = "ERROR size of the board"
RECT = "ERROR bad RECTSTART parameters"
BLOCK_END = "ERROR x,y,who or DONE expected after BOARD"
UNKNOWN = "UNKNOWN command"
ABOUT_RE = re.compile(r'^name="Zarvel", author="Varnik", version="([^"]+)", country="[^"]+", '
                      r'www="[^"]+"$')


class Token:
    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


MOVE = Token("MOVE")    # reply: the engine's move (MESSAGE lines before it skipped)
PASS = Token("PASS")    # reply: "MESSAGE pass" then "-1,-1"
RESET = Token("RESET")  # reply: the reset lines, "MESSAGE Zarvel <version> Demo :-)" and "OK"
BASE = Token("BASE")    # record: the moves of the row's starting position
SPEED = re.compile(r"MESSAGE Speed=\d+")


def sq(text):
    x, y = text.split(",")
    return int(x), int(y)


# Starting positions: commands, and the record and board (width, height) they leave. "built"
# has had a search, so the free-style board is built; under Renju it is built at once.
SETUPS = {
    "free": (["INFO rule 0", "START 15", "PLAY 3,3", "PLAY 4,4"], (15, 15)),
    "standard": (["INFO rule 1", "START 15", "PLAY 3,3", "PLAY 4,4"], (15, 15)),
    "renju": (["INFO rule 4", "START 15", "PLAY 3,3", "PLAY 4,4"], (15, 15)),
    "built": (["INFO rule 0", "START 15", "PLAY 3,3", "TURN 4,4"], (15, 15)),
    "rect": (["INFO rule 0", "RECTSTART 10,15", "PLAY 14,9"], (15, 10)),
}


def row(name, setup, *steps, record=(BASE,), size=None):
    """steps: (input, replies) pairs. input: a line, a list of lines, or raw bytes."""
    return (name, setup, steps, list(record), size)


TABLE = [
    # Numbers beyond the 32-bit range saturate; a value that would wrap onto a square is no
    # square.
    row("x beyond int", "free", ("TURN 99999999999,1", [BAD])),
    row("y beyond int", "free", ("TURN 1,99999999999", [BAD])),
    row("both below int", "free", ("TURN -99999999999,-99999999999", [BAD])),
    row("2^31", "free", ("TURN 2147483648,0", [BAD])),
    row("-2^31-1", "free", ("TURN -2147483649,0", [BAD])),
    row("2^32+3 would wrap to an occupied 3", "free", ("TURN 4294967299,3", [BAD])),
    row("PLAY 2^32+5 would wrap to 5", "free", ("PLAY 4294967301,5", [BAD])),
    row("TAKEBACK 2^32+4 would wrap to the last move", "free", ("TAKEBACK 4294967300,4", [BAD])),
    row("START 2^32+15 would wrap to 15", "free", ("START 4294967311", [SIZE])),
    row("START -(2^32-15) would wrap to 15", "free", ("START -4294967281", [SIZE])),
    row("START 2^31-1", "free", ("START 2147483647", [SIZE])),
    row("START -2^31", "free", ("START -2147483648", [SIZE])),
    row("START of 30 digits", "free", ("START " + "9" * 30, [SIZE])),
    row("RECTSTART height 2^32+15", "free", ("RECTSTART 4294967311,15", [SIZE])),
    row("RECTSTART width 2^32+15", "free", ("RECTSTART 15,4294967311", [SIZE])),
    # Sizes: refused ones leave the game and the board as they were.
    row("START -1", "free", ("START -1", [SIZE])),
    row("START 23", "free", ("START 23", [SIZE])),
    row("START 15 -3", "free", ("START 15 -3", [SIZE])),
    row("START 15 23", "free", ("START 15 23", [SIZE])),
    row("RECTSTART -1,-1", "free", ("RECTSTART -1,-1", [SIZE])),
    row("RECTSTART 22,23", "free", ("RECTSTART 22,23", [SIZE])),
    row("RECTSTART 23,22", "free", ("RECTSTART 23,22", [SIZE])),
    row("RECTSTART 5,0", "free", ("RECTSTART 5,0", [SIZE])),
    row("the size stays after START 23", "free", ("START 23", [SIZE]), ("TURN 15,0", [BAD]),
        ("TURN 14,14", [MOVE]), record=[BASE, (14, 14), MOVE]),
    row("the size stays after RECTSTART 23,5", "rect", ("RECTSTART 23,5", [SIZE]),
        ("TURN 0,10", [BAD]), ("TURN 13,9", [MOVE]), record=[BASE, (13, 9), MOVE]),
    row("START 0: the default board", "free", ("START 0", [RESET, RESET]), ("TURN 19,19", [MOVE]),
        record=[(19, 19), MOVE], size=(20, 20)),
    row("START -0", "free", ("START -0", [RESET, RESET]), ("TURN 19,19", [MOVE]),
        record=[(19, 19), MOVE], size=(20, 20)),
    row("RECTSTART 0,5: the default board", "free", ("RECTSTART 0,5", [RESET, RESET]),
        ("TURN 19,19", [MOVE]), record=[(19, 19), MOVE], size=(20, 20)),
    row("START without a number keeps the size", "free", ("START", [RESET]),
        ("TURN 14,14", [MOVE]), record=[(14, 14), MOVE]),
    row("START with junk keeps the size", "rect", ("START abc", [RESET]), ("TURN 14,10", [BAD]),
        ("TURN 14,9", [MOVE]), record=[(14, 9), MOVE]),
    # RECTSTART needs two numbers around a comma.
    row("RECTSTART alone", "free", ("RECTSTART", [RECT])),
    row("RECTSTART one number", "free", ("RECTSTART 10", [RECT])),
    row("RECTSTART without the comma", "free", ("RECTSTART 10 10", [RECT])),
    row("RECTSTART words", "free", ("RECTSTART ten,ten", [RECT])),
    row("RECTSTART leading comma", "free", ("RECTSTART ,10", [RECT])),
    row("RECTSTART semicolon", "free", ("RECTSTART 10;10", [RECT])),
    row("RECTSTART junk width", "free", ("RECTSTART 10,x", [RECT])),
    row("RECTSTART tabs are blanks", "free", ("RECTSTART\t10 ,\t12", [RESET]),
        ("TURN 12,0", [BAD]), ("TURN 0,10", [BAD]), ("TURN 11,9", [MOVE]),
        record=[(11, 9), MOVE], size=(12, 10)),
    # Moves that are no square.
    row("TURN alone", "free", ("TURN", [BAD])),
    row("TURN one number", "free", ("TURN 5", [BAD])),
    row("TURN trailing comma", "free", ("TURN 5,", [BAD])),
    row("TURN blank before the comma", "free", ("TURN 5 ,5", [BAD])),
    row("TURN words", "free", ("TURN a,b", [BAD])),
    row("TURN hexadecimal", "free", ("TURN 0x5,5", [BAD])),
    row("TURN off the board", "free", ("TURN 15,0", [BAD])),
    row("TURN off the board, y", "free", ("TURN 0,15", [BAD])),
    row("TURN negative", "free", ("TURN -1,0", [BAD])),
    row("TURN off a rectangular board", "rect", ("TURN 0,10", [BAD])),
    row("TURN blank after the comma", "free", ("TURN 5, 5", [MOVE]), record=[BASE, (5, 5), MOVE]),
    row("TURN with signs", "free", ("TURN +5,+6", [MOVE]), record=[BASE, (5, 6), MOVE]),
    row("TURN with a third number", "free", ("TURN 5,5,5", [MOVE]), record=[BASE, (5, 5), MOVE]),
    # Occupied squares, before the board is built (free-style, standard), after it (a search
    # has run) and under Renju (built at once). A refused TURN still starts a turn.
    row("TURN occupied, free-style, not built", "free",
        ("TURN 3,3", ["ERROR opponents's move [3,3]", MOVE]), record=[BASE, MOVE]),
    row("PLAY occupied, free-style, not built", "free",
        ("PLAY 4,4", ["ERROR my move [4,4]", "4,4"])),
    row("TURN occupied, standard, not built", "standard",
        ("TURN 4,4", ["ERROR opponents's move [4,4]", MOVE]), record=[BASE, MOVE]),
    row("TURN occupied, free-style, built", "built",
        ("TURN 3,3", ["ERROR opponents's move [3,3]", MOVE]), record=[BASE, MOVE]),
    row("PLAY occupied, free-style, built", "built",
        ("PLAY 4,4", ["ERROR my move [4,4]", "4,4"])),
    row("TURN occupied, Renju", "renju",
        ("TURN 3,3", ["ERROR opponents's move [3,3]", MOVE]), record=[BASE, MOVE]),
    row("PLAY occupied, Renju", "renju", ("PLAY 4,4", ["ERROR my move [4,4]", "4,4"])),
    row("TURN on a block, free-style", "free", (["BOARD", "6,6,3", "DONE"], [MOVE]),
        ("TURN 6,6", ["ERROR opponents's move [6,6]", MOVE]), record=[MOVE, MOVE]),
    row("TURN on a block, Renju", "renju", (["BOARD", "6,6,3", "DONE"], [MOVE]),
        ("TURN 6,6", ["ERROR opponents's move [6,6]", MOVE]), record=[MOVE, MOVE]),
    # BOARD empties the record, then takes the block; a refused stone does not end it.
    row("BOARD square twice, opponent", "free",
        (["BOARD", "5,5,1", "5,5,2", "6,6,2", "DONE"], ["ERROR opponents's move [5,5]", MOVE]),
        record=[(5, 5), (6, 6), MOVE]),
    row("BOARD square twice, own", "free",
        (["BOARD", "5,5,2", "5,5,1", "DONE"], ["ERROR my move [5,5]", MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD square twice, Renju", "renju",
        (["BOARD", "5,5,1", "5,5,2", "6,6,2", "DONE"], ["ERROR opponents's move [5,5]", MOVE]),
        record=[(5, 5), (6, 6), MOVE]),
    row("BOARD block on a block and a stone on it", "free",
        (["BOARD", "5,5,3", "5,5,1", "5,5,3", "6,6,2", "DONE"],
         ["ERROR my move [5,5]", "ERROR board-block move [5,5]", MOVE]), record=[(6, 6), MOVE]),
    row("BOARD block on a stone", "renju",
        (["BOARD", "5,5,1", "5,5,3", "DONE"], ["ERROR board-block move [5,5]", MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD who 0 ends the block", "free", (["BOARD", "5,5,1", "6,6,0"], [BLOCK_END, MOVE]),
        (["7,7,2", "DONE"], [UNKNOWN, UNKNOWN]), record=[(5, 5), MOVE]),
    row("BOARD who 4", "free", (["BOARD", "5,5,1", "6,6,4"], [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD who -1", "renju", (["BOARD", "5,5,1", "6,6,-1"], [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD who 2^32+1 would wrap to 1", "free", (["BOARD", "5,5,1", "6,6,4294967297"],
                                                     [BLOCK_END, MOVE]), record=[(5, 5), MOVE]),
    row("BOARD x 2^32+6 would wrap to 6", "free", (["BOARD", "4294967302,6,1"], [BLOCK_END, MOVE]),
        record=[MOVE]),
    row("BOARD stone off the board", "rect", (["BOARD", "5,5,1", "5,10,2"], [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD two numbers", "free", (["BOARD", "5,5"], [BLOCK_END, MOVE]), record=[MOVE]),
    row("BOARD done with a blank", "free", (["BOARD", "5,5,1", "DONE "], [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD fourth number ignored", "free", (["BOARD", "5,5,1,7", "Done"], [MOVE]),
        record=[(5, 5), MOVE]),
    row("BOARD blank before a stone", "free", (["BOARD", " 5,5,1", "done"], [MOVE]),
        record=[(5, 5), MOVE]),
    # Lines longer than the 8192-byte buffer are one line: the part beyond it is dropped.
    row("BOARD stone line of 9000 characters", "free",
        (["BOARD", "5,5,1" + " " * 8200 + "6,6,2", "DONE"], [MOVE]), record=[(5, 5), MOVE]),
    row("BOARD junk line of 9000 characters", "free", (["BOARD", "5,5,1", "x" * 9000],
                                                       [BLOCK_END, MOVE]),
        ("DONE", [UNKNOWN]), record=[(5, 5), MOVE]),
    row("TURN line of 9000 characters", "free", ("TURN 7,7" + " " * 8200 + "TURN 8,8", [MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("ABOUT line of 9000 characters", "free", ("ABOUT" + "x" * 9000, [ABOUT_RE])),
    row("unknown line of 20000 characters", "free", ("Q" * 20000, [UNKNOWN])),
    # NUL bytes end the command as the engine reads it.
    row("NUL inside the command word", "free", (b"TU\0RN 7,7\n", [UNKNOWN])),
    row("NUL after the move", "free", (b"TURN 7,7\0TURN 8,8\n", [MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("NUL inside the move", "free", (b"PLAY 7,\x007\n", [BAD])),
    row("NUL line", "free", (b"\0\n", [UNKNOWN])),
    row("NUL after DONE", "free", (b"BOARD\n5,5,1\0,9\nDONE\0x\n", [MOVE]), record=[(5, 5), MOVE]),
    # Carriage returns: only one before the line feed is a line end.
    row("lone CR inside a line", "free", (b"TURN 7,7\rTURN 8,8\n", [MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("CR as the blank after the word", "free", (b"TURN\r7,7\n", [MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("two CRs before the line feed", "free", (b"ABOUT\r\r\n", [ABOUT_RE])),
    row("empty CR-LF line", "free", (b"\r\n", [UNKNOWN])),
    row("DONE with two CRs", "free", (b"BOARD\n5,5,1\r\nDONE\r\r\n", [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    # Bytes beyond ASCII are neither letters nor blanks.
    row("0xFF as the blank", "free", (b"TURN\xff7,7\n", [BAD])),
    row("UTF-8 before the word", "free", ("\u00e9TURN 7,7".encode("utf-8") + b"\n", [UNKNOWN])),
    row("UTF-8 after the move", "free", ("TURN 7,7\u200b".encode("utf-8") + b"\n", [MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("full-width digit", "free", ("TURN \uff17,7".encode("utf-8") + b"\n", [BAD])),
    row("no-break space before the size", "rect", (b"START\xa015\n", [RESET]),
        ("TURN 14,10", [BAD]), record=[]),
    row("Latin-1 folder", "free", (b"INFO folder C:\\d\xe4t\xe4\n", [])),
    row("bytes only", "free", (b"\xff\xfe\x80\n", [UNKNOWN])),
    # TAKEBACK only of the last recorded move.
    row("TAKEBACK of the first move", "free", ("TAKEBACK 3,3", [BAD])),
    row("TAKEBACK of an empty square", "free", ("TAKEBACK 5,5", [BAD])),
    row("TAKEBACK without a square", "free", ("TAKEBACK", [BAD])),
    row("TAKEBACK off the board", "free", ("TAKEBACK 15,15", [BAD])),
    row("TAKEBACK negative", "free", ("TAKEBACK -1,-1", [BAD])),
    row("TAKEBACK with a third number", "free", ("TAKEBACK 4,4,4", ["OK"]), record=[(3, 3)]),
    row("TAKEBACK twice", "renju", ("TAKEBACK 4,4", ["OK"]), ("TAKEBACK 4,4", [BAD]),
        record=[(3, 3)]),
    row("TAKEBACK of a block", "free", (["BOARD", "6,6,3", "7,7,1", "DONE"], [MOVE]),
        ("TAKEBACK 6,6", [BAD]), record=[(7, 7), MOVE]),
    row("TAKEBACK on an empty game", "free", ("RESTART", [RESET]), ("TAKEBACK 0,0", [BAD]),
        record=[]),
    row("TAKEBACK on an empty Renju game", "renju", ("RESTART", [RESET]),
        ("TAKEBACK 3,3", [BAD]), record=[]),
    # STOP and YXSTOP: the move at once during a turn, nothing when idle; the record stays.
    row("STOP when idle", "free", ("STOP", [])),
    row("yxstop when idle, Renju", "renju", ("yxstop", [])),
    row("STOP with junk", "built", ("STOP now 3,3", [])),
    row("STOP right behind a turn", "free", (["TURN 7,7", "STOP"], [MOVE]), ("YXSTOP", []),
        record=[BASE, (7, 7), MOVE]),
    row("STOP behind BOARD", "renju", (["BOARD", "5,5,1", "DONE", "Stop"], [MOVE]),
        record=[(5, 5), MOVE]),
    row("STO is no command", "free", ("STO", [UNKNOWN])),
    row("STOP inside BOARD ends the block", "free", (["BOARD", "5,5,1", "STOP"], [BLOCK_END, MOVE]),
        record=[(5, 5), MOVE]),
    # INFO values beyond the 32-bit range saturate; the turns go on.
    row("INFO time_left beyond int", "free", ("INFO time_left 99999999999", []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO time_left below int", "free", ("INFO time_left -99999999999", []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO time_left of 30 digits", "free", ("INFO time_left " + "9" * 30, []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO timeout_turn beyond int", "free",
        (["INFO timeout_turn 99999999999", "INFO time_left 1000"], []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO timeout_turn below int", "free", ("INFO timeout_turn -99999999999", []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO other keys beyond int", "free",
        (["INFO max_memory 99999999999", "INFO timeout_match -99999999999",
          "INFO game_type 99999999999"], []),
        ("TURN 7,7", [MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO rule 2^32+1 saturates to Renju", "free", ("INFO rule 4294967297", []),
        ("TURN 7,7", [SPEED, MOVE]), record=[BASE, (7, 7), MOVE]),
    row("INFO rule -(2^32-1) saturates to free-style", "free", ("INFO rule -4294967295", []),
        ("TURN 7,7", ["MESSAGE Rule Gomoku (Freestyle)", SPEED, MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("INFO rule without a value", "standard", ("INFO rule", []),
        ("TURN 7,7", ["MESSAGE Rule Gomoku (Freestyle)", SPEED, MOVE]),
        record=[BASE, (7, 7), MOVE]),
    row("INFO without a key", "free", (["INFO", "INFO 5", "INFO rul 1"], []),
        ("TURN 7,7", ["MESSAGE Rule Gomoku (Freestyle)", SPEED, MOVE]),
        record=[BASE, (7, 7), MOVE]),
]


class Session:
    """One engine process with the table's reply tokens and the record check."""

    def __init__(self, skip_draw=False):
        self.e = Engine(COMMAND, crlf=CRLF, stderr=None)
        self.size = (15, 15)
        # Under Renju the engine may follow a move with "MESSAGE It's a draw" and an empty
        # line (on small boards after every move): the scenarios skip them.
        self.skip_draw = skip_draw
        self.e.send("INFO timeout_turn 50")  # rows that need another budget set their own
        self.e.send("ABOUT")
        match = ABOUT_RE.match(self.read())
        if not match:
            self.fail("ABOUT line expected")
        self.reset_lines = ["MESSAGE Zarvel %s Demo :-)" % match.group(1), "OK"]

    def fail(self, why):
        raise EngineError("%s; transcript:\n%s" % (why, self.e.dump()))

    def read(self):
        line = self.e.read(TIMEOUT)
        if self.skip_draw and line == "MESSAGE It's a draw":
            if self.e.read(TIMEOUT) != "":
                self.fail("no empty line after the draw message")
            line = self.e.read(TIMEOUT)
        if line is None:
            self.fail("output ended")
        return line

    def send(self, data):
        if isinstance(data, bytes):
            self.e.send(data, raw=True)
        elif isinstance(data, list):
            for line in data:
                self.e.send(line)
        else:
            self.e.send(data)

    def move(self, occupied=()):
        """The engine's move, after any MESSAGE lines: a square of the board not occupied."""
        while True:
            line = self.read()
            if line.startswith("MESSAGE ") and line != "MESSAGE pass":
                continue
            if not MOVE_RE.match(line):
                self.fail("expected a move, got %r" % line)
            x, y = sq(line)
            if not (0 <= x < self.size[0] and 0 <= y < self.size[1]) or (x, y) in occupied:
                self.fail("move %d,%d is no free square of the %dx%d board" % (x, y, *self.size))
            return x, y

    def passes(self):
        """The engine's pass: "MESSAGE pass" (other MESSAGE lines before it), then "-1,-1"."""
        while True:
            line = self.read()
            if line == "MESSAGE pass":
                break
            if not line.startswith("MESSAGE "):
                self.fail("expected a pass, got %r" % line)
        self.expect(["-1,-1"])

    def expect(self, replies, moves=None):
        for want in replies:
            if want is MOVE:
                square = self.move()
                if moves is not None:
                    moves.append(square)
            elif want is PASS:
                self.passes()
            elif want is RESET:
                self.expect(self.reset_lines)
            elif isinstance(want, re.Pattern):
                line = self.read()
                if not want.fullmatch(line):
                    self.fail("expected a line matching %r, got %r" % (want.pattern, line))
            else:
                line = self.read()
                if line != want:
                    self.fail("expected %r, got %r" % (want, line))

    def command(self, data, *replies, moves=None):
        self.send(data)
        self.expect(replies, moves)

    def alive(self):
        """ABOUT is answered, and nothing else was pending."""
        self.e.send("ABOUT")
        self.expect([ABOUT_RE])

    def check_record(self, record):
        """The record is exactly these moves: each is taken back from the last, then none."""
        for x, y in reversed(record):
            self.command("TAKEBACK %d,%d" % (x, y), "OK")
        self.command("TAKEBACK 0,0", BAD)
        self.alive()

    def setup(self, name):
        """Plays the starting position; returns its record."""
        commands, self.size = SETUPS[name]
        record = []
        self.send(["INFO timeout_turn 50", "INFO time_left 100000000"])
        for line in commands:
            self.send(line)
            word = line.split()[0]
            if word in ("START", "RECTSTART"):
                self.expect([RESET])
            elif word == "PLAY":
                self.expect([line[5:]])
                record.append(sq(line[5:]))
            elif word == "TURN":
                record.append(sq(line[5:]))
                x, y = self.move(record)
                # Take the engine's move back: the board stays built for the rule.
                self.command("TAKEBACK %d,%d" % (x, y), "OK")
        return record

    def finish(self):
        self.e.send("END")
        code = self.e.finish(TIMEOUT)
        if code != 0:
            self.fail("exit code %d" % code)

    def close(self):
        self.e.kill()
        self.e.reader.join(TIMEOUT)
        for pipe in (self.e.proc.stdin, self.e.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass  # a broken pipe

    def end_of_input(self):
        """Closes the input; returns the exit code and the lines written after."""
        self.e.close_input()
        code = self.e.finish(TIMEOUT)
        lines = []
        while True:
            line = self.e.read(TIMEOUT)
            if line is None:
                return code, lines
            lines.append(line)


class BadInputCase(unittest.TestCase):
    SKIP_DRAW = True

    def setUp(self):
        self.s = Session(self.SKIP_DRAW)

    def tearDown(self):
        try:
            if self.s.e.proc.poll() is None:
                self.s.finish()
        finally:
            self.s.close()


class Table(BadInputCase):
    SKIP_DRAW = False

    def test_table(self):
        for name, setup, steps, record, size in TABLE:
            with self.subTest(row=name):
                try:
                    self.run_row(name, setup, steps, record, size)
                except Exception:
                    self.s.close()  # the next row starts with a new engine
                    self.s = Session(self.SKIP_DRAW)
                    raise

    def run_row(self, name, setup, steps, record, size):
        s = self.s
        base = s.setup(setup)
        if size is not None:
            s.size = size
        moves = []
        for data, replies in steps:
            s.send(data)
            s.expect(replies, moves)
        s.alive()
        expected = []
        for item in record:
            if item is BASE:
                expected += base
            elif item is MOVE:
                expected.append(moves.pop(0))
            else:
                expected.append(item)
        if moves:
            s.fail("row %r: engine moves %r not in the expected record" % (name, moves))
        s.check_record(expected)


class Sizes(BadInputCase):
    def fill(self, width, height, record):
        """Plays every free square with PLAY, column by column."""
        s = self.s
        for x in range(width):
            for y in range(height):
                if (x, y) not in record:
                    s.command("PLAY %d,%d" % (x, y), "%d,%d" % (x, y))
                    record.append((x, y))

    def test_every_square_size(self):
        s = self.s
        s.send("INFO timeout_turn 50")
        for n in range(1, 23):
            with self.subTest(size=n):
                s.command("START %d" % n, RESET)
                s.size = (n, n)
                s.send("BEGIN")
                record = [s.move()]
                if n <= 4:
                    # Turns until the board is full, then the engine passes.
                    while len(record) < n * n:
                        free = [(x, y) for x in range(n) for y in range(n) if (x, y) not in record]
                        s.send("TURN %d,%d" % free[0])
                        record.append(free[0])
                        if len(record) == n * n:
                            s.passes()
                        else:
                            record.append(s.move(record))
                    s.command("BEGIN", PASS)
                    s.command("TURN 0,0", "ERROR opponents's move [0,0]", PASS)
                s.command("TURN %d,0" % n, BAD)
                s.command("TURN 0,%d" % n, BAD)
                s.check_record(record)

    def test_rectangular_shapes(self):
        s = self.s
        s.send("INFO timeout_turn 50")
        for height, width in [(1, 22), (22, 1), (1, 1), (2, 22), (22, 2), (1, 5), (5, 1), (3, 7),
                              (22, 21), (21, 22), (1, 2), (2, 1)]:
            with self.subTest(shape="%dx%d" % (height, width)):
                for rule in (0, 4):
                    s.send("INFO rule %d" % rule)
                    s.command("RECTSTART %d,%d" % (height, width), RESET)
                    s.size = (width, height)
                    s.send("BEGIN")
                    record = [s.move()]
                    s.command("TURN %d,0" % width, BAD)
                    s.command("TURN 0,%d" % height, BAD)
                    if width * height <= 22:
                        # A full-board pass: all squares but one, the engine takes the last.
                        self.fill(width, height, record)
                        last = record.pop()
                        s.command("TAKEBACK %d,%d" % last, "OK")
                        s.send("BEGIN")
                        record.append(s.move(record))
                        s.command("BEGIN", PASS)
                    s.check_record(record)


class LongGame(BadInputCase):
    def six_hundred(self, n, rule, use_board):
        """600 moves into an n x n game: the first n*n fill it, every later one is refused."""
        s = self.s
        s.send("INFO rule %d" % rule)
        s.command("START %d" % n, RESET)
        s.size = (n, n)
        order = [(x, (y + 2 * x) % n) for x in range(n) for y in range(n)]
        moves = order + [order[(7 * i) % len(order)] for i in range(600 - len(order))]
        replies = []
        lines = []
        for i, (x, y) in enumerate(moves):
            if use_board:
                lines.append("%d,%d,%d" % (x, y, 2 - i % 2))
                if i >= len(order):
                    replies.append("ERROR %s [%d,%d]" % ("opponents's move" if i % 2 == 0 else
                                                         "my move", x, y))
            else:
                lines.append("PLAY %d,%d" % (x, y))
                if i >= len(order):
                    replies.append("ERROR my move [%d,%d]" % (x, y))
                replies.append("%d,%d" % (x, y))
        if use_board:
            s.send(["BOARD"] + lines + ["DONE"])
            s.expect(replies + [PASS])
        else:
            s.send(lines)
            s.expect(replies)
            s.command("BEGIN", PASS)
        s.alive()
        s.command("TURN 1,1", "ERROR opponents's move [1,1]", PASS)
        s.check_record(order)

    def test_600_plays_free_style(self):
        self.six_hundred(20, 0, use_board=False)

    def test_600_board_lines_renju(self):
        self.six_hundred(20, 4, use_board=True)

    def test_600_board_lines_22(self):
        self.six_hundred(22, 1, use_board=True)


class RuleChanges(BadInputCase):
    # Every ordered pair of rules: free-style (0, 8), standard (1), Renju (2, 4, 5).
    SEQUENCE = [0, 1, 2, 8, 5, 1, 0, 4, 0]

    def test_rule_changes_mid_game(self):
        s = self.s
        s.send("INFO timeout_turn 50")
        s.command("START 15", RESET)
        record = []
        free = [(x, y) for x in range(2, 13, 2) for y in range(1, 14, 3)]
        for i, rule in enumerate(self.SEQUENCE):
            square = next(q for q in free if q not in record)
            if i % 2 == 0:
                s.send("INFO rule %d" % rule)
                s.send("TURN %d,%d" % square)
            else:  # the change arrives while the engine thinks
                s.send("TURN %d,%d" % square)
                s.send("INFO rule %d" % rule)
            record.append(square)
            record.append(s.move(record))
        # Take-backs and a BOARD of the same position under each rule keep the record.
        for rule in (4, 0, 1, 2):
            s.send("INFO rule %d" % rule)
            for x, y in reversed(record[-2:]):
                s.command("TAKEBACK %d,%d" % (x, y), "OK")
            del record[-2:]
            s.send(["BOARD"] + ["%d,%d,%d" % (x, y, 1 + (len(record) - i) % 2)
                                for i, (x, y) in enumerate(record)] + ["DONE"])
            record.append(s.move(record))
        s.alive()
        s.check_record(record)


class EndOfInput(unittest.TestCase):
    """Rows that end the engine's input: exit code 0 and exactly these lines after it."""
    ROWS = [
        ("BOARD never ends", b"START 15\nBOARD\n5,5,1\n6,6,2\n", [RESET]),
        ("BOARD alone", b"START 15\nBOARD\n", [RESET]),
        ("partial stone line", b"BOARD\n5,5,1\n6,6", [RESET]),
        ("partial TURN", b"START 15\nTURN 7,7", [RESET]),
        ("partial line of 9000 characters", b"START 15\nTURN 7,7" + b" " * 9000, [RESET]),
        ("NUL bytes only", b"\0" * 100, []),
        ("NUL lines", b"\0\n\0\n", [UNKNOWN, UNKNOWN]),
        ("TAKEBACK before START", b"TAKEBACK 0,0\n", [RESET, BAD]),
        ("STOP and YXSTOP before START", b"STOP\nYXSTOP\n", []),
        ("PLAY before START", b"PLAY 19,19\nPLAY 20,0\n", [RESET, "19,19", BAD]),
        ("bad START first", b"START 23\nRECTSTART 5\nSTART -1\n", [SIZE, RECT, SIZE]),
        ("BOARD after a bad line", b"START 15\nBOARD\n5,5,1\n5,5\n", [RESET, BLOCK_END, MOVE]),
    ]

    def test_rows(self):
        for name, data, replies in self.ROWS:
            with self.subTest(row=name):
                s = Session()
                try:
                    s.size = (20, 20) if b"START 15" not in data else (15, 15)
                    s.send(data)
                    s.expect(replies)
                    code, lines = s.end_of_input()
                    self.assertEqual((code, lines), (0, []), s.e.dump())
                finally:
                    s.close()


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest)
