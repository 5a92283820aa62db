#!/bin/sh
# check_notices.sh NOTICES BUILD PROGRAM...: checks that the third-party notices cover what the
# shipped PROGRAMs carry, as built in BUILD:
# - every Debian package that holds a file the linker took into a program (its link map,
#   BUILD/PROGRAM.map) or a header that the program's own objects included (ninja's deps) is
#   named on a "Debian packages:" line;
# - every indented line of an entry stands, as a whole line, in a file its "Quoted from:" line
#   names: the copyright lines and licences are those of Debian's copyright files on this machine.
set -eu
notices=$1 build=$2
shift 2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# carried_files PROGRAM: the files outside this tree that went into PROGRAM, one a line.
carried_files() {
  map="$build/$1.map"
  [ -s "$map" ] || { echo "FAIL: no link map $map" >&2; return 1; }
  grep -oE '/usr/[^ ()]+\.(a|o|obj)' "$map"
  # The program's own objects: its own folder of objects and those of the libraries it took.
  targets=$(grep -oE '(CMakeFiles/[^/ ]+\.dir|lib[a-z0-9_]+\.a)' "$map" |
    sed -e 's|CMakeFiles/\(.*\)\.dir|\1|' -e 's|^lib\(.*\)\.a$|\1|' | sort -u)
  ninja -C "$build" -t deps | awk -v targets="$targets" '
    BEGIN { split(targets, list, "\n"); for (i in list) wanted["CMakeFiles/" list[i] ".dir/"] = 1 }
    /^[^ \t]/ { own = 0; for (t in wanted) if (index($0, t)) own = 1; next }
    own && $1 ~ /^\/usr\// { print $1 }'
}

packages=$(for program in "$@"; do carried_files "$program"; done | sort -u |
  xargs realpath | xargs dpkg -S | sed 's/:.*//' | sort -u)
[ -n "$packages" ] || fail "no package found behind $*"
named=$(sed -n 's/^Debian packages: //p' "$notices" | tr ', ' '\n' | sed '/^$/d')
for package in $packages; do
  echo "$named" | grep -qx "$package" || fail "$package is carried but not in $notices"
done

# Each indented line, whitespace folded, must be a line of one of its entry's sources.
awk '
  function fold(s) { gsub(/[ \t]+/, " ", s); sub(/^ /, "", s); sub(/ $/, "", s); return s }
  /^Quoted from: / {
    delete have
    sources = substr($0, 14)
    n = split(sources, files, " ")
    for (i = 1; i <= n; i++) {
      if ((getline line < files[i]) < 0) { print "FAIL: cannot read " files[i]; bad = 1 }
      else { have[fold(line)] = 1; while ((getline line < files[i]) > 0) have[fold(line)] = 1 }
      close(files[i])
    }
    next
  }
  /^    / && !(fold($0) in have) { print "FAIL: not in " sources ": " fold($0); bad = 1 }
  END { exit bad }' "$notices" || failed=1

[ "$failed" -eq 0 ] && echo "$notices covers $(echo "$packages" | tr '\n' ' ')"
exit "$failed"
