#!/usr/bin/env bash
# Checks the packages tools/package.sh made, as a user would meet them:
# - the .deb: exactly the expected files, Depends on the libraries the programs link, no
#   lintian errors; unpacked into a throw-away root (the package's files, then what dpkg's
#   triggers do on installation), pelfry-cli runs, man finds its page, bash completes, the
#   editor starts, GIO types the game's files by their contents as file managers do (an
#   image named .IMG is no disk image, a disk image or a text file so named stays what it is),
#   the three types open in the editor, and the thumbnailer's command makes thumbnails;
# - the zip, when given: exactly the expected files, the programs run (under wine, when it is
#   installed), the README and the licences are there;
# - the installer, when given: under wine in a fresh prefix, on a virtual display, it installs
#   the zip's files, the Start menu shortcut, the association of .DIR with the editor and the
#   entry in the list of installed programs; an archive started as Explorer starts it opens in
#   the editor (screenshot: installed-window.png beside the installer); uninstalling takes all
#   of it away; and it replaces an earlier release.
#
#   tests/package/check-packages.sh DEB [ZIP [MSI]]
set -euo pipefail
deb=$(realpath "$1")
zip=${2:+$(realpath "$2")}
msi=${3:+$(realpath "$3")}
work=$(mktemp -d)
display_pid=
cleanup() {
  if [ -d "$work/wine" ]; then
    WINEPREFIX=$work/wine wineserver -k 2>/dev/null || true
    WINEPREFIX=$work/wine wineserver -w 2>/dev/null || true
  fi
  if [ -n "$display_pid" ]; then kill "$display_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
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
/usr/share/thumbnailers/pelfry.thumbnailer
EOF
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected ones"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libpng16-16 libgif7 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
    fail "Depends lacks $library: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for package in shared-mime-info desktop-file-utils xdg-utils bash-completion; do
  [[ ", $recommends," == *", $package,"* ]] || fail "Recommends lacks $package: $recommends"
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
# The game's files, and files that only share their names. The system's types stay in view:
# the disk image's "*.img" pattern must not take a real image.
cli=$root/usr/bin/pelfry-cli
files=$work/files-of-the-game
mkdir "$files"
printf 'DIR\032\0\0\0\0' >"$files/GAME.DAT"
convert -size 300x200 xc:'#C03020' -fill '#2040E0' -draw 'rectangle 20,20 120,90' "PNG24:$files/HERO.IMG.png"
convert -size 40x64 xc:'#20A040' "PNG24:$files/walk.SPR.png"
printf 'frames = 2\r\nheight = 32\r\nwidth = 40\r\nframerate = 12\r\nflags = 3\r\n' >"$files/walk.SPR.spd"
"$cli" convert-back -q "$files/HERO.IMG.png" "$files/walk.SPR.spd" || fail "convert-back"
mv "$files/walk.SPR" "$files/WALK.BIN"
# An archive whose first picture is the sprite, after an entry that is none.
{ "$cli" add -q "$files/GAME.DIR" "$files/walk.SPR.spd" &&
  "$cli" add -q --name WALK.SPR "$files/GAME.DIR" "$files/WALK.BIN" &&
  "$cli" add -q "$files/GAME.DIR" "$files/HERO.IMG"; } || fail "add"
echo "a text, named as an image" >"$files/NOTES.IMG"
head -c 65536 /dev/zero >"$files/DISK.IMG"
# As a file manager sees the root (GLib offers only programs it finds on the PATH).
in_root() { PATH=$root/usr/bin:$PATH XDG_DATA_DIRS=$root/usr/share:/usr/share XDG_DATA_HOME=$work/none "$@"; }
type_of() { in_root gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
for typed in GAME.DAT:application/x-varn-directory GAME.DIR:application/x-varn-directory \
             HERO.IMG:image/x-varn-image WALK.BIN:image/x-varn-sprite; do
  [ "$(type_of "$files/${typed%%:*}")" = "${typed#*:}" ] || fail "${typed%%:*} is not typed ${typed#*:}"
done
for other in NOTES.IMG DISK.IMG; do
  [[ $(type_of "$files/$other") != */x-varn-* ]] || fail "$other is typed $(type_of "$files/$other")"
done
for type in application/x-varn-directory image/x-varn-image image/x-varn-sprite; do
  in_root gio mime "$type" | grep '^Default application .*: pelfry.desktop$' >/dev/null ||
    fail "$type does not open in the editor"
done
# The thumbnailer's command, as a file manager runs it (%s the size, %i the file, %o the PNG).
thumbnailer=$root/usr/share/thumbnailers/pelfry.thumbnailer
grep -qx 'MimeType=application/x-varn-directory;image/x-varn-image;image/x-varn-sprite;' "$thumbnailer" ||
  fail "the thumbnailer's types"
command=$(sed -n 's/^Exec=//p' "$thumbnailer")
thumbnail() { # FILE SIZE: runs the command, prints what `file` says of the thumbnail
  rm -f "$work/thumbnail.png"
  local words=() word
  for word in $command; do
    case $word in %s) word=$2 ;; %i) word=$1 ;; %o) word=$work/thumbnail.png ;; esac
    words+=("$word")
  done
  in_root "${words[@]}" 2>/dev/null && file -b "$work/thumbnail.png" | cut -d, -f2,3
}
for made in "HERO.IMG 128:128 x 85" "WALK.BIN 256:40 x 32" "GAME.DIR 16:16 x 13"; do
  read -r name size <<<"${made%%:*}"
  got=$(thumbnail "$files/$name" "$size")
  [ "$got" = " ${made#*:}, 8-bit/color RGBA" ] || fail "the thumbnail of $name at $size: $got"
done
! thumbnail "$files/NOTES.IMG" 128 && [ ! -e "$work/thumbnail.png" ] ||
  fail "a thumbnail of a text file"

if [ -n "$zip" ]; then
  name=$(basename "$zip" .zip)
  python3 -m zipfile -l "$zip" | awk 'NR > 1 && $1 !~ /\/$/ { print $1 }' | sort >"$work/zip-files"
  # The editor comes with the licence notes of Qt, whatever their names.
  {
    printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/pelfry-cli.exe"
    for note in libpng libpng-LICENSE giflib giflib-LICENSE zlib CLI11 mingw-w64-runtime GCC-runtime; do
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

if [ -n "$msi" ]; then
  # A prefix of its own, made on a virtual display of its own (a prefix made without one keeps
  # its windows off the screen); no offer of Mono or Gecko, and no menu entries or file types
  # for this machine's desktop (winemenubuilder). One wine server for the whole check.
  export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  display_pid=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.2; done
  export DISPLAY=:$(cat "$work/display")
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wineboot -i >/dev/null 2>&1
  folder='C:\Program Files\Pelfry'
  editor="$folder\\pelfry.exe"
  # What the installer made, as lines: its folder, the Start menu's shortcut (wherever it
  # is: wine puts the shortcuts of a machine's installation into the user's menu), the keys
  # of the association with every value, and what the list of installed programs shows of
  # entries named Pelfry.
  made() {
    {
      [ -d "$WINEPREFIX/drive_c/Program Files/Pelfry" ] && echo "folder $folder"
      find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Pelfry.lnk' | while read -r link; do
        grep -aqF "$editor" "$link" && echo "shortcut Pelfry to $editor" || echo "shortcut Pelfry elsewhere"
      done
      for key in 'HKCR\.DIR' 'HKCR\Pelfry.Directory' 'HKCR\Installer\Products' \
                 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'; do
        wine reg query "$key" /s 2>/dev/null || true
      done | tr -d '\r' | awk -F '    ' '
        function flush() { if (name == "Pelfry") printf "%s", listed; name = listed = "" }
        /^HKEY/ { flush(); key = $0; listing = key ~ /\\(Uninstall|Installer\\Products)\\/
                  if (!listing) print key; next }
        NF < 4 { next }
        !listing { print key ": " $2 " = " $4; next }
        $2 == "DisplayName" || $2 == "ProductName" { name = $4 }
        $2 == "DisplayVersion" || $2 == "Publisher" { listed = listed "listed: " $2 " = " $4 "\n" }
        $2 == "ProductIcon" { sub(/.*\\/, "", $4); listed = listed "listed: icon " $4 "\n" }
        END { flush() }'
    } | sort
  }
  sort >"$work/msi-expected" <<END
folder $folder
shortcut Pelfry to $editor
HKEY_CLASSES_ROOT\.DIR
HKEY_CLASSES_ROOT\.DIR: (Default) = Pelfry.Directory
HKEY_CLASSES_ROOT\.DIR: Content Type = application/x-varn-directory
HKEY_CLASSES_ROOT\Pelfry.Directory
HKEY_CLASSES_ROOT\Pelfry.Directory: (Default) = Varn resource directory
HKEY_CLASSES_ROOT\Pelfry.Directory\DefaultIcon
HKEY_CLASSES_ROOT\Pelfry.Directory\DefaultIcon: (Default) = $editor,0
HKEY_CLASSES_ROOT\Pelfry.Directory\shell
HKEY_CLASSES_ROOT\Pelfry.Directory\shell\open
HKEY_CLASSES_ROOT\Pelfry.Directory\shell\open: (Default) = Open
HKEY_CLASSES_ROOT\Pelfry.Directory\shell\open\command
HKEY_CLASSES_ROOT\Pelfry.Directory\shell\open\command: (Default) = "$editor" "%1"
listed: DisplayVersion = $version
listed: Publisher = Pelfry developers
listed: icon pelfry.ico
END
  msi_path=$(winepath -w "$msi")
  wine msiexec /i "$msi_path" /qn || fail "the installer failed"
  made | diff -u "$work/msi-expected" - || fail "the installer made other things than expected"
  diff -r "$work/zip/$name" "$WINEPREFIX/drive_c/Program Files/Pelfry" ||
    fail "the installed files differ from the zip's"

  # An archive in a folder with a space, opened as Explorer opens it (ShellExecute through the
  # association): the editor's window comes up with the archive, its caption naming it.
  mkdir "$work/saved games"
  "$root/usr/bin/pelfry-cli" add "$work/saved games/GAME.DIR" "$files/GAME.DAT" >/dev/null
  archive=$(winepath -w "$work/saved games/GAME.DIR")
  wine start /wait /unix "$work/saved games/GAME.DIR" >"$work/editor.log" 2>&1 &
  started=$!
  screenshot=$(dirname "$msi")/installed-window.png
  # Until the window is up, or the editor has ended without one (two minutes at most).
  window=
  deadline=$((SECONDS + 120))
  while [ $SECONDS -lt $deadline ]; do
    window=$(xdotool search --onlyvisible --name "^Varn directory editor : " 2>/dev/null | head -n 1) || true
    if [ -n "$window" ] || ! kill -0 "$started" 2>/dev/null; then break; fi
    sleep 0.1
  done
  import -window root "$screenshot"
  if [ -n "$window" ]; then
    caption=$(xdotool getwindowname "$window")
    # The editor takes the path given as its full path, written with "/" as Qt writes paths.
    [ "$caption" = "Varn directory editor : ${archive//\\//}" ] || fail "the editor's caption: $caption"
  else
    log=$(cat "$work/editor.log")
    fail "no editor window opened the archive (screenshot: $screenshot)${log:+: $log}"
  fi
  # Closed as Windows closes a program, then gone within a minute.
  wine taskkill /im pelfry.exe >/dev/null 2>&1 || true
  deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ] && kill -0 "$started" 2>/dev/null; do sleep 0.1; done
  if kill -0 "$started" 2>/dev/null; then
    fail "the editor did not close"
    wineserver -k
  fi

  wine msiexec /x "$msi_path" /qn || fail "uninstalling failed"
  made | diff -u /dev/null - || fail "uninstalling left these"

  # Over an earlier release (the same installer as version 0.0.0, another product), the
  # installer replaces it: one Pelfry in the list, of this version.
  cp "$msi" "$work/earlier.msi"
  msibuild "$work/earlier.msi" -q "UPDATE Property SET Value = '0.0.0' WHERE Property = 'ProductVersion'" \
           -q "UPDATE Property SET Value = '{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}' WHERE Property = 'ProductCode'"
  wine msiexec /i "$(winepath -w "$work/earlier.msi")" /qn || fail "the earlier release failed to install"
  wine msiexec /i "$msi_path" /qn || fail "the installer failed over an earlier release"
  made | diff -u "$work/msi-expected" - || fail "over an earlier release, the installer made other things"
fi

[ $failures = 0 ] && echo "The packages are as they should be"
exit $((failures > 0))
