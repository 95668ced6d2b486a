#!/usr/bin/env bash
# Checks Windows programs before they are run or shipped. Each must be built for the machine
# its file name promises (Gomocup managers run the program with "64" in its name on 64-bit
# Windows and the other one on 32-bit Windows) and import Windows system DLLs only (a
# tournament machine has no MinGW runtime DLLs). Fails on the first fault of any file.
#
#   tools/windows_exe_check.sh FILE.exe...
set -euo pipefail

# The x86-64 objdump reads 32-bit PE files too.
OBJDUMP=${OBJDUMP:-x86_64-w64-mingw32-objdump}
command -v "$OBJDUMP" >/dev/null || { echo "windows_exe_check: $OBJDUMP not found" >&2; exit 1; }
SYSTEM_DLLS='^(kernel32|msvcrt|ucrtbase|ntdll|advapi32|user32|ws2_32|bcrypt|shell32|api-ms-win-.*)\.dll$'

status=0
for exe in "$@"; do
    fault() { echo "windows_exe_check: $exe $*" >&2; status=1; }
    want=pei-i386
    [[ $(basename "$exe") == *64* ]] && want=pei-x86-64
    format=$("$OBJDUMP" -f "$exe" 2>/dev/null | sed -n 's/.*file format //p' || true)
    if [[ -z $format ]]; then
        fault "is no Windows program"
        continue
    fi
    [[ $format == "$want" ]] || fault "is $format, but its name says $want"
    dlls=$("$OBJDUMP" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    bad=$(grep -viE "$SYSTEM_DLLS" <<< "$dlls" || true)
    [[ -z $bad ]] || fault "needs DLLs that Windows does not have: $(echo $bad)"
    echo "==> $exe: $format, imports $(echo $dlls)"
done
exit $status
