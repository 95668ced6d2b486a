"""Drives a brain through pipes: send protocol lines, read reply lines with time bounds. Used by
every pipe test and the self-play and match tools. The engine command is a list, so the same
tests run the Linux binary or a Windows executable under Wine."""
import argparse
import os
import queue
import re
import shlex
import subprocess
import threading

MOVE_RE = re.compile(r"^-?\d+,-?\d+$")
ABOUT_RE = re.compile(r'name="Zarvel", author="Varnik", version="([^"]+)", country="[^"]+", '
                      r'www="[^"]+"')
RESET = (re.compile(r"MESSAGE Zarvel [^ ]+ Demo :-\)"), "OK")  # START, RESTART, the default board
SPEED = re.compile(r"MESSAGE Speed=\d+")
PASS = ("MESSAGE pass", "-1,-1")
DRAW = ("MESSAGE It's a draw", "")
BAD = "ERROR bad coordinates"
SIZE = "ERROR size of the board"
RECT = "ERROR bad RECTSTART parameters"
BLOCK_END = "ERROR x,y,who or DONE expected after BOARD"
UNKNOWN = "UNKNOWN command"
CHATTER = re.compile(r"MESSAGE (Rule|Speed=)")  # lines that vary with timing and history


class EngineError(AssertionError):
    pass


def matches(want, line):
    """A string must equal the line, a pattern match it whole."""
    return line is not None and (want.fullmatch(line) if isinstance(want, re.Pattern)
                                 else line == want)


def board_text(*records, blocks=()):
    """BOARD with the records in order (colours alternate from the first player; 'who' is 1 for
    the side to move) and the blocks."""
    to_move = len(records) % 2
    lines = ["%d,%d,%d" % (x, y, 1 if i % 2 == to_move else 2) for i, (x, y) in enumerate(records)]
    return "\n".join(["BOARD"] + lines + ["%d,%d,3" % b for b in blocks] + ["DONE"])


class Engine:
    def __init__(self, command, crlf=False, stderr=subprocess.DEVNULL):
        self.crlf = crlf
        self.proc = subprocess.Popen(list(command), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=stderr, bufsize=0)
        self.lines = queue.Queue()
        self.transcript = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        if os.environ.get("ZARVEL_TEST_THREADS"):  # the thread runs search with helpers
            self.send("INFO thread_num " + os.environ["ZARVEL_TEST_THREADS"])

    def _read(self):
        buffer = b""
        while chunk := self.proc.stdout.read(65536):  # raw pipe: what is there
            buffer += chunk
            *lines, buffer = buffer.split(b"\n")
            for line in lines:
                self.lines.put(line.rstrip(b"\r").decode("latin-1"))
        if buffer:
            self.lines.put(buffer.decode("latin-1"))
        self.lines.put(None)  # end of output

    def fail(self, why):
        raise EngineError("%s; transcript:\n%s" % (why, self.dump()))

    def send(self, data):
        """Sends text as lines (several joined by newlines), bytes as they are."""
        if isinstance(data, str):
            end = "\r\n" if self.crlf else "\n"
            data = "".join(line + end for line in data.split("\n")).encode("latin-1")
        self.transcript.append((">", data))
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            self.fail("engine closed its input")

    def read(self, timeout=10.0):
        """Next reply line; raises on timeout; None when the engine's output ended."""
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            self.fail("no reply within %.1f s" % timeout)
        self.transcript.append(("<", line))
        return line

    def expect(self, *expected, timeout=10.0):
        """Reads the expected replies in order: strings, or patterns that must match whole.
        Rule and speed messages that do not match the next expected reply are skipped."""
        got = []
        for want in expected:
            line = self.read(timeout)
            while not (ok := matches(want, line)) and CHATTER.match(line or ""):
                line = self.read(timeout)
            ok or self.fail("expected %r, got %r" % (want, line))
            got.append(line)
        return got

    def talk(self, *steps, timeout=10.0):
        """Each step: the text to send (lines joined by newlines), then the replies expected.
        Returns the replies read."""
        got = []
        for text, *replies in steps:
            self.send(text)
            got += self.expect(*replies, timeout=timeout)
        return got

    def square(self, line, size, occupied=()):
        """The move line as (x, y): a free square of the board of size (width, height)."""
        if not MOVE_RE.match(line):
            self.fail("expected a move, got %r" % line)
        x, y = map(int, line.split(","))
        if not (0 <= x < size[0] and 0 <= y < size[1]) or (x, y) in occupied:
            self.fail("move %d,%d is no free square of the %dx%d board" % (x, y, *size))
        return x, y

    def expect_silence(self, seconds=0.3):
        try:
            self.fail("expected no reply, got %r" % self.lines.get(timeout=seconds))
        except queue.Empty:
            pass

    def close_input(self):
        self.proc.stdin.close()

    def finish(self, timeout=10.0):
        """Waits for the process to end and returns its exit code."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.fail("engine did not exit")

    def end(self, timeout=10.0, by_eof=False):
        """END (or the end of input): no more output and exit code 0."""
        self.close_input() if by_eof else self.send("END")
        if self.read(timeout) is not None or self.finish(timeout) != 0:
            self.fail("output at the end or exit code %r" % self.proc.poll())

    def kill(self):
        self.proc.kill()  # no-op once the process has ended
        self.proc.wait()

    def close(self):
        """Kills the process if need be and closes the pipes."""
        self.kill()
        self.reader.join(5)
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass  # a broken pipe

    def dump(self):
        return "\n".join("%s %r" % (d, "<end of output>" if data is None else data[:200])
                         for d, data in self.transcript[-60:])


def engine_command_from_args(argv=None, description=""):
    """Parses --engine (a command line, e.g. 'wine build-win64/pbrain-zarvel.exe') and --crlf."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--engine", required=True, help="command that starts the engine")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR-LF")
    args, rest = parser.parse_known_args(argv)
    return shlex.split(args.engine), args.crlf, rest
