#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the editor need and is missing.
# Safe to run again: it asks apt only when something is absent.
#   tools/install-deps.sh            the Linux build, its tests and the editor
#   tools/install-deps.sh --windows  the Windows cross-build and wine to test it, with a virtual
#                                    display for the editor (tools/build-windows.sh calls it)
#   tools/install-deps.sh --package  what making and checking the packages takes, beyond the
#                                    two builds (tools/package.sh calls it)
set -euo pipefail
case "${1:-}" in
  --windows)
    # googletest: its sources, built for Windows; dpkg-dev unpacks Debian's libpng and Qt
    # sources; Qt for Windows builds with ninja and runs the tools of qt6-base-dev; the editor's
    # run under wine is driven with xdotool on Xvfb and photographed with ImageMagick; the
    # window's tests read the DejaVu fonts.
    packages=(cmake make g++ g++-mingw-w64-x86-64-posix wine64 wine libz-mingw-w64-dev googletest
              libcli11-dev dpkg-dev ninja-build qt6-base-dev xvfb xauth xdotool imagemagick python3
              fonts-dejavu-core) ;;
  --package)
    # dpkg-shlibdeps (dpkg-dev) and file find the libraries the programs link for Depends;
    # lintian judges the package; man-db, gio (libglib2.0-bin) and the MIME and desktop tools
    # check that man finds the page and file managers the editor; wixl makes the Windows
    # installer, and msitools' msibuild an earlier release of it for the check of an upgrade
    # (under wine, on Xvfb: the Windows build installs them).
    packages=(dpkg-dev file lintian man-db libglib2.0-bin shared-mime-info desktop-file-utils
              wixl msitools) ;;
  *)
    # shared-mime-info and desktop-file-utils bring the MIME types and the file managers'
    # associations into effect when `cmake --install` installs into a prefix; the package's
    # check makes pictures with ImageMagick; exfat-fuse, exfatprogs, fusefat and dosfstools make
    # and mount the sticks of tools/fs-check.sh.
    packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libpng-dev libgif-dev libgtest-dev
              libgmock-dev libbenchmark-dev libcli11-dev help2man xvfb xauth imagemagick python3
              python3-pil locales shared-mime-info desktop-file-utils clang-format exfat-fuse
              exfatprogs fusefat dosfstools) ;;
esac
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
[ -n "${1:-}" ] && exit 0
# The GUI tests run the window under a German locale (a comma as decimal separator).
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  echo "Generating the locale de_DE.UTF-8"
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
