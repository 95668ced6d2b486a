#!/usr/bin/env bash
# Runs the turn transcripts (a whole session: opening moves, forced moves, passes, STOP) against
# both Windows programs under Wine, with CR-LF line ends as a Windows manager sends them.
# (tools/release.sh checks before that each is built for its machine and needs no MinGW DLL.)
#
#   tools/windows_check.sh [DIR_64 [DIR_32]]     (default build-win64 build-win32)
#
# DIR_64 holds pbrain-zarvel64.exe, DIR_32 pbrain-zarvel.exe (both may be one folder, such as
# the unpacked release zip). Wine set-up, done here when needed and safe to repeat: where the
# kernel cannot run 32-bit x86 programs, a binfmt_misc entry hands them to qemu-i386 (needs
# root or sudo); a Wine prefix of its own, $ZARVEL_WINEPREFIX (default ~/.wine-zarvel), made
# once both loaders run (a prefix made before 32-bit Wine worked cannot run 32-bit programs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
exe64=$(realpath -m "${1:-$root/build-win64}")/pbrain-zarvel64.exe
exe32=$(realpath -m "${2:-$root/build-win32}")/pbrain-zarvel.exe
export WINEDEBUG=-all WINEPREFIX=${ZARVEL_WINEPREFIX:-$HOME/.wine-zarvel}
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
[[ -x $wine64 ]] || wine64=$(command -v wine64 || true)
[[ -x $wine32 ]] || wine32=$(command -v wine || true)
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo -n)
die() { echo "windows_check: $*" >&2; exit 1; }

[[ -n $wine64 ]] && "$wine64" --version >/dev/null 2>&1 || die "64-bit Wine does not start (see .ci/install-deps.sh)"
if ! "$wine32" --version >/dev/null 2>&1; then
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
    "$wine32" --version >/dev/null 2>&1 || die "$wine32 still does not start through $qemu"
fi

# The prefix is made once, by a Wine that runs both kinds of programs; the stamp records it.
stamp=$WINEPREFIX/.zarvel-prefix
if [[ ! -f $stamp || $(cat "$stamp") != "$("$wine64" --version) +32" ]]; then
    echo "==> creating the Wine prefix $WINEPREFIX (takes about two minutes)"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1 || die "wineboot failed in $WINEPREFIX"
    wineserver -w
    echo "$("$wine64" --version) +32" > "$stamp"
fi

# Under qemu a 32-bit .exe takes ~50 s to start and runs several times slower.
status=0
transcripts() {  # SCALE WINE EXE
    ZARVEL_TIME_SCALE=$1 python3 "$root/tests/turn_test.py" --crlf TurnTest.test_transcripts \
        --engine "$(printf '%q ' "$2" "$3")" || status=1
}
transcripts 3 "$wine64" "$exe64"
transcripts 10 "$wine32" "$exe32"
wineserver -k >/dev/null 2>&1 || true
echo "windows_check: $([[ $status == 0 ]] && echo passed || echo FAILED)"
exit $status
