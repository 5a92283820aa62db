# Sourced by the scripts: installs Debian packages that are missing, through apt-get.
# shellcheck shell=bash
# shellcheck disable=SC2034 # the lists are read by the scripts that source this file

# ensure_packages PACKAGE...: installs those of PACKAGE... that are not installed yet. A package
# of another architecture (wine32:i386) has that architecture added first.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing ${missing[*]} ..." >&2
  for package in "${missing[@]}"; do
    case "$package" in
      *:*) dpkg --print-foreign-architectures | grep -qx "${package#*:}" ||
        "${sudo[@]}" dpkg --add-architecture "${package#*:}" ;;
    esac
  done
  "${sudo[@]}" apt-get update -qq >&2
  # No service that a package brings (node_exporter's) starts at install: the tests start their
  # own and stop it. policy-rc.d is Debian's way to say so, where none says it already.
  local policy=/usr/sbin/policy-rc.d placed=0 status=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    placed=1
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2 || status=$?
  [ "$placed" -eq 0 ] || "${sudo[@]}" rm -f "$policy"
  return "$status"
}

NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libcli11-dev libtomlplusplus-dev util-linux)
# The real collector that korvalen-prometheus's files are tested against, and promtool, which
# checks those files and tests the alert rules; strace, which holds a run at a chosen call; and
# the scripts' own checker, shellcheck.
TEST_PACKAGES=(prometheus-node-exporter prometheus strace shellcheck)
# What the shipped files are built with: git gives the commit's time, python3 makes the ZIP
# independent of its builder.
RELEASE_PACKAGES=(cmake ninja-build g++ libcli11-dev libtomlplusplus-dev g++-mingw-w64-i686-posix binutils git python3)
HARDENING_PACKAGES=(clang libclang-rt-dev valgrind)
# The QEMU guest that runs 32-bit Wine where this kernel cannot (scripts/run-in-guest.sh).
GUEST_PACKAGES=(qemu-system-x86 linux-image-amd64 busybox-static xz-utils)
# wine32:i386 runs the shipped 32-bit program; wine64 the 64-bit build.
WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 wine32:i386 binutils
  googletest libcli11-dev libtomlplusplus-dev git python3)
