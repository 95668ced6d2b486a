#!/usr/bin/env bash
# Builds the libFuzzer target fuzz_commands with clang (ZARVEL_FUZZ: AddressSanitizer,
# UndefinedBehaviorSanitizer, LeakSanitizer) and fuzzes the command loop for a bounded time,
# starting from the sessions in tests/fuzz-corpus. Fails on a crash, a hang (one input
# running over 10 s), a sanitizer report, a leak, an output line or game state the target
# rejects, or memory beyond the limit. The failing input is kept in <build-dir>/fuzz-artifacts
# and the command that replays it is printed.
#
#   tools/fuzz_check.sh [build-dir] [seconds]      (defaults: build-fuzz, 180)
# The inputs found are kept in <build-dir>/fuzz-corpus, so a later run goes on from there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}
seconds=${2:-180}

cmake -S "$root" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DZARVEL_FUZZ=ON -DZARVEL_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" -j2 --target fuzz_commands
dir=$(cd "$dir" && pwd)

rm -rf "$dir/fuzz-artifacts"
mkdir -p "$dir/fuzz-corpus" "$dir/fuzz-artifacts"

log=$dir/fuzz.log
# The think thread lives for the whole process (as in the engine); what it holds stays
# reachable, so leak detection stays on. Memory: about 110 MiB; the limit of 1024 MiB stops
# runaway growth.
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
status=0
# Seeds come last: libFuzzer writes new inputs only to the first directory. Inputs stay
# within 2048 bytes: each change of rule rebuilds the line table (~25 ms in this build), and
# a much longer input of nothing but rule changes could come near the 10 s hang limit.
timeout -k 10 $((seconds + 300)) "$dir/fuzz_commands" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=512 \
    -max_len=2048 -detect_leaks=1 -print_final_stats=1 \
    -dict="$root/tests/fuzz_commands.dict" -artifact_prefix="$dir/fuzz-artifacts/" \
    "$dir/fuzz-corpus" "$root/tests/fuzz-corpus" > "$log" 2>&1 || status=$?

if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|^fuzz_commands: ' "$log"; then
    [[ $status -eq 0 ]] && status=1
fi
if [[ $status -ne 0 ]]; then
    tail -n 80 "$log"
    echo "fuzz check FAILED (exit $status); full log: $log"
    find "$dir/fuzz-artifacts" -type f -printf "replay: $dir/fuzz_commands %p\n"
    exit 1
fi
grep -E "^(stat::(number_of_executed_units|average_exec_per_sec|slowest_unit_time_sec|peak_rss_mb)|Done )" "$log" || true
echo "fuzz check passed: ${seconds} s, corpus $(ls "$dir/fuzz-corpus" | wc -l) inputs"
