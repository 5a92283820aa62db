#!/bin/sh
# readme_examples.sh README GUIDE FOLDER: runs the README's shell and Python examples and its
# recipe for a block in the background, and the operators' guide's recipes that run
# korvalen-prometheus from cron, as a user copies them, with the programs in FOLDER on the PATH,
# and checks what they print, how they end and that nothing is left running.

# scratch_system FOLDER WORK: in the mount namespace it is given, /etc an overlay (its upper
# layer in $etc/upper) and /var/lib, /dev/shm and /usr/local scratch, /usr/local holding what
# `cmake --install` puts there from the build FOLDER; and a systemctl in WORK/stubs that only
# notes what it is asked, in WORK/systemctl.calls.
scratch_system() {
  etc=$(mktemp -d "$2/etc.XXXXXX") && mkdir "$etc/upper" "$etc/work" && mount -t overlay \
    -o "lowerdir=/etc,upperdir=$etc/upper,workdir=$etc/work" overlay /etc || return 1
  for scratch in /var/lib /dev/shm /usr/local; do
    mount -t tmpfs tmpfs "$scratch" || return 1
  done
  cmake --install "$1" --prefix /usr/local >/dev/null || return 1
  mkdir -p "$2/stubs" && printf '#!/bin/sh\necho "$*" >>"%s/systemctl.calls"\n' "$2" \
    >"$2/stubs/systemctl" && chmod 755 "$2/stubs/systemctl"
}

# in_namespace RECIPE USER FOLDER WORK [LINE]: runs RECIPE, with USER for its user alice, as root
# in a mount namespace of its own, on scratch_system, with /var/lib/prometheus owned by
# node_exporter's user as Debian leaves it. Then one run as the recipe set it up, while USER's monitor runs: the cron
# line it wrote, as that line's user, or else the service, as systemd would start it. That must
# give korvalen_up 1 (and LINE, when given) in node_exporter's own folder, with its settings
# unchanged, for its user to read. Prints what is wrong.
in_namespace() {
  recipe=$1 user=$2 folder=$3 work=$4 line=${5:-korvalen_up 1}
  collector=$(id -u prometheus 2>/dev/null || id -u nobody)
  scratch_system "$folder" "$work" || return 1
  install -d -o "$collector" /var/lib/prometheus && install -d /var/lib/prometheus/node-exporter
  (cd / && sed "s/^user=alice\$/user=$user/" "$recipe" | PATH=$work/stubs:$PATH sh -e) >/dev/null ||
    return 1
  [ ! -e "$etc/upper/default/prometheus-node-exporter" ] || echo "node_exporter's settings changed"
  setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups \
    /usr/local/bin/korvalen-sim --sample -- sleep 60 &
  monitor=$!
  for _ in $(seq 100); do [ -e /dev/shm/KVSharedMemory_QDX ] || sleep 0.05; done
  if [ -e /etc/cron.d/korvalen ]; then
    set -f # the line's times are asterisks
    # shellcheck disable=SC2046 # the line's words, as cron splits them
    set -- $(cat /etc/cron.d/korvalen)
    runas=$6
    shift 6
  else
    grep -qx 'enable --now korvalen-prometheus.timer' "$work/systemctl.calls" ||
      echo "the recipe enables no timer"
    # shellcheck disable=SC2119 # it takes no arguments
    words=$(service_command) || return 1
    runas=$(printf '%s\n' "$words" | head -n 1)
    protect="unshare -m sh $0 --protect-system"
    writable=$(printf '%s\n' "$words" | sed -n 2p)
    set -f
    IFS='
'
    # shellcheck disable=SC2046 # one word a line
    set -- $(printf '%s\n' "$words" | tail -n +3)
    IFS=' 	
'
  fi
  # shellcheck disable=SC2086 # $protect is words, or none under cron
  ${protect:-env} ${protect:+"$writable"} setpriv --reuid="$runas" --regid="$(id -g "$runas")" \
    --init-groups "$@" || echo "the recipe's command failed"
  kill "$monitor" && wait "$monitor"
  setpriv --reuid="$collector" --regid="$(id -g "$collector")" --clear-groups \
    grep -qxF "$line" /var/lib/prometheus/node-exporter/korvalen.prom ||
    echo "node_exporter's user finds no '$line' in its folder"
  [ "$user" != root ] || [ ! -L /var/lib/prometheus/node-exporter/korvalen.prom ] ||
    echo "root's recipe wrote through a link, not into node_exporter's folder"
}

# service_command: prints the user, the folders that the service may write (ReadWritePaths=), and
# then, a word a line, the command line that systemd would give korvalen-prometheus.service:
# Environment=, User= and ReadWritePaths= of the unit and then of its drop-ins, the
# EnvironmentFile after them, and ExecStart with its variables.
# shellcheck disable=SC2120 # its arguments are the ones it sets itself
service_command() {
  runas=root writable=
  for unit in /usr/local/lib/systemd/system/korvalen-prometheus.service \
    /etc/systemd/system/korvalen-prometheus.service.d/*.conf; do
    [ -f "$unit" ] || continue
    while IFS= read -r setting; do
      case $setting in
        Environment=*) export "${setting#Environment=}" ;;
        User=*) runas=${setting#User=} ;;
        ReadWritePaths=*) writable="$writable ${setting#ReadWritePaths=}" ;;
        ExecStart=*) command=${setting#ExecStart=} ;;
      esac
    done <"$unit"
  done
  # shellcheck disable=SC1091 # the recipe's own file
  [ ! -f /etc/default/korvalen-prometheus ] || . /etc/default/korvalen-prometheus
  # shellcheck disable=SC2086 # $KORVALEN_OPTIONS splits into words, as systemd splits it
  eval "set -- $command"
  [ $# -gt 0 ] || return 1
  printf '%s\n' "$runas" "$writable" "$@"
}

# protect_system FOLDERS COMMAND...: COMMAND, in the mount namespace it is given, as systemd runs
# a service with ProtectSystem=strict, ReadWritePaths=FOLDERS and PrivateTmp=: every mount read-only
# but /dev, /proc and /sys and FOLDERS, and /tmp and /var/tmp its own.
protect_system() {
  writable="$1 ${LLVM_PROFILE_FILE:+${LLVM_PROFILE_FILE%/*}}" # and where a coverage build writes
  shift
  for folder in $writable; do mount --bind "$folder" "$folder" || return 1; done
  findmnt -rn -o TARGET | while read -r target; do
    case $target in /dev | /dev/* | /proc | /proc/* | /sys | /sys/*) ;; *) mount -o remount,bind,ro "$target" ;; esac
  done
  for folder in $writable; do mount -o remount,bind,rw "$folder" || return 1; done
  # (A coverage build writes its profiles under /tmp: there the private /tmp is left out.)
  [ -n "${LLVM_PROFILE_FILE:-}" ] || { mount -t tmpfs tmpfs /tmp && mount -t tmpfs tmpfs /var/tmp; } &&
    exec "$@"
}
# provision RECIPE FOLDER WORK: runs RECIPE, the dashboard's provisioning, as root in a mount
# namespace of its own, on scratch_system; then Grafana's provider file must name a folder that
# holds the installed dashboard as it is, readable by all.
provision() {
  recipe=$1 folder=$2 work=$3
  scratch_system "$folder" "$work" || return 1
  (cd / && PATH=$work/stubs:$PATH sh -e "$recipe") >/dev/null || return 1
  grep -qx 'restart grafana-server' "$work/systemctl.calls" || echo "the recipe restarts no Grafana"
  path=$(/usr/bin/python3 -c 'import sys, yaml
provider = yaml.safe_load(open(sys.argv[1]))["providers"][0]
print(provider["options"]["path"] if provider["type"] == "file" else "")' \
    /etc/grafana/provisioning/dashboards/korvalen.yaml) || return 1
  setpriv --reuid=nobody --regid=nogroup --clear-groups cmp -s \
    /usr/local/share/korvalen-snapshot/korvalen.dashboard.json "$path/korvalen.dashboard.json" ||
    echo "no dashboard for all to read in the provider's folder '$path'"
}
case ${1:-} in
  --in-namespace) shift && in_namespace "$@"; exit ;;
  --provision) shift && provision "$@"; exit ;;
  --protect-system) shift && protect_system "$@"; exit ;;
esac

readme=$1 guide=$2 folder=$3
PATH=$folder:$PATH
export PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# blocks DOCUMENT PREFIX: writes DOCUMENT's blocks fenced as ```sh and ```python to
# $work/PREFIX-sh.N and $work/PREFIX-python.N, in order.
blocks() {
  awk -v to="$work/$2" '/^```(sh|python)$/ { file = to "-" substr($0, 4) "." ++n[substr($0, 4)]; next }
    /^```$/ { file = "" } file { print > file }' "$1"
}
blocks "$readme" readme
blocks "$guide" guide
for block in readme-sh.3 readme-python.1 guide-sh.5; do
  [ -f "$work/$block" ] || { echo "FAIL: $block is missing: the documents' blocks have moved"; exit 1; }
done
for block in readme-sh.4 readme-python.2 guide-sh.6 guide-python.1; do
  [ ! -f "$work/$block" ] || { echo "FAIL: $block is new: the documents' blocks have moved"; exit 1; }
done

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
fans: 1240 980 0" "" korvalen-sim --sample -- sh "$work/readme-sh.1"
check shell-without-block 1 "" "Korvalen OpenFileMapping Error.
Korvalen is not running" sh "$work/readme-sh.1"
check python-sample 0 "3 51.0 [1240, 980, 0]" "" korvalen-sim --sample -- python3 "$work/readme-python.1"
check python-without-block 1 "" "no snapshot (status 1): Korvalen OpenFileMapping Error." \
  python3 "$work/readme-python.1"
check jq-sample 0 "temperature 0: 45.5
temperature 1: 38.25
temperature 2: 51
temperature 3: 29.75" "" korvalen-sim --sample -- sh "$work/readme-sh.3"
# The recipe runs in a session of its own, which must be empty once it has ended.
# shellcheck disable=SC2016 # expanded by the session's shell
check background-recipe 143 "$sample" "" setsid -w sh -c 'echo $$ >"$1.session"; . "$1"' sh "$work/readme-sh.2"
if pgrep -s "$(cat "$work/readme-sh.2.session")" >/dev/null; then
  echo "FAIL background-recipe: left running: $(pgrep -a -s "$(cat "$work/readme-sh.2.session")")"
  pkill -9 -s "$(cat "$work/readme-sh.2.session")"
  failed=1
fi
# The guide's recipes: the timer for a monitor run as root, for one run by a user (here nobody,
# for alice), and with the example sensors file; the cron line for root; the dashboard provisioned.
if [ "$(id -u)" -eq 0 ]; then
  cat "$work/guide-sh.1" "$work/guide-sh.4" >"$work/guide-sensors"
  check timer-as-root 0 "" "" unshare -m sh "$0" --in-namespace "$work/guide-sh.1" root "$folder" "$work"
  check timer-as-user 0 "" "" unshare -m sh "$0" --in-namespace "$work/guide-sh.2" nobody "$folder" "$work"
  check timer-with-sensors 0 "" "" unshare -m sh "$0" --in-namespace "$work/guide-sensors" root \
    "$folder" "$work" 'korvalen_temp_celsius{sensor="0",name="CPU Package"} 45.50'
  check cron-as-root 0 "" "" unshare -m sh "$0" --in-namespace "$work/guide-sh.3" root "$folder" "$work"
  check dashboard-provisioning 0 "" "" unshare -m sh "$0" --provision "$work/guide-sh.5" "$folder" "$work"
else
  echo "skipped: the guide's recipes need root for a mount namespace"
  [ "$failed" -ne 0 ] || exit 77
fi
[ "$failed" -eq 0 ] && echo "the README's examples and the guide's recipes do what they say"
exit "$failed"
