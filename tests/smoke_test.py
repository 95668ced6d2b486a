#!/usr/bin/env python3
"""Smoke test: one whole engine session through pipes, the way a manager drives a brain; also
for the Windows programs under Wine (--crlf: CR-LF line ends as Windows managers send them;
--timeout-scale stretches every time bound, a 32-bit .exe under Wine on qemu takes most of a
minute to start). Exit code 0 when every step passed."""
import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import (ABOUT_RE, MOVE_RE, RESET, Engine, EngineError,  # noqa: E402
                           board_text, engine_command_from_args)


def run(command, crlf, scale):
    turn = 20.5 * scale
    e = Engine(command, crlf=crlf, stderr=None)
    occupied = {(7, 7), (8, 8), (6, 8)}

    def own_move(line):
        occupied.add(e.square(line, (15, 15), occupied))

    try:
        e.talk(("START 15", *RESET), timeout=60.0 * scale)  # also covers the process start-up
        e.talk(("INFO timeout_match 300000\nINFO time_left 300000\nINFO timeout_turn 500\n"
                "INFO max_memory 83886080\nINFO game_type 1\nINFO rule 0\n"
                "INFO folder C:\\zarvel-data\nSTOP",))
        e.expect_silence(1.0 * scale)  # INFO is never answered, nor STOP when idle
        e.talk(("BEGIN", "MESSAGE Speed=0", "7,7"), timeout=turn)
        own_move(e.talk(("TURN 8,8\nYXSTOP", MOVE_RE), timeout=turn)[0])
        # ABOUT during a turn is answered, and the move still comes (in either order).
        e.talk(("TURN 6,8\nABOUT",))
        lines = []
        while len(lines) < 2:
            line = e.read(turn)
            if line is None:
                e.fail("output ended during a turn")
            lines += [] if line.startswith("MESSAGE") else [line]
        if not any(ABOUT_RE.fullmatch(line) for line in lines):
            e.fail("no ABOUT reply during a turn")
        own_move([line for line in lines if not ABOUT_RE.fullmatch(line)][0])
        # CR-LF line ends, whatever the session's own line ends are.
        e.send(b"ABOUT\r\n")
        e.expect(ABOUT_RE, timeout=10.0 * scale)
        e.send(b"INFO timeout_turn 500\r\n")
        e.expect_silence(0.5 * scale)
        # BOARD imposes a position: the engine's open four on row 7 makes five.
        e.talk((board_text((0, 0), (3, 7), (0, 2), (4, 7), (0, 4), (5, 7), (0, 6), (6, 7), (0, 8)),
                re.compile("2,7|7,7")), timeout=turn)
        e.end(10.0 * scale)
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
