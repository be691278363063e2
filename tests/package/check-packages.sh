#!/usr/bin/env bash
# Checks the packages tools/package.sh made, as a user would meet them:
# - the .deb: exactly the expected files, Depends on the libraries the programs link, no
#   lintian errors; unpacked into a throw-away root (the package's files, then what dpkg's
#   triggers do on installation), pelfry-cli runs, man finds its page, bash completes, the
#   editor starts, and the archive's type opens in the editor;
# - the zip, when given: exactly the expected files, the programs run (under wine, when it is
#   installed), the README and the licences are there.
#
#   tests/package/check-packages.sh DEB [ZIP]
set -euo pipefail
deb=$(realpath "$1")
zip=${2:+$(realpath "$2")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
version=$(dpkg-deb -f "$deb" Version)

# The files, and nothing else.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/files"
sort >"$work/expected" <<EOF
/usr/bin/pelfry
/usr/bin/pelfry-cli
/usr/share/applications/pelfry.desktop
/usr/share/bash-completion/completions/pelfry-cli
/usr/share/doc/pelfry/changelog.gz
/usr/share/doc/pelfry/copyright
/usr/share/icons/hicolor/48x48/apps/pelfry.png
/usr/share/man/man1/pelfry-cli.1.gz
/usr/share/man/man1/pelfry.1.gz
/usr/share/mime/packages/pelfry.xml
EOF
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected ones"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libpng16-16 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
    fail "Depends lacks $library: $depends"
done
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

# Installed into a throw-away root: the files, then what the triggers of shared-mime-info
# and desktop-file-utils do.
root=$work/root
dpkg-deb -x "$deb" "$root"
update-mime-database "$root/usr/share/mime" >/dev/null 2>&1
update-desktop-database "$root/usr/share/applications" >/dev/null 2>&1
[ "$("$root/usr/bin/pelfry-cli" --version)" = "pelfry-cli $version" ] || fail "pelfry-cli --version"
[ "$(MANPATH="$root/usr/share/man" man -w pelfry-cli)" = "$root/usr/share/man/man1/pelfry-cli.1.gz" ] ||
  fail "man does not find the page"
MANPATH="$root/usr/share/man" MANWIDTH=80 man pelfry-cli 2>/dev/null | grep '^EXIT STATUS' >/dev/null ||
  fail "man does not show the page"
completions=$(bash -c 'source "$1"; COMP_WORDS=(pelfry-cli conv); COMP_CWORD=1; _pelfry_cli
                       echo "${COMPREPLY[*]}"' - "$root/usr/share/bash-completion/completions/pelfry-cli")
[ "$completions" = "convert convert-back" ] || fail "bash completes 'conv' as [$completions]"
"$root/usr/bin/pelfry" --help 2>/dev/null | grep '^Usage: pelfry' >/dev/null || fail "pelfry --help"
desktop-file-validate "$root/usr/share/applications/pelfry.desktop" || fail "the .desktop file"
printf 'DIR\032\0\0\0\0' >"$work/GAME.DAT"
# As a file manager sees the root (GLib offers only programs it finds on the PATH).
in_root() { PATH=$root/usr/bin:$PATH XDG_DATA_DIRS=$root/usr/share XDG_DATA_HOME=$work/none "$@"; }
[ "$(in_root gio info -a standard::content-type "$work/GAME.DAT" | sed -n 's/^ *standard::content-type: //p')" = \
  application/x-varn-directory ] || fail "an archive is not recognised by its first bytes"
in_root gio mime application/x-varn-directory | grep '^Default application .*: pelfry.desktop$' >/dev/null ||
  fail "archives do not open in the editor"

if [ -n "$zip" ]; then
  name=$(basename "$zip" .zip)
  python3 -m zipfile -l "$zip" | awk 'NR > 1 && $1 !~ /\/$/ { print $1 }' | sort >"$work/zip-files"
  # The editor comes with the licence notes of Qt, whatever their names.
  {
    printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/pelfry-cli.exe"
    for note in libpng libpng-LICENSE zlib CLI11 mingw-w64-runtime GCC-runtime; do
      echo "$name/licenses/$note.txt"
    done
    # The editor comes with Qt's notes and the kit to relink it with another Qt.
    if grep -qx "$name/pelfry.exe" "$work/zip-files"; then
      echo "$name/pelfry.exe"
      grep "^$name/licenses/Qt" "$work/zip-files" || echo "$name/licenses/Qt*"
      echo "$name/licenses/relink/relink.sh"
      grep "^$name/licenses/relink/lib/.*\.[ao]$" "$work/zip-files" || echo "$name/licenses/relink/lib/*.a"
    fi
  } | sort >"$work/zip-expected"
  diff -u "$work/zip-expected" "$work/zip-files" || fail "the zip's files differ from the expected ones"
  python3 -m zipfile -e "$zip" "$work/zip"
  file "$work/zip/$name/pelfry-cli.exe" | grep 'PE32+ executable (console) x86-64' >/dev/null ||
    fail "pelfry-cli.exe is no 64-bit Windows console program"
  grep -q "^Pelfry $version for Windows .*"$'\r$' "$work/zip/$name/README.txt" || fail "README.txt"
  if command -v wine >/dev/null; then
    # Into a file: the services wine may start with a new prefix keep a pipe open.
    WINEDEBUG=-all wine "$work/zip/$name/pelfry-cli.exe" --version >"$work/version" 2>/dev/null </dev/null
    [ "$(tr -d '\r' <"$work/version")" = "pelfry-cli $version" ] || fail "pelfry-cli.exe --version under wine"
  fi
fi

[ $failures = 0 ] && echo "The packages are as they should be"
exit $((failures > 0))
