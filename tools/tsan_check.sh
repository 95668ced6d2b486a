#!/usr/bin/env bash
# Builds the engine with ThreadSanitizer and runs the pipe tests that exercise its threads
# (turns, commands at random moments, self-play with 2 and 4 search threads; the protocol
# table) against it. Any race or lock-order report fails the check; the reports are printed.
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
python3 "$root/tests/protocol_test.py" --engine "$engine" || status=1
for threads in 2 4; do  # more than the machine has are clamped to its count
    export ZARVEL_TEST_THREADS=$threads
    python3 "$root/tests/turn_test.py" --engine "$engine" --crlf || status=1
    ZARVEL_SELFPLAY_GAMES=4 python3 "$root/tests/selfplay_test.py" --engine "$engine" -k games || status=1
done

if compgen -G "$reports/report*" > /dev/null; then
    cat "$reports"/report*
    echo "ThreadSanitizer: $(cat "$reports"/report* | grep -c '^WARNING: ThreadSanitizer') report(s)"
    status=1
fi
[[ $status -eq 0 ]] && echo "ThreadSanitizer check: no reports"
exit $status
