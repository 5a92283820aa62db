#!/bin/sh
# check_package.sh BUILD CPACK CMAKE: packs the build folder BUILD into a scratch folder and
# checks that the ZIP holds exactly what a Windows user needs, with its SHA-256 sum beside it.
build=$1 cpack=$2 cmake=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { echo "FAIL: cpack"; cat "$work/cpack.log"; exit 1; }
zip=$(ls "$work"/*.zip)
(cd "$work" && sha256sum -c "$(basename "$zip").sha256" >/dev/null) || { echo "FAIL: sum"; exit 1; }
listing=$("$cmake" -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
echo "$(basename "$zip"):"
echo "$listing"
top=$(basename "$zip" .zip)
expected=$(printf '%s\n' "$top/LICENSE" "$top/README.md" "$top/THIRD-PARTY-NOTICES.txt" \
  "$top/docs/home-assistant.md" "$top/docs/monitoring.md" "$top/korvalen-mqtt.exe" \
  "$top/korvalen-mqttw.exe" "$top/korvalen-prometheus.exe" "$top/korvalen-prometheusw.exe" \
  "$top/korvalen-sensors.exe" "$top/korvalen-sim.exe" \
  "$top/korvalen-snapshot.exe" "$top/korvalen.dashboard.json" "$top/korvalen.rules.yml" "$top/sensors.example.toml")
[ "$listing" = "$expected" ] || { echo "FAIL: expected"; echo "$expected"; exit 1; }
