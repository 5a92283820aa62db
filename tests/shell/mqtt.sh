#!/bin/sh
# mqtt.sh FOLDER [EMULATOR...]: korvalen-mqtt against Debian's mosquitto broker, started here on
# a free loopback port with a password file, an access list and no anonymous access, as
# mosquitto_sub reads what it publishes: discovery, states and alarms with readings at their
# limits, a reading gone, no block, a refused sensors file, TLS, and the failures, among them a
# broker that speaks only MQTT 3.1.1 and one that drips its answers (broker_proxy.py in front of
# mosquitto). With EMULATOR, FOLDER's Windows programs run through it (Wine) for the first case
# alone.
# shellcheck disable=SC2015 # A && B || fail is the idiom
tests=$(cd "$(dirname "$0")/.." && pwd) && proxy=$tests/shell/broker_proxy.py guide=$tests/../docs/home-assistant.md
# shellcheck source=tests/shell/init.sh
. "$(dirname "$0")/init.sh"
shift
emulator=$* exe=
[ $# -eq 0 ] || exe=.exe
path() { echo "$programs/$1$exe"; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port) tls=$(free_port) tls_other=$(free_port) no_broker=$(free_port)
# Beside the plain listener, one with TLS as 127.0.0.1, and one with TLS as another host's name.
for name in IP:127.0.0.1 DNS:other; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "${name#*:}.key" \
    -out "${name#*:}.pem" -days 2 -subj "/CN=${name#*:}" -addext "subjectAltName=$name" 2>/dev/null ||
    framework_failure_ "no certificate"
done
# The user korvalen may do what docs/home-assistant.md's access list lets it; limited may read
# the configs but write only korvalen/#. The password file's line ends as Windows ends it.
mosquitto_passwd -c -b passwd korvalen secret && mosquitto_passwd -b passwd limited secret &&
  printf 'secret\r\n' >password && chmod 600 password &&
  printf '%s\n' 'user korvalen' 'topic write homeassistant/#' 'topic read homeassistant/+/+/+/config' \
    'topic readwrite korvalen/#' 'user limited' 'topic read homeassistant/#' 'topic readwrite korvalen/#' >acl &&
  printf 'listener %s 127.0.0.1\nallow_anonymous false\npassword_file %s\nacl_file %s\npersistence false\nuser %s\n' \
    "$port" "$work/passwd" "$work/acl" "$(id -un)" >broker.conf &&
  printf 'listener %s 127.0.0.1\ncertfile %s/%s.pem\nkeyfile %s/%s.key\n' "$tls" "$work" 127.0.0.1 "$work" \
    127.0.0.1 "$tls_other" "$work" other "$work" other >>broker.conf || framework_failure_
mosquitto -c broker.conf 2>broker.log & broker=$!
python3 "$proxy" v311 "$port" v311 & v311=$!
python3 "$proxy" drip:8 "$port" drip:8 & drip=$!
trap 'kill $broker $v311 $drip; cd / && rm -rf "$work"' EXIT
sub() { mosquitto_sub -p "$port" -u korvalen -P secret "$@"; }
pub() { mosquitto_pub -p "$port" -u korvalen -P secret "$@"; }
# until_seen WORD: publishes WORD until the subscriber writing `live` has it.
until_seen() {
  for _ in $(seq 200); do grep -q "$1" live && return; pub -t "korvalen/$1" -m "$1"; sleep 0.05; done
  framework_failure_ "the subscriber never saw $1"
}
for _ in $(seq 100); do pub -t k/probe -n 2>/dev/null && break; sleep 0.05; done
# mqtt ARG...: korvalen-mqtt ARG... for node n1 on the broker ($broker_at where set), as the
# user korvalen, while the sim publishes a block as $block says (none where it is empty); what a
# subscriber saw in `live`.
mqtt() {
  mosquitto_sub -p "$port" -u korvalen -P secret -R -t 'korvalen/#' -F '%t %p' >live &
  live=$!
  until_seen ready
  set -- "$(path korvalen-mqtt)" "$@" --node n1 --username korvalen --password-file password \
    "${broker_at:-127.0.0.1:$port}"
  status=0
  # shellcheck disable=SC2086 # the emulator's and the sim's words
  if [ -n "$block" ]; then $emulator "$(path korvalen-sim)" $block -- "$@"; else $emulator "$@"; fi \
    2>err || status=$?
  until_seen end
  kill $live && sed -i '/^korvalen\/\(ready\|end\|n1\/run\/\)/d' live
}
retained() { sub -t 'homeassistant/#' -t 'korvalen/#' --retained-only -W 1 -F '%t %p' 2>/dev/null | LC_ALL=C sort; }

# The sample, each limit exactly at its reading or one step beyond, a name to escape.
printf '%s\n' 'temperature.0 = {crit = 45.5, name = "CPU \"0\""}' 'temperature.1.max = 38.25' \
  'fan.0.min = 1240' 'fan.1.min = 981' 'voltage.0.ignore = true' 'voltage.3 = {min = 12.1, max = 12.1}' \
  >sensors.toml && echo '[fans.0]' >refused.toml || framework_failure_
block=--sample mqtt --sensors sensors.toml
cat >exp <<'.'
korvalen/n1/availability online
korvalen/n1/temperature/0 45.50
korvalen/n1/temperature/0/alarm ON
korvalen/n1/temperature/0/limits {"crit": 45.50}
korvalen/n1/temperature/1 38.25
korvalen/n1/temperature/1/alarm OFF
korvalen/n1/temperature/1/limits {"max": 38.25}
korvalen/n1/temperature/2 51.00
korvalen/n1/temperature/3 29.75
korvalen/n1/fan/0 1240
korvalen/n1/fan/0/alarm OFF
korvalen/n1/fan/0/limits {"min": 1240}
korvalen/n1/fan/1 980
korvalen/n1/fan/1/alarm ON
korvalen/n1/fan/1/limits {"min": 981}
korvalen/n1/fan/2 0
korvalen/n1/voltage/1 3.31
korvalen/n1/voltage/2 5.02
korvalen/n1/voltage/3 12.10
korvalen/n1/voltage/3/alarm OFF
korvalen/n1/voltage/3/limits {"min": 12.10, "max": 12.10}
korvalen/n1/status ok
.
compare exp live && [ "$status" -eq 0 ] || fail=1
# shellcheck disable=SC2086 # the emulator's words
version=$($emulator "$(path korvalen-mqtt)" --version | sed -n 's/^korvalen-mqtt \([^\r]*\)\r*$/\1/p')
device='"device":{"identifiers":["korvalen_n1"],"name":"Korvalen n1"},"origin":{"name":"korvalen-mqtt","sw_version":"'$version'"},"expire_after":180'
cat >exp <<.
homeassistant/binary_sensor/n1/fan_0_alarm/config
homeassistant/binary_sensor/n1/fan_1_alarm/config
homeassistant/binary_sensor/n1/temperature_0_alarm/config {"name":"CPU \"0\" alarm","unique_id":"korvalen_n1_temperature_0_alarm","default_entity_id":"binary_sensor.korvalen_n1_temperature_0_alarm",$device,"state_topic":"korvalen/n1/temperature/0/alarm","availability_topic":"korvalen/n1/availability","device_class":"problem","payload_on":"ON","payload_off":"OFF","json_attributes_topic":"korvalen/n1/temperature/0/limits"}
homeassistant/binary_sensor/n1/temperature_1_alarm/config
homeassistant/binary_sensor/n1/voltage_3_alarm/config
homeassistant/sensor/n1/fan_0/config {"name":"Fan 0","unique_id":"korvalen_n1_fan_0","default_entity_id":"sensor.korvalen_n1_fan_0",$device,"state_topic":"korvalen/n1/fan/0","availability_topic":"korvalen/n1/availability","unit_of_measurement":"rpm","state_class":"measurement","suggested_display_precision":0}
homeassistant/sensor/n1/fan_1/config
homeassistant/sensor/n1/fan_2/config
homeassistant/sensor/n1/status/config {"name":"Status","unique_id":"korvalen_n1_status","default_entity_id":"sensor.korvalen_n1_status",$device,"state_topic":"korvalen/n1/status","device_class":"enum","options":["ok","missing","not_ours","not_mapped","sensors_file_refused"],"entity_category":"diagnostic"}
homeassistant/sensor/n1/temperature_0/config {"name":"CPU \"0\"","unique_id":"korvalen_n1_temperature_0","default_entity_id":"sensor.korvalen_n1_temperature_0",$device,"state_topic":"korvalen/n1/temperature/0","availability_topic":"korvalen/n1/availability","unit_of_measurement":"°C","device_class":"temperature","state_class":"measurement","suggested_display_precision":2}
homeassistant/sensor/n1/temperature_1/config
homeassistant/sensor/n1/temperature_2/config
homeassistant/sensor/n1/temperature_3/config
homeassistant/sensor/n1/voltage_1/config
homeassistant/sensor/n1/voltage_2/config
homeassistant/sensor/n1/voltage_3/config {"name":"Voltage 3","unique_id":"korvalen_n1_voltage_3","default_entity_id":"sensor.korvalen_n1_voltage_3",$device,"state_topic":"korvalen/n1/voltage/3","availability_topic":"korvalen/n1/availability","unit_of_measurement":"V","device_class":"voltage","state_class":"measurement","suggested_display_precision":2}
korvalen/n1/availability online
korvalen/n1/status ok
.
# The configs in full where they differ in kind, the others by their topic.
retained | sed -E '/(temperature_0(_alarm)?|fan_0|voltage_3|status)\/config/!s/\/config .*/\/config/' >got
compare exp got || fail=1
[ -z "$exe" ] || Exit

# The reading gone, through a broker that speaks only MQTT 3.1.1: fan 1 and 2 lose their
# entities; a config of another's under n1 that names n1's id deeper down, and a config of this
# node's other than a reading's, stay. The configs say how long a reading lasts.
pub -r -t homeassistant/sensor/n1/fan_9/config -m '{"unique_id": "x", "a": {"unique_id": "korvalen_n1_fan_9"}}'
pub -r -t homeassistant/sensor/n1/extra/config -m '{"unique_id": "korvalen_n1_extra"}'
for _ in $(seq 100); do [ -e v311 ] && [ -e drip:8 ] || sleep 0.05; done
block="--sample --fan-count 1" broker_at=127.0.0.1:$(cat v311) mqtt --sensors sensors.toml --expire-after 61
retained | grep -o '^[^ ]*/\(fan_[0-9]\(_alarm\)\?\|extra\)/config' >got
printf '%s\n' homeassistant/binary_sensor/n1/fan_0_alarm/config homeassistant/sensor/n1/extra/config \
  homeassistant/sensor/n1/fan_0/config homeassistant/sensor/n1/fan_9/config >exp
compare exp got && [ "$status" -eq 0 ] || fail=1
sub -t homeassistant/sensor/n1/fan_0/config -C 1 -W 1 | jq -e '.expire_after == 61' >/dev/null || fail=1

# No block, a block too small to map, another user's block (as root), then a refused sensors
# file: offline, with the status that says why; the entities stay for when the readings come back.
printf 'short' >short || framework_failure_
for case in missing not_mapped not_ours sensors_file_refused; do
  [ $case != not_ours ] || [ "$(id -u)" -eq 0 ] || continue
  block=$([ $case = not_mapped ] && echo "--raw short")
  [ $case != not_ours ] || { setpriv --reuid=nobody --regid=nogroup --clear-groups korvalen-sim --sample -- sleep 10 & others=$!; }
  for _ in $(seq 100); do [ $case != not_ours ] || [ -e /dev/shm/KVSharedMemory_QDX ] || sleep 0.05; done
  mqtt --sensors "$([ $case = sensors_file_refused ] && echo refused.toml || echo sensors.toml)"
  [ $case != not_ours ] || { kill "$others" && wait "$others"; }
  printf 'korvalen/n1/availability offline\nkorvalen/n1/status %s\n' "$case" >exp
  compare exp live || fail=1
  retained | grep -c '/config' | grep -qx 15 || fail=1
done
echo "korvalen-mqtt: refused.toml:1:2: fans: unknown table: the tables are temperature, fan and voltage" >exp
compare exp err && [ "$status" -eq 78 ] || fail=1

# The failures, one line each, the password in none; TLS that trusts the broker's authority and
# name alone; the access list; a broker that speaks 3.1.1 alone; a config far beyond any of the
# run's, at a topic it reads (v5 asks the broker not to send it; under 3.1.1 the memory bound
# refuses it, where no sanitizer lifts the bound); the password file.
printf 'wrong\n' >wrong && printf '\n' >empty && printf 'a\000b\n' >nul && chmod 600 wrong empty nul &&
  cp password open && chmod 620 open || framework_failure_
# failed STATUS LINE ARG...: korvalen-mqtt --username ${user:-korvalen} ARG... ends with STATUS and
# says LINE.
failed() {
  status=0 expected=$1 && { [ -z "$2" ] || echo "korvalen-mqtt: $2"; } >exp && shift 2
  ${with:-} korvalen-mqtt --username "${user:-korvalen}" "$@" 2>err || status=$?
  compare exp err && [ "$status" -eq "$expected" ] || fail=1
}
at=127.0.0.1:$port at311=127.0.0.1:$(cat v311)
# The drip runs beside the cases below, timed in seconds: its broker holds each answer 8 s.
sh -c 'start=$(date +%s); korvalen-mqtt "$@"; s=$?; echo $(($(date +%s) - start)) >drip.time; exit $s' sh \
  --username korvalen --password-file password "127.0.0.1:$(cat drip:8)" 2>drip.err & dripping=$!
failed 77 "$at: the broker refused the connection: Not authorized" --password-file wrong "$at"
failed 69 "127.0.0.1:$no_broker: cannot connect: Connection refused" --password-file password "127.0.0.1:$no_broker"
failed 0 "" --cafile 127.0.0.1.pem --password-file password "127.0.0.1:$tls"
failed 69 "127.0.0.1:$tls: cannot connect: A TLS error occurred." --cafile other.pem --password-file password "127.0.0.1:$tls"
failed 69 "127.0.0.1:$tls_other: cannot connect: A TLS error occurred." --cafile other.pem --password-file password "127.0.0.1:$tls_other"
failed 64 "--cafile: File does not exist: none
Run 'korvalen-mqtt --help' for the options." --cafile none "$at"
user=limited failed 77 "$at: homeassistant/sensor/n2/status/config: the broker refused it: Not authorized" --node n2 --password-file password "$at"
user=limited failed 69 "$at311: homeassistant/sensor/n2/status/config: the broker did not keep it (with MQTT 3.1.1 it says no reason)" --node n2 --password-file password "$at311"
failed 0 "" --node n2 --password-file password "$at311"
head -c 200000000 /dev/zero | pub -r -t homeassistant/sensor/n2/fan_5/config -s
failed 0 "" --node n2 --password-file password "$at"
grep -q AddressSanitizer "$(command -v korvalen-mqtt)" ||
  failed 69 "$at311: cannot read what it keeps: Out of memory." --node n2 --password-file password "$at311"
pub -r -n -t homeassistant/sensor/n2/fan_5/config
for file in open empty nul; do
  failed 78 "$file: $(case $file in open) echo "the group or others may use it: make it the user's alone (chmod 600)" ;;
    empty) echo "its first line, the password, is empty" ;; *) echo "the password holds a NUL byte" ;; esac)" \
    --password-file $file "$at"
done
# As root: a password file of another user's, one with a second name, one in another user's
# folder, a link that another user planted; and the node's name from the host's, lowercased.
if [ "$(id -u)" -eq 0 ]; then
  chmod 711 "$work" && mkdir theirs && cp password theirs/password && cp password nobodys && chown nobody theirs nobodys &&
    as_nobody ln -s /etc/shadow theirs/shadow || framework_failure_
  failed 78 "nobodys: it belongs to nobody" --password-file nobodys "$at"
  cp password twice && ln twice linked && failed 78 "linked: it has a second name" --password-file linked "$at"
  failed 78 "theirs/password: it stands in a folder that belongs to nobody" --password-file theirs/password "$at"
  failed 78 "theirs/shadow: cannot be read: '$work/theirs/shadow' belongs to nobody" --password-file theirs/shadow "$at"
  printf 'hostname My-Host.Example && exec "$@"\n' >renamed || framework_failure_
  with="unshare -u sh renamed" failed 0 "" --password-file password "$at"
  retained | grep -q '^korvalen/my_host_example/status missing$' || fail=1
fi
# As root: the guide's timer recipe, for the user nobody, this broker and its password, in a
# mount namespace of its own (/etc an overlay, /usr/local and /var/lib scratch, the programs
# installed there, systemctl a stub); then the service's command as systemd gives it, as nobody,
# with every mount read-only, while nobody's monitor runs: it publishes the sample.
if [ "$(id -u)" -eq 0 ]; then
  awk '/^```sh$/ { n++; inside = 1; next } /^```/ { inside = 0 } inside && n == 2' "$guide" |
    sed -e "s/^user=alice broker=homeassistant.local\$/user=nobody broker=127.0.0.1:$port/" \
      -e "s/'a password of your own'/secret/" >recipe &&
    mkdir -p stubs etc/u etc/w && printf '#!/bin/sh\n' >stubs/systemctl && chmod 755 stubs/systemctl &&
    cat >recipe-run <<RUN || framework_failure_
mount -t overlay -o lowerdir=/etc,upperdir=$work/etc/u,workdir=$work/etc/w overlay /etc &&
  mount -t tmpfs tmpfs /var/lib && mount -t tmpfs tmpfs /usr/local &&
  cmake --install $programs --prefix /usr/local >/dev/null && PATH=$work/stubs:\$PATH sh -e recipe &&
  . /etc/default/korvalen-mqtt && runas=\$(sed -n 's/^User=//p' /etc/systemd/system/korvalen-mqtt.service.d/*.conf) &&
  grep -qx 'EnvironmentFile=/etc/default/korvalen-mqtt' /usr/local/lib/systemd/system/korvalen-mqtt.service ||
  exit 99
setpriv --reuid=nobody --regid=nogroup --clear-groups korvalen-sim --sample -- sleep 10 & monitor=\$!
for _ in \$(seq 100); do [ -e /dev/shm/KVSharedMemory_QDX ] || sleep 0.05; done
# shellcheck disable=SC2086 # the options are words, as systemd splits them
sh $tests/readme_examples.sh --protect-system "" setpriv --reuid="\$runas" --regid=nogroup --clear-groups \
  /usr/local/bin/korvalen-mqtt \$KORVALEN_MQTT_OPTIONS "\$KORVALEN_MQTT_BROKER"; status=\$?
kill \$monitor; exit \$status
RUN
  node=$(hostname | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9_]/_/g')
  status=0 && unshare -m sh recipe-run 2>err || status=$?
  [ "$status" -eq 0 ] && [ ! -s err ] && retained | grep -q "^korvalen/$node/status ok\$" || { cat err; fail=1; }
fi
# As root, which may mount: a name server on loopback that never answers; the run ends at its
# deadline all the same, and with the status that the refused sensors file gives.
if [ "$(id -u)" -eq 0 ]; then
  python3 -c 'import os, random, socket, time
s, a = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), "127.%d.%d.%d" % tuple(random.randrange(1, 255) for _ in "abc")
s.bind((a, 53)); open("r.tmp", "w").write("nameserver %s\noptions timeout:60 attempts:1\n" % a); os.rename("r.tmp", "resolv.conf"); time.sleep(40)' & dns=$!
  printf 'mount --bind resolv.conf /etc/resolv.conf && exec "$@"\n' >unanswered && for _ in $(seq 100); do [ -e resolv.conf ] || sleep 0.05; done
  with="unshare -m sh unanswered" failed 78 "refused.toml:1:2: fans: unknown table: the tables are temperature, fan and voltage
korvalen-mqtt: nowhere.example:1883: cannot connect: no answer within 30 s" --sensors refused.toml nowhere.example
  kill $dns
else
  echo "skipped without root: the guide's recipe, other users' files and an unanswered name server"
fi
status=0 && wait $dripping || status=$?
echo "korvalen-mqtt: 127.0.0.1:$(cat drip:8): cannot read what it keeps: no answer within 30 s" >exp
compare exp drip.err && [ "$status" -eq 69 ] && [ "$(cat drip.time)" -le 31 ] || fail=1
Exit
