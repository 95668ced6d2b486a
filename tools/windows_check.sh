#!/usr/bin/env bash
# Builds the Windows programs (x86-64 and 32-bit x86) with MinGW-w64 and runs the smoke test
# against each under Wine, with CR-LF line ends as a Windows manager sends them.
#
#   tools/windows_check.sh [DIR_64 [DIR_32]]     (default build-win64 build-win32)
#
# DIR_64 holds pbrain-zarvel64.exe, DIR_32 pbrain-zarvel.exe; both may be one folder (e.g. the
# unpacked release zip). A directory that holds a CMake cache is rebuilt incrementally; one
# that does not exist is configured with the MinGW toolchain file first; one that holds only
# the .exe is taken as it is. tools/windows_exe_check.sh checks each .exe's machine and DLLs.
#
# Wine set-up, done here when needed and safe to repeat:
#  - 32-bit Wine (wine32:i386) needs a kernel that runs 32-bit x86 programs. Where the kernel
#    has that disabled ("Exec format error"), a binfmt_misc entry hands them to qemu-i386
#    (needs root, or sudo without a password).
#  - A Wine prefix of its own, $ZARVEL_WINEPREFIX (default ~/.wine-zarvel), created once both
#    loaders run (a prefix made before 32-bit Wine worked cannot run 32-bit programs).
# Environment: ZARVEL_WIN_ONLY=64|32 checks one program only.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR64=$(realpath -m "${1:-$ROOT/build-win64}")
DIR32=$(realpath -m "${2:-$ROOT/build-win32}")
cd "$ROOT"
ONLY=${ZARVEL_WIN_ONLY:-}

export WINEDEBUG=-all
export WINEPREFIX=${ZARVEL_WINEPREFIX:-$HOME/.wine-zarvel}
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
[[ -x $WINE64 ]] || WINE64=$(command -v wine64 || true)
[[ -x $WINE32 ]] || WINE32=$(command -v wine || true)

die() { echo "windows_check: $*" >&2; exit 1; }
note() { echo "==> $*"; }
T0=$(date +%s)
elapsed() { echo "$(( $(date +%s) - T0 )) s"; }

SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo -n)

# ---- build ------------------------------------------------------------------------------
build() {  # build DIR TOOLCHAIN EXE
  local dir=$1 toolchain=$2 exe=$3
  if [[ -f $dir/CMakeCache.txt ]]; then
    note "building $dir/$exe"
  elif [[ -f $dir/$exe ]]; then
    note "taking the built $dir/$exe"
    return
  else
    note "configuring $dir ($toolchain)"
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
    note "building $dir/$exe"
  fi
  cmake --build "$dir" -j2 --target pbrain-zarvel
  [[ -f $dir/$exe ]] || die "$dir/$exe was not produced"
}

EXE64=$DIR64/pbrain-zarvel64.exe
EXE32=$DIR32/pbrain-zarvel.exe
[[ $ONLY == 32 ]] || { build "$DIR64" mingw-w64-x86_64.cmake pbrain-zarvel64.exe
                       "$ROOT/tools/windows_exe_check.sh" "$EXE64" || die "$EXE64 refused"; }
[[ $ONLY == 64 ]] || { build "$DIR32" mingw-w64-i686.cmake pbrain-zarvel.exe
                       "$ROOT/tools/windows_exe_check.sh" "$EXE32" || die "$EXE32 refused"; }

# ---- Wine -------------------------------------------------------------------------------
[[ -n $WINE64 && -x $WINE64 ]] || die "64-bit Wine not found (install wine64; see .ci/install-deps.sh)"
"$WINE64" --version >/dev/null 2>&1 || die "$WINE64 does not start"

BINFMT=/proc/sys/fs/binfmt_misc
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

wine32_runs() { "$WINE32" --version >/dev/null 2>&1; }

enable_i386_through_qemu() {
  local qemu
  qemu=$(command -v qemu-i386 || true)
  [[ -n $qemu ]] || die "this kernel cannot run 32-bit x86 programs and qemu-i386 is missing (install qemu-user)"
  if [[ ! -e $BINFMT/register ]]; then
    "${SUDO[@]}" mount -t binfmt_misc binfmt_misc "$BINFMT" \
      || die "cannot mount binfmt_misc (needs root) to run 32-bit programs through qemu-i386"
  fi
  if [[ -e $BINFMT/zarvel-i386 ]]; then
    echo 1 | "${SUDO[@]}" tee "$BINFMT/zarvel-i386" >/dev/null
  else
    printf '%s' ":zarvel-i386:M::$I386_MAGIC:$I386_MASK:$qemu:F" \
      | "${SUDO[@]}" tee "$BINFMT/register" >/dev/null \
      || die "cannot register qemu-i386 with binfmt_misc (needs root)"
  fi
  note "32-bit x86 programs now run through $qemu (binfmt_misc entry zarvel-i386)"
}

if [[ $ONLY != 64 ]]; then
  [[ -n $WINE32 && -x $WINE32 ]] || die "32-bit Wine not found (install wine32:i386; see .ci/install-deps.sh)"
  if ! wine32_runs; then
    enable_i386_through_qemu
    wine32_runs || die "$WINE32 still does not start: $("$WINE32" --version 2>&1 | head -1)"
  fi
fi

# The prefix is made once, by a Wine that runs both kinds of programs; the stamp records it.
STAMP=$WINEPREFIX/.zarvel-prefix
want_stamp=$("$WINE64" --version)
[[ $ONLY == 64 ]] || want_stamp+=" +32"
if [[ ! -f $STAMP || $(cat "$STAMP") != "$want_stamp"* ]]; then
  note "creating the Wine prefix $WINEPREFIX (takes about two minutes)"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  "$WINE64" wineboot -i >/dev/null 2>&1 || die "wineboot failed in $WINEPREFIX"
  wineserver -w
  echo "$want_stamp" > "$STAMP"
  note "Wine prefix ready ($(elapsed) so far)"
fi

# ---- smoke tests ------------------------------------------------------------------------
status=0
run_smoke() {  # run_smoke LABEL SCALE COMMAND...
  local label=$1 scale=$2; shift 2
  note "smoke test: $label ($(elapsed) so far)"
  if ! python3 "$ROOT/tests/smoke_test.py" --crlf --timeout-scale "$scale" --engine "$(printf '%q ' "$@")"; then
    echo "windows_check: $label FAILED" >&2
    status=1
  fi
}
# Under qemu a 32-bit .exe takes ~50 s to start and runs several times slower.
[[ $ONLY == 32 ]] || run_smoke "x86-64 $EXE64" 3 "$WINE64" "$EXE64"
[[ $ONLY == 64 ]] || run_smoke "32-bit x86 $EXE32" 10 "$WINE32" "$EXE32"
wineserver -k >/dev/null 2>&1 || true

note "windows_check: $([[ $status == 0 ]] && echo passed || echo FAILED) in $(elapsed)"
exit $status
