# Sourced by the shell tests, as coreutils' tests source init.sh: the programs of FOLDER (the
# first argument) on the PATH, an empty scratch folder to work in, removed at the end, and
# `fail`, which each check sets and the test ends with (Exit). Every test runs where no block is
# published, so a textfile says korvalen_up 0; `ref.prom` holds one, written by a run that nobody
# disturbed, for the checks of what disturbed runs leave.
# shellcheck shell=sh

programs=$(cd "${1:?usage: $0 PROGRAMS-FOLDER}" && pwd) || exit 99
PATH=$programs:$PATH
export PATH
work=$(mktemp -d) || exit 99
trap 'cd / && rm -rf "$work"' EXIT
cd "$work" || exit 99
fail=0

# compare EXPECTED GOT: whether the files are the same, shown as a diff where they are not.
compare() { diff -u "$1" "$2"; }
# compare_textfiles EXPECTED GOT: the same for two textfiles, but for the times they were written.
compare_textfiles() {
  untimed "$1" >"$work/untimed.exp" && untimed "$2" >"$work/untimed.got" &&
    compare "$work/untimed.exp" "$work/untimed.got"
}
untimed() { sed -E 's/^([a-z_]+_seconds) [0-9]+$/\1/' "$1"; }
# skip_ WHY: the test cannot run here; ctest counts it as skipped.
skip_() {
  echo "skipped: $*"
  exit 77
}
framework_failure_() {
  echo "set-up failed: $*" >&2
  exit 99
}
Exit() { exit "$fail"; }
# as_nobody COMMAND...: COMMAND run as the user nobody, without root's powers.
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

# (Not where FOLDER holds Windows programs, run through an emulator.)
! command -v korvalen-prometheus >/dev/null || korvalen-prometheus ref.prom ||
  framework_failure_ "no reference textfile"
