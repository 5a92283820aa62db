#!/usr/bin/env bash
# run-in-guest.sh [--wine-prefix DIR] [--programs DIR] [--] COMMAND [ARG...]
#
# Runs COMMAND in a QEMU guest on this machine, for a kernel that runs no 32-bit code: the
# guest boots Debian's own kernel under TCG (no KVM needed) and uses this machine's root,
# read-only over 9p, under an overlay whose writes stay in the guest's memory, so that it has
# the same programs, libraries, Wine and build tree. COMMAND runs there as root, in the current
# folder, with this environment and with standard input empty.
#   --wine-prefix DIR  a 32-bit Wine prefix is ready at DIR, with its wineserver running, before
#                      COMMAND starts. It is made once (about 85 s) and kept in
#                      ~/.cache/korvalen-snapshot/guest under a key of the kernel and the Wine
#                      and i386 packages; a stale or half-made one is never used.
#   --programs DIR     DIR's *.exe files are read into the guest's memory first: Wine loads a
#                      program with a single pread(), which can come back short over 9p.
# Returns COMMAND's exit status; its standard output and error arrive byte for byte as they are
# written. Fails with status 125 and one line on standard error that says what is missing (a
# program, a kernel, an option's value) or what happened (the guest did not boot, or did not
# finish within KORVALEN_GUEST_SECONDS, 1200 by default); the guest's console stays in the cache
# folder.
#
# The script has two stages: the host's (main, below), which lays out a job in an exchange
# folder and boots the guest, and the guest's (guest_stage), which the guest's init starts as
# "run-in-guest.sh --inside EXCHANGE" and which reads everything it needs from that folder.
set -uo pipefail

readonly usage_line="usage: run-in-guest.sh [--wine-prefix DIR] [--programs DIR] [--] COMMAND [ARG...]"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/korvalen-snapshot/guest
console=$cache/console.log

fail() {
  echo "run-in-guest: $*" >&2
  exit 125
}

# ---- The guest's stage ------------------------------------------------------------------------

# guest_stage EXCHANGE: runs the job in EXCHANGE (its variables in EXCHANGE/job, the host's
# environment in EXCHANGE/environment) and leaves COMMAND's output, error and status there, or
# a line in EXCHANGE/failure.
guest_stage() {
  local exchange=$1 program status=125
  # shellcheck disable=SC1091
  . "$exchange/environment"
  # shellcheck disable=SC1091
  . "$exchange/job" # command, cwd, prefix, programs, kept
  export WINEDEBUG=-all
  for program in ${programs:+"$programs"/*.exe}; do
    [ -f "$program" ] && touch -r "$program" "$program" # copies it up into memory
  done
  [ -z "$prefix" ] || guest_wine_prefix "$exchange"
  if [ ! -e "$exchange/failure" ]; then
    cd "$cwd" && "${command[@]}" </dev/null >"$exchange/out" 2>"$exchange/err"
    status=$?
  fi
  echo "$status" >"$exchange/status"
}

# guest_wine_prefix EXCHANGE: lays out the job's Wine prefix from the kept copy, or makes one and
# leaves it in EXCHANGE for the host to keep; then starts its server and services, quietly, so
# that COMMAND's first Wine program finds them running and no service holds COMMAND's pipes.
guest_wine_prefix() {
  local exchange=$1
  rm -rf "$prefix" && mkdir -p "$prefix"
  if [ -n "$kept" ]; then
    tar -xf "$kept" -C "$prefix" || echo "the kept Wine prefix $kept cannot be read" >"$exchange/failure"
  elif WINEARCH=win32 WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=" \
    /usr/lib/wine/wine wineboot --init </dev/null >/dev/null 2>&1 &&
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w &&
    tar -cf "$exchange/prefix.tar" -C "$prefix" .; then
    : >"$exchange/prefix.made"
  else
    echo "32-bit Wine could not make a prefix in the guest" >"$exchange/failure"
  fi
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  WINEPREFIX="$prefix" /usr/lib/wine/wine wineboot --init </dev/null >/dev/null 2>&1
}

# ---- The host's stage -------------------------------------------------------------------------

# parse_options ARG...: sets prefix, programs and the command array; fails on an option without
# its value or on no command at all.
parse_options() {
  prefix='' programs=''
  while [ $# -gt 0 ]; do
    case $1 in
      --wine-prefix | --programs)
        if [ $# -lt 2 ] || [ -z "$2" ]; then fail "$1 needs a folder; $usage_line"; fi
        if [ "$1" = --wine-prefix ]; then prefix=$(realpath -m "$2"); else programs=$(realpath -m "$2"); fi
        shift 2
        ;;
      --) shift && break ;;
      -*) fail "$1: no such option; $usage_line" ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] || fail "no command given; $usage_line"
  command=("$@")
}

# find_kernel: sets release, modules and vmlinux, the kernel's decompressed ELF, which QEMU
# starts at its PVH entry (the packed vmlinuz would spend seconds unpacking itself under
# emulation); unpacks it into the cache once.
find_kernel() {
  local kernel offset
  kernel=$(printf '%s\n' /boot/vmlinuz-*-amd64 | sort -V | tail -n 1)
  [ -f "$kernel" ] || fail "no /boot/vmlinuz-*-amd64 (Debian package linux-image-amd64)"
  release=${kernel#/boot/vmlinuz-}
  modules=/lib/modules/$release
  [ -f "$modules/modules.dep" ] || fail "no modules for kernel $release in $modules"
  vmlinux=$cache/vmlinux-$release
  [ -s "$vmlinux" ] && return
  offset=$(grep -abo $'\xfd7zXZ\x00' "$kernel" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || fail "$kernel holds no xz-packed kernel"
  if ! xz -dc --single-stream < <(tail -c +$((offset + 1)) "$kernel") >"$vmlinux.partial" 2>/dev/null; then
    fail "cannot unpack $kernel (xz-utils)"
  fi
  mv "$vmlinux.partial" "$vmlinux"
}

# add_module NAME: copies module NAME and, first, those it depends on into the initramfs, each
# once, in the order they load (a built-in one needs nothing).
add_module() {
  local line path dependency
  line=$(grep -m1 "/$1.ko:" "$modules/modules.dep") || return 0
  path=${line%%:*}
  for dependency in $(echo "${line#*:}" | tr ' ' '\n' | tac); do
    add_module "$(basename "$dependency" .ko)"
  done
  grep -qx "$(basename "$path")" "$initramfs/modules/order" 2>/dev/null && return 0
  cp "$modules/$path" "$initramfs/modules/"
  basename "$path" >>"$initramfs/modules/order"
}

# make_initramfs: packs EXCHANGE/initramfs.cpio: busybox, the modules for virtio, 9p and
# overlays, and the first stage of init, which mounts this machine's root under an overlay and
# starts the guest's stage there.
make_initramfs() {
  local module
  initramfs=$exchange/initramfs
  mkdir -p "$initramfs"/{bin,modules,proc,sys,dev,host,memory,root}
  cp /bin/busybox "$initramfs/bin/"
  for module in virtio_pci 9pnet_virtio 9p overlay; do add_module "$module"; done
  echo "$runner" >"$initramfs/runner"
  # Written as the guest runs it: nothing in it is the host's.
  cat >"$initramfs/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc && mount -t devtmpfs dev /dev && mount -t sysfs sys /sys
for module in $(cat /modules/order); do insmod /modules/$module; done
options=trans=virtio,version=9p2000.L,msize=524288
mount -t 9p -o $options,ro,cache=loose hostroot /host &&
  mount -t tmpfs -o size=90% memory /memory && mkdir /memory/upper /memory/work &&
  mount -t overlay -o lowerdir=/host,upperdir=/memory/upper,workdir=/memory/work overlay /root &&
  mount -t tmpfs run /root/run && mkdir -p /root/run/exchange /root/tmp/.wine-0 &&
  mount -t 9p -o $options,cache=none exchange /root/run/exchange &&
  mount -t proc proc /root/proc && mount -t sysfs sys /root/sys && mount -t devtmpfs dev /root/dev &&
  mkdir -p /root/dev/pts /root/dev/shm && mount -t devpts devpts /root/dev/pts &&
  mount -t tmpfs shm /root/dev/shm && mount -t tmpfs wine /root/tmp/.wine-0 &&
  : >/root/run/exchange/booted &&
  chroot /root /bin/bash "$(cat /runner)" --inside /run/exchange
sync
reboot -f
while :; do sleep 1; done
EOF
  chmod 755 "$initramfs/init"
  (cd "$initramfs" && find . | /bin/busybox cpio -o -H newc 2>/dev/null) >"$exchange/initramfs.cpio" ||
    fail "cannot pack the initramfs"
}

# find_kept_prefix: sets key and kept, the Wine prefix kept for this kernel and these packages
# if one was ever made whole (else empty), and removes those kept for others.
find_kept_prefix() {
  local other
  kept=
  [ -n "$prefix" ] || return 0
  key=$( (echo "$release"; dpkg-query -W -f='${binary:Package}=${Version}\n' |
    grep -E '^(wine|libwine)|:i386=') | sha256sum | cut -c1-16)
  kept=$cache/wine-prefix-$key.tar
  for other in "$cache"/wine-prefix-*; do
    [ "$other" = "$kept" ] || rm -f "$other"
  done
  [ -s "$kept" ] || kept=
}

# boot_guest: runs the guest to its end, passing on COMMAND's output and error as they come;
# sets ended to QEMU's status (124 when it ran out of time).
boot_guest() {
  local seconds=${KORVALEN_GUEST_SECONDS:-1200} guest out_tail err_tail
  timeout -k 10 "$seconds" "$qemu" -accel tcg -cpu qemu64 -smp 1 -m 4096 -nodefaults -display none \
    -no-reboot -serial "file:$console" -kernel "$vmlinux" -initrd "$exchange/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$exchange,mount_tag=exchange,security_model=none" \
    </dev/null >/dev/null 2>"$exchange/qemu.err" &
  guest=$!
  tail -c +1 -f --pid=$guest "$exchange/out" &
  out_tail=$!
  tail -c +1 -f --pid=$guest "$exchange/err" >&2 &
  err_tail=$!
  wait $guest
  ended=$?
  wait $out_tail $err_tail
  timeout_seconds=$seconds
}

main() {
  if [ "${1:-}" = --inside ]; then
    guest_stage "$2"
    exit 0
  fi
  parse_options "$@"
  runner=$(realpath "$0")
  qemu=$(command -v qemu-system-x86_64) || fail "qemu-system-x86_64 is missing (Debian package qemu-system-x86)"
  [[ $(LC_ALL=C ldd /bin/busybox 2>&1) == *"not a dynamic executable"* ]] ||
    fail "a static /bin/busybox is missing (Debian package busybox-static)"
  mkdir -p "$cache" || fail "cannot make the cache folder $cache"
  find_kernel
  exchange=$(mktemp -d) || fail "cannot make a scratch folder"
  trap 'rm -rf "$exchange"' EXIT
  make_initramfs
  find_kept_prefix

  # The job, for the guest's stage: its variables and this environment.
  local cwd=$PWD
  declare -p command cwd prefix programs kept >"$exchange/job"
  export -p >"$exchange/environment"
  : >"$exchange/out"
  : >"$exchange/err"
  boot_guest

  if [ -n "$prefix" ] && [ -z "$kept" ] && [ -e "$exchange/prefix.made" ]; then
    mv "$exchange/prefix.tar" "$cache/wine-prefix-$key.tar.partial" &&
      mv "$cache/wine-prefix-$key.tar.partial" "$cache/wine-prefix-$key.tar"
  fi
  [ -e "$exchange/failure" ] && fail "$(cat "$exchange/failure")"
  if [ ! -e "$exchange/status" ]; then
    [ "$ended" -eq 124 ] && fail "the guest did not finish within $timeout_seconds s (console: $console)"
    [ -e "$exchange/booted" ] || fail "the guest did not boot (QEMU: $(head -c 200 "$exchange/qemu.err" | tr '\n' ' ')console: $console)"
    fail "the guest ended before the command did (console: $console)"
  fi
  exit "$(cat "$exchange/status")"
}

main "$@"
