#!/usr/bin/env python3
"""Turns through the real binary: opening moves, the moves a turn must find, passes and the
Renju draw message; the hand-shake between the command loop and the think thread (replies
during and around a turn, STOP, END while thinking, commands at random moments); the time
control as managers use it (a turn budget alone, games to the end under a match clock)."""
import contextlib
import io
import os
import random
import re
import shlex
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools")]
import match  # noqa: E402
from engine_driver import (ABOUT_RE as ABOUT, BAD, DRAW, MOVE_RE as M, PASS,  # noqa: E402
                           RESET as R, Engine, board_text as board, engine_command_from_args)

COMMAND, CRLF = None, False
SPEED = "MESSAGE Speed=0"
# Replies during a turn, and the move after a stop, come within this many seconds (scaled
# for sanitizer and emulator builds by ZARVEL_TIME_SCALE, which CMake sets for the pipe tests).
SCALE = float(os.environ.get("ZARVEL_TIME_SCALE", "1"))
PROMPT = 0.1 * SCALE


def picture(*rows):
    """BOARD for a picture (rows are y, columns x; 'X' the first player, 'O' the second)."""
    first, second = ([(x, y) for y, row in enumerate(rows) for x, v in enumerate(row) if v == c]
                     for c in "XO")
    return board(*[s for i, stone in enumerate(first) for s in [stone] + second[i:i + 1]])


# 5 x 5, every line of five holds both colours: full, and with (0, 0) and (0, 1) free.
FULL = picture("XOXXX", "OOOXX", "OXXOO", "XXXOO", "OOXXO")
DRAWN = picture(".OXXX", ".OOXX", "OXXOO", "XXXOO", "OOXXO")
# 7 x 7, the first player to move; the only free square (3, 3) makes six on row 3.
OVERLINE_ONLY = picture("OOOXXOO", "XOXXXXO", "XOOOOXX", "XXX.XXO", "XXOOOXX", "OXOOOOX",
                        "XXOOXOO")
FOUR_TO_BLOCK = board((5, 5), (4, 5), (6, 5), (0, 14), (7, 5), (14, 0), (8, 5))
CENTRE_BLOCKED = ((board(blocks=[(7, 7)]), SPEED, "6,7"),
                  (board(blocks=[(7, 7), (6, 7)]), SPEED, "7,6"))

# (rule, START or RECTSTART, steps): 0 free-style, 1 standard, 2 Renju.
CASES = [
    # INFO and STOP when idle are never answered; YXSTOP ends a turn.
    (0, "START 15", ("BEGIN", SPEED, "7,7"),
     ("INFO folder C:\\zarvel-data\nSTOP\nTURN 8,8\nYXSTOP", M)),
    (0, "START 20", ("BEGIN", SPEED, "10,10")),
    (0, "RECTSTART 15,20", ("BEGIN", SPEED, "7,10")),  # width, then height
    (2, "START 15", ("BEGIN", SPEED, "7,7")),  # and no draw message
    # A block on the centre: the nearest square by |dx| + |dy|, the first in x-major order.
    (0, "START 15", *CENTRE_BLOCKED),
    (2, "START 15", *CENTRE_BLOCKED),
    # Its own five before blocking the opponent's four; under Renju the exact five, not six.
    (0, "START 15", (board((7, 3), (0, 0), (7, 4), (0, 1), (7, 5), (0, 2), (7, 6), (0, 3)),
                     re.compile("7,2|7,7"))),
    (2, "START 15", (board((7, 4), (0, 0), (7, 5), (0, 1), (7, 6), (0, 3), (7, 7), (0, 5), (7, 2),
                           (0, 7)), "7,8")),
    (0, "START 15", (FOUR_TO_BLOCK, "9,5")),
    (1, "START 15", (FOUR_TO_BLOCK, "9,5")),
    (2, "START 15", (FOUR_TO_BLOCK, "9,5")),
    # Passes on a full board, and under Renju when every free square is forbidden.
    (0, "START 5", (FULL, *PASS)),
    (2, "START 5", (FULL, *PASS, *DRAW)),
    (0, "START 7", (OVERLINE_ONLY, "3,3")),
    (2, "START 7", (OVERLINE_ONLY, *PASS)),
    # No five is possible any more: Renju says so after the move (free-style does not).
    (2, "START 5", (DRAWN, re.compile("0,[01]"), *DRAW)),
    (0, "START 5", (DRAWN, re.compile("0,[01]"))),
    # A block beyond a line of five lengthens no run: the first player can still make five
    # on row 0, whatever it plays (row 1 holds both colours).
    (2, "RECTSTART 6,2", (board((2, 0), (2, 1), (1, 1), (4, 1), blocks=[(5, 0)]), M)),
]

# 20 x 20 Renju with 30 stones and a 30-second budget: commands arrive during the turn.
BUSY = ("INFO rule 2\nINFO timeout_turn 30000\nINFO thread_num 4\nSTART 20", *R)  # 4: clamped to the machine
BUSY_RECORDS = [(x, y) for x in range(4, 16, 2) for y in range(3, 17, 3)]
BUSY_BOARD = board(*BUSY_RECORDS)
# Standard Gomoku, 15 x 15, ten stones and no decisive threat: the search uses its time.
QUIET = board((7, 7), (8, 8), (7, 8), (7, 9), (9, 7), (8, 7), (8, 6), (7, 5), (9, 5), (10, 4))


INFOS = [("timeout_turn", [5, 20, 50, 100]), ("time_left", [100, 5000, 100000, 2147483647]),
         ("rule", [0, 1, 2, 4, 5, 8]), ("max_memory", [83886080]), ("game_type", [1]),
         ("timeout_match", [100000]), ("folder", ["C:\\data"]), ("unknown_key", [7])]


def random_moments(seconds, seed):
    """Plays games while INFO, ABOUT, STOP and position changes arrive at random moments of the
    engine's thinking: every reply well formed and in time, every move a free square of the
    position sent. Returns the number of engine moves."""
    rng, e = random.Random(seed), Engine(COMMAND, CRLF)
    size, moves, st = (15, 15), [], {"pending": False, "abouts": 0, "renju": False, "moved": 0}

    def line():  # the next line that is no MESSAGE, draw line or ABOUT reply (those counted)
        while (text := e.read(10.0)) is None or text.startswith('name="Zarvel"') \
                or text.startswith("MESSAGE") or text == "":
            if text is None:
                e.fail("output ended")
            st["abouts"] -= text.startswith('name="Zarvel"')
            if st["abouts"] < 0:
                e.fail("unasked ABOUT line")
        return text

    def settle():  # the pending turn's move, checked against the position it was given
        if st["pending"]:
            st["pending"] = False
            if (got := line()) != "-1,-1":
                moves.append(e.square(got, size, moves))
                st["moved"] += 1
            elif size[0] * size[1] > len(moves) and not st["renju"]:
                e.fail("pass with free squares")  # under Renju every free square may be forbidden

    def send(text, reply=None):
        settle()
        e.send(text)
        if reply is not None and (got := line()) != reply:
            e.fail("expected %r, got %r" % (reply, got))

    def start(restart=False):  # a new game: RESTART, or RECTSTART of a random size
        nonlocal size
        settle()
        if not restart:
            size = (rng.randint(5, 22), rng.randint(5, 22))
            size = (rng.choice([10, 15, 19, 20, 22]),) * 2 if rng.random() < 0.7 else size
        send("RESTART" if restart else "RECTSTART %d,%d" % size, "OK")
        moves.clear()

    def turn():
        settle()
        near = [(x + dx, y + dy) for x, y in moves[-6:] for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
        free = [q for q in near if 0 <= q[0] < size[0] and 0 <= q[1] < size[1] and q not in moves]
        if not free or rng.random() < 0.2:
            free = [(x, y) for x in range(size[0]) for y in range(size[1]) if (x, y) not in moves]
        if len(moves) + 2 > size[0] * size[1]:
            return start(True)
        moves.append(rng.choice(free))
        send("TURN %d,%d" % moves[-1])
        st["pending"] = True

    def takeback():
        settle()
        if moves:
            send("TAKEBACK %d,%d" % moves.pop(), "OK")
        else:
            send("TAKEBACK 0,0", BAD)

    def board_():
        settle()
        if len(moves) + 1 > size[0] * size[1]:
            return start(True)
        send(board(*moves))
        st["pending"] = True

    def info():
        key, values = rng.choice(INFOS)
        value = rng.choice(values)
        st["renju"] = st["renju"] if key != "rule" else value & 4 or value == 2
        e.send("INFO %s %s" % (key, value))

    def about():
        e.send("ABOUT")
        st["abouts"] += 1  # answered at once, also while thinking: counted, not awaited

    try:
        e.send("INFO timeout_turn 20")
        start()
        turn()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            time.sleep(rng.random() * 0.03)  # land inside the engine's thinking at random
            rng.choices([turn, info, about, takeback, board_, lambda: start(True), start,
                         lambda: e.send(rng.choice(["STOP", "yxstop"]))],  # idle: no reply
                        weights=[50, 12, 10, 8, 8, 3, 2, 6])[0]()
        send("END")
        while (text := e.read(10.0)) is not None:  # ABOUT replies still due, then the end
            st["abouts"] -= text.startswith('name="Zarvel"')
            if text != "" and not text.startswith(("MESSAGE", 'name="Zarvel"')):
                e.fail("unexpected %r after END" % text)
        if st["abouts"] != 0 or e.finish(10.0) != 0:
            e.fail("%d ABOUT replies missing, exit code %r" % (st["abouts"], e.proc.returncode))
        return st["moved"]
    finally:
        e.close()


class TurnTest(unittest.TestCase):
    def setUp(self):
        self.e = Engine(COMMAND, CRLF)
        self.addCleanup(self.e.close)
        self.e.send("INFO timeout_turn 300")  # BUSY turns set their own

    def test_transcripts(self):
        # One process for all (the tables are built once per rule). ABOUT last: nothing
        # unexpected, such as a draw message, came before its reply. Also the smoke test of
        # the Windows programs under Wine (tools/windows_check.sh).
        for rule, start, *steps in CASES:
            self.e.talk(("INFO rule %d\n%s" % (rule, start), *R), *steps, ("ABOUT", ABOUT),
                        timeout=10 * SCALE)
        self.e.end(10 * SCALE)

    def started(self, e=None):
        """Waits until the turn just sent is under way: the command loop answers the next line
        only once it has handed the position to the think thread."""
        (e or self.e).talk(("ABOUT", ABOUT), timeout=10 * SCALE)

    def prompt(self, text, *replies):
        start = time.monotonic()
        got = self.e.talk((text, *replies), timeout=5)
        self.assertLess(time.monotonic() - start, PROMPT, self.e.dump())
        return got

    def test_commands_during_a_long_turn(self):
        # ABOUT and INFO at once; a position change stops the turn: its move first, at once.
        self.e.talk(BUSY, (BUSY_BOARD,))
        self.started()
        self.prompt("ABOUT", ABOUT)
        self.prompt("INFO timeout_turn 1000\nINFO time_left 500000\nABOUT", ABOUT)
        first = self.prompt("TURN 0,0", M)[0]
        second = self.e.expect(M, timeout=5 * SCALE)[0]
        self.assertNotIn(second, (first, "0,0"))
        self.e.talk(("INFO timeout_turn 30000\n" + BUSY_BOARD,))
        self.started()
        self.prompt("RESTART", M, *R)
        self.e.talk(("BEGIN", SPEED, "10,10"))

    def test_stop_ends_a_long_turn_at_once(self):
        self.e.talk(BUSY)
        free = [(x, y) for x in range(20) for y in range(20) if (x, y) not in BUSY_RECORDS]
        for stop in ("STOP", "yxstop"):
            self.e.talk((BUSY_BOARD,))
            self.started()
            move = tuple(map(int, self.prompt(stop, M)[0].split(",")))
            self.assertIn(move, free)
            self.e.send(stop)  # idle: no reply
            self.e.expect_silence(0.3)
            turn = next(q for q in free if q != move)
            self.e.talk(("INFO timeout_turn 500\nTURN %d,%d" % turn, M), ("ABOUT", ABOUT),
                        ("INFO timeout_turn 30000",))

    def test_end_while_thinking(self):
        for end in ("END", None):  # END, or the end of input
            e = self.e if end else Engine(COMMAND, CRLF)
            self.addCleanup(e.close)
            e.talk(BUSY, (BUSY_BOARD,))
            self.started(e)
            start = time.monotonic()
            if end:
                e.send(end)
            else:
                e.close_input()
            e.expect(M)
            self.assertLess(time.monotonic() - start, PROMPT, e.dump())
            self.assertIsNone(e.read())
            self.assertEqual(e.finish(SCALE), 0)  # within a second, helper threads and all


    def test_turn_budget_alone(self):
        # With timeout_turn alone a quiet middle game thinks for most of its budget, not past it,
        # helper threads included.
        self.e.talk(("INFO rule 1\nINFO timeout_turn 5000\nINFO thread_num 2\nSTART 15", *R))
        start = time.monotonic()
        self.e.talk((QUIET, M), timeout=20)
        elapsed = time.monotonic() - start
        self.assertGreater(elapsed, 2.5, self.e.dump())
        self.assertLess(elapsed, 5.0 + 0.3 * SCALE, self.e.dump())

    def test_first_turn_searches_as_deep_as_later_ones(self):
        # START makes the rule's tables and, with helper threads, the hash tables' pages ready
        # before the first turn is asked for: its search is no shallower than the same search
        # once everything is warm (before, it spent its time on both and reached depth 1 or 2).
        def depth():
            self.e.send(QUIET)
            reached = 0
            while not M.match(line := self.e.read(10 * SCALE) or self.e.fail("no move")):
                if line.startswith("INFO DEPTH "):
                    reached = int(line.split()[2])
            return reached
        self.e.talk(("INFO rule 0\nINFO thread_num 2\nINFO show_detail 2\nSTART 15", *R))
        first = depth()
        self.assertGreaterEqual(first, depth() - 2, self.e.dump())

    def test_games_to_the_end_never_late(self):
        # time_left 2147483647 (no match clock) and a match clock (time_left before every
        # move), judged by the match tool. Longer clocks on demand: match.py --match-ms 180000.
        engine = shlex.join(COMMAND)
        for size, turn_ms, clock_ms in ((15, 200, 0), (15, 5000, 8000), (20, 5000, 8000)):
            with contextlib.redirect_stdout(io.StringIO()) as out:
                games = match.run(["--engine", engine, "--baseline", engine, "--rule", "renju",
                                   "--size", str(size), "--games", "1", "--turn-ms", str(turn_ms),
                                   "--match-ms", str(clock_ms),
                                   "--margin-ms", str(int(150 * SCALE))] + ["--crlf"] * CRLF)
            self.assertEqual(len(games), 2, out.getvalue())
            # The engine's narrower reading of a Renju foul may lose a game, nothing else.
            forfeits = [g.forfeit[3] for g in games if g.forfeit]
            self.assertEqual([f for f in forfeits if "forbidden" not in f], [], out.getvalue())

    def test_commands_at_random_moments(self):
        # Longer on demand: ZARVEL_STRESS_SECONDS=3600 turn_test.py ... -k random_moments
        for seed in (1, 2, 3):
            with self.subTest(seed=seed):
                seconds = float(os.environ.get("ZARVEL_STRESS_SECONDS", "10"))
                self.assertGreater(random_moments(seconds, seed), 0)

    @unittest.skipIf(SCALE != 1, "sanitizers and emulators hold memory of their own")
    def test_memory_stays_under_the_limit(self):
        # Peak resident memory after a search long enough to touch the hash tables: within
        # max_memory, whatever the threads; with no limit, the default tables (192 MiB) and
        # the rest. Gomocup's usual limit is 350 MB.
        for limit, threads in ((64 << 20, 1), (367001600, 1), (367001600, 4), (0, 4)):
            e = Engine(COMMAND, CRLF)
            self.addCleanup(e.close)
            status = "/proc/%d/status" % e.proc.pid
            if not os.path.exists(status):
                self.skipTest("no /proc here")
            e.talk(("INFO max_memory %d\nINFO thread_num %d\nINFO timeout_turn 3000\nSTART 20"
                    % (limit, threads), *R), (BUSY_BOARD, M), timeout=20)
            with open(status) as f:
                peak = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmHWM"))
            self.assertLess(peak, limit or 256 << 20, (limit, threads))
            e.end(10)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
