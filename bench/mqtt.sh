#!/usr/bin/env bash
# What one korvalen-mqtt run costs a timer, against the least an MQTT publish costs: a run with a
# full block (96 readings, each bounded: 289 messages) against one mosquitto_pub of one QoS 1
# message, both to Debian's mosquitto on loopback, as paired runs (each pair runs both, in turns
# of order), with the ratio of each pair's times and the median of those ratios; once with the
# broker's set_tcp_nodelay true, once with its default. Aim: at most 3 times with it.
# Usage: bench/mqtt.sh [PAIRS]   (default 101)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" mosquitto mosquitto-clients python3

pairs=${1:-101}
work=$(mktemp -d)
sim_pid=
trap 'kill $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
cmake --preset native >/dev/null
cmake --build --preset native --target korvalen-mqtt korvalen-sim >/dev/null
mqtt=$PWD/build/native/korvalen-mqtt sim=$PWD/build/native/korvalen-sim

# The sensors file: every position named and bounded, so that each reading has a problem sensor.
for kind in temperature:max fan:min voltage:max; do
  for position in $(seq 0 31); do echo "${kind%:*}.$position.${kind#*:} = 1"; done
done >"$work/sensors.toml"
values=$(seq -s, 1 32)
"$sim" --temperatures "$values" --fans "$values" --voltages "$values" -- sleep 100000 &
sim_pid=$!

# run_pairs NODELAY: the median of the pairs' times and ratios with the broker's set_tcp_nodelay.
run_pairs() {
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nset_tcp_nodelay %s\n' \
    "$port" "$1" >"$work/broker.conf"
  mosquitto -c "$work/broker.conf" 2>/dev/null &
  local broker=$!
  for _ in $(seq 100); do mosquitto_pub -p "$port" -t k/probe -n 2>/dev/null && break; sleep 0.05; done
  python3 - "$pairs" "$1" "$mqtt" "$port" "$work/sensors.toml" <<'PY'
import statistics, subprocess, sys, time
pairs, nodelay, mqtt, port, sensors = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
run = [mqtt, "--node", "bench", "--sensors", sensors, "127.0.0.1:" + port]
pub = ["mosquitto_pub", "-p", port, "-q", "1", "-t", "k/bench", "-m", "1"]
def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start
times = {"run": [], "pub": []}
for i in range(pairs):
    order = ("run", "pub") if i % 2 == 0 else ("pub", "run")
    for name in order:
        times[name].append(timed(run if name == "run" else pub))
ratios = [r / p for r, p in zip(times["run"], times["pub"])]
print("set_tcp_nodelay %-5s  korvalen-mqtt %6.2f ms  mosquitto_pub %6.2f ms  ratio (median of %d pairs) %.2f"
      % (nodelay, 1000 * statistics.median(times["run"]), 1000 * statistics.median(times["pub"]),
         pairs, statistics.median(ratios)))
PY
  kill "$broker"
  wait "$broker" 2>/dev/null || true
}
run_pairs true
run_pairs false
