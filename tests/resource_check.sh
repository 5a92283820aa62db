#!/bin/sh
# resource_check.sh SNAPSHOT SIM: runs korvalen-snapshot under valgrind's memcheck on each path
# it can end by: a report, a report that cannot be written, a missing block, a block too small
# to map, another user's block (closed after its owner is seen), and a view whose memory cannot
# be provided (ended from the fault handler). Fails on any memory error, on a descriptor of the
# block still open at exit, or on an unexpected status. The last two need root; where they
# cannot run, they say why and are skipped.
snapshot=$1 sim=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
memcheck="valgrind --tool=memcheck --error-exitcode=99 --track-fds=yes"

# check NAME EXPECTED-STATUS [WRAPPER...]: runs the snapshot under valgrind, inside WRAPPER (a
# korvalen-sim ending in --, say) when given, with standard output on $out.
check() {
  name=$1 expected=$2
  shift 2
  log="$work/$name.log"
  status=0
  "$@" $memcheck --log-file="$log" "$snapshot" >"${out:-/dev/null}" 2>/dev/null || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $name: status $status, expected $expected"; failed=1
  fi
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$log"; then
    echo "FAIL $name: memcheck found errors"; cat "$log"; failed=1
  fi
  if grep -q 'KVSharedMemory' "$log"; then
    echo "FAIL $name: the block's descriptor is open at exit"; grep -A2 KVSharedMemory "$log"; failed=1
  fi
  echo "$name: status $status; $(grep -o 'FILE DESCRIPTORS: .*' "$log") $(grep -o 'total heap usage: .*' "$log"); $(grep -o 'ERROR SUMMARY: [0-9]* errors' "$log")"
}

printf 'abc' >"$work/short.bin"
check report 0 "$sim" --sample --
out=/dev/full check unwritable-report 3 "$sim" --sample --
check missing-block 1
check too-small-block 2 "$sim" --raw "$work/short.bin" --

if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
  echo "skipped another-users-block: needs root and setpriv to publish as another user"
else
  # The programs run from a copy that nobody may run; the build folder may be closed to it.
  chmod 755 "$work"
  cp "$sim" "$work/sim"
  setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups "$work/sim" --sample -- sleep 30 &
  publisher=$!
  until [ -e /dev/shm/KVSharedMemory_QDX ]; do sleep 0.05; done
  check another-users-block 1
  kill "$publisher"
  wait "$publisher"
fi

# A page that a full tmpfs cannot provide: the read faults, and the handler ends the run.
if ! unshare -m --propagation private true 2>/dev/null; then
  echo "skipped view-fault: no private mount namespace here (unshare -m is not allowed)"
else
  check view-fault 2 unshare -m --propagation private sh -c '
    mount -t tmpfs -o size=8k tmpfs /dev/shm && head -c 8192 /dev/zero >/dev/shm/filler &&
      truncate -s 402 /dev/shm/KVSharedMemory_QDX && exec "$@"' sh
fi
exit "$failed"
