# Sourced by the scripts: installs Debian packages that are missing, through apt-get.

# ensure_packages PACKAGE...: installs those of PACKAGE... that are not installed yet.
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
  "${sudo[@]}" apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev)
HARDENING_PACKAGES=(clang libclang-rt-14-dev valgrind)
WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 binutils googletest)
