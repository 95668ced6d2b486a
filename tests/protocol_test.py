#!/usr/bin/env python3
"""Protocol transcripts through the real binary: the replies to the board commands, how
command words and lines are read, the BOARD block, take-back, and how the engine ends.

    protocol_test.py --engine COMMAND [--crlf] [--timeout-scale S] [unittest arguments]

Turns are kept short with INFO timeout_turn; which move the engine picks is never assumed,
only that it is a free square of the board. Every read has a time bound, and every session
must end with exit code 0 (a sanitizer report ends it otherwise).
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from engine_driver import Engine, EngineError, MOVE_RE, engine_command_from_args  # noqa: E402

COMMAND, CRLF, SCALE = None, False, 1.0
RESET = ("MESSAGE Zarvel 1.0 Demo :-)", "OK")
ABOUT_RE = re.compile(r'^name="Zarvel", author="Varnik", version="[^"]+", country="[^"]+", '
                      r'www="[^"]+"$')
BAD_COORDINATES = "ERROR bad coordinates"
BOARD_ERROR = "ERROR x,y,who or DONE expected after BOARD"


class ProtocolCase(unittest.TestCase):
    def setUp(self):
        self.engines = []
        self.e = self.start()

    def tearDown(self):
        for engine in self.engines:
            if engine.proc.poll() is None:
                try:
                    engine.send("END")
                    code = engine.finish(10.0 * SCALE)
                except EngineError:
                    engine.kill()
                    raise
                self.assertEqual(code, 0, "exit code after END; transcript:\n" + engine.dump())
            else:
                engine.kill()
            engine.reader.join(10.0 * SCALE)
            for pipe in (engine.proc.stdin, engine.proc.stdout):
                if not pipe.closed:
                    pipe.close()

    def start(self, crlf=None):
        engine = Engine(COMMAND, crlf=CRLF if crlf is None else crlf, stderr=None)
        self.engines.append(engine)
        engine.send("INFO timeout_turn 300")
        return engine

    # Replies.

    def expect(self, *lines, engine=None):
        (engine or self.e).expect(*lines, timeout=10.0 * SCALE)

    def nothing_else(self, engine=None):
        """The next reply answers an ABOUT sent now: nothing else came before it."""
        engine = engine or self.e
        engine.send("ABOUT")
        line = engine.read(10.0 * SCALE)
        if line is None or not ABOUT_RE.match(line):
            raise EngineError("expected only the ABOUT reply, got %r; transcript:\n%s"
                              % (line, engine.dump()))

    def move(self, width, height, occupied=(), engine=None):
        """Reads one turn's lines up to the move; the move must be a free square."""
        engine = engine or self.e
        while True:
            line = engine.read(30.0 * SCALE)
            if line is None:
                raise EngineError("output ended before a move; transcript:\n" + engine.dump())
            if MOVE_RE.match(line):
                x, y = (int(n) for n in line.split(","))
                if not (0 <= x < width and 0 <= y < height) or (x, y) in occupied:
                    raise EngineError("move %d,%d is not a free square; transcript:\n%s"
                                      % (x, y, engine.dump()))
                return x, y
            if not (line.startswith("MESSAGE") or line == ""):
                raise EngineError("unexpected %r during a turn; transcript:\n%s"
                                  % (line, engine.dump()))

    def command(self, text, *replies, engine=None):
        (engine or self.e).send(text)
        self.expect(*replies, engine=engine)

    def assert_size(self, width, height):
        """Starts a new game and probes the board's edges with PLAY (which does not think)."""
        self.command("RESTART", *RESET)
        self.command("PLAY %d,%d" % (width - 1, height - 1), "%d,%d" % (width - 1, height - 1))
        self.command("PLAY %d,0" % width, BAD_COORDINATES)
        self.command("PLAY 0,%d" % height, BAD_COORDINATES)
        self.command("RESTART", *RESET)

    def end_of_input(self):
        """Closes the engine's input; returns its exit code and every line it wrote after."""
        self.e.close_input()
        code = self.e.finish(10.0 * SCALE)
        lines = []
        while True:
            line = self.e.read(10.0 * SCALE)
            if line is None:
                return code, lines
            lines.append(line)


class Replies(ProtocolCase):
    def test_new_games_answer_the_reset_lines(self):
        self.command("START 15", *RESET)
        self.command("RECTSTART 20,15", *RESET)
        self.command("RESTART", *RESET)
        self.nothing_else()

    def test_about_is_one_line_of_five_fields(self):
        self.e.send("ABOUT")
        line = self.e.read(10.0 * SCALE)
        self.assertRegex(line, ABOUT_RE)
        self.assertTrue(line.startswith('name="Zarvel", author="Varnik", '))
        self.nothing_else()

    def test_unknown_commands(self):
        for text in ("", " TURN 3,3", "\tSTART 15", "FOO", "SWAP2BOARD"):
            self.command(text, "UNKNOWN command")
        self.nothing_else()

    def test_info_is_never_answered(self):
        self.command("START 15", *RESET)
        for text in ("INFO max_memory 83886080", "INFO timeout_match 300000", "INFO game_type 1",
                     "INFO rule 1", "info RULE 0", "INFO folder C:\\data", "INFO evaluate 7,7",
                     "INFO", "INFO timeout_turn", "INFO time_left -5", "INFO timeout_turn 300"):
            self.e.send(text)
        self.nothing_else()

    def test_huge_numbers_saturate(self):
        self.command("START 15", *RESET)
        self.e.send("INFO time_left 99999999999999999999")
        self.e.send("INFO timeout_match 99999999999")
        self.nothing_else()
        self.e.send("TURN 7,7")
        self.move(15, 15, {(7, 7)})
        self.command("TURN 99999999999,3", BAD_COORDINATES)
        self.command("TURN -99999999999,3", BAD_COORDINATES)
        self.command("START 99999999999", "ERROR size of the board")
        self.nothing_else()


class Matching(ProtocolCase):
    def test_command_words_ignore_case_and_match_by_prefix(self):
        self.command("start 15", *RESET)
        self.command("Start 16", *RESET)
        self.assert_size(16, 16)
        self.command("STARTED 15", *RESET)  # START with no number: the size stays
        self.assert_size(16, 16)
        self.e.send("about")
        self.assertRegex(self.e.read(10.0 * SCALE), ABOUT_RE)

    def test_start_without_a_number_keeps_the_size(self):
        self.command("START 20", *RESET)
        self.command("START", *RESET)
        self.assert_size(20, 20)

    def test_first_start_without_a_number_takes_the_default_board(self):
        self.command("START", *(RESET + RESET))
        self.assert_size(20, 20)

    def test_start_zero_takes_the_default_board(self):
        self.command("START 15", *RESET)
        self.command("START 0", *(RESET + RESET))
        self.assert_size(20, 20)

    def test_bad_sizes_keep_the_board_in_force(self):
        self.command("START 15", *RESET)
        for text in ("START 23", "START 5 23", "START -3", "RECTSTART 20,23", "RECTSTART 15,0"):
            self.command(text, "ERROR size of the board")
        self.command("RECTSTART 20", "ERROR bad RECTSTART parameters")
        self.command("RECTSTART", "ERROR bad RECTSTART parameters")
        self.e.send("TURN 14,14")
        self.move(15, 15, {(14, 14)})
        self.command("TURN 15,14", BAD_COORDINATES)
        self.command("TURN 14,15", BAD_COORDINATES)
        self.nothing_else()

    def test_rectstart_height_then_width(self):
        for params in ("20,15", "20 ,15", "20, 15"):
            self.command("RECTSTART " + params, *RESET)
            self.command("TURN 16,3", BAD_COORDINATES)
            self.nothing_else()
            self.e.send("TURN 3,16")
            self.move(15, 20, {(3, 16)})

    def test_one_square_wide_boards(self):
        self.command("RECTSTART 1,22", *RESET)
        self.assert_size(22, 1)
        self.e.send("BEGIN")
        self.move(22, 1)
        self.command("RECTSTART 22,1", *RESET)
        self.assert_size(1, 22)
        self.e.send("TURN 0,0")
        self.move(1, 22, {(0, 0)})

    def test_turn_before_start_plays_on_the_default_board(self):
        self.command("TURN 7,7", *RESET)
        self.move(20, 20, {(7, 7)})

    def test_restart_before_start(self):
        self.command("RESTART", *(RESET + RESET))
        self.assert_size(20, 20)


class Lines(ProtocolCase):
    def test_crlf_line_ends(self):
        e = self.start(crlf=True)
        self.command("START 15", *RESET, engine=e)
        self.command("PLAY 14,14", "14,14", engine=e)
        self.command("TAKEBACK 14,14", "OK", engine=e)
        for text in ("BOARD", "7,7,1", "8,8,2", "DONE"):
            e.send(text)
        self.move(15, 15, {(7, 7), (8, 8)}, engine=e)
        self.command("RECTSTART 20,15", *RESET, engine=e)
        self.command("PLAY 14,19", "14,19", engine=e)
        self.nothing_else(engine=e)

    def test_long_lines_are_one_command(self):
        self.command("START 15", *RESET)
        self.e.send("INFO folder " + "d" * 9000)
        self.nothing_else()
        self.command("X" * 9000, "UNKNOWN command")
        self.nothing_else()
        self.e.send("ABOUT" + " " * 9000)
        self.assertRegex(self.e.read(10.0 * SCALE), ABOUT_RE)
        self.e.send("PLAY 3,4" + " " * 9000)
        self.expect("3,4")
        self.nothing_else()


class Game(ProtocolCase):
    def test_play_echoes_the_move(self):
        self.command("START 15", *RESET)
        self.command("PLAY 3,4", "3,4")
        for text in ("PLAY 3", "PLAY 15,3", "PLAY -1,0", "PLAY a,b"):
            self.command(text, BAD_COORDINATES)
        self.nothing_else()

    def test_takeback_only_of_the_last_move(self):
        self.command("START 15", *RESET)
        self.command("TAKEBACK 3,3", BAD_COORDINATES)  # nothing played yet
        self.command("PLAY 7,7", "7,7")
        self.command("PLAY 8,8", "8,8")
        self.command("TAKEBACK 3,3", BAD_COORDINATES)  # an empty square
        self.command("TAKEBACK 7,7", BAD_COORDINATES)  # not the last move
        self.command("TAKEBACK 15,0", BAD_COORDINATES)
        self.command("TAKEBACK 8,8", "OK")
        self.command("TAKEBACK 7,7", "OK")
        self.command("TAKEBACK 7,7", BAD_COORDINATES)
        # With the board built: the engine's move and the opponent's go, the squares are free.
        self.e.send("TURN 7,7")
        x, y = self.move(15, 15, {(7, 7)})
        self.command("TAKEBACK %d,%d" % (x, y), "OK")
        self.command("TAKEBACK 7,7", "OK")
        self.command("PLAY 7,7", "7,7")
        self.command("PLAY %d,%d" % (x, y), "%d,%d" % (x, y))
        self.nothing_else()

    def test_a_square_is_played_once(self):
        self.command("START 15", *RESET)
        self.command("PLAY 7,7", "7,7")
        self.command("PLAY 7,7", "ERROR my move [7,7]", "7,7")
        self.e.send("TURN 7,7")
        self.expect("ERROR opponents's move [7,7]")
        x, y = self.move(15, 15, {(7, 7)})
        self.command("PLAY 7,7", "ERROR my move [7,7]", "7,7")
        self.command("PLAY %d,%d" % (x, y), "ERROR my move [%d,%d]" % (x, y), "%d,%d" % (x, y))
        self.nothing_else()

    def test_renju_checks_squares_from_the_start(self):
        self.e.send("INFO rule 4")
        self.command("START 15", *RESET)
        self.command("PLAY 7,7", "7,7")
        self.command("PLAY 7,7", "ERROR my move [7,7]", "7,7")
        self.e.send("TURN 8,8")
        self.move(15, 15, {(7, 7), (8, 8)})
        self.nothing_else()


class BoardBlock(ProtocolCase):
    def board(self, *lines):
        for text in ("BOARD",) + lines:
            self.e.send(text)

    def test_stones_then_done(self):
        self.command("START 15", *RESET)
        self.board("7,7,1", "8,8,2", "done")
        self.move(15, 15, {(7, 7), (8, 8)})
        self.nothing_else()

    def test_the_same_position_twice(self):
        self.command("START 15", *RESET)
        for _ in range(2):
            self.board("7,7,1", "8,8,2", "7,8,1", "Done")
            self.move(15, 15, {(7, 7), (8, 8), (7, 8)})
        self.nothing_else()

    def test_a_bad_line_ends_the_block(self):
        self.command("START 15", *RESET)
        self.board("7,7,1", "10,10")
        self.expect(BOARD_ERROR)
        self.move(15, 15, {(7, 7)})
        self.board("7,7,2", "DONE ")
        self.expect(BOARD_ERROR)
        self.move(15, 15, {(7, 7)})
        self.board("7,7,1", "7,7,4")
        self.expect(BOARD_ERROR)
        self.move(15, 15, {(7, 7)})
        self.nothing_else()

    def test_blocks_and_occupied_squares(self):
        self.command("START 15", *RESET)
        self.board("5,5,3", "5,5,1", "6,6,2", "6,6,3", "4,4,3", "done")
        self.expect("ERROR my move [5,5]", "ERROR board-block move [6,6]")
        self.move(15, 15, {(5, 5), (6, 6), (4, 4)})
        self.nothing_else()

    def test_end_of_input_inside_the_block(self):
        self.command("START 15", *RESET)
        self.board("7,7,1", "8,8,2")
        code, lines = self.end_of_input()
        self.assertEqual(code, 0)
        self.assertEqual(lines, [])

    def test_partial_last_line_is_not_a_stone(self):
        self.command("START 15", *RESET)
        self.board("7,7,1")
        self.e.send("8,8,2", raw=True)
        code, lines = self.end_of_input()
        self.assertEqual(code, 0)
        self.assertEqual(lines, [])


class Ending(ProtocolCase):
    def test_end(self):
        self.command("START 15", *RESET)
        self.e.send("END")
        self.assertEqual(self.e.finish(10.0 * SCALE), 0)
        self.assertIsNone(self.e.read(10.0 * SCALE))

    def test_end_of_input(self):
        self.command("START 15", *RESET)
        self.assertEqual(self.end_of_input(), (0, []))

    def test_end_of_input_after_a_turn(self):
        self.command("START 15", *RESET)
        self.e.send("TURN 7,7")
        self.move(15, 15, {(7, 7)})
        self.assertEqual(self.end_of_input(), (0, []))


if __name__ == "__main__":
    COMMAND, CRLF, rest = engine_command_from_args(description=__doc__)
    if "--timeout-scale" in rest:
        i = rest.index("--timeout-scale")
        SCALE = float(rest[i + 1])
        del rest[i:i + 2]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
