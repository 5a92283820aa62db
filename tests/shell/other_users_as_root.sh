#!/bin/sh
# other_users_as_root.sh FOLDER: run by root, korvalen-prometheus follows no link of another
# user's, wherever it stands on OUTPUT's path, and so replaces no file of root's through one; a
# folder of another user's takes the file as any folder does. Needs root, to act as nobody.
# shellcheck disable=SC2012,SC2015 # ls lists the test's own names; A && B || fail is the idiom
# shellcheck source=tests/shell/init.sh
. "$(dirname "$0")/init.sh"
[ "$(id -u)" -eq 0 ] || skip_ "needs root, to make files and links of another user's"
chmod 755 "$work" || framework_failure_

mkdir own && echo old >own/file && mkdir -m 1777 shared && install -d -o nobody theirs &&
  as_nobody ln -s ../own/file shared/k.prom && as_nobody ln -s "$work/own" shared/folder &&
  as_nobody ln -s ../own/file theirs/link.prom && ln -s theirs/k.prom chain.prom &&
  ln -s own/file own.prom || framework_failure_
# refused OUTPUT LINK: writing OUTPUT is refused for LINK, nobody's, and nothing is written.
refused() {
  echo "korvalen-prometheus: cannot write '$1': '$work/$2' belongs to nobody" >exp
  korvalen-prometheus "$1" 2>err && fail=1
  compare exp err || fail=1
}
refused shared/k.prom shared/k.prom
refused shared/folder/k.prom shared/folder
refused theirs/link.prom theirs/link.prom
echo old >exp
compare exp own/file || fail=1
echo file >exp
ls own | compare exp - || fail=1

# Their folder, reached straight or through root's own link, holds root's file; root's own link
# to root's file is followed.
for f in theirs/k.prom chain.prom own.prom; do
  korvalen-prometheus "$f" || fail=1
done
compare_textfiles ref.prom theirs/k.prom && compare_textfiles ref.prom own/file || fail=1
[ "$(stat -c %U theirs/k.prom)" = root ] || fail=1

Exit
