#!/usr/bin/env bash
# Builds the engine with ThreadSanitizer and runs the pipe tests that exercise its two threads
# (turns, commands at random moments, self-play, the protocol table) against it. Any race or
# lock-order report fails the check; the reports are printed.
#
#   tools/tsan_check.sh [build-dir]      (default: build-tsan)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-tsan}
cmake -S "$root" -B "$dir" -DZARVEL_TSAN=ON -DZARVEL_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" -j2 --target pbrain-zarvel
engine=$(cd "$dir" && pwd)/pbrain-zarvel

# The engine's standard error is not read by the tests: reports go to files instead.
reports=$(cd "$dir" && pwd)/tsan-reports
rm -rf "$reports" && mkdir -p "$reports"
export ZARVEL_TIME_SCALE=${ZARVEL_TIME_SCALE:-5}  # replies come slower under ThreadSanitizer
export TSAN_OPTIONS="log_path=$reports/report second_deadlock_stack=1 ${TSAN_OPTIONS:-}"

status=0
python3 "$root/tests/turn_test.py" --engine "$engine" --crlf || status=1
python3 "$root/tests/protocol_test.py" --engine "$engine" || status=1
ZARVEL_SELFPLAY_GAMES=4 python3 "$root/tests/selfplay_test.py" --engine "$engine" -k games || status=1

if compgen -G "$reports/report*" > /dev/null; then
    cat "$reports"/report*
    echo "ThreadSanitizer: $(cat "$reports"/report* | grep -c '^WARNING: ThreadSanitizer') report(s)"
    status=1
fi
[[ $status -eq 0 ]] && echo "ThreadSanitizer check: no reports"
exit $status
