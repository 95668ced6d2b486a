#!/usr/bin/env bash
# Makes a release from the checkout: the Windows programs (32-bit x86 and x86-64) and the
# Linux x86-64 program, all in Release, and zarvel-VERSION.zip as Gomocup takes it:
# pbrain-zarvel.exe (32-bit x86), pbrain-zarvel64.exe (x86-64) and README.txt
# (tools/release-readme.txt).
#
#   tools/release.sh [--check] [OUT_DIR]       (default build-release)
#
# OUT_DIR receives the build directories (win32, win64, linux), the three programs and the
# zip. VERSION is what ABOUT reports: project(VERSION) in CMakeLists.txt. Fails when a Windows
# program is built for another machine than its name says or imports a DLL that Windows does
# not have, or when the zip is over Gomocup's 8 MB limit. --check then runs the turn transcripts on
# the Linux program, and under Wine on both Windows programs as unpacked from the zip into an
# empty folder (tools/windows_check.sh; Wine set-up as described there).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CHECK=0
if [[ ${1:-} == --check ]]; then
    CHECK=1
    shift
fi
OUT=$(realpath -m "${1:-$ROOT/build-release}")
MAX_ZIP_BYTES=$((8 * 1024 * 1024))  # Gomocup's limit for a submission

die() { echo "release: $*" >&2; exit 1; }
note() { echo "==> $*"; }

build() {  # build DIR [CMAKE_OPTIONS...]
    local dir=$1
    shift
    note "building $dir"
    # Every option is given, so that a directory configured otherwise earlier is set right.
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DZARVEL_TESTS=OFF \
        -DZARVEL_SANITIZE=OFF -DZARVEL_TSAN=OFF -DZARVEL_FUZZ=OFF -DZARVEL_M32=OFF -DZARVEL_STATIC_RUNTIME=OFF "$@" >/dev/null
    cmake --build "$dir" -j2 --target pbrain-zarvel
}

mkdir -p "$OUT"
build "$OUT/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake"
build "$OUT/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
build "$OUT/linux" -DZARVEL_STATIC_RUNTIME=ON
cp "$OUT/win32/pbrain-zarvel.exe" "$OUT/win64/pbrain-zarvel64.exe" "$OUT/linux/pbrain-zarvel" "$OUT/"

# Gomocup managers run the program with "64" in its name on 64-bit Windows and the other one
# on 32-bit Windows; a tournament machine has no MinGW runtime DLLs.
fit() {  # EXE FORMAT (the x86-64 objdump reads 32-bit programs too)
    local format dlls bad
    format=$(x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format //p')
    [[ $format == "$2" ]] || die "$1 is ${format:-no Windows program}, not $2"
    dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')
    bad=$(grep -viE '^(kernel32|msvcrt|ucrtbase|ntdll|advapi32|user32|ws2_32|bcrypt|shell32|api-ms-win-.*)\.dll$' <<< "$dlls" || true)
    [[ -z $bad ]] || die "$1 needs DLLs that Windows does not have: $(echo $bad)"
    note "$1: $format, imports $(echo $dlls)"
}
fit "$OUT/pbrain-zarvel.exe" pei-i386
fit "$OUT/pbrain-zarvel64.exe" pei-x86-64
format=$(objdump -f "$OUT/pbrain-zarvel" | sed -n 's/.*file format //p')
[[ $format == elf64-x86-64 ]] || die "$OUT/pbrain-zarvel is $format, not x86-64"
# It carries its C++ runtime: other distributions have other versions of it, or none.
needed=$(objdump -p "$OUT/pbrain-zarvel" | sed -n 's/^[[:space:]]*NEEDED[[:space:]]*//p')
bad=$(grep -E '^lib(stdc\+\+|gcc_s)' <<< "$needed" || true)
[[ -z $bad ]] || die "$OUT/pbrain-zarvel needs $(echo $bad) at run time"
note "$OUT/pbrain-zarvel: $format, needs $(echo $needed)"

version=$(printf 'ABOUT\nEND\n' | "$OUT/pbrain-zarvel" | sed -n 's/^name="Zarvel",.* version="\([^"]*\)".*/\1/p')
[[ $version =~ ^[0-9A-Za-z.+-]+$ ]] || die "no version in the program's ABOUT reply"

zip=$OUT/zarvel-$version.zip
note "packing $zip"
# Entries get the time of the last commit, so that the same sources give the same zip.
stamp=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)
python3 - "$zip" "$stamp" "$version" "$ROOT/tools/release-readme.txt" \
    "$OUT/pbrain-zarvel.exe" "$OUT/pbrain-zarvel64.exe" <<'EOF'
import os, sys, time, zipfile
zip_path, stamp, version, readme, *programs = sys.argv[1:]
when = time.gmtime(max(int(stamp), 315532800))[:6]  # zip times start in 1980

def entry(name, mode):
    info = zipfile.ZipInfo(name, when)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = mode << 16
    return info

with zipfile.ZipFile(zip_path, "w") as z:
    for path in programs:
        with open(path, "rb") as f:
            z.writestr(entry(os.path.basename(path), 0o100755), f.read())
    text = open(readme, encoding="utf-8").read().replace("@VERSION@", version)
    z.writestr(entry("README.txt", 0o100644), text.replace("\n", "\r\n").encode("ascii"))
EOF
size=$(stat -c %s "$zip")
((size <= MAX_ZIP_BYTES)) || die "$zip has $size bytes, over the 8 MB ($MAX_ZIP_BYTES bytes) Gomocup takes"
note "release $version: $zip ($size bytes), $OUT/pbrain-zarvel (Linux x86-64)"

((CHECK)) || exit 0
python3 "$ROOT/tests/turn_test.py" TurnTest.test_transcripts TurnTest.test_memory_stays_under_the_limit \
    --engine "$OUT/pbrain-zarvel" || die "the Linux program failed its turn transcripts or its memory limits"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
python3 -m zipfile -e "$zip" "$unpacked"
note "unpacked into $unpacked: $(cd "$unpacked" && echo *)"
"$ROOT/tools/windows_check.sh" "$unpacked" "$unpacked" || die "the packaged Windows programs failed under Wine"
