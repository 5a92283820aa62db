#!/bin/sh
# readme_examples.sh README FOLDER: runs the README's shell and Python examples as a user copies
# them, with the programs in FOLDER on the PATH, over korvalen-sim's sample and with no block,
# and checks what they print and how they end.
readme=$1
PATH=$2:$PATH
export PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# extract LANGUAGE: the README's one block fenced as LANGUAGE.
extract() {
  awk -v fence="\`\`\`$1" '$0 == fence { inside = 1; found++; next }
    inside && $0 == "```" { inside = 0; next }
    inside { print }
    END { exit found != 1 }' "$readme"
}
extract sh >"$work/example.sh" || { echo "FAIL: no single sh example in $readme"; exit 1; }
extract python >"$work/example.py" || { echo "FAIL: no single python example in $readme"; exit 1; }

# check NAME STATUS OUT ERR COMMAND...: COMMAND must end with STATUS and print OUT and ERR.
check() {
  name=$1 status=$2 out=$3 err=$4
  shift 4
  got=0
  "$@" >"$work/out" 2>"$work/err" </dev/null || got=$?
  if [ "$got" -ne "$status" ] || [ "$(cat "$work/out")" != "$out" ] ||
    [ "$(cat "$work/err")" != "$err" ]; then
    echo "FAIL $name: status $got (expected $status)"
    echo "out: $(cat "$work/out")"
    echo "err: $(cat "$work/err")"
    failed=1
  else
    echo "$name: status $got, as expected"
  fi
}

check shell-sample 0 "first temperature: 45.50
fans: 1240 980 0" "" korvalen-sim --sample -- sh "$work/example.sh"
check shell-without-block 1 "" "Korvalen OpenFileMapping Error.
Korvalen is not running" sh "$work/example.sh"
check python-sample 0 "3 51.0 [1240, 980, 0]" "" korvalen-sim --sample -- python3 "$work/example.py"
check python-without-block 1 "" "no snapshot (status 1): Korvalen OpenFileMapping Error." \
  python3 "$work/example.py"
exit "$failed"
