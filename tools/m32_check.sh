#!/usr/bin/env bash
# Builds the unit tests and the engine as 32-bit x86 Linux programs (-m32, Release, no
# sanitizers) and runs them: 64-bit keys and line words, the large tables and the hash tables
# in a 32-bit address space, 64-bit time products on a 32-bit target.
#
#   tools/m32_check.sh [BUILD_DIR]                                  (default build-m32)
#
# On a kernel without 32-bit emulation the configure step finds that its 32-bit probe cannot
# run and runs every test program through qemu-i386 (package qemu-user).
# Runs the unit tests and the smoke test by default; the other pipe tests exercise the same
# code as in the 64-bit build and are slow under qemu.
# Environment:
#   ZARVEL_TEST_PATTERNS    unit-test file patterns (tests/<pattern>.cpp), ";"-separated
#   ZARVEL_M32_PIPE_TESTS=all   run every pipe test (tests/*_test.py) too
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=$(realpath -m "${1:-$ROOT/build-m32}")
cd "$ROOT"
T0=$(date +%s)

die() { echo "m32_check: $*" >&2; exit 1; }

if [[ -f $DIR/CMakeCache.txt ]] && ! grep -qx 'ZARVEL_M32:BOOL=ON' "$DIR/CMakeCache.txt"; then
  die "$DIR is not a -m32 build directory; use a fresh one"
fi
CONFIGURE=(-DZARVEL_M32=ON -DCMAKE_BUILD_TYPE=Release -DZARVEL_SANITIZE=OFF -DZARVEL_TSAN=OFF)
[[ -n ${ZARVEL_TEST_PATTERNS:-} ]] && CONFIGURE+=("-DZARVEL_TEST_PATTERNS=$ZARVEL_TEST_PATTERNS")

echo "==> configuring $DIR"
mkdir -p "$DIR"
if ! cmake -S "$ROOT" -B "$DIR" "${CONFIGURE[@]}" > "$DIR/m32-configure.log" 2>&1; then
  cat "$DIR/m32-configure.log" >&2
  die "configure failed"
fi
grep -E '32-bit|Warning' "$DIR/m32-configure.log" || true
echo "==> building"
cmake --build "$DIR" -j2 --target pbrain-zarvel zarvel_tests

FILTER=(-R '\.|^smoke_test$')  # GoogleTest cases are Suite.Name; pipe tests are file names
[[ ${ZARVEL_M32_PIPE_TESTS:-} == all ]] && FILTER=()
echo "==> testing"
status=0
ctest --test-dir "$DIR" --output-on-failure -j2 "${FILTER[@]}" || status=$?
echo "==> m32_check: $([[ $status == 0 ]] && echo passed || echo FAILED) in $(( $(date +%s) - T0 )) s"
exit $status
