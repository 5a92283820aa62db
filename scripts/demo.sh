#!/usr/bin/env bash
# The demo: builds every program, then korvalen-sim publishes sample readings, which
# korvalen-snapshot prints as its report and korvalen-sensors by name, with the example sensors
# file.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

if [ -x build/native/korvalen-sensors ]; then
  echo "building the programs (what changed since the last build)"
else
  echo "building the programs (first run, about a minute)"
fi
cmake --preset native >/dev/null
cmake --build --preset native --target programs >/dev/null
echo

# The demo needs the name to itself: a block already there would be read in place of the sample,
# and shown as if no monitor were running.
existing=0
build/native/korvalen-snapshot >/dev/null 2>&1 || existing=$?
if [ "$existing" -ne 1 ]; then
  echo "A block is already published under KVSharedMemory_QDX (a monitor or a korvalen-sim is" >&2
  echo "running, or one left it in /dev/shm). Stop it, or remove a stale one, and run the demo again." >&2
  exit 1
fi

echo "$ korvalen-sim --sample -- korvalen-snapshot"
status=0
build/native/korvalen-sim --sample -- build/native/korvalen-snapshot || status=$?
echo "(exit status $status)"
echo
echo "$ korvalen-sim --sample --fans 1240,250 -- korvalen-sensors --sensors prometheus/sensors.example.toml"
status=0
build/native/korvalen-sim --sample --fans 1240,250 -- \
  build/native/korvalen-sensors --sensors prometheus/sensors.example.toml || status=$?
echo "(exit status $status)"
echo
echo "$ korvalen-snapshot    # with no monitor running"
status=0
build/native/korvalen-snapshot || status=$?
echo "(exit status $status)"
echo
echo "The programs are in build/native/; to run them by name: export PATH=\"\$PWD/build/native:\$PATH\""
