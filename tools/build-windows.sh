#!/usr/bin/env bash
# Builds pelfry-cli.exe and the editor pelfry.exe for 64-bit Windows with Debian's mingw-w64,
# runs every test suite that ports under wine (the window's on Qt's offscreen platform), checks
# that the Windows and the Linux builds write the same bytes for the same commands, and opens an
# archive in the Windows editor on a virtual display (tools/windows-scenario.sh). Installs what
# is missing first.
#
#   tools/build-windows.sh            build, test and compare
#   tools/build-windows.sh --no-test  only build build-windows/bin/pelfry-cli.exe and pelfry.exe
#
# libpng, giflib, GoogleTest and Qt have no Windows packages in Debian: Debian's source packages
# of libpng and giflib (the releases Debian ships, as for the Linux build's libpng-dev and
# libgif-dev) and the googletest package's sources are built for Windows once into
# build-windows/deps/ and kept there; Qt, which takes about half an hour of CPU, once per
# machine (tools/build-qt-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run_tests=1
[ "${1:-}" = "--no-test" ] && run_tests=0

tools/install-deps.sh --windows

build=$root/build-windows
deps=$build/deps
prefix=$deps/prefix
toolchain=$root/cmake/toolchain-mingw64.cmake
jobs=$(nproc)
mkdir -p "$deps"

libpng_source() { find "$deps/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n 1; }
if [ ! -f "$prefix/lib/libpng16.a" ]; then
  echo "libpng source: $(tools/fetch-debian-source.sh libpng1.6 "$deps/src")"
  src=$(libpng_source)
  cmake -S "$src" -B "$deps/build-libpng" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF \
        -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
        -DSKIP_INSTALL_FILES=ON >/dev/null
  cmake --build "$deps/build-libpng" -j"$jobs" >/dev/null
  cmake --install "$deps/build-libpng" >/dev/null
fi

# giflib builds with its own Makefile: only the library, by the Windows compiler.
giflib_source() { find "$deps/src-giflib" -maxdepth 1 -type d -name 'giflib-*' | head -n 1; }
if [ ! -f "$prefix/lib/libgif.a" ]; then
  echo "giflib source: $(tools/fetch-debian-source.sh giflib "$deps/src-giflib")"
  src=$(giflib_source)
  make -C "$src" libgif.a CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar OFLAGS=-O2 \
       >/dev/null
  install -D -m 644 "$src/gif_lib.h" "$prefix/include/gif_lib.h"
  install -D -m 644 "$src/libgif.a" "$prefix/lib/libgif.a"
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$deps/build-gtest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON \
        -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$deps/build-gtest" -j"$jobs" >/dev/null
  cmake --install "$deps/build-gtest" >/dev/null
fi

# The licence notes of what the Windows programs have built in, which the zip of
# tools/package.sh carries (every file in build-windows/licenses/): the Debian notices of the
# libraries and run-times linked statically (tools/windows-licenses.sh adds those of Qt,
# libpng and giflib below). A library added to a Windows program adds its note there too.
notes=$build/licenses
mkdir -p "$notes"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$notes/zlib.txt"
cp /usr/share/doc/libcli11-dev/copyright "$notes/CLI11.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$notes/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$notes/GCC-runtime.txt"

qt=$(tools/build-qt-windows.sh "$prefix")

# wine keeps its own prefix here, quiet and without offering to install Mono or Gecko.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DPELFRY_WINDOWS_DEPS="$prefix" -DPELFRY_WINDOWS_QT="$qt" -DPELFRY_GUI=ON -DPELFRY_WERROR=ON -DPELFRY_TESTS=$([ $run_tests = 1 ] && echo ON || echo OFF) \
      >/dev/null
if [ $run_tests = 0 ]; then
  cmake --build "$build" --target pelfry-cli pelfry -j"$jobs"
else
  cmake --build "$build" -j"$jobs"
fi
# What the programs must ship with: the licences of what is linked in, and for Qt the means to
# relink the editor with another Qt.
tools/windows-licenses.sh "$build" "$qt" "$(libpng_source)" "$(giflib_source)"
if [ $run_tests = 0 ]; then
  echo "Built $build/bin/pelfry-cli.exe and $build/bin/pelfry.exe (licences: $build/licenses)"
  exit 0
fi

# One wine server runs for the whole test run: left to itself it stops a moment after its last
# program ends, and a test program starting just then loses its connection ("recvmsg:
# Connection reset by peer").
small_disk=$build/small-disk
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if mountpoint -q "$small_disk"; then umount "$small_disk"; fi
}
trap cleanup EXIT
# A server left by an earlier wine program of this prefix (it lingers a moment) goes first:
# only a server started here is persistent.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
# The prefix is made or brought up to date before any test starts, so that the system services
# wine starts with it (which live as long as the server) hold no test's output open.
wineboot -i >/dev/null 2>&1

# A full disk for the tests: drive S: is a 1 MiB tmpfs (mounting needs the right to; without
# it the test of a full disk skips).
mkdir -p "$small_disk"
rm -f "$WINEPREFIX/dosdevices/s:"
if mountpoint -q "$small_disk" || mount -t tmpfs -o size=1m pelfry-small-disk "$small_disk" 2>/dev/null; then
  find "$small_disk" -mindepth 1 -delete
  ln -s "$small_disk" "$WINEPREFIX/dosdevices/s:"
  export PELFRY_TEST_SMALL_DISK=S:/
else
  echo "Cannot mount a tmpfs for the full-disk test: it is skipped"
fi
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 300)

# The same commands with the Linux build: the one test.sh made, else a plain one made here.
linux_cli=$root/build-test/bin/pelfry-cli
if [ ! -x "$linux_cli" ]; then
  cmake -S "$root" -B "$build/linux" -DCMAKE_BUILD_TYPE=Release -DPELFRY_GUI=OFF -DPELFRY_TESTS=OFF \
        -DPELFRY_BENCH=OFF >/dev/null
  cmake --build "$build/linux" --target pelfry-cli -j"$jobs" >/dev/null
  linux_cli=$build/linux/bin/pelfry-cli
fi
tools/windows-scenario.sh "$linux_cli" "$build/bin/pelfry-cli.exe" "$build/bin/pelfry.exe"
