#!/bin/sh
# readme_examples.sh README FOLDER: runs the README's shell and Python examples, and its recipe
# for a block in the background, as a user copies them, with the programs in FOLDER on the PATH,
# and checks what they print, how they end and that nothing is left running.
readme=$1
PATH=$2:$PATH
export PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# The README's blocks fenced as ```sh (the example, then the recipe) and as ```python.
awk -v dir="$work" '/^```(sh|python)$/ { file = dir "/" substr($0, 4) "." ++n[substr($0, 4)]; next }
  /^```$/ { file = "" } file { print > file }' "$readme"
[ -f "$work/sh.2" ] && [ ! -f "$work/sh.3" ] && [ -f "$work/python.1" ] && [ ! -f "$work/python.2" ] ||
  { echo "FAIL: expected two sh blocks and one python block in $readme"; exit 1; }

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

sample=$(korvalen-sim --sample -- korvalen-snapshot)
check shell-sample 0 "first temperature: 45.50
fans: 1240 980 0" "" korvalen-sim --sample -- sh "$work/sh.1"
check shell-without-block 1 "" "Korvalen OpenFileMapping Error.
Korvalen is not running" sh "$work/sh.1"
check python-sample 0 "3 51.0 [1240, 980, 0]" "" korvalen-sim --sample -- python3 "$work/python.1"
check python-without-block 1 "" "no snapshot (status 1): Korvalen OpenFileMapping Error." \
  python3 "$work/python.1"
# The recipe runs in a session of its own, which must be empty once it has ended.
check background-recipe 143 "$sample" "" setsid -w sh -c 'echo $$ >"$1.session"; . "$1"' sh "$work/sh.2"
if pgrep -s "$(cat "$work/sh.2.session")" >/dev/null; then
  echo "FAIL background-recipe: left running: $(pgrep -a -s "$(cat "$work/sh.2.session")")"
  pkill -9 -s "$(cat "$work/sh.2.session")"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "the README's examples and recipe do what it says"
exit "$failed"
