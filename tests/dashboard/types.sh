#!/usr/bin/env bash
# types.sh DASHBOARD FOLDER: DASHBOARD type-checked against Grafana's own types at each version the
# project pins, installed under FOLDER where they are not yet.
set -u
. "$(dirname "$0")/../../scripts/packages.sh"
fail=0
for version in "${GRAFANA_SCHEMA_VERSIONS[@]}"; do
  echo "@grafana/schema $version"
  ensure_npm_packages "$2/grafana-schema-$version" "@grafana/schema@$version" "$TYPESCRIPT_PACKAGE" &&
    "$(dirname "$0")/check.py" types "$1" "$2/grafana-schema-$version" || fail=1
done
exit "$fail"
