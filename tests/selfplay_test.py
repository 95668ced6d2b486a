#!/usr/bin/env python3
"""Self-play through the protocol: fast games under each rule from a few random stones, on
boards of several sizes, two processes (or one playing both sides with a BOARD before every
move). Every move is judged by the referee of tools/referee.py (on the board, on a free square,
under Renju never forbidden to the first player); beyond it, a pass only when no legal move is
left, a five taken whenever the mover has one, a Renju draw message only when no five is
possible any more. Also the referee itself on scripted faults, and a match against a program
that fails at once. More games on demand:

    ZARVEL_SELFPLAY_GAMES=1000 tests/selfplay_test.py --engine build/pbrain-zarvel -k games
"""
import collections
import contextlib
import io
import math
import os
import random
import shlex
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools")]
import match  # noqa: E402
from engine_driver import engine_command_from_args  # noqa: E402
from referee import (DIRECTIONS, EMPTY, FIRST, SECOND, Board, Fault, Player,  # noqa: E402
                     is_win, move_fault, picture, renju_draw, renju_forbidden, renju_verdict,
                     run_lengths)

COMMAND, CRLF = None, False


class FiveSquares:
    """Per colour, the empty squares on which it makes five at once, kept up to date around
    every stone (a stone changes only its own colour's runs)."""

    def __init__(self, board, rule):
        self.board, self.rule, self.squares = board, rule, {FIRST: set(), SECOND: set()}

    def placed(self, x, y):
        b, colour = self.board, self.board.cells[x][y]
        for c in (FIRST, SECOND):
            self.squares[c].discard((x, y))
        for dx, dy in DIRECTIONS:
            for qx, qy in ((x + k * dx, y + k * dy) for k in range(-5, 6) if k):
                if b.at(qx, qy) == EMPTY:
                    b.cells[qx][qy] = colour
                    win = is_win(self.rule, colour, run_lengths(b, qx, qy, colour))
                    b.cells[qx][qy] = EMPTY
                    (self.squares[colour].add if win else self.squares[colour].discard)((qx, qy))


def random_opening(rng, board, rule, count):
    """count random stones near the centre, alternating colours from FIRST; none wins and
    none is forbidden."""
    stones, spread = [], max(2, min(board.width, board.height) // 4)
    for _ in range(1000):
        if len(stones) == count:
            break
        x = board.width // 2 + rng.randint(-spread, spread)
        y = board.height // 2 + rng.randint(-spread, spread)
        colour = FIRST if len(stones) % 2 == 0 else SECOND
        if board.at(x, y) != EMPTY or (rule == 2 and colour == FIRST
                                       and renju_forbidden(board, x, y)):
            continue
        board.cells[x][y] = colour
        if max(run_lengths(board, x, y, colour)) >= 5:
            board.cells[x][y] = EMPTY
        else:
            stones.append((x, y, colour))
    return stones


def play_game(players, single, size, rule, opening, max_moves, rng):
    """Plays one game from a random opening; returns how it ended."""
    board = Board(size, size)
    fives = FiveSquares(board, rule)
    stones = random_opening(rng, board, rule, opening)
    for x, y, _ in stones:
        fives.placed(x, y)
    to_move, mover, informed, last = FIRST if len(stones) % 2 == 0 else SECOND, 0, set(), None
    while len(stones) < max_moves:
        player = players[mover]
        if single or mover not in informed:
            player.board(stones, to_move)
            informed.add(mover)
        else:
            player.turn(*last)
        x, y = player.read_move(30.0)
        who = "%s (%s) move %d" % (player.name, ("FIRST", "SECOND")[to_move - 1], len(stones) + 1)
        if (x, y) == (-1, -1):
            legal = [s for s in board.empty_squares()
                     if not (rule == 2 and to_move == FIRST and renju_forbidden(board, *s))]
            if legal:
                raise Fault("%s passed with %d legal squares, e.g. %s"
                            % (who, len(legal), legal[0]))
            return "pass"
        if fault := move_fault(board, rule, to_move, x, y):
            if "forbidden" not in fault or renju_forbidden(board, x, y,
                                                           five_square_ends_three=True):
                raise Fault("%s: %s" % (who, fault))
            print("forbidden by the full rule (%s), allowed by the engine's reading:\n%s"
                  % (renju_verdict(board, x, y), picture(board, (x, y))))
            return "forbidden move (known reading difference)"
        if player.announced_draw:
            # Written after this player's previous move: judge the board as it was then.
            player.announced_draw, then = False, Board(size, size)
            for sx, sy, c in stones[:player.stones_after_last_move]:
                then.cells[sx][sy] = c
            if rule != 2 or not renju_draw(then):
                raise Fault("%s announced a draw after its previous move, but a five was "
                            "still possible:\n%s" % (player.name, picture(then)))
            return "draw announced"
        could_win = sorted(fives.squares[to_move])
        board.cells[x][y] = to_move
        stones.append((x, y, to_move))
        player.stones_after_last_move = len(stones)
        fives.placed(x, y)
        if is_win(rule, to_move, run_lengths(board, x, y, to_move)):
            return ("FIRST", "SECOND")[to_move - 1] + " wins"
        if could_win:
            raise Fault("%s: %d,%d while a five was on the board at %s" % (who, x, y, could_win))
        last, to_move, mover = (x, y), 3 - to_move, mover if single else 1 - mover
    return "full board" if len(stones) == size * size else "move limit"


def self_play(rule, games, seed, single=False, sizes=(8, 10, 12, 15, 20), max_moves=120):
    """Plays the games (timeout_turn 30 ms); returns how many ended each way."""
    rng, outcomes = random.Random(seed), collections.Counter()
    players = [Player(COMMAND, CRLF, name) for name in ("A", "B")[:1 if single else 2]]
    try:
        for g in range(games):
            size = sizes[g % len(sizes)]
            for p in players:
                p.start(size, rule, 30)
            order = players if g % 2 == 0 else players[::-1]  # alternate who moves first
            outcomes[play_game(order, single, size, rule, rng.randint(1, 6),
                               min(max_moves, size * size), rng)] += 1
        for p in players:
            p.close()
    finally:
        for p in players:
            p.engine.kill()
    return outcomes


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
            with self.assertRaisesRegex(Fault, fault):
                play_game([Scripted(first), Scripted(second)], False, 15, rule, 0, 100,
                          random.Random(1))

    def test_games(self):
        # 100 games per rule, 10 more with one process playing both sides.
        games = int(os.environ.get("ZARVEL_SELFPLAY_GAMES", "100"))
        for rule, count, seed, single in ((0, games, 11, False), (1, games, 12, False),
                                          (2, games, 13, False), (2, 10, 14, True)):
            with self.subTest(rule=rule, single=single):
                outcomes = self_play(rule, count, seed, single)
                if count < 50 or single:
                    continue  # too few games for the proportions below
                # About two games in five end by a five (the rest fill the small boards or reach
                # the move limit): engines that cannot finish or attack fall far below a fifth.
                wins = outcomes["FIRST wins"] + outcomes["SECOND wins"]
                self.assertGreaterEqual(wins, count / 5, outcomes)
                if rule == 2:  # FIRST wins some games, and the small boards end drawn
                    self.assertGreater(outcomes["FIRST wins"], 0, outcomes)
                    self.assertGreater(outcomes["draw announced"], 0, outcomes)

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
