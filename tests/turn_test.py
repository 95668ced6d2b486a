#!/usr/bin/env python3
"""Turns through the real binary: opening moves, the moves a turn must find, passes and the
Renju draw message; the hand-shake between the command loop and the think thread (replies
during and around a turn, STOP, END while thinking, commands at random moments); the time
control as managers use it (a turn budget alone, games to the end under a match clock)."""
import contextlib
import io
import os
import re
import shlex
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools")]
import match  # noqa: E402
import stress  # noqa: E402
from engine_driver import (ABOUT_RE as ABOUT, DRAW, MOVE_RE as M, PASS, RESET as R,  # noqa: E402
                           Engine, board_text as board, engine_command_from_args)

COMMAND, CRLF = None, False
SPEED = "MESSAGE Speed=0"
# Replies during a turn, and the move after a stop, come within this many seconds (scaled
# for sanitizer and emulator builds by ZARVEL_TIME_SCALE).
SCALE = float(os.environ.get("ZARVEL_TIME_SCALE", "1"))
PROMPT = 0.1 * SCALE


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
# Standard Gomoku, 15 x 15, ten stones and no decisive threat: the search uses its time.
QUIET = board((7, 7), (8, 8), (7, 8), (7, 9), (9, 7), (8, 7), (8, 6), (7, 5), (9, 5), (10, 4))


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


    def test_turn_budget_alone(self):
        # With timeout_turn alone a quiet middle game thinks for most of its budget, not past it.
        self.e.talk(("INFO rule 1\nINFO timeout_turn 5000\nSTART 15", *R))
        start = time.monotonic()
        self.e.talk((QUIET, M), timeout=20)
        elapsed = time.monotonic() - start
        self.assertGreater(elapsed, 2.5, self.e.dump())
        self.assertLess(elapsed, 5.0 + 0.3 * SCALE, self.e.dump())

    def test_games_to_the_end_never_late(self):
        # time_left 2147483647 (no match clock) and a match clock (time_left before every
        # move), judged by the match tool. Longer clocks on demand: match.py --match-ms 180000.
        engine = shlex.join(COMMAND)
        for size, turn_ms, clock_ms in ((15, 200, 0), (15, 5000, 8000), (20, 5000, 8000)):
            with contextlib.redirect_stdout(io.StringIO()) as out:
                games = match.run(["--engine", engine, "--baseline", engine, "--rule", "renju",
                                   "--size", str(size), "--games", "1", "--turn-ms", str(turn_ms),
                                   "--match-ms", str(clock_ms), "--margin-ms", str(int(150 * SCALE))]
                                  + ["--crlf"] * CRLF)
            self.assertEqual(len(games), 2, out.getvalue())
            # The engine's narrower reading of a Renju foul may lose a game, nothing else.
            forfeits = [g.forfeit[3] for g in games if g.forfeit]
            self.assertEqual([f for f in forfeits if "forbidden" not in f], [], out.getvalue())

    def test_commands_at_random_moments(self):
        # INFO, ABOUT, STOP and position changes at random moments during the thinking.
        for seed in (1, 2, 3):
            self.assertGreater(stress.run(COMMAND, CRLF, seconds=10, seed=seed)[1], 0)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
