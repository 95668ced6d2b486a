#!/usr/bin/env bash
# Builds the Windows programs (x86-64 and 32-bit x86) with MinGW-w64 and runs the smoke test
# against each under Wine, with CR-LF line ends as a Windows manager sends them.
#
#   tools/windows_check.sh [DIR_64 [DIR_32]]     (default build-win64 build-win32)
#
# DIR_64 holds pbrain-zarvel64.exe, DIR_32 pbrain-zarvel.exe; both may be one folder (the
# unpacked release zip). A folder with a CMake cache is rebuilt, a missing one configured with
# the MinGW toolchain, one holding only the .exe taken as it is. ZARVEL_WIN_ONLY=64|32 checks
# one program. Wine set-up, done here when needed and safe to repeat: where the kernel cannot
# run 32-bit x86 programs ("Exec format error"), a binfmt_misc entry hands them to qemu-i386
# (needs root or sudo); a Wine prefix of its own, $ZARVEL_WINEPREFIX (default ~/.wine-zarvel),
# is made once both loaders run (a prefix made before 32-bit Wine worked cannot run 32-bit
# programs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir64=$(realpath -m "${1:-$root/build-win64}")
dir32=$(realpath -m "${2:-$root/build-win32}")
only=${ZARVEL_WIN_ONLY:-}
export WINEDEBUG=-all WINEPREFIX=${ZARVEL_WINEPREFIX:-$HOME/.wine-zarvel}
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
[[ -x $wine64 ]] || wine64=$(command -v wine64 || true)
[[ -x $wine32 ]] || wine32=$(command -v wine || true)
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo -n)
t0=$(date +%s)
die() { echo "windows_check: $*" >&2; exit 1; }
note() { echo "==> $* ($(( $(date +%s) - t0 )) s so far)"; }

build() {  # build DIR TOOLCHAIN EXE
    if [[ ! -f $1/CMakeCache.txt && -f $1/$3 ]]; then
        note "taking the built $1/$3"
    else
        [[ -f $1/CMakeCache.txt ]] || cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" >/dev/null
        note "building $1/$3"
        cmake --build "$1" -j2 --target pbrain-zarvel
    fi
    "$root/tools/windows_exe_check.sh" "$1/$3" || die "$1/$3 refused"
}
[[ $only == 32 ]] || build "$dir64" mingw-w64-x86_64.cmake pbrain-zarvel64.exe
[[ $only == 64 ]] || build "$dir32" mingw-w64-i686.cmake pbrain-zarvel.exe

[[ -n $wine64 ]] && "$wine64" --version >/dev/null 2>&1 || die "64-bit Wine does not start (see .ci/install-deps.sh)"
if [[ $only != 64 ]] && ! "$wine32" --version >/dev/null 2>&1; then
    [[ -n $wine32 ]] || die "32-bit Wine not found (install wine32:i386; see .ci/install-deps.sh)"
    qemu=$(command -v qemu-i386) || die "this kernel cannot run 32-bit x86 programs and qemu-i386 is missing"
    binfmt=/proc/sys/fs/binfmt_misc
    [[ -e $binfmt/register ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" \
        || die "cannot mount binfmt_misc (needs root) to run 32-bit programs through qemu-i386"
    if [[ -e $binfmt/zarvel-i386 ]]; then
        echo 1 | "${sudo[@]}" tee "$binfmt/zarvel-i386" >/dev/null
    else
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":zarvel-i386:M::$magic:$mask:$qemu:F" | "${sudo[@]}" tee "$binfmt/register" \
            >/dev/null || die "cannot register qemu-i386 with binfmt_misc (needs root)"
    fi
    note "32-bit x86 programs now run through $qemu"
    "$wine32" --version >/dev/null 2>&1 || die "$wine32 still does not start"
fi

# The prefix is made once, by a Wine that runs both kinds of programs; the stamp records it.
stamp=$WINEPREFIX/.zarvel-prefix
want=$("$wine64" --version)
[[ $only == 64 ]] || want+=" +32"
if [[ ! -f $stamp || $(cat "$stamp") != "$want"* ]]; then
    note "creating the Wine prefix $WINEPREFIX (takes about two minutes)"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1 || die "wineboot failed in $WINEPREFIX"
    wineserver -w
    echo "$want" > "$stamp"
fi

status=0
smoke() {  # smoke LABEL SCALE COMMAND...
    note "smoke test: $1"
    python3 "$root/tests/smoke_test.py" --crlf --timeout-scale "$2" --engine "$(printf '%q ' "${@:3}")" \
        || { echo "windows_check: $1 FAILED" >&2; status=1; }
}
# Under qemu a 32-bit .exe takes ~50 s to start and runs several times slower.
[[ $only == 32 ]] || smoke "x86-64 $dir64/pbrain-zarvel64.exe" 3 "$wine64" "$dir64/pbrain-zarvel64.exe"
[[ $only == 64 ]] || smoke "32-bit x86 $dir32/pbrain-zarvel.exe" 10 "$wine32" "$dir32/pbrain-zarvel.exe"
wineserver -k >/dev/null 2>&1 || true
note "windows_check: $([[ $status == 0 ]] && echo passed || echo FAILED)"
exit $status
