#!/usr/bin/env python3
"""Stress: plays games against the engine while INFO, ABOUT, STOP and position-changing commands
arrive at random moments during its thinking. Checks that every reply is well formed, every
engine move is legal in the position the engine was given, and nothing deadlocks (every reply
is awaited with a time bound).

    tools/stress.py --engine build/pbrain-zarvel --seconds 60 --seed 1
"""
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from engine_driver import Engine, EngineError, MOVE_RE, engine_command_from_args  # noqa: E402

REPLY_TIMEOUT = 10.0
ABOUT_PREFIX = 'name="Zarvel"'


class Session:
    def __init__(self, engine, rng):
        self.engine = engine
        self.rng = rng
        self.width = self.height = 0
        self.moves = []          # (x, y) in record order; colours alternate
        self.pending_turn = False
        self.abouts_due = 0
        self.engine_moves = 0
        self.rule = 0

    # -- reading ---------------------------------------------------------------------------
    def next_line(self):
        line = self.engine.read(REPLY_TIMEOUT)
        if line is None:
            raise EngineError("engine output ended; transcript:\n" + self.engine.dump())
        if line.startswith(ABOUT_PREFIX):
            if self.abouts_due == 0:
                raise EngineError("unasked ABOUT line; transcript:\n" + self.engine.dump())
            self.abouts_due -= 1
            return self.next_line()
        return line

    def expect(self, want):
        while True:
            line = self.next_line()
            if line == want:
                return
            if line.startswith("MESSAGE") or line == "":  # the draw message ends in an empty line
                continue
            raise EngineError("expected %r, got %r; transcript:\n%s" % (want, line, self.engine.dump()))

    def collect_move(self):
        """Reads the engine's move for the pending turn and checks it against the model."""
        while True:
            line = self.next_line()
            if line.startswith("MESSAGE") or line == "":
                continue
            if not MOVE_RE.match(line):
                raise EngineError("expected a move, got %r; transcript:\n%s" % (line, self.engine.dump()))
            x, y = map(int, line.split(","))
            break
        self.pending_turn = False
        if (x, y) == (-1, -1):
            # A pass is only right when no square is free (under Renju: none FIRST may take).
            if self.width * self.height > len(self.moves) and self.rule != 2:
                raise EngineError("pass with free squares; transcript:\n" + self.engine.dump())
            return
        if not (0 <= x < self.width and 0 <= y < self.height) or (x, y) in self.moves:
            raise EngineError("illegal engine move %d,%d; transcript:\n%s" % (x, y, self.engine.dump()))
        self.moves.append((x, y))
        self.engine_moves += 1

    def settle(self):
        if self.pending_turn:
            self.collect_move()

    # -- commands --------------------------------------------------------------------------
    def start(self):
        self.settle()
        if self.rng.random() < 0.3:
            self.height, self.width = self.rng.randint(5, 22), self.rng.randint(5, 22)
            self.engine.send("RECTSTART %d,%d" % (self.height, self.width))
        else:
            self.width = self.height = self.rng.choice([10, 15, 19, 20, 22])
            self.engine.send("START %d" % self.width)
        self.expect("OK")
        self.moves = []

    def free_square(self):
        taken = set(self.moves)
        near = [(x + dx, y + dy) for (x, y) in self.moves[-6:] for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
        candidates = [s for s in near if 0 <= s[0] < self.width and 0 <= s[1] < self.height and s not in taken]
        if candidates and self.rng.random() < 0.8:
            return self.rng.choice(candidates)
        free = [(x, y) for x in range(self.width) for y in range(self.height) if (x, y) not in taken]
        return self.rng.choice(free) if free else None

    def turn(self):
        self.settle()
        square = self.free_square()
        if square is None or len(self.moves) + 2 > self.width * self.height:
            self.restart()
            return
        self.engine.send("TURN %d,%d" % square)
        self.moves.append(square)
        self.pending_turn = True

    def takeback(self):
        self.settle()
        if not self.moves:
            self.engine.send("TAKEBACK 0,0")
            self.expect("ERROR bad coordinates")
            return
        x, y = self.moves.pop()
        self.engine.send("TAKEBACK %d,%d" % (x, y))
        self.expect("OK")

    def board(self):
        self.settle()
        if len(self.moves) + 1 > self.width * self.height:
            self.restart()
            return
        self.engine.send("BOARD")
        n = len(self.moves)
        for i, (x, y) in enumerate(self.moves):
            # who only picks the operation; colours follow the order. Mark the engine's side as 1.
            who = 1 if (n - i) % 2 == 0 else 2
            self.engine.send("%d,%d,%d" % (x, y, who))
        self.engine.send("DONE")
        self.pending_turn = True

    def restart(self):
        self.settle()
        self.engine.send("RESTART")
        self.expect("OK")
        self.moves = []

    def info(self):
        key, value = self.rng.choice([
            ("timeout_turn", self.rng.choice([5, 20, 50, 100])),
            ("time_left", self.rng.choice([100, 5000, 100000, 2147483647])),
            ("rule", self.rng.choice([0, 1, 2, 4, 5, 8])),
            ("max_memory", 83886080), ("game_type", 1), ("timeout_match", 100000),
            ("folder", "C:\\data"), ("unknown_key", 7)])
        if key == "rule":
            self.rule = 2 if (value & 4 or value == 2) else value & 1
        self.engine.send("INFO %s %s" % (key, value))

    def about(self):
        self.engine.send("ABOUT")
        self.abouts_due += 1

    def stop(self):
        # Only a pending turn answers, with its move; when idle nothing does.
        self.engine.send(self.rng.choice(["STOP", "yxstop"]))


def run(command, crlf, seconds, seed):
    rng = random.Random(seed)
    engine = Engine(command, crlf=crlf)
    session = Session(engine, rng)
    try:
        engine.send("INFO timeout_turn 20")
        session.start()
        session.turn()
        deadline = time.monotonic() + seconds
        commands = 0
        while time.monotonic() < deadline:
            time.sleep(rng.random() * 0.03)  # land inside the engine's thinking at random
            action = rng.choices(
                [session.turn, session.info, session.about, session.takeback, session.board,
                 session.restart, session.start, session.stop],
                weights=[50, 12, 10, 8, 8, 3, 2, 6])[0]
            action()
            commands += 1
        session.settle()
        engine.send("END")
        while True:  # the rest of the output: ABOUT replies still due, then its end
            line = engine.read(REPLY_TIMEOUT)
            if line is None:
                break
            if line.startswith(ABOUT_PREFIX):
                session.abouts_due -= 1
            elif line != "" and not line.startswith("MESSAGE"):
                raise EngineError("unexpected %r after END; transcript:\n%s" % (line, engine.dump()))
        if session.abouts_due != 0:
            raise EngineError("%d ABOUT replies missing; transcript:\n%s" % (session.abouts_due, engine.dump()))
        code = engine.finish(REPLY_TIMEOUT)
        if code != 0:
            raise EngineError("exit code %d" % code)
        return commands, session.engine_moves
    finally:
        engine.kill()


def main():
    command, crlf, rest = engine_command_from_args(description=__doc__)
    import argparse
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
