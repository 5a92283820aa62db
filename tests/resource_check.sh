#!/bin/sh
# resource_check.sh SNAPSHOT SIM: runs korvalen-snapshot under valgrind's memcheck for a
# snapshot, a failed open and a failed map, and fails on any memory error, on a descriptor of
# the block still open at exit, or on an unexpected status.
snapshot=$1 sim=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# check NAME EXPECTED-STATUS [SIM-ARGS... --]: runs the snapshot, under the sim when asked.
check() {
  name=$1 expected=$2
  shift 2
  log="$work/$name.log"
  status=0
  "$@" valgrind --tool=memcheck --error-exitcode=99 --track-fds=yes --log-file="$log" \
    "$snapshot" >/dev/null 2>&1 || status=$?
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
check snapshot 0 "$sim" --sample --
check missing-block 1
check too-small-block 2 "$sim" --raw "$work/short.bin" --
exit "$failed"
