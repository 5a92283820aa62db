#!/bin/sh
# readme_examples.sh README FOLDER: runs the README's shell and Python examples, its recipe for a
# block in the background, and its two recipes that run korvalen-prometheus from cron, as a user
# copies them, with the programs in FOLDER on the PATH, and checks what they print, how they end
# and that nothing is left running.

# in_namespace RECIPE USER FOLDER WORK: runs RECIPE, with USER for its user alice, as root where
# /etc/cron.d, /etc/default, /var/lib, /dev/shm and /usr/local/bin are scratch copies (run in a
# mount namespace of its own), /var/lib/prometheus owned by node_exporter's user as Debian leaves
# it; then the cron line it wrote, as that line's user, while USER's monitor runs. That must
# give korvalen_up 1 in node_exporter's own folder, unchanged, for node_exporter's user to read.
# Prints what is wrong.
in_namespace() {
  recipe=$1 user=$2 folder=$3 work=$4
  collector=$(id -u prometheus 2>/dev/null || id -u nobody)
  cp /etc/default/prometheus-node-exporter "$work/default"
  for scratch in /etc/cron.d /etc/default /var/lib /dev/shm /usr/local/bin; do
    mount -t tmpfs tmpfs "$scratch" || return 1
  done
  cp "$work/default" /etc/default/prometheus-node-exporter
  install -d -o "$collector" /var/lib/prometheus && install -d /var/lib/prometheus/node-exporter
  cp "$folder/korvalen-prometheus" "$folder/korvalen-sim" /usr/local/bin/
  (cd / && sed "s/^user=alice\$/user=$user/" "$recipe" | sh -e) || return 1
  cmp -s "$work/default" /etc/default/prometheus-node-exporter || echo "node_exporter's settings changed"
  set -f # the line's times are asterisks
  # shellcheck disable=SC2046 # the line's words, as cron splits them
  set -- $(cat /etc/cron.d/korvalen)
  runas=$6
  shift 6
  setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups \
    /usr/local/bin/korvalen-sim --sample -- sleep 60 &
  monitor=$!
  for _ in $(seq 100); do [ -e /dev/shm/KVSharedMemory_QDX ] || sleep 0.05; done
  setpriv --reuid="$runas" --regid="$(id -g "$runas")" --init-groups "$@" ||
    echo "the cron line's command failed"
  kill "$monitor" && wait "$monitor"
  setpriv --reuid="$collector" --regid="$(id -g "$collector")" --clear-groups \
    grep -qx 'korvalen_up 1' /var/lib/prometheus/node-exporter/korvalen.prom ||
    echo "node_exporter's user finds no korvalen_up 1 in its folder"
}
if [ "${1:-}" = --in-namespace ]; then
  shift
  in_namespace "$@"
  exit
fi

readme=$1
PATH=$2:$PATH
export PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# The README's blocks fenced as ```sh (the example, then the recipe) and as ```python.
awk -v dir="$work" '/^```(sh|python)$/ { file = dir "/" substr($0, 4) "." ++n[substr($0, 4)]; next }
  /^```$/ { file = "" } file { print > file }' "$readme"
if [ ! -f "$work/sh.4" ] || [ -f "$work/sh.5" ] || [ ! -f "$work/python.1" ] || [ -f "$work/python.2" ]; then
  echo "FAIL: expected four sh blocks and one python block in $readme"
  exit 1
fi

# check NAME STATUS OUT ERR COMMAND...: COMMAND must end with STATUS and print OUT and ERR.
check() {
  name=$1 status=$2 out=$3 err=$4 got=0
  shift 4
  "$@" >"$work/out" 2>"$work/err" </dev/null || got=$?
  if [ "$got" -ne "$status" ] || [ "$(cat "$work/out")" != "$out" ] ||
    [ "$(cat "$work/err")" != "$err" ]; then
    printf 'FAIL %s: status %s, not %s\nout: %s\nerr: %s\n' "$name" "$got" "$status" \
      "$(cat "$work/out")" "$(cat "$work/err")"
    failed=1
  fi
}

sample="Version: 3
Flags: 1
Temperatures: 45.50 38.25 51.00 29.75
Fans: 1240 980 0
Voltages: 1.20 3.31 5.02 12.10"
check shell-sample 0 "first temperature: 45.50
fans: 1240 980 0" "" korvalen-sim --sample -- sh "$work/sh.1"
check shell-without-block 1 "" "Korvalen OpenFileMapping Error.
Korvalen is not running" sh "$work/sh.1"
check python-sample 0 "3 51.0 [1240, 980, 0]" "" korvalen-sim --sample -- python3 "$work/python.1"
check python-without-block 1 "" "no snapshot (status 1): Korvalen OpenFileMapping Error." \
  python3 "$work/python.1"
# The recipe runs in a session of its own, which must be empty once it has ended.
# shellcheck disable=SC2016 # expanded by the session's shell
check background-recipe 143 "$sample" "" setsid -w sh -c 'echo $$ >"$1.session"; . "$1"' sh "$work/sh.4"
if pgrep -s "$(cat "$work/sh.4.session")" >/dev/null; then
  echo "FAIL background-recipe: left running: $(pgrep -a -s "$(cat "$work/sh.4.session")")"
  pkill -9 -s "$(cat "$work/sh.4.session")"
  failed=1
fi
# The cron recipes: a monitor run as root, and one run by a user (here nobody, for alice).
if [ "$(id -u)" -eq 0 ]; then
  check cron-as-root 0 "" "" unshare -m sh "$0" --in-namespace "$work/sh.2" root "$2" "$work"
  check cron-as-user 0 "" "" unshare -m sh "$0" --in-namespace "$work/sh.3" nobody "$2" "$work"
else
  echo "the cron recipes need root for a mount namespace: not run"
fi
[ "$failed" -eq 0 ] && echo "the README's examples and recipes do what it says"
exit "$failed"
