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

echo "== windows-x86: the shipped 32-bit program under 32-bit Wine, its file checks and its ZIP"
cmake --workflow --preset windows-x86 --fresh

echo "== windows-x64: the same sources, tested under wine64"
cmake --workflow --preset windows-x64 --fresh

echo "== sanitize: every native test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset sanitize --fresh

echo "== fuzz: a bounded libFuzzer run of the report writer"
cmake --workflow --preset fuzz --fresh

echo "== reproducible: the shipped files built twice from clean clones of HEAD, compared"
scripts/check-reproducible.sh
