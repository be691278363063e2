#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the editor need and is missing.
# Safe to run again: it asks apt only when something is absent.
#   tools/install-deps.sh            the Linux build, its tests and the editor
#   tools/install-deps.sh --windows  the Windows cross-build of pelfry-cli and wine to test it
#                                    (tools/build-windows.sh calls it)
set -euo pipefail
if [ "${1:-}" = "--windows" ]; then
  # googletest: its sources, built for Windows; dpkg-dev unpacks Debian's libpng source.
  packages=(cmake make g++ g++-mingw-w64-x86-64-posix wine64 wine libz-mingw-w64-dev googletest
            libcli11-dev dpkg-dev)
else
  packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libpng-dev libgtest-dev libgmock-dev
            libbenchmark-dev libcli11-dev help2man xvfb xauth imagemagick python3 python3-pil locales
            shared-mime-info clang-format)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ "${1:-}" = "--windows" ] && exit 0
# The GUI tests run the window under a German locale (a comma as decimal separator).
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  echo "Generating the locale de_DE.UTF-8"
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
