#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARG...]: runs a Windows PROGRAM under wine64 in the prefix PREFIX,
# preparing the prefix and its wineserver on first use. CTest uses it as the emulator.
#
# The wineserver is started on its own, with its output on /dev/null: one that inherited a
# test's pipes would keep them open and make every later call wait for it. Nor may it inherit
# the lock, or the next call would wait for the lock forever.
set -e
prefix=$(realpath -m "$1")
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
mkdir -p "$prefix"
(
  flock 9
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  if [ ! -f "$prefix/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock"
exec /usr/lib/wine/wine64 "$@"
