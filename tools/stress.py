#!/usr/bin/env python3
"""Stress: plays games against the engine while INFO, ABOUT, STOP and position-changing commands
arrive at random moments during its thinking. Checks that every reply is well formed, every
engine move is legal in the position the engine was given, and nothing deadlocks (every reply
is awaited with a time bound).

    tools/stress.py --engine build/pbrain-zarvel --seconds 60 --seed 1
"""
import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from engine_driver import BAD, MOVE_RE, Engine, EngineError, engine_command_from_args  # noqa: E402

TIMEOUT = 10.0
ABOUT_PREFIX = 'name="Zarvel"'


class Session:
    def __init__(self, engine, rng):
        self.e, self.rng = engine, rng
        self.width = self.height = self.rule = self.abouts_due = self.engine_moves = 0
        self.moves = []  # (x, y) in record order; colours alternate
        self.pending_turn = False

    def next_line(self):
        """The next line that is no MESSAGE, draw line or ABOUT reply (those are counted)."""
        while True:
            line = self.e.read(TIMEOUT)
            if line is None:
                self.e.fail("engine output ended")
            if line.startswith(ABOUT_PREFIX):
                if self.abouts_due == 0:
                    self.e.fail("unasked ABOUT line")
                self.abouts_due -= 1
            elif not line.startswith("MESSAGE") and line != "":
                return line

    def expect(self, want):
        if (line := self.next_line()) != want:
            self.e.fail("expected %r, got %r" % (want, line))

    def settle(self):
        """Reads the engine's move for a pending turn and checks it against the model."""
        if not self.pending_turn:
            return
        self.pending_turn = False
        line = self.next_line()
        if not MOVE_RE.match(line):
            self.e.fail("expected a move, got %r" % line)
        x, y = map(int, line.split(","))
        if (x, y) == (-1, -1):
            # A pass is only right when no square is free (under Renju: none FIRST may take).
            if self.width * self.height > len(self.moves) and self.rule != 2:
                self.e.fail("pass with free squares")
        elif not (0 <= x < self.width and 0 <= y < self.height) or (x, y) in self.moves:
            self.e.fail("illegal engine move %d,%d" % (x, y))
        else:
            self.moves.append((x, y))
            self.engine_moves += 1

    def start(self):
        self.settle()
        if self.rng.random() < 0.3:
            self.height, self.width = self.rng.randint(5, 22), self.rng.randint(5, 22)
            self.e.send("RECTSTART %d,%d" % (self.height, self.width))
        else:
            self.width = self.height = self.rng.choice([10, 15, 19, 20, 22])
            self.e.send("START %d" % self.width)
        self.expect("OK")
        self.moves = []

    def restart(self):
        self.settle()
        self.e.send("RESTART")
        self.expect("OK")
        self.moves = []

    def free_square(self):
        near = [(x + dx, y + dy) for (x, y) in self.moves[-6:] for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
        near = [s for s in near if 0 <= s[0] < self.width and 0 <= s[1] < self.height
                and s not in self.moves]
        if near and self.rng.random() < 0.8:
            return self.rng.choice(near)
        free = [(x, y) for x in range(self.width) for y in range(self.height) if (x, y) not in self.moves]
        return self.rng.choice(free) if free else None

    def turn(self):
        self.settle()
        square = self.free_square()
        if square is None or len(self.moves) + 2 > self.width * self.height:
            return self.restart()
        self.e.send("TURN %d,%d" % square)
        self.moves.append(square)
        self.pending_turn = True

    def takeback(self):
        self.settle()
        if self.moves:
            self.e.send("TAKEBACK %d,%d" % self.moves.pop())
            self.expect("OK")
        else:
            self.e.send("TAKEBACK 0,0")
            self.expect(BAD)

    def board(self):
        self.settle()
        if len(self.moves) + 1 > self.width * self.height:
            return self.restart()
        n = len(self.moves)
        # who only picks the operation; colours follow the order. The engine's side is 1.
        for line in ["BOARD"] + ["%d,%d,%d" % (x, y, 1 if (n - i) % 2 == 0 else 2)
                                 for i, (x, y) in enumerate(self.moves)] + ["DONE"]:
            self.e.send(line)
        self.pending_turn = True

    def info(self):
        key, value = self.rng.choice([
            ("timeout_turn", self.rng.choice([5, 20, 50, 100])),
            ("time_left", self.rng.choice([100, 5000, 100000, 2147483647])),
            ("rule", self.rng.choice([0, 1, 2, 4, 5, 8])),
            ("max_memory", 83886080), ("game_type", 1), ("timeout_match", 100000),
            ("folder", "C:\\data"), ("unknown_key", 7)])
        if key == "rule":
            self.rule = 2 if (value & 4 or value == 2) else value & 1
        self.e.send("INFO %s %s" % (key, value))

    def about(self):
        self.e.send("ABOUT")
        self.abouts_due += 1

    def stop(self):
        # Only a pending turn answers, with its move; when idle nothing does.
        self.e.send(self.rng.choice(["STOP", "yxstop"]))


def run(command, crlf, seconds, seed):
    """Returns the number of commands sent and of engine moves checked."""
    rng = random.Random(seed)
    engine = Engine(command, crlf=crlf)
    s = Session(engine, rng)
    try:
        engine.send("INFO timeout_turn 20")
        s.start()
        s.turn()
        deadline, commands = time.monotonic() + seconds, 0
        while time.monotonic() < deadline:
            time.sleep(rng.random() * 0.03)  # land inside the engine's thinking at random
            rng.choices([s.turn, s.info, s.about, s.takeback, s.board, s.restart, s.start, s.stop],
                        weights=[50, 12, 10, 8, 8, 3, 2, 6])[0]()
            commands += 1
        s.settle()
        engine.send("END")
        while (line := engine.read(TIMEOUT)) is not None:  # ABOUT replies still due, then the end
            if line.startswith(ABOUT_PREFIX):
                s.abouts_due -= 1
            elif line != "" and not line.startswith("MESSAGE"):
                engine.fail("unexpected %r after END" % line)
        if s.abouts_due != 0:
            engine.fail("%d ABOUT replies missing" % s.abouts_due)
        if engine.finish(TIMEOUT) != 0:
            engine.fail("exit code %d" % engine.proc.returncode)
        return commands, s.engine_moves
    finally:
        engine.close()


def main():
    command, crlf, rest = engine_command_from_args(description=__doc__)
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args(rest)
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    try:
        commands, moves = run(command, crlf, args.seconds, seed)
    except EngineError as error:
        print("stress failed (seed %d): %s" % (seed, error))
        return 1
    print("stress passed: seed %d, %d commands, %d engine moves" % (seed, commands, moves))
    return 0


if __name__ == "__main__":
    sys.exit(main())
