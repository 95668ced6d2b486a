#!/usr/bin/env python3
"""Time control as managers use it, through the real binary: with timeout_turn alone a
middle-game turn thinks for most of its budget and not past it; games with time_left
2147483647 (no match clock) and with a match clock (timeout_match, time_left before every
move) are played to their end with no reply late, judged by tools/match.py. Longer clocks on
demand, e.g. a 3-minute match: tools/match.py ... --match-ms 180000."""
import contextlib
import io
import os
import re
import shlex
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import match  # noqa: E402
from engine_driver import Engine, MOVE_RE as M, engine_command_from_args  # noqa: E402

COMMAND, CRLF = None, False
SCALE = float(os.environ.get("ZARVEL_TIME_SCALE", "1"))
# Standard Gomoku, 15 x 15, ten stones and no decisive threat: the search uses its time.
QUIET = ["7,7", "8,8", "7,8", "7,9", "9,7", "8,7", "8,6", "7,5", "9,5", "10,4"]


class TimeControl(unittest.TestCase):
    def test_turn_budget_alone(self):
        e = Engine(COMMAND, CRLF)
        self.addCleanup(e.close)
        e.talk(("INFO rule 1\nINFO timeout_turn 5000\nSTART 15", re.compile("MESSAGE Zarvel .*"), "OK"))
        board = ["%s,%d" % (m, 1 if i % 2 == 0 else 2) for i, m in enumerate(QUIET)]
        start = time.monotonic()
        e.talk(("\n".join(["BOARD"] + board + ["DONE"]), M), timeout=20)
        elapsed = time.monotonic() - start
        self.assertGreater(elapsed, 2.5, e.dump())
        self.assertLess(elapsed, 5.0 + 0.3 * SCALE, e.dump())

    def test_games_to_the_end_never_late(self):
        engine = shlex.join(COMMAND)
        for size, turn_ms, clock_ms in ((15, 200, 0), (15, 5000, 8000), (20, 5000, 8000)):
            with contextlib.redirect_stdout(io.StringIO()) as out:
                games = match.run(["--engine", engine, "--baseline", engine, "--rule", "renju",
                                   "--size", str(size), "--games", "1", "--turn-ms", str(turn_ms),
                                   "--match-ms", str(clock_ms), "--margin-ms", str(int(150 * SCALE))]
                                  + ["--crlf"] * CRLF)
            report = out.getvalue()
            self.assertEqual(len(games), 2, report)
            # The engine's narrower reading of a Renju foul may lose a game, nothing else.
            forfeits = [g.forfeit[3] for g in games if g.forfeit]
            self.assertEqual([f for f in forfeits if "forbidden" not in f], [], report)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
