#!/usr/bin/env bash
# Builds the Qt that the Windows editor links: Debian's own qt6-base source (the release of the
# installed qt6-base-dev, whose moc, rcc and uic serve as the host tools), cross-built for
# 64-bit Windows as static libraries with only what the window and its tests need: Core, Gui,
# Widgets, Test and the windows, offscreen and minimal platform plugins. Prints the folder it
# was installed to (the only line on standard output).
#
#   tools/build-qt-windows.sh LIBPNG_PREFIX
#
# The build takes about half an hour of CPU, so its result is kept outside the clone, under
# $PELFRY_CACHE (default /var/cache/pelfry, else ~/.cache/pelfry), in a folder named by the Qt
# source release, the mingw compiler's release and a hash of the configure flags below; a change
# of any of them builds a new one, and every later build on the machine reuses it. Runs at the
# lowest priority, since it shares the machine; ccache serves a rebuild where it is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
libpng_prefix=$(realpath "$1")
toolchain=$root/cmake/toolchain-mingw64.cmake

# The host tools run by the build must be of the same release as the source.
qt_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
mingw_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
host_cmake=$(dpkg -L qt6-base-dev | sed -n 's|/Qt6/Qt6Config.cmake$||p')

# Debian's repacked source has no src/3rdparty/wintab (tablets off); with OpenGL off the
# Windows plugin must not resolve OpenGL at run time (dynamicgl off); without Direct2D the
# DirectWrite 3 font database has no engine to pair with (directwrite3 off too). The offscreen
# plugin, which the tests use, is built only with freetype (Qt's bundled copy). libpng is the
# project's Windows build of Debian's libpng, so that the program holds one copy of it. Optimised
# for size: a smaller program, and quicker to compile than Qt's default -O3 for its core.
flags=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DFEATURE_optimize_size=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
  -DFEATURE_vulkan=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF
  -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF
  -DFEATURE_system_zlib=ON -DFEATURE_png=ON -DFEATURE_system_png=ON
  -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
)
hash=$(printf '%s\n' "${flags[@]}" | sha256sum | cut -c1-12)
key=qt-$qt_version-mingw-$mingw_version-$hash

cache=${PELFRY_CACHE:-/var/cache/pelfry}
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/pelfry
  mkdir -p "$cache"
fi
prefix=$cache/$key
work=$cache/$key.build
# Two builds on one machine wait for each other rather than build the same Qt twice.
exec 9>"$cache/$key.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

echo "Building Qt for Windows into $prefix (about half an hour of CPU; once per machine)" >&2
start=$SECONDS
mkdir -p "$work"
log=$work/build.log
if [ ! -f "$work/src/.fetched" ]; then
  "$root/tools/fetch-debian-source.sh" qt6-base "$work/src" "$qt_version" >&2
  touch "$work/src/.fetched"
fi
src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)

launcher=()
if command -v ccache >/dev/null; then
  # Qt's precompiled headers are served by ccache only when it may overlook their time stamps.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
step() { # WHAT COMMAND...: runs a step into the log; on failure shows the log's end
  local what=$1
  shift
  echo "Qt: $what" >&2
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Qt: $what failed; the whole log is $log" >&2
    exit 1
  fi
}
step configure nice -n 19 cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPELFRY_WINDOWS_DEPS="$libpng_prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${launcher[@]}" "${flags[@]}"
step build nice -n 19 cmake --build "$work/build" --parallel "$(nproc)"
step install cmake --install "$work/build"

# The licences of Qt and of the third-party code it compiles into these libraries, for the
# notes shipped with the program.
licenses=$prefix/licenses
mkdir -p "$licenses/3rdparty"
cp "$src"/LICENSES/{LGPL-3.0-only,GPL-3.0-only,GPL-2.0-only}.txt "$licenses/"
cp "$src/debian/copyright" "$licenses/debian-copyright"
for part in double-conversion pcre2 easing sha1 sha3 md4 md5 rfc6234 blake2 tinycbor freetype \
            harfbuzz-ng md4c icc; do
  mkdir -p "$licenses/3rdparty/$part"
  find "$src/src/3rdparty/$part" -maxdepth 1 -type f \( -iname '*licen[cs]e*' -o -iname 'copying*' \
       -o -name qt_attribution.json \) -exec cp {} "$licenses/3rdparty/$part/" \;
done
echo "$qt_version" >"$prefix/.complete"
rm -rf "$work"
echo "Qt for Windows built in $((SECONDS - start)) s" >&2
echo "$prefix"
