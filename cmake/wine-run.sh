#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARG...]: runs a Windows PROGRAM under wine64 in the prefix PREFIX,
# preparing the prefix and its wineserver on first use. CTest uses it as the emulator.
#
# The wineserver and the prefix's services are started on their own, with their output on
# /dev/null: a process that inherited a test's pipes would keep them open, and the caller would
# wait for it. Nor may they inherit the lock, or the next call would wait for it forever.
set -e
prefix=$(realpath -m "$1")
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$prefix"
(
  flock 9
  # Exit status 0: no server was running and this one is new. Its first program starts the
  # prefix's services, which would inherit that program's pipes, so start them quietly here.
  if /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock"
exec /usr/lib/wine/wine64 "$@"
