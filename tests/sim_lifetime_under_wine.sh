#!/bin/sh
# sim_lifetime_under_wine.sh FOLDER RUNNER...: stops korvalen-sim.exe (in FOLDER, run by the Wine
# RUNNER...) while its command, test-sleeper.exe, runs, in each way that a user or a service
# manager stops it: SIGTERM and SIGINT to its process, and taskkill /F. Fails unless the sim
# ends, and no command is left running and no block published, within five seconds of the stop.
folder=$1
shift
cd "$folder" || exit 1
failed=0
sleeper='^test-sleeper.exe 86398'

# within SECONDS COMMAND...: retries COMMAND every tenth of a second; fails when time is up.
within() {
  tries=$(($1 * 10))
  shift
  until "$@"; do
    [ $((tries -= 1)) -ge 0 ] || return 1
    sleep 0.1
  done
}
# shellcheck disable=SC2317 # called through within
sim_ended() { ! kill -0 "$sim" 2>/dev/null; }
# shellcheck disable=SC2317 # called through within
command_ended() { ! pgrep -f "$sleeper" >/dev/null; }
fail() { echo "FAIL $stop: $1"; failed=1; }

for stop in TERM INT taskkill; do
  "$@" korvalen-sim.exe --sample -- test-sleeper.exe 86398 2>/dev/null &
  sim=$!
  within 30 pgrep -f "$sleeper" >/dev/null || fail "the command never started"
  case $stop in
    taskkill) "$@" taskkill /F /IM korvalen-sim.exe >/dev/null ;;
    *) kill "-$stop" "$sim" ;;
  esac
  within 5 sim_ended || { fail "korvalen-sim still runs"; kill -9 "$sim"; }
  wait "$sim"
  echo "$stop: korvalen-sim ended with $?"
  within 5 command_ended || { fail "the command outlived korvalen-sim"; pkill -9 -f "$sleeper"; }
  "$@" korvalen-snapshot.exe >/dev/null 2>&1
  [ $? -eq 1 ] || fail "a block is still published"
done
exit "$failed"
