#!/usr/bin/env python3
"""Self-play under each rule with the legality referee of tools/selfplay.py, and the
referee itself: its Renju rule on known positions, and the faults it must catch."""
import os
import random
import shlex
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import selfplay  # noqa: E402
from engine_driver import engine_command_from_args  # noqa: E402
from selfplay import FIRST, SECOND, Board  # noqa: E402

COMMAND, CRLF = None, False

# Games per rule in CI; thousands on demand through tools/selfplay.py.
GAMES = 100
SIZES = "8,10,12,15,20"
MAX_MOVES = 120
TIMEOUT_TURN = 30


def position(first, second=(), size=15):
    b = Board(size, size)
    for x, y in first:
        b.cells[x][y] = FIRST
    for x, y in second:
        b.cells[x][y] = SECOND
    return b


class RefereeRenjuRule(unittest.TestCase):
    """The referee's port of the rule on the positions of tests/forbidden_test.cpp."""

    def check(self, first, second, square, expected, **reading):
        b = position(first, second)
        self.assertEqual(selfplay.renju_forbidden(b, *square, **reading), expected,
                         "%s\n%s" % (square, selfplay.picture(b, square)))

    def test_fives_overlines_and_fours(self):
        self.check([(7, 4), (7, 5), (7, 7), (7, 8), (5, 6), (6, 6), (5, 4), (6, 5)], [],
                   (7, 6), False)
        self.check([(7, 3), (7, 4), (7, 5), (7, 7), (7, 8)], [], (7, 6), True)
        self.check([(7, 3), (7, 4), (7, 5), (7, 7), (7, 8), (3, 6), (4, 6), (5, 6), (6, 6)],
                   [], (7, 6), False)
        self.check([(7, 3), (7, 5), (7, 7), (7, 9)], [], (7, 6), True)
        self.check([(7, 4), (7, 5), (7, 6), (4, 7), (5, 7), (6, 7)], [(7, 3), (3, 7)],
                   (7, 7), True)
        self.check([(7, 4), (7, 5), (7, 6), (5, 7), (6, 7)], [], (7, 7), False)

    def test_threes(self):
        self.check([(7, 5), (7, 6), (5, 7), (6, 7)], [], (7, 7), True)
        self.check([(7, 5), (7, 6), (5, 7), (6, 7)], [(4, 7), (8, 7)], (7, 7), False)
        self.check([(4, 4), (6, 6), (6, 8), (9, 5)], [], (7, 7), True)
        self.check([(7, 2), (7, 5), (7, 6), (7, 10), (5, 7), (6, 7)], [], (7, 7), False)
        self.check([(7, 5), (7, 6), (5, 7), (6, 7), (5, 4), (6, 4), (5, 2), (6, 3)], [(7, 9)],
                   (7, 7), False)
        self.check([(7, 5), (7, 6), (5, 7), (6, 7), (5, 4), (6, 4), (5, 2), (6, 3)], [],
                   (7, 7), True)

    def test_nested_extension_squares(self):
        self.check([(4, 9), (5, 10), (6, 8), (6, 10), (7, 8), (7, 9), (8, 6), (9, 5)], [],
                   (6, 11), True)
        self.check([(7, 10), (8, 6), (8, 7), (8, 8), (9, 7), (9, 8), (9, 10), (10, 6), (10, 9)],
                   [], (11, 8), False)

    def test_engine_reading_of_five_squares(self):
        stones = [(4, 4), (4, 8), (5, 5), (6, 6), (6, 7), (8, 7), (8, 8)]
        self.check(stones, [], (5, 7), True)
        self.check(stones, [], (5, 7), False, five_square_ends_three=True)

    def test_draw(self):
        b = Board(5, 5)
        self.assertFalse(selfplay.renju_draw(b))
        # Every row, column and diagonal of a 5 x 5 board holds both colours.
        for x in range(5):
            for y in range(5):
                b.cells[x][y] = FIRST if (x + 2 * y) % 5 in (0, 1) else SECOND
        self.assertTrue(selfplay.renju_draw(b))
        b.cells[2][2] = selfplay.EMPTY
        self.assertTrue(selfplay.renju_draw(b))


class ScriptedPlayer:
    """Answers with fixed moves, for the referee's own tests."""

    def __init__(self, name, moves):
        self.name = name
        self.moves = list(moves)
        self.announced_draw = False
        self.stones_after_last_move = 0

    def board(self, stones, colour):
        pass

    def turn(self, x, y):
        pass

    def read_move(self, timeout):
        return self.moves.pop(0)


class RefereeCatchesFaults(unittest.TestCase):
    def play(self, rule, first_moves, second_moves, max_moves=100):
        players = [ScriptedPlayer("A", first_moves), ScriptedPlayer("B", second_moves)]
        result = selfplay.Result()
        return selfplay.play_game(players, False, 15, rule, 0, max_moves, 1.0,
                                  random.Random(1), result), result

    def fault(self, rule, first_moves, second_moves):
        with self.assertRaises(selfplay.Fault) as caught:
            self.play(rule, first_moves, second_moves)
        return str(caught.exception)

    def test_illegal_squares(self):
        self.assertIn("occupied", self.fault(0, [(7, 7)], [(7, 7)]))
        self.assertIn("off the board", self.fault(0, [(15, 3)], []))
        self.assertIn("passed", self.fault(0, [(-1, -1)], []))

    def test_forbidden_move(self):
        far = [(0, 0), (0, 2), (0, 4), (0, 6)]
        message = self.fault(2, [(7, 5), (7, 6), (5, 7), (6, 7), (7, 7)], far)
        self.assertIn("forbidden (double three)", message)

    def test_known_reading_difference_is_reported_not_failed(self):
        first = [(4, 8), (6, 7), (8, 7), (4, 4), (5, 5), (6, 6), (8, 8), (5, 7)]
        second = [(0, 0), (0, 2), (0, 4), (0, 6), (0, 8), (0, 10), (0, 12)]
        outcome, result = self.play(2, first, second)
        self.assertIn("known reading difference", outcome)
        self.assertEqual(len(result.known_differences), 1)

    def test_missed_five(self):
        message = self.fault(0, [(7, 3), (7, 4), (7, 5), (7, 6), (0, 14)],
                             [(0, 0), (0, 2), (0, 4), (0, 6)])
        self.assertIn("five was on the board", message)

    def test_five_rules(self):
        # FIRST's last stone joins (7, 2)..(7, 7) into six.
        first = [(7, 2), (7, 3), (7, 6), (7, 7), (7, 4), (7, 5)]
        second = [(0, 0), (0, 2), (0, 4), (0, 6), (0, 8), (0, 10)]
        self.assertEqual(self.play(0, first, second)[0], "FIRST wins")
        self.assertEqual(self.play(1, first, second, max_moves=11)[0], "move limit")
        self.assertIn("forbidden (overline)", self.fault(2, first, second))
        # SECOND wins with six under Renju.
        self.assertEqual(self.play(2, second, first)[0], "SECOND wins")


class SelfPlay(unittest.TestCase):
    def games(self, rule, games, seed, *extra):
        argv = ["--engine", shlex.join(COMMAND), "--rule", rule, "--games", str(games),
                "--size", SIZES, "--max-moves", str(MAX_MOVES), "--seed", str(seed),
                "--timeout-turn", str(TIMEOUT_TURN), "--quiet"] + list(extra)
        if CRLF:
            argv.append("--crlf")
        result = selfplay.run(argv)
        self.assertEqual(result.faults, [])
        self.assertEqual(result.games, games)
        return result

    def test_freestyle(self):
        self.games("freestyle", GAMES, 11)

    def test_standard(self):
        self.games("standard", GAMES, 12)

    def test_renju(self):
        result = self.games("renju", GAMES, 13)
        self.assertGreater(result.outcomes.get("FIRST wins", 0), 0)

    def test_one_process_playing_both_sides(self):
        self.games("renju", 10, 14, "--single")


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
