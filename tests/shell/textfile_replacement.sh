#!/bin/sh
# textfile_replacement.sh FOLDER: korvalen-prometheus replaces OUTPUT whole or not at all, and
# refuses what is not a regular file, however its runs are disturbed.
# shellcheck disable=SC2012,SC2015 # ls lists the test's own names; A && B || fail is the idiom
# shellcheck source=tests/shell/init.sh
. "$(dirname "$0")/init.sh"

# What is not a regular file is refused and left as it is (the device is a link to /dev/null
# where mknod needs a power the test has not); root's own link to a file is followed.
mkfifo fifo && mkdir folder && { mknod device c 1 3 2>/dev/null || ln -s /dev/null device; } &&
  ln -s device to-device && ln -s nowhere dangling && echo old >file && ln -s file to-file.prom ||
  framework_failure_
for f in fifo folder device to-device dangling; do
  stat -c %F $f >before
  echo "korvalen-prometheus: cannot write '$f': not a regular file" >exp
  korvalen-prometheus $f 2>err && fail=1
  compare exp err || fail=1
  stat -c %F $f | compare before - || fail=1
done
korvalen-prometheus to-file.prom || fail=1
test -L to-file.prom && compare_textfiles ref.prom file || fail=1

# A folder that the writer may not write to: the old file stays, and nothing is added.
mkdir locked && echo old >locked/k.prom && chmod 555 locked || framework_failure_
unprivileged=
[ "$(id -u)" -ne 0 ] || unprivileged=as_nobody
echo "korvalen-prometheus: cannot write 'locked/k.prom': Permission denied" >exp
$unprivileged korvalen-prometheus locked/k.prom 2>err && fail=1
compare exp err || fail=1
printf 'k.prom\nold\n' >exp
{ ls locked && cat locked/k.prom; } | compare exp - || fail=1

# Temporaries beside OUTPUT: an abandoned one is removed; one that a live run holds, and files
# that only look like ours, stay.
mkdir spare && cd spare || framework_failure_
touch .k.prom.tmp-gone12 .k.prom.tmp-held12 .k.prom.tmp-short k.prom.backup hold
flock .k.prom.tmp-held12 sh -c 'while [ -e hold ]; do sleep 0.05; done' &
until ! flock -n .k.prom.tmp-held12 true; do sleep 0.05; done
korvalen-prometheus k.prom || fail=1
rm hold && wait
printf '.k.prom.tmp-held12\n.k.prom.tmp-short\nk.prom\nk.prom.backup\n' >../exp
ls -A | compare ../exp - || fail=1
cd .. || framework_failure_

# Runs killed by SIGKILL at random instants, then one more: nothing but OUTPUT is left, whole.
mkdir killed || framework_failure_
for _ in $(seq 150); do
  korvalen-prometheus killed/k.prom 2>/dev/null &
  sleep 0.00"$(shuf -i 0-9 -n 1)" && kill -9 $! 2>/dev/null
  wait $! 2>/dev/null
done
korvalen-prometheus killed/k.prom || fail=1
echo k.prom >exp
ls -A killed | compare exp - || fail=1
compare_textfiles ref.prom killed/k.prom || fail=1

# A SIGTERM while the new file has its temporary name, held there by strace: the run replaces
# the file first, leaves no temporary, and ends as SIGTERM ends it.
mkdir stopped && echo old >stopped/k.prom || framework_failure_
strace -o trace -e trace=linkat -e inject=linkat:delay_exit=1000000 \
  sh -c 'echo $$ >pid && exec korvalen-prometheus stopped/k.prom' &
until grep -qs linkat trace; do sleep 0.01; done
kill "$(cat pid)"
wait $!
echo $? >status
echo 143 >exp
compare exp status || fail=1
echo k.prom >exp
ls -A stopped | compare exp - || fail=1
compare_textfiles ref.prom stopped/k.prom || fail=1

# A reader that polls the file while the monitor's readings replace it 200 times finds it whole
# each time.
korvalen-sim --sample -- korvalen-prometheus whole.prom || framework_failure_
cp whole.prom polled.prom
: >polled.prom.go
(n=0; while [ -e polled.prom.go ]; do n=$((n + 1)); compare_textfiles whole.prom polled.prom >/dev/null || echo partial
done; [ $n -gt 20 ] && echo polled) >poll &
# shellcheck disable=SC2016 # expanded by the monitor's command
korvalen-sim --sample -- sh -c 'for i in $(seq 200); do korvalen-prometheus polled.prom; done' ||
  fail=1
rm polled.prom.go && wait
echo polled >exp
compare exp poll || fail=1

# The longest name a folder takes, temporaries and all; and a reader that closes standard error
# before the run speaks, which ends well all the same.
name=$(printf '%0250d.prom' 0)
korvalen-prometheus "$name" && compare_textfiles ref.prom "$name" || fail=1
{ sleep 0.2; korvalen-prometheus closed.txt; echo $? >status; } 2>&1 | true
echo 0 >exp
compare exp status || fail=1

Exit
