#!/bin/sh
# fetch-mosquitto.sh FOLDER: puts into FOLDER the source of libmosquitto that the Windows builds
# compile: Debian's own source package, mosquitto, at the one version named below, its .dsc
# checked against the SHA-256 named beside it (and the .dsc's own checksums checked by
# dpkg-source as it unpacks), with Debian's patches applied: the release is a function of the
# commit, whatever libmosquitto-dev is installed here. It is fetched by apt-get source through a
# list of the system's own archives as deb-src, kept in a folder of its own beside FOLDER: the
# system's apt settings are read, never changed.
set -eu
folder=${1:?usage: $0 FOLDER}
version=2.0.11-1.2+deb12u2
dsc_sha256=77afb2d38230b37b085ff7b363a71669951044460e28731e958c0b94019e9263
apt=$folder.apt
rm -rf "$apt" "$folder"
mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/archives/partial" "$apt/source"
# The system's archives, as deb822 (.sources) and one-line (.list) entries, for sources.
for list in /etc/apt/sources.list.d/*.sources; do
  [ -f "$list" ] && sed 's/^Types:.*/Types: deb-src/' "$list" >"$apt/parts/$(basename "$list")"
done
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] && sed -n 's/^deb \(.*\)/deb-src \1/p' "$list" >"$apt/parts/$(basename "$list")"
done
options="-o Dir::Etc::SourceList=$apt/none -o Dir::Etc::SourceParts=$apt/parts
  -o Dir::State::Lists=$apt/lists -o Dir::Cache::Archives=$apt/archives -o APT::Sandbox::User=root"
echo "fetching Debian's source of mosquitto $version for the Windows builds" >&2
# shellcheck disable=SC2086 # the options are words
apt-get $options -qq update >&2 || echo "apt-get update failed; trying the lists as they are" >&2
# shellcheck disable=SC2086
(cd "$apt/source" && apt-get $options -qq source --download-only "mosquitto=$version" >&2) || {
  echo "fetch-mosquitto.sh: the archives no longer serve mosquitto $version: name the version" \
    "they serve, and its .dsc's SHA-256, in this script" >&2
  exit 1
}
dsc=$apt/source/mosquitto_$version.dsc
echo "$dsc_sha256  $dsc" | sha256sum -c --quiet - >&2 || {
  echo "fetch-mosquitto.sh: $(basename "$dsc") is not the one named here" >&2
  exit 1
}
# No keyring here to check the signature by: the checksum above stands for it; dpkg-source still
# checks the files against the .dsc's checksums.
dpkg-source -x "$dsc" "$folder" >/dev/null 2>"$apt/unpack.log" || {
  cat "$apt/unpack.log" >&2
  exit 1
}
rm -rf "$apt" "$(dirname "$folder")/mosquitto_"*.orig.tar.*
