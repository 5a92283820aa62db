#!/bin/sh
# wine-run.sh LOADER PREFIX PROGRAM [ARG...]: runs a Windows PROGRAM with the Wine loader LOADER
# (/usr/lib/wine/wine for 32-bit programs, /usr/lib/wine/wine64 for 64-bit ones) in the prefix
# PREFIX, preparing the prefix and its wineserver on first use. CTest uses it as the emulator.
#
# The wineserver and the prefix's services are started on their own, with their output on
# /dev/null: a process that inherited a test's pipes would keep them open, and the caller would
# wait for it. Nor may they inherit the lock, or the next call would wait for it forever.
set -e
loader=$1
prefix=$(realpath -m "$2")
shift 2
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$prefix"
(
  flock 9
  # Exit status 0: no server was running and this one is new. Its first program starts the
  # prefix's services, which would inherit that program's pipes, so start them quietly here.
  if /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock"
exec "$loader" "$@"
