#!/usr/bin/env bash
# Installs every system package the Zarvel builds and tests need on a fresh
# Debian 12 (bookworm) machine. Safe to run repeatedly: when everything is
# already present it returns in well under a second without touching apt.
#   ZARVEL_DEPS_FORCE=1  always run apt-get update + install
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

# Native toolchain, test/bench libraries, tooling.
NATIVE_PKGS=(cmake make g++ libgtest-dev libbenchmark-dev python3 clang libclang-rt-14-dev)
# 32-bit Linux builds (-m32). qemu-user provides qemu-i386, which runs 32-bit
# x86 programs on kernels booted with 32-bit emulation disabled (there a
# 32-bit program fails with "Exec format error").
M32_PKGS=(g++-multilib qemu-user)
# Windows cross builds + running them. "wine" ships the /usr/bin/wine launcher;
# once wine32 is installed it always starts the 32-bit loader, so 64-bit .exe
# are best run with /usr/lib/wine/wine64 directly.
WIN_PKGS=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386)

ALL_PKGS=("${NATIVE_PKGS[@]}" "${M32_PKGS[@]}" "${WIN_PKGS[@]}")

SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo)

declare -a STEP_NAMES=()
declare -a STEP_SECS=()
T_START=$(date +%s.%N)

step() {  # step "name" cmd args...
  local name=$1; shift
  local t0 t1
  echo "==> ${name}"
  t0=$(date +%s.%N)
  "$@"
  t1=$(date +%s.%N)
  STEP_NAMES+=("$name")
  STEP_SECS+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}')")
}

summary() {
  local t_end total i
  t_end=$(date +%s.%N)
  total=$(awk -v a="$T_START" -v b="$t_end" 'BEGIN{printf "%.1f", b-a}')
  echo "---- install-deps timing ----"
  for i in "${!STEP_NAMES[@]}"; do
    printf '  %-28s %8ss\n' "${STEP_NAMES[$i]}" "${STEP_SECS[$i]}"
  done
  printf '  %-28s %8ss\n' "total" "$total"
}
trap summary EXIT

missing_pkgs() {
  local p
  for p in "${ALL_PKGS[@]}"; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
      echo "$p"
    fi
  done
}

has_i386() {
  dpkg --print-foreign-architectures | grep -qx i386
}

mapfile -t MISSING < <(missing_pkgs)
if [[ ${ZARVEL_DEPS_FORCE:-0} != 1 ]] && has_i386 && [[ ${#MISSING[@]} -eq 0 ]]; then
  echo "install-deps: all ${#ALL_PKGS[@]} packages already installed"
  exit 0
fi
[[ ${#MISSING[@]} -gt 0 ]] && echo "install-deps: missing: ${MISSING[*]}"

# Adding the architecture is a local dpkg change; it must precede the single
# apt-get update so that the i386 package lists are fetched too.
if ! has_i386; then
  step "dpkg --add-architecture i386" "${SUDO[@]}" dpkg --add-architecture i386
fi

step "apt-get update" "${SUDO[@]}" apt-get update -q

APT_INSTALL=("${SUDO[@]}" apt-get install -y -q --no-install-recommends)
step "install native toolchain"  "${APT_INSTALL[@]}" "${NATIVE_PKGS[@]}"
step "install multilib (-m32)"   "${APT_INSTALL[@]}" "${M32_PKGS[@]}"
step "install mingw-w64 + wine"  "${APT_INSTALL[@]}" "${WIN_PKGS[@]}"

# Sanity check: every tool the builds call must now be on PATH.
check_tools() {
  local t
  for t in cmake g++ clang++ python3 qemu-i386 objdump x86_64-w64-mingw32-g++-posix \
           i686-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump wine wineserver; do
    command -v "$t" >/dev/null || { echo "install-deps: $t not found after install" >&2; return 1; }
  done
  [[ -f /usr/src/googletest/CMakeLists.txt ]] || { echo "install-deps: /usr/src/googletest missing" >&2; return 1; }
}
step "check tools" check_tools
