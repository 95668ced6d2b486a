#!/usr/bin/env python3
"""The turn driver through the real binary: opening moves, the moves a one-ply look must find,
passes and the Renju draw message, and the hand-shake between the command loop and the think
thread (replies during and around a turn, STOP, END while thinking)."""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, MOVE_RE as M, engine_command_from_args  # noqa: E402

COMMAND, CRLF = None, False
R = (re.compile(r"MESSAGE Zarvel [^ ]+ Demo :-\)"), "OK")
ABOUT = re.compile('name="Zarvel".*')
SPEED = "MESSAGE Speed=0"
PASS = ("MESSAGE pass", "-1,-1")
DRAW = ("MESSAGE It's a draw", "")


def board(*records, blocks=()):
    """BOARD with the records in order (colours alternate from the first player; 'who' is 1 for
    the side to move) and the blocks."""
    to_move = len(records) % 2
    lines = ["%d,%d,%d" % (x, y, 1 if i % 2 == to_move else 2)
             for i, (x, y) in enumerate(records)]
    return "\n".join(["BOARD"] + lines + ["%d,%d,3" % b for b in blocks] + ["DONE"])


def picture(*rows):
    """BOARD for a picture (rows are y, columns x; 'X' the first player, 'O' the second)."""
    first, second = ([(x, y) for y, row in enumerate(rows) for x, v in enumerate(row) if v == c]
                     for c in "XO")
    return board(*[s for i, stone in enumerate(first) for s in [stone] + second[i:i + 1]])


# 5 x 5, every line of five holds both colours: full, and with (0, 0) and (0, 1) free.
FULL = picture("XOXXX", "OOOXX", "OXXOO", "XXXOO", "OOXXO")
DRAWN = picture(".OXXX", ".OOXX", "OXXOO", "XXXOO", "OOXXO")
# 7 x 7, the first player to move; the only free square (3, 3) makes six on row 3.
OVERLINE_ONLY = picture("OOOXXOO", "XOXXXXO", "XOOOOXX", "XXX.XXO", "XXOOOXX", "OXOOOOX",
                        "XXOOXOO")
FOUR_TO_BLOCK = board((5, 5), (4, 5), (6, 5), (0, 14), (7, 5), (14, 0), (8, 5))
CENTRE_BLOCKED = ((board(blocks=[(7, 7)]), SPEED, "6,7"),
                  (board(blocks=[(7, 7), (6, 7)]), SPEED, "7,6"))

# (rule, START or RECTSTART, steps): 0 free-style, 1 standard, 2 Renju.
CASES = [
    (0, "START 15", ("BEGIN", SPEED, "7,7")),
    (0, "START 20", ("BEGIN", SPEED, "10,10")),
    (0, "RECTSTART 20,15", ("BEGIN", SPEED, "7,10")),  # height, then width
    (2, "START 15", ("BEGIN", SPEED, "7,7")),  # and no draw message
    # A block on the centre: the nearest square by |dx| + |dy|, the first in x-major order.
    (0, "START 15", *CENTRE_BLOCKED),
    (2, "START 15", *CENTRE_BLOCKED),
    # Its own five before blocking the opponent's four; under Renju the exact five, not six.
    (0, "START 15", (board((7, 3), (0, 0), (7, 4), (0, 1), (7, 5), (0, 2), (7, 6), (0, 3)),
                     re.compile("7,2|7,7"))),
    (2, "START 15", (board((7, 4), (0, 0), (7, 5), (0, 1), (7, 6), (0, 3), (7, 7), (0, 5), (7, 2),
                           (0, 7)), "7,8")),
    (0, "START 15", (FOUR_TO_BLOCK, "9,5")),
    (1, "START 15", (FOUR_TO_BLOCK, "9,5")),
    (2, "START 15", (FOUR_TO_BLOCK, "9,5")),
    # Passes on a full board, and under Renju when every free square is forbidden.
    (0, "START 5", (FULL, *PASS)),
    (2, "START 5", (FULL, *PASS, *DRAW)),
    (0, "START 7", (OVERLINE_ONLY, "3,3")),
    (2, "START 7", (OVERLINE_ONLY, *PASS)),
    # No five is possible any more: Renju says so after the move (free-style does not).
    (2, "START 5", (DRAWN, re.compile("0,[01]"), *DRAW)),
    (0, "START 5", (DRAWN, re.compile("0,[01]"))),
]

# 20 x 20 Renju with 30 stones and a 30-second budget: commands arrive during the turn.
BUSY = ("INFO rule 2\nINFO timeout_turn 30000\nSTART 20", *R)
BUSY_RECORDS = [(x, y) for x in range(4, 16, 2) for y in range(3, 17, 3)]
BUSY_BOARD = board(*BUSY_RECORDS)
# Replies during a turn, and the move after a stop, come within this many seconds (scaled
# for sanitizer and emulator builds by ZARVEL_TIME_SCALE).
PROMPT = 0.1 * float(os.environ.get("ZARVEL_TIME_SCALE", "1"))


class TurnTest(unittest.TestCase):
    def setUp(self):
        self.e = Engine(COMMAND, CRLF)
        self.addCleanup(self.e.close)
        self.e.send("INFO timeout_turn 300")  # BUSY turns set their own

    def test_transcripts(self):
        # One process for all (the tables are built once per rule). ABOUT last: nothing
        # unexpected, such as a draw message, came before its reply.
        for rule, start, *steps in CASES:
            self.e.talk(("INFO rule %d\n%s" % (rule, start), *R), *steps, ("ABOUT", ABOUT))

    def prompt(self, text, *replies):
        start = time.monotonic()
        got = self.e.talk((text, *replies), timeout=5)
        self.assertLess(time.monotonic() - start, PROMPT, self.e.dump())
        return got

    def test_commands_during_a_long_turn(self):
        # ABOUT and INFO at once; a position change stops the turn: its move first, at once.
        self.e.talk(BUSY, (BUSY_BOARD,))
        time.sleep(0.3)
        self.prompt("ABOUT", ABOUT)
        self.prompt("INFO timeout_turn 1000\nINFO time_left 500000\nABOUT", ABOUT)
        first = self.prompt("TURN 0,0", M)[0]
        second = self.e.expect(M, timeout=5)[0]
        self.assertNotIn(second, (first, "0,0"))
        self.e.talk(("INFO timeout_turn 30000\n" + BUSY_BOARD,))
        time.sleep(0.3)
        self.prompt("RESTART", M, *R)
        self.e.talk(("BEGIN", SPEED, "10,10"))

    def test_stop_ends_a_long_turn_at_once(self):
        self.e.talk(BUSY)
        free = [(x, y) for x in range(20) for y in range(20) if (x, y) not in BUSY_RECORDS]
        for stop in ("STOP", "yxstop"):
            self.e.talk((BUSY_BOARD,))
            time.sleep(0.3)
            move = tuple(map(int, self.prompt(stop, M)[0].split(",")))
            self.assertIn(move, free)
            self.e.send(stop)  # idle: no reply
            self.e.expect_silence(0.3)
            turn = next(q for q in free if q != move)
            self.e.talk(("INFO timeout_turn 500\nTURN %d,%d" % turn, M), ("ABOUT", ABOUT),
                        ("INFO timeout_turn 30000",))

    def test_end_while_thinking(self):
        for end in ("END", None):  # END, or the end of input
            e = self.e if end else Engine(COMMAND, CRLF)
            self.addCleanup(e.close)
            e.talk(BUSY, (BUSY_BOARD,))
            time.sleep(0.3)
            start = time.monotonic()
            if end:
                e.send(end)
            else:
                e.close_input()
            e.expect(M)
            self.assertLess(time.monotonic() - start, PROMPT, e.dump())
            self.assertIsNone(e.read())
            self.assertEqual(e.finish(10), 0)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
