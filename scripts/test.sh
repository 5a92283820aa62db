#!/usr/bin/env bash
# Every test: builds each configuration and runs its tests, then prints each lane's count. Installs
# what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

lanes=build/lanes
counts=()

# run_lane NAME COMMAND...: runs COMMAND, one lane, keeping its output in $lanes/NAME.log, and
# notes how many of its tests passed and failed, as its first ctest counted them.
run_lane() {
  local name=$1 line
  shift
  "$@" 2>&1 | tee "$lanes/$name.log"
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$lanes/$name.log" | head -n 1)
  [ -n "$line" ] || return 0
  read -r _ _ _ failed _ _ _ _ total <<<"$line"
  counts+=("$name: $((total - failed)) passed, $failed failed")
}

# windows_x86: the shipped 32-bit programs under 32-bit Wine, here where this kernel runs 32-bit
# code, else in a QEMU guest whose kernel does (KORVALEN_X86_IN_GUEST=1 takes that route anywhere).
windows_x86() {
  local why='' loader_error
  if [ -n "${KORVALEN_X86_IN_GUEST:-}" ]; then
    why="KORVALEN_X86_IN_GUEST is set"
  elif ! loader_error=$(/usr/lib/wine/wine --version 2>&1 >/dev/null); then
    why="this kernel runs no 32-bit code (/usr/lib/wine/wine --version: ${loader_error##*: })"
  fi
  if [ -z "$why" ]; then
    echo "windows-x86: 32-bit Wine on this machine"
    cmake --workflow --preset windows-x86 --fresh
    return
  fi
  echo "windows-x86: 32-bit Wine in a QEMU guest: $why"
  ensure_packages "${GUEST_PACKAGES[@]}" ||
    { echo "windows-x86: cannot install ${GUEST_PACKAGES[*]} for the QEMU guest" >&2; return 1; }
  cmake --preset windows-x86 --fresh
  cmake --build --preset windows-x86
  scripts/run-in-guest.sh --wine-prefix build/windows-x86/wine --programs build/windows-x86 -- \
    ctest --preset windows-x86
  cpack --preset windows-x86
}

# native: the Linux build and its tests, then the same tests' coverage, as a report.
native() {
  cmake --workflow --preset native --fresh && scripts/coverage.sh
}

main() {
  ensure_packages "${NATIVE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${HARDENING_PACKAGES[@]}" \
    "${WINDOWS_PACKAGES[@]}"
  export GTEST_COLOR=no
  mkdir -p "$lanes"

  echo "== native: Linux build, unit and end-to-end tests, then their coverage of src/ and tools/"
  run_lane native native
  echo "== windows-x86: the shipped 32-bit programs under 32-bit Wine, their file checks and the ZIP"
  run_lane windows-x86 windows_x86
  echo "== windows-x64: the same sources, tested under wine64"
  run_lane windows-x64 cmake --workflow --preset windows-x64 --fresh
  echo "== sanitize: every native test under AddressSanitizer and UndefinedBehaviorSanitizer"
  run_lane sanitize cmake --workflow --preset sanitize --fresh
  echo "== fuzz: bounded libFuzzer runs of the report writer and the sensors file"
  run_lane fuzz cmake --workflow --preset fuzz --fresh
  echo "== newcomer: the README's and the guide's commands in order, on a clean clone of HEAD"
  scripts/check-newcomer.sh
  echo "== reproducible: the shipped files built twice from clean clones of HEAD, compared"
  scripts/check-reproducible.sh

  echo "== every lane passed"
  printf '%s\n' "${counts[@]}"
}

main "$@"
