#!/usr/bin/env bash
# Line and branch coverage of src/ and tools/ by the native tests, as a report, not a gate: builds
# the coverage preset (clang's source-based coverage), runs every test, each process writing a
# profile of its own (the programs that tests run as nobody too), and prints llvm-cov's report.
# It fails only when a test fails or the report cannot be made.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${HARDENING_PACKAGES[@]}"

build=build/coverage
cmake --preset coverage --fresh >/dev/null
cmake --build --preset coverage
# The profiles go where every user the tests run as can write, whatever the checkout's folders
# let others reach.
profiles=$(mktemp -d /tmp/korvalen-coverage.XXXXXX)
trap 'rm -rf "$profiles"' EXIT
chmod 1777 "$profiles"
LLVM_PROFILE_FILE="$profiles/%p.profraw" ctest --preset coverage
find "$profiles" -name '*.profraw' >"$build/profiles.txt"
# A run killed while it wrote its profile (the tests kill some on purpose) leaves a broken one.
llvm-profdata merge -sparse --failure-mode=all -f "$build/profiles.txt" -o "$build/tests.profdata"

objects=()
for program in korvalen-snapshot korvalen-sim korvalen-prometheus korvalen-sensors korvalen-mqtt \
  end_to_end_test snapshot_report_test textfile_posix_test sensors_file_replay snapshot_report_replay; do
  objects+=(-object "$build/$program")
done
echo "== coverage of src/ and tools/ by the native tests"
llvm-cov report "${objects[@]}" -instr-profile="$build/tests.profdata" \
  -ignore-filename-regex='^/usr/|(^|/)(tests|fuzz|googletest|third_party)/' -show-region-summary=false
