#!/bin/sh
# resource_check.sh SNAPSHOT SIM: runs korvalen-snapshot under valgrind's memcheck on each path it
# can end by: a report, one that cannot be written, a missing block, a block too small to map,
# another user's block (closed once its owner is seen), and a view whose memory a full tmpfs
# cannot provide (ended by the fault handler). Fails on a memory error, on the block's descriptor
# open at exit, or on a wrong status. The last two need root; elsewhere they say so and skip.
snapshot=$1 sim=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# check NAME STATUS [WRAPPER...]: the snapshot under valgrind, inside WRAPPER when given (a
# korvalen-sim ending in --, say), with standard output on $out (/dev/null).
check() {
  name=$1 expected=$2 log="$work/$1.log" status=0
  shift 2
  "$@" valgrind --tool=memcheck --error-exitcode=99 --track-fds=yes --log-file="$log" \
    "$snapshot" >"${out:-/dev/null}" 2>/dev/null || status=$?
  [ "$status" -eq "$expected" ] || { echo "FAIL $name: status $status, not $expected"; failed=1; }
  grep -q 'ERROR SUMMARY: 0 errors' "$log" || { echo "FAIL $name: memory errors"; cat "$log"; failed=1; }
  ! grep -A2 'KVSharedMemory' "$log" || { echo "FAIL $name: the block is open at exit"; failed=1; }
  echo "$name: status $status; $(grep -o 'FILE DESCRIPTORS: .*' "$log") $(grep -o 'total heap usage: .*' "$log"); $(grep -o 'ERROR SUMMARY: [0-9]* errors' "$log")"
}

printf 'abc' >"$work/short.bin"
check report 0 "$sim" --sample --
out=/dev/full check unwritable-report 3 "$sim" --sample --
check missing-block 1
check too-small-block 2 "$sim" --raw "$work/short.bin" --

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped another-users-block: needs root to publish as another user"
  skipped=77
else
  chmod 755 "$work" && cp "$sim" "$work/sim"  # the build folder may be closed to nobody
  setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups "$work/sim" --sample -- sleep 30 &
  until [ -e /dev/shm/KVSharedMemory_QDX ]; do sleep 0.05; done
  check another-users-block 1
  kill $! && wait $!
fi

if ! unshare -m --propagation private true 2>/dev/null; then
  echo "skipped view-fault: no private mount namespace here (unshare -m is not allowed)"
  skipped=77
else
  check view-fault 2 unshare -m --propagation private sh -c '
    mount -t tmpfs -o size=8k tmpfs /dev/shm && head -c 8192 /dev/zero >/dev/shm/filler &&
      truncate -s 402 /dev/shm/KVSharedMemory_QDX && exec "$@"' sh
fi
# A part skipped is told as skipped (77), unless something failed.
[ "$failed" -ne 0 ] || exit "${skipped:-0}"
exit "$failed"
