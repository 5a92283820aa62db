#!/usr/bin/env bash
# The shipped files, built from this checkout without the tests, into FOLDER (build/release):
#   FOLDER/windows-x86/korvalen-snapshot.exe, korvalen-sim.exe, korvalen-prometheus.exe,
#     korvalen-prometheusw.exe, korvalen-sensors.exe, korvalen-mqtt.exe, korvalen-mqttw.exe, the
#     ZIP and its .sha256
#   FOLDER/linux/bin/korvalen-snapshot, korvalen-sim, korvalen-prometheus, korvalen-sensors and
#     korvalen-mqtt,
#     stripped, as cmake --install puts them (the systemd units beside them name that folder)
# Prints their SHA-256 sums. For a given commit they are the same wherever they are built.
# Usage: scripts/release.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${RELEASE_PACKAGES[@]}"

out=$(realpath -m "${1:-build/release}")
cmake --preset windows-x86 -B "$out/windows-x86" -DKORVALEN_TESTS=OFF --fresh >/dev/null
cmake --build "$out/windows-x86" -j2 >/dev/null
cpack --config "$out/windows-x86/CPackConfig.cmake" -B "$out/windows-x86" >/dev/null
cmake --preset native -B "$out/native" -DKORVALEN_TESTS=OFF --fresh >/dev/null
cmake --build "$out/native" -j2 >/dev/null
rm -rf "$out/linux"
cmake --install "$out/native" --strip --prefix "$out/linux" >/dev/null

cd "$out"
sha256sum windows-x86/korvalen-snapshot.exe windows-x86/korvalen-sim.exe \
  windows-x86/korvalen-prometheus.exe windows-x86/korvalen-prometheusw.exe \
  windows-x86/korvalen-sensors.exe windows-x86/korvalen-mqtt.exe windows-x86/korvalen-mqttw.exe \
  windows-x86/korvalen-snapshot-*-win32.zip windows-x86/korvalen-snapshot-*-win32.zip.sha256 \
  linux/bin/korvalen-snapshot linux/bin/korvalen-sim linux/bin/korvalen-prometheus \
  linux/bin/korvalen-sensors linux/bin/korvalen-mqtt
