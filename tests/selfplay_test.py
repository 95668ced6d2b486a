#!/usr/bin/env python3
"""Self-play through the protocol under each rule, judged by the legality referee of
tools/referee.py (every move legal, no forbidden move of the first player under Renju), the
referee itself on scripted faults, and short matches through tools/match.py."""
import contextlib
import io
import math
import os
import random
import shlex
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import match  # noqa: E402
import selfplay  # noqa: E402
from engine_driver import engine_command_from_args  # noqa: E402

COMMAND, CRLF = None, False


class Scripted:
    """A player with fixed moves."""
    name, announced_draw, stones_after_last_move = "scripted", False, 0

    def __init__(self, moves):
        self.read_move = lambda timeout: moves.pop(0)
        self.board = self.turn = lambda *args: None


class SelfPlay(unittest.TestCase):
    def test_referee_catches_faults(self):
        far = [(0, 0), (0, 2), (0, 4), (0, 6)]
        for rule, first, second, fault in ((0, [(7, 7)], [(7, 7)], "is occupied"),
                                           (2, [(7, 5), (7, 6), (5, 7), (6, 7), (7, 7)], far,
                                            r"is forbidden \(double three\)")):
            with self.assertRaisesRegex(selfplay.Fault, fault):
                selfplay.play_game([Scripted(first), Scripted(second)], False, 15, rule, 0, 100,
                                   1.0, random.Random(1), selfplay.Result())

    def test_games(self):
        # 100 games per rule in CI (thousands on demand through tools/selfplay.py); 10 more
        # with one process playing both sides (a BOARD before every move).
        for rule, games, seed, extra in (("freestyle", 100, 11, []), ("standard", 100, 12, []),
                                         ("renju", 100, 13, []), ("renju", 10, 14, ["--single"])):
            with self.subTest(rule=rule, extra=extra):
                result = selfplay.run(
                    ["--engine", shlex.join(COMMAND), "--rule", rule, "--games", str(games),
                     "--size", "8,10,12,15,20", "--max-moves", "120", "--seed", str(seed),
                     "--timeout-turn", "30", "--quiet"] + extra + (["--crlf"] if CRLF else []))
                self.assertEqual(result.faults, [])
                self.assertEqual(result.games, games)
                if rule == "renju" and not extra:  # FIRST wins some games: the rule is exercised
                    self.assertGreater(result.outcomes.get("FIRST wins", 0), 0)

    def test_match(self):
        # Against a program that ends at once: all forfeits (games to the end: turn_test).
        with contextlib.redirect_stdout(io.StringIO()) as out:
            games = match.run(["--engine", shlex.join(COMMAND), "--baseline", "true", "--rule",
                               "renju", "--games", "2", "--turn-ms", "30"] + ["--crlf"] * CRLF)
        self.assertEqual([g.winner for g in games], ["engine"] * 4, out.getvalue())
        self.assertIn("4 FORFEITS", out.getvalue())
        self.assertEqual(match.elo([1, 0, 0.5, 0.5])[0], 0)
        self.assertAlmostEqual(match.elo([1] * 4)[0], 400 * math.log10(9))


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
