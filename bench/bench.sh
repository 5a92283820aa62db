#!/usr/bin/env bash
# What one snapshot of a full block (96 values) costs, against the least any process costs:
#   1. whole-process time against a static no-op program, by hyperfine, as a ratio of medians
#      (also for the program linked dynamically, which is why it is linked statically);
#   2. system calls against the same floor, by strace;
#   3. write calls that carry the report to a file and to a pipe, and to a full device (status 3);
#   4. under Wine, each Windows exe against a no-op exe from the same toolchain, and the WriteFile
#      calls that carry its report: the x86_64 build under wine64 and the shipped i686 build under
#      32-bit Wine;
#   5. korvalen-prometheus with a sensors file that names and bounds all 96 positions, against
#      the same run without one: time (hyperfine) and instructions (callgrind);
#   6. korvalen-sensors with the same sensors file against korvalen-prometheus with it.
# Targets: at most 1.10 times the no-op, at most 8 system calls above it, one write;
# korvalen-sensors at most what korvalen-prometheus costs with the same sensors file. Section 5
# has no target: it tells what a sensors file costs a run that a timer makes once a minute.
# Usage: bench/bench.sh [ROUNDS [RUNS]]   (default 7 rounds of 500 runs per native command;
#   section 5 takes five times the rounds of a fifth of the runs)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" hyperfine strace valgrind gcc \
  util-linux

rounds=${1:-7}
runs=${2:-500}
work=build/bench
mkdir -p "$work"
rm -f "$work/rounds.txt"

echo "== building"
cmake --preset native >/dev/null
cmake --build --preset native --target korvalen-snapshot korvalen-sim korvalen-prometheus \
  korvalen-sensors >/dev/null
cmake -S . -B "$work/dynamic" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALEN_STATIC=OFF \
  -DKORVALEN_TESTS=OFF >/dev/null
cmake --build "$work/dynamic" --target korvalen-snapshot >/dev/null
for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target korvalen-snapshot korvalen-sim >/dev/null
done
gcc -O2 -static bench/noop.c -o "$work/noop"
x86_64-w64-mingw32-gcc-posix -O2 -static -s bench/noop.c -o "$work/noop.exe"
i686-w64-mingw32-gcc-posix -O2 -static -s bench/noop.c -o "$work/noop32.exe"

snapshot=build/native/korvalen-snapshot
dynamic=$work/dynamic/korvalen-snapshot
values=$(seq -s, 101 132)
full=(--temperatures "$values" --fans "$values" --voltages "$values")
sim() { build/native/korvalen-sim "${full[@]}" -- "$@"; }

# ratio CSV ROW: the median of hyperfine's row ROW (2 or later) over that of row 1.
ratio() { awk -F, -v row="$2" 'NR == 2 { floor = $4 } NR == row + 1 { printf "%.3f", $4 / floor }' "$1"; }
median_us() { awk -F, -v row="$2" 'NR == row + 1 { printf "%.0f", $4 * 1e6 }' "$1"; }
verdict() { awk -v value="$1" -v limit="$2" 'BEGIN { print (value <= limit ? "meets" : "MISSES") }'; }
# summarize_rounds FILE: FILE holds a line per round of medians, in seconds, the floor's first.
# Prints the floor's median in us; the median, lowest and highest ratio of the second column to
# the floor; and the median ratio of the third column, or 0.
summarize_rounds() {
  awk '
    { floor[NR] = $1; second[NR] = $2 / $1; third[NR] = NF > 2 ? $3 / $1 : 0 }
    function median(values, n,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
      return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
    }
    END {
      lo = 1e9; hi = 0
      for (i = 1; i <= NR; i++) { if (second[i] < lo) lo = second[i]; if (second[i] > hi) hi = second[i] }
      printf "%.0f %.3f %.3f %.3f %.3f\n", median(floor, NR) * 1e6, median(second, NR), lo, hi, median(third, NR)
    }' "$1"
}

echo
echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"

echo
echo "== 1. whole-process time: $rounds rounds of $runs runs each (hyperfine, no shell)"
# Rounds alternate which program goes first, so that a drift of the machine's speed during the
# run falls on both alike; the ratio reported is the median of the rounds' ratios.
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order=("$work/noop" "$snapshot" "$dynamic"); else order=("$dynamic" "$snapshot" "$work/noop"); fi
  sim hyperfine -N --warmup 50 --runs "$runs" --style none --export-csv "$work/round.csv" \
    "${order[@]}" >/dev/null 2>"$work/native.warnings"
  awk -F, -v noop="$work/noop" -v snapshot="$snapshot" -v dynamic="$dynamic" '
    NR > 1 { median[$1] = $4 }
    END { printf "%.9f %.9f %.9f\n", median[noop], median[snapshot], median[dynamic] }' \
    "$work/round.csv" >>"$work/rounds.txt"
done
read -r noop_us static_ratio low high dynamic_ratio <<<"$(summarize_rounds "$work/rounds.txt")"
echo "no-op (static):              median $noop_us us"
echo "korvalen-snapshot (static):  ratio $static_ratio (rounds $low to $high)  ($(verdict "$static_ratio" 1.10) <= 1.10)"
echo "korvalen-snapshot (dynamic): ratio $dynamic_ratio"

echo "instructions, which unlike time repeat exactly (callgrind):"
instructions() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'; }
echo "  no-op $(instructions "$work/noop"); korvalen-snapshot $(sim sh -c "$(declare -f instructions); instructions $snapshot")"

echo
echo "== 2. system calls (strace)"
count_calls() { grep -vc '^+++' "$1"; }
strace -o "$work/noop.strace" "$work/noop"
sim strace -o "$work/snapshot.strace" "$snapshot" >/dev/null
sim strace -o "$work/dynamic.strace" "$dynamic" >/dev/null
floor=$(count_calls "$work/noop.strace")
calls=$(count_calls "$work/snapshot.strace")
echo "no-op: $floor; korvalen-snapshot (static): $calls, $((calls - floor)) above ($(verdict $((calls - floor)) 8) <= 8);" \
  "dynamic: $(count_calls "$work/dynamic.strace")"
echo "calls above the floor:"
grep -v '^+++' "$work/snapshot.strace" | sed -n "${floor},$((calls - 1))p" | sed 's/^/  /' | cut -c1-110
# Root's block spares the owner check its geteuid; a user reading its own block makes that call
# too. As root, measure that case as well, as nobody, from copies that nobody may run.
if [ "$(id -u)" -eq 0 ]; then
  shared=$(mktemp -d)
  chmod 777 "$shared"
  cp "$snapshot" build/native/korvalen-sim "$shared/"
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$shared/korvalen-sim" "${full[@]}" -- strace -o "$shared/user.strace" "$shared/korvalen-snapshot" >/dev/null
  user_calls=$(count_calls "$shared/user.strace")
  echo "a user's own block (as nobody): $user_calls, $((user_calls - floor)) above ($(verdict $((user_calls - floor)) 8) <= 8)"
  rm -rf "$shared"
fi

echo
echo "== 3. write calls carrying the report"
sim strace -e trace=write,writev -o "$work/file.strace" "$snapshot" >"$work/report.txt"
sim strace -e trace=write,writev -o "$work/pipe.strace" "$snapshot" | cat >/dev/null
file_writes=$(count_calls "$work/file.strace")
pipe_writes=$(count_calls "$work/pipe.strace")
echo "to a file: $file_writes ($(wc -c <"$work/report.txt") bytes); to a pipe: $pipe_writes" \
  "($( [ "$file_writes" -eq 1 ] && [ "$pipe_writes" -eq 1 ] && echo meets || echo MISSES) one write)"
full_status=0
sim strace -e trace=write,writev -o "$work/full.strace" "$snapshot" >/dev/full 2>/dev/null || full_status=$?
echo "to a full device: status $full_status; calls: $(grep -v '^+++' "$work/full.strace" | cut -c1-60 | tr '\n' ';')"

# wine_row PRESET LOADER NOOP: under the Wine loader LOADER, in the preset's own prefix, the
# preset's korvalen-snapshot.exe against the no-op exe NOOP, with korvalen-sim.exe holding the
# full block.
wine_row() {
  local preset=$1 loader=$2 noop=$3
  local run="cmake/wine-run.sh $loader $PWD/build/$preset/wine"
  $run "build/$preset/korvalen-snapshot.exe" >/dev/null 2>&1 || true  # prepares the prefix
  # korvalen-sim.exe holds the block while its standard input stays open.
  exec {hold}> >($run "build/$preset/korvalen-sim.exe" "${full[@]}" 2>/dev/null)
  sleep 2
  $run "build/$preset/korvalen-snapshot.exe" | head -2
  # The WriteFile calls that carry the report, as Wine's relay trace shows them.
  WINEDEBUG=+relay $run "build/$preset/korvalen-snapshot.exe" 2>"$work/relay.log" >"$work/wine-report.txt"
  echo "report: $(wc -c <"$work/wine-report.txt") bytes in" \
    "$(grep -c 'Call KERNEL32.WriteFile' "$work/relay.log") WriteFile calls"
  hyperfine -N --warmup 5 --runs 40 --style none --export-csv "$work/wine.csv" \
    "$run $noop" "$run build/$preset/korvalen-snapshot.exe" >/dev/null
  exec {hold}>&-
  sleep 1
  WINEPREFIX=$PWD/build/$preset/wine /usr/lib/wine/wineserver -k || true
  echo "no-op.exe median $(median_us "$work/wine.csv" 1) us; korvalen-snapshot.exe median" \
    "$(median_us "$work/wine.csv" 2) us; ratio $(ratio "$work/wine.csv" 2)"
}

echo
echo "== 4. under Wine ($(/usr/lib/wine/wine64 --version)), kernel $(uname -r)"
echo "-- wine64: korvalen-snapshot.exe (x86_64) against a no-op exe"
wine_row windows-x64 /usr/lib/wine/wine64 "$work/noop.exe"
echo "-- 32-bit Wine: the shipped korvalen-snapshot.exe (i686) against a 32-bit no-op exe"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_row windows-x86 /usr/lib/wine/wine "$work/noop32.exe"
else
  echo "not measured: this kernel runs no 32-bit code, so 32-bit Wine runs only in the QEMU guest" \
    "(scripts/run-in-guest.sh), under full emulation, where a time ratio would mean nothing"
fi

echo
# Five times the rounds, each a fifth as long: the two runs compared lie only a few hundred
# milliseconds apart, where a shared machine's drift over seconds cannot come between them.
sensors_rounds=$((rounds * 5))
sensors_runs=$((runs / 5 > 10 ? runs / 5 : 10))
echo "== 5. korvalen-prometheus with a sensors file of 96 positions, against none:" \
  "$sensors_rounds rounds of $sensors_runs runs"
# Every position named and bounded, the limits varied as a real machine's are.
sensors=$work/sensors.toml
for i in $(seq 0 31); do
  printf '[temperature.%s]\nname = "Temperature %s"\nmax = %s\ncrit = %s.5\n' "$i" "$i" $((70 + i)) $((90 + i))
  printf '[fan.%s]\nname = "Fan %s"\nmin = %s\n' "$i" "$i" $((300 + 10 * i))
  printf '[voltage.%s]\nname = "Voltage %s"\nmin = %s.25\nmax = %s.75\n' "$i" "$i" "$i" "$i"
done >"$sensors"
prometheus=build/native/korvalen-prometheus
plain="$prometheus $work/plain.prom"
named="$prometheus --sensors $sensors $work/named.prom"
rm -f "$work/sensors-rounds.txt" "$work/sensors-cpu.txt"
for round in $(seq "$sensors_rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order=("$plain" "$named"); else order=("$named" "$plain"); fi
  sim hyperfine -N --warmup 10 --runs "$sensors_runs" --style none --export-csv "$work/sensors.csv" \
    "${order[@]}" >/dev/null 2>>"$work/native.warnings"
  awk -F, -v named="$named" 'NR > 1 { if ($1 == named) n = $4; else p = $4 }
    END { printf "%.9f %.9f\n", p, n }' "$work/sensors.csv" >>"$work/sensors-rounds.txt"
  # The processor time alone (user and system), without the wait for the disk.
  awk -F, -v named="$named" 'NR > 1 { if ($1 == named) n = $5 + $6; else p = $5 + $6 }
    END { printf "%.9f %.9f\n", p, n }' "$work/sensors.csv" >>"$work/sensors-cpu.txt"
done
read -r plain_us sensors_ratio low high _ <<<"$(summarize_rounds "$work/sensors-rounds.txt")"
read -r plain_cpu_us cpu_ratio cpu_low cpu_high _ <<<"$(summarize_rounds "$work/sensors-cpu.txt")"
echo "without: median $plain_us us; with: ratio $sensors_ratio (rounds $low to $high)"
echo "processor time alone: without $plain_cpu_us us; with: ratio $cpu_ratio (rounds $cpu_low" \
  "to $cpu_high)"
plain_instructions=$(sim sh -c "$(declare -f instructions); instructions $plain")
named_instructions=$(sim sh -c "$(declare -f instructions); instructions $named")
echo "instructions (callgrind): without $plain_instructions; with $named_instructions"

echo
echo "== 6. korvalen-sensors against korvalen-prometheus, the same sensors file: $rounds rounds of" \
  "$sensors_runs runs"
viewer="build/native/korvalen-sensors --sensors $sensors"
rm -f "$work/viewer-rounds.txt"
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order=("$named" "$viewer"); else order=("$viewer" "$named"); fi
  sim hyperfine -N --warmup 10 --runs "$sensors_runs" --style none --export-csv "$work/viewer.csv" \
    --output=null "${order[@]}" >/dev/null 2>>"$work/native.warnings"
  awk -F, -v named="$named" 'NR > 1 { if ($1 == named) n = $4; else v = $4 }
    END { printf "%.9f %.9f\n", n, v }' "$work/viewer.csv" >>"$work/viewer-rounds.txt"
done
read -r named_us viewer_ratio low high _ <<<"$(summarize_rounds "$work/viewer-rounds.txt")"
echo "korvalen-prometheus: median $named_us us; korvalen-sensors: ratio $viewer_ratio (rounds $low" \
  "to $high) ($(verdict "$viewer_ratio" 1.0) <= 1.0)"
