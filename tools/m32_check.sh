#!/usr/bin/env bash
# Builds the unit tests and the engine as 32-bit x86 Linux programs (-m32, Release, no
# sanitizers) and runs the unit tests and the turn tests: 64-bit keys and line words, the large
# tables and the hash tables in a 32-bit address space, 64-bit time products on a 32-bit target.
# On a kernel without 32-bit emulation every test program runs through qemu-i386 (qemu-user).
#
#   tools/m32_check.sh [BUILD_DIR]          (default build-m32)
# ZARVEL_TEST_PATTERNS narrows the unit-test files; ZARVEL_M32_PIPE_TESTS=all runs every pipe test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build-m32}")
[[ -f $dir/CMakeCache.txt ]] && ! grep -qx 'ZARVEL_M32:BOOL=ON' "$dir/CMakeCache.txt" \
    && { echo "m32_check: $dir is not a -m32 build directory; use a fresh one" >&2; exit 1; }
configure=(-DZARVEL_M32=ON -DCMAKE_BUILD_TYPE=Release -DZARVEL_SANITIZE=OFF -DZARVEL_TSAN=OFF)
[[ -n ${ZARVEL_TEST_PATTERNS:-} ]] && configure+=("-DZARVEL_TEST_PATTERNS=$ZARVEL_TEST_PATTERNS")
mkdir -p "$dir"
cmake -S "$root" -B "$dir" "${configure[@]}" > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
grep -E '32-bit|Warning' "$dir/configure.log" || true
cmake --build "$dir" -j2 --target pbrain-zarvel zarvel_tests
filter=(-R '\.|^turn_test$')  # GoogleTest cases are Suite.Name; pipe tests are file names
[[ ${ZARVEL_M32_PIPE_TESTS:-} == all ]] && filter=()
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 "${filter[@]}"
