#!/bin/sh
# fetch-mosquitto.sh FOLDER: puts into FOLDER the source of libmosquitto that the Windows builds
# compile: Debian's own source package, mosquitto, at the version of the libmosquitto-dev
# installed here (the Linux build's), with Debian's patches applied. It is fetched by apt-get
# source through a list of the system's own archives as deb-src, kept in a folder of its own
# beside FOLDER: the system's apt settings are read, never changed.
set -eu
folder=${1:?usage: $0 FOLDER}
version=$(dpkg-query -W -f='${Version}' libmosquitto-dev 2>/dev/null) || {
  echo "fetch-mosquitto.sh: libmosquitto-dev is not installed: its version is the one fetched" >&2
  exit 1
}
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
(cd "$apt/source" && apt-get $options -qq source --download-only "mosquitto=$version" >&2)
dpkg-source --no-check -x "$apt/source/mosquitto_$version.dsc" "$folder" >/dev/null
rm -rf "$apt" "$(dirname "$folder")/mosquitto_"*.orig.tar.*
