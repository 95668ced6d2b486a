#!/usr/bin/env python3
"""The engine in a board GUI, through the real binary, as one session the way such GUIs talk:
lower-case commands, START before each; YXBOARD, the Renju forbidden squares against the
referee's rule, the limits, the INFO keys such GUIs send, hash clearing, a wide RECTSTART;
Swap2 openings (SWAP2BOARD) of 0, 3 and 5 stones: well formed, legal, in time, and the game
record after each answer; analysis: YXNBEST with show_detail's INFO blocks and realtime lines,
max_depth, max_node, no time limit ended by YXSTOP. START must stay fast: the tables are kept."""
import os
import random
import re
import statistics
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools")]
from engine_driver import (ABOUT_RE, BAD, BLOCK_END, RESET, Engine,  # noqa: E402
                           board_text, engine_command_from_args)
import referee  # noqa: E402

COMMAND, CRLF = None, False
SCALE = float(os.environ.get("ZARVEL_TIME_SCALE", "1"))
SQUARE = re.compile(r"(\d+),(\d+)")
SWAP2_ERROR = re.compile(r"ERROR .*SWAP2BOARD.*")
REALTIME = re.compile(r"MESSAGE REALTIME (REFRESH|(POS|DONE|LOST|BEST) \d+,\d+)")
EVAL = r"[+-]M[1-9]\d*|-?\d+"
INFO_FORMS = {"PV": r"\d+", "NUMPV": r"[1-9]\d*", "DEPTH": r"\d+", "SELDEPTH": r"\d+",
              "NODES": r"\d+", "TOTALNODES": r"\d+", "TOTALTIME": r"\d+", "SPEED": r"\d+",
              "EVAL": EVAL, "WINRATE": r"0(\.\d+)?|1(\.0+)?", "BESTLINE": r"\d+,\d+( \d+,\d+)*"}


def eval_order(text):
    """An INFO EVAL value as a number that sorts as the values do."""
    k = text[2:] if "M" in text else None
    return (10**9 - int(k)) * (1 if text[0] == "+" else -1) if k else int(text)


class GuiSession(unittest.TestCase):
    def setUp(self):
        self.e = Engine(COMMAND, CRLF)
        self.addCleanup(self.e.close)
        self.starts = []

    def cmd(self, text, *replies, size=15, rule=4, timeout=10):
        """INFO rule and START as a GUI sends them before a command, START timed."""
        self.e.talk(("info rule %d" % rule,))
        began = time.monotonic()
        self.e.talk(("start %d" % size, *RESET))
        self.starts.append(time.monotonic() - began)
        return self.e.talk((text, *replies), timeout=timeout)

    def record_is(self, stones):
        """The game record holds exactly these moves: taken back from the last, then none."""
        self.e.talk(*[("takeback %d,%d" % s, "OK") for s in reversed(stones)],
                    ("takeback 0,0", BAD))

    def forbid(self, stones, rule=4):
        line = self.cmd(board_text(*stones).replace("BOARD", "yxboard") + "\nyxshowforbid",
                        re.compile(r"FORBID (\d{4})*\."), rule=rule)[0]
        return {(int(q[:2]), int(q[2:])) for q in re.findall(r"\d{4}", line)}

    def swap2(self, stones, rule, timeout_ms, plain):
        """SWAP2BOARD with the stones (in order of play); checks the answer and the record."""
        n, e = len(stones), self.e
        lines = ["%d,%d" % s if plain else "%d,%d,%d" % (*s, 1 + (i % 2 != n % 2))
                 for i, s in enumerate(stones)]
        self.cmd("info timeout_turn %d" % timeout_ms, rule=rule)
        began = time.monotonic()
        answer = e.talk(("\n".join(["swap2board", *(lines if plain else lines[1::2] + lines[::2]),
                         "done"]), re.compile(r"SWAP|\d+,\d+( \d+,\d+){0,2}")))[0]
        self.assertLess(time.monotonic() - began, timeout_ms / 1000 + 0.3 * SCALE, e.dump())
        added = [tuple(map(int, q)) for q in SQUARE.findall(answer)]
        self.assertIn(len(added), {0: [3], 3: [0, 1, 2], 5: [0, 1]}[n], e.dump())
        board = referee.Board(15, 15)
        for i, (x, y) in enumerate(stones + added):
            if i >= n:
                self.assertIsNone(referee.move_fault(board, rule // 2, i % 2 + 1, x, y), e.dump())
            board.cells[x][y] = i % 2 + 1
        self.record_is(stones + added)

    def analyse(self, text, stones=None):
        """Sends the text (after the position, when given); reads up to the move line. Returns
        the final INFO block of each PV index, the realtime lines, the seconds taken and the
        move; checks the forms."""
        if stones:
            self.cmd(board_text(*stones).replace("BOARD", "yxboard"), rule=0)
        began, blocks, block, realtime, e = time.monotonic(), {}, {}, [], self.e
        e.send(text)
        while not SQUARE.fullmatch(line := e.read()):
            if line == "INFO PV DONE":
                self.assertEqual(set(block), set(INFO_FORMS), e.dump())
                blocks[int(block["PV"])], block = block, {}
            elif line.startswith("INFO "):
                key, value = line[5:].split(" ", 1)
                self.assertRegex(value, "^(%s)$" % INFO_FORMS[key], e.dump())
                block[key] = value
            elif not line.startswith("MESSAGE Rule"):
                self.assertRegex(line, REALTIME, e.dump())
                realtime.append(line)
        return blocks, realtime, time.monotonic() - began, line

    def test_gui_session(self):
        e, rng = self.e, random.Random(17)
        e.talk(("yxhashclear\nyxshowinfo", re.compile(r"MESSAGE INFO MAX_THREAD_NUM ([1-9]|[1-5]\d"
                r"|6[0-4])"), re.compile("MESSAGE INFO MAX_HASH_SIZE (20|22)")))
        keys = ("caution_factor 4 pondering 0 time_increment 0 nbestsym 1 checkmate 0 vcthread 0 "
                "start_depth 2 usedatabase 0 thread_split_depth 5 strength 100 swapable 1 "
                "show_detail 0 max_depth -1 max_node 0 unknown_key 3").split()
        e.talk(("\n".join("INFO %s %s" % kv for kv in zip(keys[::2], keys[1::2])) + "\nabout",
                ABOUT_RE), ("yxhashclear\nabout", ABOUT_RE))
        # A wide board: the width comes first.
        self.cmd("rectstart 22,10\nturn 21,9\nturn 0,10", *RESET, re.compile(r"(1?\d|2[01]),\d"), BAD)
        # YXBOARD sets the position and moves nothing; stones may follow the word.
        self.cmd("yxboard 7,7,1 8,8,2 done\nyxboard\n7,7,2\n5,5,0", BLOCK_END, rule=0)
        self.record_is([(7, 7)])
        self.cmd("yxboard 6,6,2\n7,7,1\ndone\nabout", ABOUT_RE)
        self.record_is([(6, 6), (7, 7)])
        # FORBID: the referee's rule (the engine's narrower reading of a three), Renju only,
        # and only with the first player to move.
        x3 = [(5, 7), (0, 0), (6, 7), (0, 2), (7, 5), (0, 4), (7, 6), (14, 14)]
        self.assertIn((7, 7), self.forbid(x3))
        self.assertEqual(self.forbid(x3, rule=0), set())
        self.assertEqual(self.forbid(x3[:-1]), set())
        found = 0
        for _ in range(40):
            stones = rng.sample([(x, y) for x in range(3, 12) for y in range(3, 12)],
                                2 * rng.randint(5, 14))
            board = referee.Board(15, 15)
            for i, (x, y) in enumerate(stones):
                board.cells[x][y] = i % 2 + 1
            if any(max(referee.run_lengths(board, x, y, board.at(x, y))) >= 5 for x, y in stones):
                continue
            want = {q for q in board.empty_squares() if referee.renju_forbidden(board, *q, True)}
            self.assertEqual(self.forbid(stones), want, e.dump())
            found += len(want)
        self.assertGreater(found, 10)
        # Swap2: both stone forms, free-style and Renju; wrong blocks are refused.
        centre = [(x, y) for x in range(4, 11) for y in range(4, 11)]
        for i in range(24):
            stones = rng.sample(centre, rng.choice([0, 3, 5]))
            self.swap2(stones, 4 * (i >= 12), 200 if i % 12 else 1000, plain=i % 2 == 0)
        # The searches' shares of the budget stand in for the turn time only while they run.
        self.swap2([], 4, 400, plain=True)
        began = time.monotonic()
        self.cmd("turn 7,7", re.compile(r"\d+,\d+"))
        self.assertGreater(time.monotonic() - began, 0.3, e.dump())
        for block, bad_line in (("7,7\n8,8", 0), ("7,7,1\n8,8,1\n9,9,1", 0), ("7,7\n7,7\n8,8", 0),
                                ("7,7\n8,8,3", 1), ("15,1", 1)):  # a bad line ends the block
            self.cmd("swap2board\n%s\ndone\nabout" % block, SWAP2_ERROR,
                     *["UNKNOWN command"] * bad_line, ABOUT_RE)
        # Thinking on the think thread: ABOUT at once, YXSTOP answers.
        e.send("info timeout_turn 30000")
        self.cmd("swap2board\n7,7\n7,8\n9,9\ndone\nabout", ABOUT_RE)
        began = time.monotonic()
        e.talk(("yxstop", re.compile(r"SWAP|\d+,\d+( \d+,\d+)?")))
        self.assertLess(time.monotonic() - began, 0.5 * SCALE, e.dump())
        # Analysis: the n best moves, distinct, values not rising, each line legal from the
        # position; the position stays as it was; realtime lines throttled.
        stones = [(7, 7), (8, 8), (7, 8), (6, 6)]
        e.send("info timeout_turn 1200\ninfo show_detail 3")
        blocks, realtime, spent, move = self.analyse("yxnbest 3", stones)
        self.assertEqual(sorted(blocks), [0, 1, 2], e.dump())
        values = [eval_order(blocks[i]["EVAL"]) for i in range(3)]
        self.assertEqual(values, sorted(values, reverse=True), e.dump())
        lines = [[tuple(map(int, q)) for q in SQUARE.findall(blocks[i]["BESTLINE"])] for i in range(3)]
        self.assertEqual(len({line[0] for line in lines}), 3, e.dump())
        self.assertEqual(move, "%d,%d" % lines[0][0], e.dump())
        for line in lines:
            board = referee.Board(15, 15)
            for i, (x, y) in enumerate(stones + line):
                colour = i % 2 + 1
                self.assertIsNone(referee.move_fault(board, 0, colour, x, y), e.dump())
                board.cells[x][y] = colour
        self.assertTrue(realtime, e.dump())
        self.assertLess(len(realtime), spent / 0.1 + 2, e.dump())
        self.record_is(stones)
        e.talk(("yxnbest 0", re.compile("ERROR .*")))
        # A five at once is a win in 1; a depth limit answers soon.
        four = [(7, 3), (0, 0), (7, 4), (0, 2), (7, 5), (0, 4), (7, 6), (14, 14)]
        blocks, _, _, move = self.analyse("yxnbest 1", four)
        self.assertEqual((blocks[0]["EVAL"], blocks[0]["WINRATE"]), ("+M1", "1.0000"), e.dump())
        self.assertIn(move, ("7,2", "7,7"))
        e.send("info show_detail 2\ninfo max_depth 2\ninfo timeout_turn 30000")
        blocks, _, spent, _ = self.analyse("yxnbest 1", stones)
        self.assertEqual(blocks[0]["DEPTH"], "2", e.dump())
        self.assertLess(spent, 1 * SCALE, e.dump())
        e.send("info max_depth 0\ninfo max_node 3000")
        blocks, _, _, _ = self.analyse("yxnbest 1", stones)
        self.assertLessEqual(int(blocks[0]["NODES"]), 3000, e.dump())
        # No time limit: the analysis goes on until YXSTOP, which answers one move at once.
        e.talk(("info max_node 0\ninfo show_detail 0\ninfo timeout_turn -1\nyxnbest 2\nabout", ABOUT_RE))
        e.expect_silence(0.5)
        self.assertLess(self.analyse("yxstop")[2], 0.1 * SCALE, e.dump())
        e.talk(("about", ABOUT_RE))
        self.assertLess(statistics.median(self.starts[1:]), 0.01 * SCALE)
        e.end()


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    unittest.main(argv=[sys.argv[0]] + rest)
