#!/usr/bin/env bash
# Every test: builds each configuration and runs its tests. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

export KORVALEN_WERROR=ON
export GTEST_COLOR=no

echo "== native: build and tests"
cmake --workflow --preset native --fresh
