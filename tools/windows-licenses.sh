#!/usr/bin/env bash
# Gathers into BUILD/licenses/ what the Windows programs must ship with: the notes on Qt (in
# pelfry.exe, under the LGPL) and libpng (in both programs) with their licence texts, and the
# kit to relink pelfry.exe with another Qt, since Qt is linked statically. The Windows archive
# for users takes the folder as it is.
#
#   tools/windows-licenses.sh BUILD QT_PREFIX LIBPNG_SOURCE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
qt=$(realpath "$2")
libpng_src=$(realpath "$3")
out=$build/licenses
rm -rf "$out"
mkdir -p "$out"

# TEMPLATE OUTPUT NAME=VALUE...: the notes with their @NAME@ fields filled in.
fill() {
  local template=$1 output=$2 field
  shift 2
  cp "$template" "$output"
  for field in "$@"; do
    sed -i "s|@${field%%=*}@|${field#*=}|g" "$output"
  done
}

qt_source_version=$(cat "$qt/.complete")
fill "$root/packaging/windows/Qt.txt.in" "$out/Qt.txt" \
  "QT_VERSION=${qt_source_version%%+*}" "QT_SOURCE_VERSION=$qt_source_version" \
  "MINGW_VERSION=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)"
cp -r "$qt/licenses" "$out/Qt"

libpng_source_version=$(dpkg-parsechangelog -l "$libpng_src/debian/changelog" -S Version)
fill "$root/packaging/windows/libpng.txt.in" "$out/libpng.txt" \
  "LIBPNG_VERSION=${libpng_source_version%%-*}" "LIBPNG_SOURCE_VERSION=$libpng_source_version"
cp "$libpng_src/LICENSE" "$out/libpng-LICENSE.txt"
