#!/usr/bin/env python3
"""Self-play through the brain protocol, every move judged by tools/referee.py.

Two engine processes (the same command twice unless --engine2 is given, or one process with
--single) play fast games under one rule. Each game starts from a few random stones sent with
BOARD, so games differ; then the players answer TURN (or, with --single, a BOARD of the whole
position before every move). Beyond the referee's rules: a pass only when no legal move is left,
a five taken whenever the mover has one, and a Renju draw message only when no five is possible
any more. A game ends at a five, a full board, a pass or the move limit.

    tools/selfplay.py --engine build/pbrain-zarvel --rule renju --games 1000 --size 15,20

Exit status 0 when every game was played without a fault.
"""
import argparse
import os
import random
import shlex
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from referee import (DIRECTIONS, EMPTY, FIRST, RULE_NAMES, SECOND, Board,  # noqa: E402
                     EngineError, Fault, Player, is_win, move_fault, parse_rule, picture,
                     renju_draw, renju_forbidden, renju_verdict, run_lengths)


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


class Result:
    def __init__(self):
        self.games = self.moves = 0
        self.outcomes, self.known_differences, self.faults = {}, [], []


def play_game(players, single, size, rule, opening, max_moves, move_timeout, rng, result):
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
        x, y = player.read_move(move_timeout)
        result.moves += 1
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
            result.known_differences.append((picture(board, (x, y)), renju_verdict(board, x, y)))
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


def run(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True,
                        help="command that starts the engine (split like a shell line)")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR-LF")
    parser.add_argument("--engine2", help="second engine command (default: the first again)")
    parser.add_argument("--single", action="store_true",
                        help="one process plays both sides (BOARD before every move)")
    parser.add_argument("--rule", type=parse_rule, default=0,
                        help="freestyle (0), standard (1) or renju (2)")
    parser.add_argument("--games", type=int, default=10)
    parser.add_argument("--size", default="15", help="board sizes, e.g. 15 or 10,15,20")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout-turn", type=int, default=30, help="INFO timeout_turn, ms")
    parser.add_argument("--move-timeout", type=float, default=30.0,
                        help="seconds to wait for one move before calling it a fault")
    parser.add_argument("--opening", default="1-6",
                        help="number of random opening stones, N or MIN-MAX")
    parser.add_argument("--max-moves", type=int, default=0,
                        help="stones that end a game (default: the full board)")
    parser.add_argument("--quiet", action="store_true", help="no line per game")
    args = parser.parse_args(argv)
    sizes = [int(s) for s in args.size.split(",")]
    lo, _, hi = args.opening.partition("-")
    rng, result, start = random.Random(args.seed), Result(), time.monotonic()
    commands = [shlex.split(args.engine), shlex.split(args.engine2 or args.engine)]
    players = [Player(commands[i], args.crlf, "AB"[i]) for i in range(1 if args.single else 2)]
    try:
        for g in range(args.games):
            size = sizes[g % len(sizes)]
            for p in players:
                p.start(size, args.rule, args.timeout_turn)
            order = players if g % 2 == 0 else players[::-1]  # alternate who moves first
            opening = rng.randint(int(lo), int(hi or lo))
            outcome = play_game(order, args.single, size, args.rule, opening,
                                min(args.max_moves or size * size, size * size),
                                args.move_timeout, rng, result)
            result.games += 1
            result.outcomes[outcome] = result.outcomes.get(outcome, 0) + 1
            if not args.quiet:
                print("game %d: %dx%d %s, %s" % (g + 1, size, size, RULE_NAMES[args.rule], outcome))
        for p in players:
            p.close()
    except (Fault, EngineError) as fault:
        result.faults.append(str(fault))
        for p in players:
            p.engine.kill()
    print("%d games, %d moves in %.1f s (%s): %s" % (
        result.games, result.moves, time.monotonic() - start, RULE_NAMES[args.rule],
        ", ".join("%s %d" % kv for kv in sorted(result.outcomes.items()))))
    for board_picture, verdict in result.known_differences:
        print("forbidden by the full rule (%s), allowed by the engine's reading:\n%s"
              % (verdict, board_picture))
    for fault in result.faults:
        print("FAULT: " + fault)
    return result


if __name__ == "__main__":
    sys.exit(1 if run().faults else 0)
