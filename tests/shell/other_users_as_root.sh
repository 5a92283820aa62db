#!/bin/sh
# other_users_as_root.sh FOLDER: run by root, korvalen-prometheus follows no link of another
# user's, nor one of root's in another user's folder or with a second name, wherever it stands on
# OUTPUT's path, and so replaces no file of root's through one; a folder of another user's takes
# the file as any folder does, and keeps its own files. Needs root, to act as nobody.
# shellcheck disable=SC2012,SC2015 # ls lists the test's own names; A && B || fail is the idiom
# shellcheck source=tests/shell/init.sh
. "$(dirname "$0")/init.sh"
[ "$(id -u)" -eq 0 ] || skip_ "needs root, to make files and links of another user's"
chmod 755 "$work" || framework_failure_

mkdir own && echo old >own/file && mkdir -m 1777 shared && install -d -o nobody theirs &&
  as_nobody ln -s ../own/file shared/k.prom && as_nobody ln -s "$work/own" shared/folder &&
  as_nobody ln -s ../own/file theirs/link.prom && ln -s theirs/k.prom chain.prom &&
  ln -s own/file own.prom || framework_failure_
# Root's links given a second name in nobody's folder, as nobody can where the kernel's
# protected_hardlinks is off: one absolute, one relative that climbs out, one in a folder's place.
mkdir roots && ln -s "$work/own/file" roots/abs && ln -s ../own/file roots/rel &&
  ln -s "$work/own" roots/dir && ln -P roots/abs theirs/abs.prom && ln -P roots/rel theirs/rel.prom &&
  ln -P roots/dir theirs/dir && as_nobody touch theirs/.k.prom.tmp-nobody || framework_failure_
# refused OUTPUT LINK [WHY]: writing OUTPUT is refused for LINK, as WHY says (nobody's), and
# nothing is written.
refused() {
  echo "korvalen-prometheus: cannot write '$1': '$work/$2' ${3:-belongs to} nobody" >exp
  korvalen-prometheus "$1" 2>err && fail=1
  compare exp err || fail=1
}
refused shared/k.prom shared/k.prom
refused shared/folder/k.prom shared/folder
refused theirs/link.prom theirs/link.prom
for f in abs.prom rel.prom dir/k.prom; do
  refused "theirs/$f" "theirs/${f%/k.prom}" 'stands in a folder that belongs to'
done
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
[ "$(stat -c %U theirs/k.prom)" = root ] && [ -e theirs/.k.prom.tmp-nobody ] || fail=1

Exit
