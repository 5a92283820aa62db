#!/bin/sh
# check-newcomer.sh: what a newcomer types, in the order the README and the guide give it, on a clean
# clone of HEAD: the demo, the README's first commands and its korvalen-sensors sample, each
# printing the text the README shows after it, then the guide's install. Run by root, it works in
# a mount namespace of its own, with /dev/shm and /usr/local its own; elsewhere it installs into a
# folder of its own. A step that the documents leave out fails here.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -eq 0 ] && [ -z "${KORVALEN_NEWCOMER_ALONE:-}" ]; then
  # shellcheck disable=SC2016 # expanded by the shell in the namespace
  KORVALEN_NEWCOMER_ALONE=1 exec unshare -m --propagation private sh -c \
    'mount -t tmpfs tmpfs /dev/shm && mount -t tmpfs tmpfs /usr/local && exec sh "$0"' "$0"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL $*"
  failed=1
}

git clone -q "$top" "$work/korvalen-snapshot" && cd "$work/korvalen-snapshot" || exit 99
scripts/demo.sh >"$work/demo" 2>&1 || { cat "$work/demo"; fail "scripts/demo.sh"; }

# The README's fenced blocks, numbered in order: a command's block is followed by what it prints.
awk -v to="$work/block." '/^```/ { if (file) file = ""; else file = to (++n); next }
  file { print > file }' README.md
printed_as_shown() { # N: block N, run in the README's folder, prints block N+1
  sh "$work/block.$1" >"$work/out" 2>&1 || fail "README block $1 ended in $?"
  diff -u "$work/block.$(($1 + 1))" "$work/out" || fail "README block $1 printed otherwise"
}
grep -qx 'korvalen-sim --sample -- korvalen-snapshot' "$work/block.1" || fail "README block 1 moved"
printed_as_shown 1
PATH="$PWD/build/native:$PATH"
export PATH
sensors=$(grep -lx 'korvalen-sim --sample --fans 1240,250 -- korvalen-sensors .*' "$work"/block.*)
[ -n "$sensors" ] || fail "the README's korvalen-sensors sample moved"
printed_as_shown "${sensors##*.}"

# The guide's install, right after the demo: into /usr/local where this run has one of its own.
install='cmake --install build/native --strip'
grep -q "After \`$install\` (into \`/usr/local\`)" docs/monitoring.md || fail "the guide's install moved"
prefix=/usr/local
[ -n "${KORVALEN_NEWCOMER_ALONE:-}" ] || prefix=$work/prefix
$install --prefix "$prefix" >"$work/install" 2>&1 || { cat "$work/install"; fail "$install"; }
for program in korvalen-snapshot korvalen-sim korvalen-prometheus korvalen-sensors; do
  [ -x "$prefix/bin/$program" ] || fail "$program was not installed"
done
[ "$failed" -ne 0 ] || echo "a newcomer's commands run as the README and the guide give them"
exit "$failed"
