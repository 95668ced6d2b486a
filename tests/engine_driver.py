"""Drives a brain through pipes: send protocol lines, read reply lines with time bounds.

Used by the protocol tests and the self-play scripts. The engine command is a list, so the
same tests run the Linux binary or a Windows executable under Wine.
"""
import argparse
import queue
import re
import shlex
import subprocess
import threading

MOVE_RE = re.compile(r"^-?\d+,-?\d+$")
CHATTER = re.compile(r"MESSAGE (Rule|Speed=)")  # lines that vary with timing and history


class EngineError(AssertionError):
    pass


class Engine:
    def __init__(self, command, crlf=False, stderr=subprocess.DEVNULL):
        self.command = list(command)
        self.crlf = crlf
        self.proc = subprocess.Popen(self.command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=stderr, bufsize=0)
        self.lines = queue.Queue()
        self.transcript = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        buffer = b""
        while True:
            chunk = self.proc.stdout.read1(65536) if hasattr(self.proc.stdout, "read1") \
                else self.proc.stdout.read(1)
            if not chunk:
                break
            buffer += chunk
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                self.lines.put(line.rstrip(b"\r").decode("latin-1"))
        if buffer:
            self.lines.put(buffer.decode("latin-1"))
        self.lines.put(None)  # end of output

    def send(self, text, raw=False):
        """Sends one line (or raw bytes when raw is set)."""
        data = text if isinstance(text, bytes) else text.encode("latin-1")
        if not raw:
            data += b"\r\n" if self.crlf else b"\n"
        self.transcript.append((">", data))
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise EngineError("engine closed its input; transcript:\n" + self.dump())

    def read(self, timeout=10.0):
        """Next reply line; raises on timeout; None when the engine's output ended."""
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise EngineError("no reply within %.1f s; transcript:\n%s" % (timeout, self.dump()))
        self.transcript.append(("<", line))
        return line

    def expect(self, *expected, timeout=10.0):
        """Reads the expected replies in order: strings, or patterns that must match whole.
        Rule and speed messages that do not match the next expected reply are skipped."""
        got = []
        for want in expected:
            while True:
                line = self.read(timeout)
                ok = line is not None and (want.fullmatch(line) if isinstance(want, re.Pattern)
                                           else line == want)
                if ok or line is None or not CHATTER.match(line):
                    break
            if not ok:
                raise EngineError("expected %r, got %r; transcript:\n%s"
                                  % (want, line, self.dump()))
            got.append(line)
        return got

    def talk(self, *steps, timeout=10.0):
        """Each step: the text to send (lines joined by newlines), then the replies expected.
        Returns the replies read."""
        got = []
        for text, *replies in steps:
            for line in text.split("\n"):
                self.send(line)
            got += self.expect(*replies, timeout=timeout)
        return got

    def expect_silence(self, seconds=0.3):
        try:
            line = self.lines.get(timeout=seconds)
        except queue.Empty:
            return
        raise EngineError("expected no reply, got %r; transcript:\n%s" % (line, self.dump()))

    def close_input(self):
        self.proc.stdin.close()

    def finish(self, timeout=10.0):
        """Waits for the process to end and returns its exit code."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise EngineError("engine did not exit; transcript:\n" + self.dump())

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
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
        out = []
        for direction, data in self.transcript[-60:]:
            if data is None:
                data = "<end of output>"
            elif isinstance(data, bytes):
                data = data.decode("latin-1")
            out.append("%s %r" % (direction, data[:200]))
        return "\n".join(out)


def engine_command_from_args(argv=None, description=""):
    """Parses --engine (a command line, e.g. 'wine build-win64/pbrain-zarvel.exe') and --crlf."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--engine", required=True, help="command that starts the engine")
    parser.add_argument("--crlf", action="store_true", help="end lines with CR-LF")
    args, rest = parser.parse_known_args(argv)
    return shlex.split(args.engine), args.crlf, rest

