#!/bin/sh
# sensors_json.sh FOLDER: korvalen-sensors --json as real parsers read it, Python's json and jq,
# for a block and a sensors file whose names need escaping.
# shellcheck source=tests/shell/init.sh
. "$(dirname "$0")/init.sh"

printf '%s\n' '[temperature.0]' 'name = "CPU \"0\" \\ é"' 'max = 85' '[fan.0]' 'min = 300' \
  '[voltage.0]' 'ignore = true' >sensors.toml || framework_failure_
korvalen-sim --temperatures 45.5,-0.05 --fans 250 --voltages 12.1,3.3 -- \
  korvalen-sensors --sensors sensors.toml --json >out || fail=1

# The same document written by hand from the block and the file; both read by the parser with
# each object as its pairs in order, so that the keys' order counts too.
cat >exp.json <<'.'
{"version": 1, "flags": 0,
 "temperatures": [{"sensor": 0, "name": "CPU \"0\" \\ é", "value": 45.5, "max": 85, "alarm": false},
                  {"sensor": 1, "value": -0.05}],
 "fans": [{"sensor": 0, "value": 250, "min": 300, "alarm": true}],
 "voltages": [{"sensor": 1, "value": 3.3}]}
.
python3 -c 'import json, sys
read = [json.load(open(f, encoding="utf-8"), object_pairs_hook=list) for f in sys.argv[1:]]
sys.exit(0 if read[0] == read[1] else "json: %r" % read[1])' exp.json out || fail=1
[ "$(tail -c 1 out | od -An -c | tr -d ' ')" = '\n' ] && [ "$(wc -l <out)" -eq 1 ] || fail=1

printf '%s\n' 'CPU "0" \ é 85 false' '250 true' >exp
jq -r '"\(.temperatures[0].name) \(.temperatures[0].max) \(.temperatures[0].alarm)",
  "\(.fans[0].value) \(.fans[0].alarm)"' out >got || fail=1
compare exp got || fail=1

Exit
