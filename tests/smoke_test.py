#!/usr/bin/env python3
"""Smoke test: one whole engine session through pipes, the way a manager drives a brain.

    smoke_test.py --engine COMMAND [--crlf] [--timeout-scale S]

COMMAND starts the engine (e.g. build/pbrain-zarvel, or '/usr/lib/wine/wine64
build-win64/pbrain-zarvel.exe'); --crlf ends every line sent with CR-LF, as Windows managers
do; --timeout-scale stretches every time bound (a 32-bit .exe under Wine on qemu takes most of
a minute just to start). Exit code 0 when every step passed.
"""
import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, EngineError, MOVE_RE, engine_command_from_args  # noqa: E402

ABOUT = re.compile('name="Zarvel", author="Varnik", version="[^"]+", country="Finland", '
                   'www="https://zarvel.example.org"')
RESET = (re.compile(r"MESSAGE Zarvel [^ ]+ Demo :-\)"), "OK")


def run(command, crlf, scale):
    step, turn = 10.0 * scale, 20.5 * scale
    e = Engine(command, crlf=crlf, stderr=None)
    occupied = {(7, 7), (8, 8), (6, 8)}

    def check(condition, message):
        if not condition:
            raise EngineError(message + "; transcript:\n" + e.dump())

    def own_move(lines):
        x, y = (int(n) for n in lines[-1].split(","))
        check(0 <= x < 15 and 0 <= y < 15 and (x, y) not in occupied, "%d,%d not free" % (x, y))
        occupied.add((x, y))

    try:
        e.talk(("START 15", *RESET), timeout=60.0 * scale)  # also covers the process start-up
        e.talk(("INFO timeout_match 300000\nINFO time_left 300000\nINFO timeout_turn 500\n"
                "INFO max_memory 83886080\nINFO game_type 1\nINFO rule 0\n"
                "INFO folder C:\\zarvel-data\nSTOP",))
        e.expect_silence(1.0 * scale)  # INFO is never answered, nor STOP when idle
        e.talk(("BEGIN", "MESSAGE Speed=0", "7,7"), timeout=turn)
        own_move(e.talk(("TURN 8,8\nYXSTOP", MOVE_RE), timeout=turn))
        # ABOUT during a turn is answered, and the move still comes (in either order).
        e.talk(("TURN 6,8\nABOUT",))
        lines = []
        while len(lines) < 2:
            line = e.read(turn)
            check(line is not None, "output ended during a turn")
            lines += [] if line.startswith("MESSAGE") else [line]
        about = [line for line in lines if ABOUT.fullmatch(line)]
        check(about, "no ABOUT reply during a turn")
        lines.remove(about[0])
        check(MOVE_RE.match(lines[0]), "%r instead of a move" % lines[0])
        own_move(lines)
        # CR-LF line ends, whatever the session's own line ends are.
        e.send(b"ABOUT\r\n", raw=True)
        e.expect(ABOUT, timeout=step)
        e.send(b"INFO timeout_turn 500\r\n", raw=True)
        e.expect_silence(0.5 * scale)
        # BOARD imposes a position (the opponent first): the engine's open four on row 7 makes five.
        e.talk(("BOARD\n0,0,2\n3,7,1\n0,2,2\n4,7,1\n0,4,2\n5,7,1\n0,6,2\n6,7,1\n0,8,2\nDONE",
                re.compile("2,7|7,7")), timeout=turn)
        e.send("END")
        check(e.read(step) is None, "output after END")
        code = e.finish(step)
        check(code == 0, "exit code %r after END" % code)
    finally:
        e.close()


def main():
    command, crlf, rest = engine_command_from_args(description=__doc__)
    extra = argparse.ArgumentParser()
    extra.add_argument("--timeout-scale", type=float, default=1.0)
    scale = extra.parse_args(rest).timeout_scale
    start, what = time.monotonic(), " ".join(command) + (", CR-LF" if crlf else "")
    try:
        run(command, crlf, scale)
    except EngineError as error:
        print("smoke_test FAILED (%s): %s" % (what, error))
        return 1
    print("smoke_test passed (%s) in %.1f s" % (what, time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
