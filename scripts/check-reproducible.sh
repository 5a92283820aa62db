#!/usr/bin/env bash
# Proves that the shipped files depend on the source commit alone: builds them (scripts/release.sh)
# from two clean clones of HEAD, in folders of different depth, a few seconds apart, under
# another umask, time zone and locale, and compares them byte for byte. Names each file that
# differs and shows where.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${RELEASE_PACKAGES[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git rev-parse HEAD)
for clone in "$work/a" "$work/deeper/still/b"; do
  git clone -q --no-checkout . "$clone"
  git -C "$clone" checkout -q --detach "$commit"
done

echo "== building $commit twice"
(umask 022 && cd "$work/a" && TZ=UTC LC_ALL=C scripts/release.sh "$work/a/out") >"$work/a.sums"
sleep 3
(umask 027 && cd "$work/deeper/still/b" && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 \
  scripts/release.sh "$work/b/out") >"$work/b.sums"

differ=0
while read -r sum file; do
  if cmp -s "$work/a/out/$file" "$work/b/out/$file"; then
    echo "same    $sum  $file"
  else
    differ=1
    echo "DIFFERS $file: byte, then its octal value in each build:"
    { cmp -l "$work/a/out/$file" "$work/b/out/$file" || true; } | head -n 10 | sed 's/^/  /'
  fi
done <"$work/a.sums"
[ "$differ" -eq 0 ] && echo "== the shipped files are reproducible"
exit "$differ"
