#!/usr/bin/env python3
"""Stress: plays games against the engine while INFO, ABOUT, STOP and position-changing commands
arrive at random moments during its thinking. Every reply must be well formed, every engine
move legal in the position the engine was given, and every reply comes within a time bound.

    tools/stress.py --engine build/pbrain-zarvel --seconds 60 --seed 1
"""
import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from engine_driver import BAD, Engine, EngineError, engine_command_from_args  # noqa: E402

INFOS = [("timeout_turn", [5, 20, 50, 100]), ("time_left", [100, 5000, 100000, 2147483647]),
         ("rule", [0, 1, 2, 4, 5, 8]), ("max_memory", [83886080]), ("game_type", [1]),
         ("timeout_match", [100000]), ("folder", ["C:\\data"]), ("unknown_key", [7])]


def run(command, crlf, seconds, seed):
    """Returns the number of commands sent and of engine moves checked."""
    rng, e = random.Random(seed), Engine(command, crlf=crlf)
    state = {"size": (15, 15), "moves": [], "pending": False, "abouts": 0, "renju": False,
             "engine_moves": 0}
    moves = state["moves"]

    def line():  # the next line that is no MESSAGE, draw line or ABOUT reply (those are counted)
        while True:
            text = e.read(10.0)
            if text is None:
                e.fail("output ended")
            if text.startswith('name="Zarvel"'):
                state["abouts"] -= 1
                if state["abouts"] < 0:
                    e.fail("unasked ABOUT line")
            elif not text.startswith("MESSAGE") and text != "":
                return text

    def settle():  # the pending turn's move, checked against the position sent
        if not state["pending"]:
            return
        state["pending"] = False
        width, height = state["size"]
        if (text := line()) == "-1,-1":  # only when no square is free (under Renju: none FIRST may take)
            if width * height > len(moves) and not state["renju"]:
                e.fail("pass with free squares")
        else:
            moves.append(e.square(text, state["size"], moves))
            state["engine_moves"] += 1

    def command(text, reply=None):
        settle()
        e.send(text)
        if reply is not None and (got := line()) != reply:
            e.fail("expected %r, got %r" % (reply, got))

    def start():
        settle()
        width, height = rng.randint(5, 22), rng.randint(5, 22)
        if rng.random() < 0.7:
            width = height = rng.choice([10, 15, 19, 20, 22])
        state["size"] = (width, height)
        command("RECTSTART %d,%d" % (height, width), "OK")
        moves.clear()

    def restart():
        command("RESTART", "OK")
        moves.clear()

    def turn():
        settle()
        width, height = state["size"]
        near = [(x + dx, y + dy) for (x, y) in moves[-6:] for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
        free = [q for q in near if 0 <= q[0] < width and 0 <= q[1] < height and q not in moves]
        if not free or rng.random() < 0.2:
            free = [(x, y) for x in range(width) for y in range(height) if (x, y) not in moves]
        if len(moves) + 2 > width * height:
            return restart()
        moves.append(rng.choice(free))
        command("TURN %d,%d" % moves[-1])
        state["pending"] = True

    def takeback():
        settle()
        if moves:
            command("TAKEBACK %d,%d" % moves.pop(), "OK")
        else:
            command("TAKEBACK 0,0", BAD)

    def board():
        settle()
        if len(moves) + 1 > state["size"][0] * state["size"][1]:
            return restart()
        # who only picks the operation; colours follow the order. The engine's side is 1.
        for text in ["BOARD"] + ["%d,%d,%d" % (x, y, 1 + (len(moves) - i) % 2)
                                 for i, (x, y) in enumerate(moves)] + ["DONE"]:
            e.send(text)
        state["pending"] = True

    def info():
        key, values = rng.choice(INFOS)
        value = rng.choice(values)
        if key == "rule":
            state["renju"] = value & 4 or value == 2
        e.send("INFO %s %s" % (key, value))

    def about():
        e.send("ABOUT")
        state["abouts"] += 1

    def stop():  # only a pending turn answers, with its move; when idle nothing does
        e.send(rng.choice(["STOP", "yxstop"]))

    try:
        e.send("INFO timeout_turn 20")
        start()
        turn()
        deadline, commands = time.monotonic() + seconds, 0
        while time.monotonic() < deadline:
            time.sleep(rng.random() * 0.03)  # land inside the engine's thinking at random
            rng.choices([turn, info, about, takeback, board, restart, start, stop],
                        weights=[50, 12, 10, 8, 8, 3, 2, 6])[0]()
            commands += 1
        settle()
        e.send("END")
        while (text := e.read(10.0)) is not None:  # ABOUT replies still due, then the end
            if text.startswith('name="Zarvel"'):
                state["abouts"] -= 1
            elif text != "" and not text.startswith("MESSAGE"):
                e.fail("unexpected %r after END" % text)
        if state["abouts"] != 0 or e.finish(10.0) != 0:
            e.fail("%d ABOUT replies missing, exit code %r" % (state["abouts"], e.proc.returncode))
        return commands, state["engine_moves"]
    finally:
        e.close()


def main():
    command, crlf, rest = engine_command_from_args(description=__doc__)
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--seed", type=int, default=random.randrange(1 << 30))
    args = parser.parse_args(rest)
    try:
        commands, moves = run(command, crlf, args.seconds, args.seed)
    except EngineError as error:
        print("stress failed (seed %d): %s" % (args.seed, error))
        return 1
    print("stress passed: seed %d, %d commands, %d engine moves" % (args.seed, commands, moves))
    return 0


if __name__ == "__main__":
    sys.exit(main())
