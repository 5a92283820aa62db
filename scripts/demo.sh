#!/usr/bin/env bash
# The demo: korvalen-sim publishes sample readings and korvalen-snapshot prints its report.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

cmake --preset native >/dev/null
cmake --build --preset native --target korvalen-snapshot korvalen-sim >/dev/null

echo "$ korvalen-sim --sample -- korvalen-snapshot"
status=0
build/native/korvalen-sim --sample -- build/native/korvalen-snapshot || status=$?
echo "(exit status $status)"
echo
echo "$ korvalen-snapshot    # with no monitor running"
status=0
build/native/korvalen-snapshot || status=$?
echo "(exit status $status)"
