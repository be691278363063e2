#!/usr/bin/env bash
# Makes the two packages users install, from the sources as they stand, and checks them
# (tests/package/check-packages.sh):
#
#   build-package/pelfry_VERSION_amd64.deb          the editor and pelfry-cli for Debian 12
#   build-package/pelfry-VERSION-windows-x64.zip    pelfry-cli.exe (and pelfry.exe when the
#                                                   Windows build made it) with a README and
#                                                   the licences
#   build-package/pelfry-VERSION-windows-x64.msi    the zip's files as an installer for
#                                                   Windows, with a Start menu shortcut and
#                                                   .DIR opening in the editor (made with wixl
#                                                   from packaging/windows/pelfry.wxs, only
#                                                   with the editor)
#
#   tools/package.sh                 all three
#   tools/package.sh --no-windows    only the .deb
#
# Installs what is missing first. The Windows programs come from tools/build-windows.sh
# (--no-test: its test run is CI's own step), which leaves in build-windows/licenses/ the
# licence note of every library it linked into them; the zip carries them all. Whoever adds
# a program to the Windows build adds its libraries' notes there: pelfry.exe is shipped only
# beside a note of Qt (build-windows/licenses/Qt*).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
windows=1
[ "${1:-}" = "--no-windows" ] && windows=0

tools/install-deps.sh
tools/install-deps.sh --package

out=$root/build-package
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DPELFRY_TESTS=OFF -DPELFRY_BENCH=OFF \
      -DPELFRY_WERROR=ON >/dev/null
cmake --build "$out" -j"$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
rm -f "$out"/pelfry_*.deb "$out"/pelfry-*-windows-x64.zip "$out"/pelfry-*-windows-x64.msi
(cd "$out" && cpack -G DEB >/dev/null)
deb=$out/pelfry_${version}_amd64.deb
zip=
msi=

if [ $windows = 1 ]; then
  tools/build-windows.sh --no-test
  bin=$root/build-windows/bin
  notes=$root/build-windows/licenses
  name=pelfry-$version-windows-x64
  stage=$out/windows/$name
  rm -rf "$out/windows" && mkdir -p "$stage/licenses"
  editor=0
  if [ -f "$bin/pelfry.exe" ]; then
    if ! compgen -G "$notes/Qt*" >/dev/null; then
      echo "build-windows/bin/pelfry.exe has no licence note of Qt in $notes: not shipped" >&2
      exit 1
    fi
    editor=1
  fi
  programs=(pelfry-cli.exe)
  [ $editor = 1 ] && programs+=(pelfry.exe)
  for p in "${programs[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/$p" "$bin/$p"
  done
  # Text files with CR LF, as every Windows editor shows them.
  crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
  # Folders of notes (Qt's licence texts, the relinking kit with its libraries) go as they are.
  for note in "$notes"/*; do
    if [ -d "$note" ]; then
      cp -r "$note" "$stage/licenses/"
    else
      crlf "$note" "$stage/licenses/$(basename "$note")"
    fi
  done
  crlf LICENSE "$stage/LICENSE.txt"
  # The README speaks of the editor only when it is there.
  if [ $editor = 1 ]; then
    sed '/^@EDITOR@$/d; /^@END@$/d' packaging/windows-README.txt
  else
    sed '/^@EDITOR@$/,/^@END@$/d' packaging/windows-README.txt
  fi | sed "s/@VERSION@/$version/g" >"$out/windows/README.txt"
  crlf "$out/windows/README.txt" "$stage/README.txt"
  zip=$out/$name.zip
  (cd "$out/windows" && cmake -E tar cf "$zip" --format=zip "$name")

  # The installer puts the zip's folder into Program Files\Pelfry. wixl finds files only by
  # relative paths: it runs beside the folder, with the icon of the list of installed
  # programs, and with licenses.wxs listing the notes, whatever they are. It says
  # "unimplemented" of the plain (not advertised) Start menu shortcut, which it makes all the
  # same.
  if [ $editor = 1 ]; then
    msi=$out/$name.msi
    cp app/qt/pelfry.ico "$out/windows/"
    (
      cd "$out/windows"
      find "$name/licenses" -type f | sort |
        wixl-heat -p "$name/" --var var.SourceDir --directory-ref INSTALLDIR \
                  --component-group Licenses --win64 >licenses.wxs
      wixl -a x64 -D Version="$version" -D SourceDir="$name" -D Win64=yes -D Icon=pelfry.ico \
           -o "$msi" "$root/packaging/windows/pelfry.wxs" licenses.wxs \
           2> >(grep -v 'unimplemented$' >&2)
    )
  fi
fi

# wine, which runs the zip's programs there, in the Windows build's prefix.
export WINEPREFIX=$root/build-windows/wine
tests/package/check-packages.sh "$deb" $zip $msi
echo "Made $deb${zip:+, $zip}${msi:+ and $msi}"
