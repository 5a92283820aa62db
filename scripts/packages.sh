# Sourced by the scripts: installs Debian packages that are missing, through apt-get.
# shellcheck shell=bash
# shellcheck disable=SC2034 # the lists are read by the scripts that source this file

# ensure_packages PACKAGE...: installs those of PACKAGE... that are not installed yet. A package
# of another architecture (wine32:i386) has that architecture added first. A mirror that is
# syncing may fail `apt-get update` on one index: the lists as they are may still serve, so it
# goes on. Where the install fails after such an update, it tries once more from the base release
# alone (an index that did not come makes that architecture's packages older than the native
# ones, which multiarch packages must match); where that fails too, it names each package that
# cannot be installed, with apt's reason, one line each, and fails.
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
  local updated=1
  if ! "${sudo[@]}" apt-get update -qq >&2; then
    updated=0
    echo "apt-get update failed (above); going on with the package lists as they are" >&2
  fi
  # No service that a package brings (node_exporter's) starts at install: the tests start their
  # own and stop it. policy-rc.d is Debian's way to say so, where none says it already.
  local policy=/usr/sbin/policy-rc.d placed=0 status=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    placed=1
  fi
  apt_install "${missing[@]}" || status=$?
  if [ "$status" -ne 0 ] && [ "$updated" -eq 0 ]; then
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$release" ]; then
      echo "Installing again from $release alone, since its updates' lists did not all come" >&2
      status=0
      apt_install -o APT::Default-Release="$release" "${missing[@]}" || status=$?
    fi
  fi
  [ "$placed" -eq 0 ] || "${sudo[@]}" rm -f "$policy"
  [ "$status" -eq 0 ] || uninstallable "${missing[@]}"
  return "$status"
}

# ensure_npm_packages FOLDER PACKAGE@VERSION...: FOLDER/node_modules holding those packages, from
# the npm registry where it does not hold them yet (npm from Debian, where there is none).
ensure_npm_packages() {
  local folder=$1
  shift
  [ "$(cat "$folder/installed" 2>/dev/null)" = "$*" ] && return 0
  command -v npm >/dev/null || ensure_packages npm || return
  echo "Installing $* from npm into $folder ..." >&2
  rm -rf "$folder" && mkdir -p "$folder" && printf '{"private": true}\n' >"$folder/package.json" &&
    npm install --prefix "$folder" --no-audit --no-fund --ignore-scripts --save-exact "$@" >&2 &&
    echo "$*" >"$folder/installed"
}

# apt_install [OPTION...] PACKAGE...: apt-get install, quietly, without recommends.
apt_install() {
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "$@" >&2
}

# uninstallable PACKAGE...: one line for each PACKAGE that apt cannot install, with its reason.
uninstallable() {
  local package reason
  for package in "$@"; do
    if ! reason=$(apt-get install -s -qq --no-install-recommends "$package" 2>&1 >/dev/null); then
      reason=$(printf '%s\n' "$reason" | grep -E '^E: ' | head -n 1)
      echo "cannot install $package: ${reason#E: }" >&2
    fi
  done
}

NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libcli11-dev libtomlplusplus-dev libmosquitto-dev
  nlohmann-json3-dev util-linux)
# The real collector that korvalen-prometheus's files are tested against, and promtool, which
# checks those files and tests the alert rules; strace, which holds a run at a chosen call; jq and
# Python, which read korvalen-sensors' JSON as scripts do; systemd, whose systemd-analyze checks
# the units; Debian's MQTT broker and its clients, which korvalen-mqtt publishes to, and openssl,
# which makes the certificates of its TLS listeners; and the scripts' own checker, shellcheck.
# PyYAML reads the dashboard's tests.
TEST_PACKAGES=(prometheus-node-exporter prometheus strace jq python3 python3-yaml systemd mosquitto
  mosquitto-clients openssl shellcheck)
# The npm packages that type-check the Grafana dashboard, pinned: Grafana's own types at the oldest
# and the newest Grafana it is for, each beside the TypeScript compiler.
GRAFANA_SCHEMA_VERSIONS=(11.6.16 13.2.3)
TYPESCRIPT_PACKAGE=typescript@5.9.3
# What the shipped files are built with: git gives the commit's time, python3 makes the ZIP
# independent of its builder, dpkg-dev unpacks Debian's source of libmosquitto for Windows;
# nlohmann-json3-dev builds korvalen-mqtt's JSON.
RELEASE_PACKAGES=(cmake ninja-build g++ libcli11-dev libtomlplusplus-dev libmosquitto-dev
  nlohmann-json3-dev dpkg-dev g++-mingw-w64-i686-posix binutils git python3)
# clang builds the sanitizers', the fuzzers' and the coverage's builds, llvm reads the coverage.
HARDENING_PACKAGES=(clang libclang-rt-dev llvm valgrind)
# The QEMU guest that runs 32-bit Wine where this kernel cannot (scripts/run-in-guest.sh).
GUEST_PACKAGES=(qemu-system-x86 linux-image-amd64 busybox-static xz-utils)
# wine32:i386 runs the shipped 32-bit program; wine64 the 64-bit build.
WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 wine32:i386 binutils
  googletest libcli11-dev libtomlplusplus-dev libmosquitto-dev nlohmann-json3-dev dpkg-dev git
  python3)
