#!/usr/bin/env python3
"""The turn driver through the real binary: opening moves, the moves a one-ply look must
find, passes and the Renju draw message, and the hand-shake between the command loop and
the think thread (replies during and around a turn, END while thinking)."""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, engine_command_from_args  # noqa: E402

COMMAND, CRLF = None, False
ABOUT_PREFIX = 'name="Zarvel"'
MOVE = re.compile(r"^\d+,\d+$")

# 5 x 5 boards whose every line of five holds both colours ('X' the first player's stones).
FULL_5X5 = ["XOXXX",
            "OOOXX",
            "OXXOO",
            "XXXOO",
            "OOXXO"]
# The same without (0, 0) and (0, 1): still no line for either player.
DRAWN_5X5 = [".OXXX",
             ".OOXX",
             "OXXOO",
             "XXXOO",
             "OOXXO"]
# 7 x 7, first player to move; the only free square (3, 3) would make X X X X X X on row 3.
OVERLINE_ONLY_7X7 = ["OOOXXOO",
                     "XOXXXXO",
                     "XOOOOXX",
                     "XXX.XXO",
                     "XXOOOXX",
                     "OXOOOOX",
                     "XXOOXOO"]


def records_from_rows(rows):
    """The stones of a picture (rows are y, columns x) in an order that alternates colours
    from the first player."""
    first = [(x, y) for y, row in enumerate(rows) for x, c in enumerate(row) if c == "X"]
    second = [(x, y) for y, row in enumerate(rows) for x, c in enumerate(row) if c == "O"]
    assert len(first) - len(second) in (0, 1), (len(first), len(second))
    records = []
    for i in range(len(first)):
        records.append(first[i])
        if i < len(second):
            records.append(second[i])
    return records


def close(engine):
    engine.kill()
    engine.reader.join(5)
    for pipe in (engine.proc.stdin, engine.proc.stdout):
        try:
            pipe.close()
        except OSError:
            pass  # input already closed by the test, or a broken pipe


class TurnTest(unittest.TestCase):
    """The tests of a class share one engine process (each starts a new game): the pattern
    tables are then built once per rule and process, not once per test."""

    @classmethod
    def setUpClass(cls):
        cls.shared = Engine(COMMAND, CRLF)

    @classmethod
    def tearDownClass(cls):
        close(cls.shared)

    def setUp(self):
        self.engine = self.shared

    def own_engine(self):
        """A process of the test's own, for tests that end it."""
        self.engine = Engine(COMMAND, CRLF)
        self.addCleanup(close, self.engine)

    def start(self, size, rule=0, rect=None):
        """A new game; whatever an earlier test left unread is skipped."""
        e = self.engine
        e.send("INFO rule %d" % rule)
        e.send("RECTSTART %d,%d" % rect if rect else "START %d" % size)
        while True:
            line = e.read()
            self.assertIsNotNone(line, "output ended")
            if line == "OK":
                return

    def board(self, records, blocks=()):
        """BOARD with the records in order (colours alternate from the first player; 'who'
        is 1 for the stones of the side to move) and blocks, then DONE."""
        e = self.engine
        to_move = len(records) % 2
        e.send("BOARD")
        for i, (x, y) in enumerate(records):
            e.send("%d,%d,%d" % (x, y, 1 if i % 2 == to_move else 2))
        for x, y in blocks:
            e.send("%d,%d,3" % (x, y))
        e.send("DONE")

    def lines_to_move(self, timeout=10.0):
        """Reply lines up to and including the next line that is not a message."""
        lines = []
        while True:
            line = self.engine.read(timeout)
            self.assertIsNotNone(line, "output ended: %r" % lines)
            lines.append(line)
            if not line.startswith("MESSAGE"):
                return lines

    def move(self):
        line = self.lines_to_move()[-1]
        x, y = line.split(",")
        return int(x), int(y)


class Opening(TurnTest):
    def test_centre_of_an_empty_board(self):
        for size, centre in ((15, "7,7"), (20, "10,10")):
            self.start(size)
            self.engine.send("BEGIN")
            self.engine.expect("MESSAGE Speed=0", centre)

    def test_centre_of_a_rectangular_board(self):
        # The first number bounds y, the second x.
        self.start(None, rect=(20, 15))
        self.engine.send("BEGIN")
        self.engine.expect("MESSAGE Speed=0", "7,10")

    def test_block_on_the_centre(self):
        for rule in (0, 2):
            self.start(15, rule)
            self.board([], blocks=[(7, 7)])
            self.engine.expect("MESSAGE Speed=0", "6,7")
            # Nearest by |dx| + |dy|, the first of them in x-major order.
            self.board([], blocks=[(7, 7), (6, 7)])
            self.engine.expect("MESSAGE Speed=0", "7,6")

    def test_renju_opening_announces_no_draw(self):
        self.start(15, 2)
        self.engine.send("BEGIN")
        self.engine.expect("MESSAGE Speed=0", "7,7")
        self.engine.expect_silence(0.3)


class Tactics(TurnTest):
    def test_takes_its_own_five_before_blocking(self):
        # First player (to move): (7, 3)..(7, 6); second player: (0, 0)..(0, 3).
        self.start(15)
        self.board([(7, 3), (0, 0), (7, 4), (0, 1), (7, 5), (0, 2), (7, 6), (0, 3)])
        self.assertIn(self.move(), [(7, 2), (7, 7)])

    def test_takes_the_exact_five_under_renju(self):
        # (7, 2) . (7, 4)..(7, 7): (7, 3) would be six, (7, 8) is exactly five.
        self.start(15, 2)
        self.board([(7, 4), (0, 0), (7, 5), (0, 1), (7, 6), (0, 3), (7, 7), (0, 5), (7, 2),
                    (0, 7)])
        self.assertEqual(self.move(), (7, 8))

    def test_blocks_the_opponents_four(self):
        # First player: (5, 5)..(8, 5), closed by (4, 5); the engine is the second player.
        for rule in (2, 1, 0):
            self.start(15, rule)
            self.board([(5, 5), (4, 5), (6, 5), (0, 14), (7, 5), (14, 0), (8, 5)])
            self.assertEqual(self.move(), (9, 5), "rule %d" % rule)


class TurnHandshake(TurnTest):
    """A turn is short here, so ABOUT cannot be caught inside one reliably: it is checked
    between turns, and sent right behind a turn's trigger with either order accepted."""

    def busy_position(self):
        self.start(20, 2)
        records = [(x, y) for x in range(4, 16, 2) for y in range(3, 17, 3)]
        self.board(records)

    def test_about_between_turns(self):
        self.busy_position()
        self.move()
        start = time.monotonic()
        self.engine.send("ABOUT")
        self.assertTrue(self.engine.read(5).startswith(ABOUT_PREFIX))
        self.assertLess(time.monotonic() - start, 5)

    def test_about_and_info_behind_a_turn(self):
        self.busy_position()
        # INFO is served at once too, while the think thread may be reading the settings.
        self.engine.send("INFO timeout_turn 1000")
        self.engine.send("INFO time_left 500000")
        self.engine.send("ABOUT")
        seen_about = seen_move = False
        for _ in range(10):
            line = self.engine.read(10)
            seen_about |= line.startswith(ABOUT_PREFIX)
            seen_move |= MOVE.match(line) is not None
            if seen_about and seen_move:
                break
        self.assertTrue(seen_about and seen_move, self.engine.dump())

    def test_position_change_waits_for_the_move(self):
        self.busy_position()
        self.engine.send("RESTART")
        move = self.lines_to_move()[-1]
        self.assertRegex(move, MOVE)
        self.assertEqual(self.lines_to_move()[-1], "OK")
        self.engine.send("BEGIN")
        self.engine.expect("MESSAGE Speed=0", "10,10")

    def test_turn_during_a_turn(self):
        self.busy_position()
        first = self.move_line_after_sending("TURN 0,0")
        second = self.lines_to_move()[-1]
        self.assertRegex(first, MOVE)
        self.assertRegex(second, MOVE)
        self.assertNotIn(second, (first, "0,0"))

    def move_line_after_sending(self, command):
        self.engine.send(command)
        return self.lines_to_move()[-1]

    def test_end_while_thinking(self):
        self.own_engine()
        self.busy_position()
        self.engine.send("END")
        self.assertRegex(self.lines_to_move()[-1], MOVE)
        self.assertEqual(self.engine.finish(10), 0)

    def test_end_of_input_while_thinking(self):
        self.own_engine()
        self.busy_position()
        self.engine.close_input()
        self.assertRegex(self.lines_to_move()[-1], MOVE)
        self.assertEqual(self.engine.finish(10), 0)


class EndOfGame(TurnTest):
    def test_full_board_passes(self):
        for rule in (0, 2):
            self.start(5, rule)
            self.board(records_from_rows(FULL_5X5))
            lines = self.lines_to_move()
            self.assertEqual(lines[-2:], ["MESSAGE pass", "-1,-1"], "rule %d" % rule)

    def test_renju_first_player_passes_when_every_free_square_is_forbidden(self):
        records = records_from_rows(OVERLINE_ONLY_7X7)
        self.assertEqual(len(records) % 2, 0)  # the first player is to move
        # Free-style has no forbidden squares: the square is taken.
        self.start(7, 0)
        self.board(records)
        self.assertEqual(self.move(), (3, 3))
        self.start(7, 2)
        self.board(records)
        self.assertEqual(self.lines_to_move()[-2:], ["MESSAGE pass", "-1,-1"])

    def test_renju_draw_message(self):
        self.start(5, 2)
        self.board(records_from_rows(DRAWN_5X5))
        self.assertIn(self.move(), [(0, 0), (0, 1)])
        self.engine.expect("MESSAGE It's a draw", "")
        # Not under free-style.
        self.start(5, 0)
        self.board(records_from_rows(DRAWN_5X5))
        self.move()
        self.engine.expect_silence(0.3)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
