"""Random INFO, ABOUT and position changes during the engine's thinking, for a bounded time."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import stress  # noqa: E402
from engine_driver import engine_command_from_args  # noqa: E402

COMMAND, CRLF, _ = engine_command_from_args()


class StressTest(unittest.TestCase):
    def test_commands_at_random_moments(self):
        for seed in (1, 2, 3):
            commands, moves = stress.run(COMMAND, CRLF, seconds=10, seed=seed)
            self.assertGreater(moves, 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
