#!/usr/bin/env python3
"""Smoke test: one whole engine session through pipes, the way a manager drives a brain.

    smoke_test.py --engine COMMAND [--crlf] [--timeout-scale S]

COMMAND starts the engine (e.g. build/pbrain-zarvel, or '/usr/lib/wine/wine64
build-win64/pbrain-zarvel.exe'); --crlf ends every line sent with CR-LF, as Windows
managers do; --timeout-scale stretches every time bound (a 32-bit .exe under Wine on qemu
takes most of a minute just to start). Replies are checked exactly where they are
deterministic. Exit code 0 when every step passed.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, EngineError, MOVE_RE, engine_command_from_args  # noqa: E402

ABOUT_REPLY = ('name="Zarvel", author="Varnik", version="1.0", country="Finland", '
               'www="https://zarvel.example.org"')
RESET_LINES = ("MESSAGE Zarvel 1.0 Demo :-)", "OK")
SIZE = 15
TIMEOUT_TURN_MS = 500


def check(condition, message, engine):
    if not condition:
        raise EngineError(message + "; transcript:\n" + engine.dump())


def read_move_and_about(engine, timeout):
    """Reads until both the ABOUT reply and a move came (in either order); returns the move."""
    move, about = None, False
    deadline = time.monotonic() + timeout
    while move is None or not about:
        line = engine.read(max(0.1, deadline - time.monotonic()))
        check(line is not None, "output ended during a turn", engine)
        if line == ABOUT_REPLY:
            check(not about, "ABOUT answered twice", engine)
            about = True
        elif MOVE_RE.match(line):
            check(move is None, "two moves for one turn", engine)
            x, y = line.split(",")
            move = (int(x), int(y))
        else:
            check(line.startswith("MESSAGE"), "unexpected line %r during a turn" % line, engine)
    return move


def run(command, crlf, scale):
    step_timeout = 10.0 * scale
    move_timeout = (TIMEOUT_TURN_MS / 1000.0 + 20.0) * scale
    engine = Engine(command, crlf=crlf, stderr=None)
    try:
        occupied = set()

        def own_move(move, what):
            x, y = move
            check(0 <= x < SIZE and 0 <= y < SIZE, "%s: move %r off the board" % (what, move), engine)
            check(move not in occupied, "%s: move %r on an occupied square" % (what, move), engine)
            occupied.add(move)

        # START: the two reset lines. The first reply also covers the process start-up.
        engine.send("START %d" % SIZE)
        engine.expect(*RESET_LINES, timeout=60.0 * scale)

        # INFO lines store settings and are never answered.
        for line in ("INFO timeout_match 300000", "INFO time_left 300000",
                     "INFO timeout_turn %d" % TIMEOUT_TURN_MS, "INFO max_memory 83886080",
                     "INFO game_type 1", "INFO rule 0", "INFO folder C:\\zarvel-data"):
            engine.send(line)
        engine.expect_silence(1.0 * scale)

        # BEGIN on an empty board: the centre, after the speed line.
        engine.send("BEGIN")
        engine.expect("MESSAGE Speed=0", "7,7", timeout=move_timeout)
        occupied.add((7, 7))

        # TURN: a move comes on a free square.
        engine.send("TURN 8,8")
        occupied.add((8, 8))
        own_move(engine.read_move(move_timeout), "TURN")

        # ABOUT during a turn is answered, and the move still comes.
        engine.send("TURN 6,8")
        occupied.add((6, 8))
        engine.send("ABOUT")
        own_move(read_move_and_about(engine, move_timeout), "TURN with ABOUT")

        # CR-LF line ends, whatever the session's own line ends are.
        engine.send(b"ABOUT\r\n", raw=True)
        engine.expect(ABOUT_REPLY, timeout=step_timeout)
        engine.send(b"INFO timeout_turn 500\r\n", raw=True)
        engine.expect_silence(0.5 * scale)

        # BOARD ... DONE imposes a new position (stones in game order, the opponent first):
        # the engine has an open four on row y=7 from x=3 to x=6 and must make five.
        opponent = [(0, 0), (0, 2), (0, 4), (0, 6), (0, 8)]
        own = [(3, 7), (4, 7), (5, 7), (6, 7)]
        engine.send("BOARD")
        for i, (x, y) in enumerate(opponent):
            engine.send("%d,%d,2" % (x, y))
            if i < len(own):
                engine.send("%d,%d,1" % own[i])
        engine.send("DONE")
        occupied = set(opponent) | set(own)
        move = engine.read_move(move_timeout)
        own_move(move, "BOARD")
        check(move in ((2, 7), (7, 7)), "BOARD: %r does not make five" % (move,), engine)

        # END: no further output, exit code 0.
        engine.send("END")
        check(engine.read(step_timeout) is None, "output after END", engine)
        code = engine.finish(step_timeout)
        check(code == 0, "exit code %r after END" % code, engine)
    except BaseException:
        engine.kill()
        raise


def main():
    command, crlf, rest = engine_command_from_args(description=__doc__)
    extra = argparse.ArgumentParser()
    extra.add_argument("--timeout-scale", type=float, default=1.0)
    options = extra.parse_args(rest)
    start = time.monotonic()
    try:
        run(command, crlf, options.timeout_scale)
    except EngineError as error:
        print("smoke_test FAILED (%s%s): %s" % (" ".join(command), ", CR-LF" if crlf else "", error))
        return 1
    print("smoke_test passed (%s%s) in %.1f s" % (" ".join(command), ", CR-LF" if crlf else "",
                                                   time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
