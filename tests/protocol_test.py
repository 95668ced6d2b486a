#!/usr/bin/env python3
"""Protocol transcripts through the real binary: replies, how command words and lines are
read, board sizes, take-back, the BOARD block, and how the engine ends.

    protocol_test.py --engine COMMAND [--crlf] [--timeout-scale S] [unittest arguments]

Each session is a fresh process that ends with ABOUT (so nothing unasked came before its
reply) and END or the end of input (exit code 0: a sanitizer report fails it). Which move the
engine picks is never assumed.
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, MOVE_RE as M, engine_command_from_args  # noqa: E402

COMMAND, CRLF, SCALE = None, False, 1.0
R = (re.compile(r"MESSAGE Zarvel [^ ]+ Demo :-\)"), "OK")
ABOUT = re.compile(r'name="Zarvel", author="Varnik", version="[^"]+", country="[^"]+", www="[^"]+"')
BAD = "ERROR bad coordinates"
SIZE = "ERROR size of the board"
RECT = "ERROR bad RECTSTART parameters"
BOARD_ERROR = "ERROR x,y,who or DONE expected after BOARD"


def size(width, height):
    """A new game whose edges PLAY (which does not think) probes."""
    corner = "%d,%d" % (width - 1, height - 1)
    return [("RESTART", *R), ("PLAY " + corner, corner), ("PLAY %d,0" % width, BAD),
            ("PLAY 0,%d" % height, BAD), ("RESTART", *R)]


class Protocol(unittest.TestCase):
    def open(self, *steps, crlf=None):
        """A new process through the steps; returns it and its replies."""
        e = Engine(COMMAND, crlf=CRLF if crlf is None else crlf, stderr=None)
        self.addCleanup(e.close)
        return e, e.talk(("INFO timeout_turn 300",), *steps, timeout=30.0 * SCALE)

    def end(self, e, *steps):
        """The steps, then ABOUT, END, no more output and exit code 0."""
        e.talk(*steps, ("ABOUT", ABOUT), ("END",), timeout=30.0 * SCALE)
        self.assertIsNone(e.read(10.0 * SCALE), "output after END")
        self.assertEqual(e.finish(10.0 * SCALE), 0)

    def session(self, *steps, crlf=None):
        self.end(self.open(*steps, crlf=crlf)[0])

    def test_replies(self):
        self.session(("START 15", *R), ("RECTSTART 20,15", *R), ("RESTART", *R),
                     *[(text, "UNKNOWN command") for text in ("", " TURN 3,3", "\tSTART 15", "FOO",
                                                              "SWAP2BOARD", "X" * 9000)],
                     ("INFO max_memory 83886080\nINFO timeout_match 300000\nINFO game_type 1\n"
                      "INFO rule 1\ninfo RULE 0\nINFO folder C:\\data\nINFO evaluate 7,7\nINFO\n"
                      "INFO timeout_turn\nINFO time_left -5\nINFO folder " + "d" * 9000 + "\n"
                      "INFO time_left 99999999999999999999\nINFO timeout_match 99999999999\n"
                      "INFO timeout_turn 300",),
                     ("ABOUT" + " " * 9000, ABOUT), ("PLAY 3,4" + " " * 9000, "3,4"),
                     *[(text, BAD) for text in ("PLAY 3", "PLAY 15,3", "PLAY -1,0", "PLAY a,b",
                                                "TURN 99999999999,3", "TURN -99999999999,3")],
                     ("TURN 7,7", M))

    def test_command_words_ignore_case_and_match_by_prefix(self):
        self.session(("start 15", *R), ("Start 16", *R), *size(16, 16),
                     ("STARTED 15", *R), *size(16, 16), ("about", ABOUT))

    def test_board_sizes(self):
        self.session(("START 20", *R), ("START", *R), *size(20, 20),  # no number: the size stays
                     ("START 15", *R), ("START 0", *R, *R), *size(20, 20),  # the default board
                     ("START 15", *R),
                     *[(text, SIZE) for text in ("START 23", "START 5 23", "START -3",
                                                 "RECTSTART 20,23", "RECTSTART 15,0",
                                                 "START 99999999999")],
                     ("RECTSTART 20", RECT), ("RECTSTART", RECT), *size(15, 15),
                     *[step for params in ("20,15", "20 ,15", "20, 15")  # height, then width
                       for step in (("RECTSTART " + params, *R), ("TURN 16,3", BAD),
                                    ("TURN 3,16", re.compile(r"(1[0-4]|\d),(1\d|\d)")))],
                     ("RECTSTART 1,22", *R), *size(22, 1), ("BEGIN", re.compile(r"\d+,0")),
                     ("RECTSTART 22,1", *R), *size(1, 22), ("TURN 0,0", re.compile(r"0,\d+")))

    def test_commands_before_start_take_the_default_board(self):
        self.session(("START", *R, *R), *size(20, 20))
        self.session(("RESTART", *R, *R), *size(20, 20))
        self.session(("TURN 7,7", *R, M), *size(20, 20))

    def test_crlf_line_ends(self):
        self.session(("START 15", *R), ("PLAY 14,14", "14,14"), ("TAKEBACK 14,14", "OK"),
                     ("BOARD\n7,7,1\n8,8,2\nDONE", M), ("RECTSTART 20,15", *R),
                     ("PLAY 14,19", "14,19"), crlf=True)

    def test_takeback_and_occupied_squares(self):
        # Before the board is built (no turn yet), then with the engine's move on it.
        e, got = self.open(("START 15", *R), ("TAKEBACK 3,3", BAD), ("PLAY 7,7", "7,7"),
                           ("PLAY 7,7", "ERROR my move [7,7]", "7,7"), ("PLAY 8,8", "8,8"),
                           ("TAKEBACK 3,3", BAD), ("TAKEBACK 7,7", BAD), ("TAKEBACK 15,0", BAD),
                           ("TAKEBACK 8,8", "OK"), ("TAKEBACK 7,7", "OK"), ("TAKEBACK 7,7", BAD),
                           ("PLAY 7,7", "7,7"), ("TURN 7,7", "ERROR opponents's move [7,7]", M))
        m = got[-1]
        self.end(e, ("PLAY 7,7", "ERROR my move [7,7]", "7,7"),
                 ("PLAY " + m, "ERROR my move [%s]" % m, m),
                 ("TAKEBACK 7,7", BAD), ("TAKEBACK " + m, "OK"), ("TAKEBACK 7,7", "OK"),
                 ("PLAY 7,7", "7,7"), ("PLAY " + m, m))
        # Under Renju the board is built from the start.
        self.session(("INFO rule 4\nSTART 15", *R), ("PLAY 7,7", "7,7"),
                     ("PLAY 7,7", "ERROR my move [7,7]", "7,7"), ("TURN 8,8", M))

    def test_board_block(self):
        self.session(("START 15", *R), ("BOARD\n7,7,1\n8,8,2\ndone", M),
                     # BOARD starts the game afresh: the same stones again are no error.
                     ("BOARD\n7,7,1\n8,8,2\n7,8,1\nDone", M),
                     ("BOARD\n7,7,1\n8,8,2\n7,8,1\nDONE", M),
                     # A bad line ends the block; the engine then moves.
                     ("BOARD\n7,7,1\n10,10", BOARD_ERROR, M),
                     ("BOARD\n7,7,2\nDONE ", BOARD_ERROR, M),
                     ("BOARD\n7,7,1\n7,7,4", BOARD_ERROR, M),
                     ("BOARD\n5,5,3\n5,5,1\n6,6,2\n6,6,3\n4,4,3\ndone",
                      "ERROR my move [5,5]", "ERROR board-block move [6,6]", M))

    def test_end_of_input(self):
        # Inside a BOARD block (the last line cut short), and after a turn.
        for step, partial in ((("BOARD\n7,7,1\n8,8,2",), "9,9,1"), (("TURN 7,7", M), "")):
            e, _ = self.open(("START 15", *R), step)
            e.send(partial, raw=True)
            e.close_input()
            self.assertIsNone(e.read(10.0 * SCALE), e.dump())
            self.assertEqual(e.finish(10.0 * SCALE), 0)


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    if "--timeout-scale" in rest:
        i = rest.index("--timeout-scale")
        SCALE = float(rest.pop(i + 1))
        del rest[i]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
