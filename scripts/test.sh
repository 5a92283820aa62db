#!/usr/bin/env bash
# Every test: builds each configuration and runs its tests. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${HARDENING_PACKAGES[@]}" \
  "${WINDOWS_PACKAGES[@]}"

export GTEST_COLOR=no

echo "== native: Linux build, unit and end-to-end tests"
cmake --workflow --preset native --fresh

echo "== windows-x86: the shipped 32-bit programs under 32-bit Wine, their file checks and the ZIP"
# Where this kernel runs no 32-bit code, the same tests run in a QEMU guest whose kernel does
# (KORVALEN_X86_IN_GUEST=1 takes that route anywhere).
why=
if [ -n "${KORVALEN_X86_IN_GUEST:-}" ]; then
  why="KORVALEN_X86_IN_GUEST is set"
elif ! loader_error=$(/usr/lib/wine/wine --version 2>&1 >/dev/null); then
  why="this kernel runs no 32-bit code (/usr/lib/wine/wine --version: ${loader_error##*: })"
fi
if [ -z "$why" ]; then
  echo "windows-x86: 32-bit Wine on this machine"
  cmake --workflow --preset windows-x86 --fresh
else
  echo "windows-x86: 32-bit Wine in a QEMU guest: $why"
  ensure_packages "${GUEST_PACKAGES[@]}" ||
    { echo "windows-x86: cannot install ${GUEST_PACKAGES[*]} for the QEMU guest" >&2; exit 1; }
  cmake --preset windows-x86 --fresh
  cmake --build --preset windows-x86
  scripts/run-in-guest.sh --wine-prefix build/windows-x86/wine --programs build/windows-x86 -- \
    ctest --preset windows-x86
  cpack --preset windows-x86
fi

echo "== windows-x64: the same sources, tested under wine64"
cmake --workflow --preset windows-x64 --fresh

echo "== sanitize: every native test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset sanitize --fresh

echo "== fuzz: a bounded libFuzzer run of the report writer"
cmake --workflow --preset fuzz --fresh

echo "== reproducible: the shipped files built twice from clean clones of HEAD, compared"
scripts/check-reproducible.sh
