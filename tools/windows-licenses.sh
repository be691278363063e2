#!/usr/bin/env bash
# Gathers into BUILD/licenses/ what the Windows programs must ship with: the notes on Qt (in
# pelfry.exe, under the LGPL), libpng and giflib (in both programs) with their licence texts,
# and the kit to relink pelfry.exe with another Qt, since Qt is linked statically. The Windows
# archive for users takes the folder as it is.
#
#   tools/windows-licenses.sh BUILD QT_PREFIX LIBPNG_SOURCE GIFLIB_SOURCE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
qt=$(realpath "$2")
libpng_src=$(realpath "$3")
giflib_src=$(realpath "$4")
out=$build/licenses
# Only what this script makes is replaced: other steps of the build leave their notes here too.
rm -rf "$out"/{Qt.txt,Qt,libpng.txt,libpng-LICENSE.txt,giflib.txt,giflib-LICENSE.txt,relink}
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

giflib_source_version=$(dpkg-parsechangelog -l "$giflib_src/debian/changelog" -S Version)
fill "$root/packaging/windows/giflib.txt.in" "$out/giflib.txt" \
  "GIFLIB_VERSION=${giflib_source_version%%-*}" "GIFLIB_SOURCE_VERSION=$giflib_source_version"
cp "$giflib_src/COPYING" "$out/giflib-LICENSE.txt"

# The relinking kit: pelfry.exe's own object code (the program's objects and the static
# libraries of its layers, of libpng and of giflib) and the link command CMake used, with the
# Qt folder made an argument. Run once here against the Qt it was built with, so that a broken
# kit fails the build rather than the user.
kit=$out/relink
python3 - "$build/app/qt" "$qt" "$kit" <<'PY'
import os, shlex, shutil, sys

link_dir, qt, kit = sys.argv[1:]
lines = open(os.path.join(link_dir, "CMakeFiles/pelfry.dir/link.txt")).read().splitlines()
words = shlex.split(next(l for l in lines if " -o " in l and "g++" in l))
os.makedirs(os.path.join(kit, "lib"))


def expand(word):  # a response file's words in its place
    if word.startswith("@"):
        return shlex.split(open(os.path.join(link_dir, word[1:])).read())
    return [word]


command = []
for word in (w for word in words[1:] for w in expand(word)):
    path = os.path.normpath(os.path.join(link_dir, word))
    if word.startswith("-Wl,--out-implib") or not word:
        continue
    # The output (an earlier pelfry.exe may stand there) is named below, not copied.
    if word.startswith("-") or not os.path.isfile(path) or command[-1:] == ["-o"]:
        command.append(shlex.quote(word))
    elif path.startswith(qt + "/"):
        command.append('"$QT"' + shlex.quote(path[len(qt):]))
    elif path.startswith("/usr/"):  # the mingw-w64 system's own libraries
        command.append(shlex.quote(path))
    else:
        name = os.path.basename(path)
        shutil.copy(path, os.path.join(kit, "lib", name))
        command.append("lib/" + shlex.quote(name))
# The program's own name, in the kit's folder.
at = command.index("-o")
command[at + 1] = "pelfry.exe"
with open(os.path.join(kit, "relink.sh"), "w") as script:
    script.write(f"""#!/bin/sh
# Links pelfry.exe anew, here, with the static Qt for Windows installed in the folder QT: the
# link command of Pelfry's own build. Needs Debian's mingw-w64 (g++-mingw-w64-x86-64-posix,
# libz-mingw-w64-dev) or the same compiler release elsewhere.
#   sh relink.sh QT
set -e
QT=$(cd "${{1:?usage: relink.sh QT}}" && pwd)
cd "$(dirname "$0")"
{os.path.basename(words[0])} {" ".join(command)}
echo "Linked $(pwd)/pelfry.exe"
""")
PY
sh "$kit/relink.sh" "$qt" >/dev/null
rm "$kit/pelfry.exe"
