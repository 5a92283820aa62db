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

# wait_until SECONDS COMMAND...: retries COMMAND every tenth of a second; fails when time is up.
wait_until() {
  tries=$(($1 * 10))
  shift
  until "$@"; do
    [ "$tries" -gt 0 ] || return 1
    tries=$((tries - 1))
    sleep 0.1
  done
}
sim_ended() { ! kill -0 "$sim" 2>/dev/null; }
command_ended() { ! pgrep -f "$sleeper" >/dev/null; }

# fail STOP WHAT: reports what went wrong after STOP.
fail() { echo "FAIL $1: $2"; failed=1; }

for stop in TERM INT taskkill; do
  before=$failed
  failed=0
  "$@" korvalen-sim.exe --sample -- test-sleeper.exe 86398 2>/dev/null &
  sim=$!
  wait_until 30 pgrep -f "$sleeper" >/dev/null || fail "$stop" "the command never started"
  case $stop in
    taskkill) "$@" taskkill /F /IM korvalen-sim.exe >/dev/null ;;
    *) kill "-$stop" "$sim" ;;
  esac
  wait_until 5 sim_ended || { fail "$stop" "korvalen-sim still runs"; kill -9 "$sim"; }
  wait "$sim"
  status=$?
  wait_until 5 command_ended || { fail "$stop" "the command outlived korvalen-sim"; pkill -9 -f "$sleeper"; }
  published=0
  "$@" korvalen-snapshot.exe >/dev/null 2>&1 || published=$?
  [ "$published" -eq 1 ] || fail "$stop" "a block is still published"
  [ "$failed" -eq 1 ] || echo "$stop: korvalen-sim ended with $status; no command left; no block published"
  failed=$((failed | before))
done
exit "$failed"
