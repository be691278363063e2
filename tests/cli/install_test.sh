#!/usr/bin/env bash
# `cmake --install` puts pelfry-cli's man page, bash completion and thumbnailer where man, bash
# and file managers look, and installed into a prefix brings its MIME and desktop databases up to
# date.
# Argument: the build folder.
set -eu
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Staged as a package build stages it: the files under DESTDIR, nothing else touched.
DESTDIR=$stage cmake --install "$1" --prefix /usr > /dev/null
prefix=$stage/usr
test -x "$prefix/bin/pelfry-cli"
page=$(zcat "$prefix/share/man/man1/pelfry-cli.1.gz")
grep -q '^\.TH PELFRY-CLI "1"' <<<"$page"
# Every command has its part, made from its help, and the sections no help holds are there.
for section in '.SS list' '.SS info' '.SS extract' '.SS add' '.SS delete' '.SS convert' \
        '.SS convert-back' '.SS thumbnail' '.SS export' '.SS rebuild' '.SH "EXIT STATUS"' '.SH EXAMPLES'; do
    grep -qFx "$section" <<<"$page" || { echo "no $section in the man page"; exit 1; }
done
grep -q -- '--no-compress-img' <<<"$page"
completion="$prefix/share/bash-completion/completions/pelfry-cli"
bash -n "$completion"
grep -q '^complete -F _pelfry_cli pelfry-cli$' "$completion"
test ! -e "$prefix/share/applications/mimeinfo.cache" # a package's triggers make it
grep -qx 'Exec=pelfry-cli thumbnail -s %s %i %o' "$prefix/share/thumbnailers/pelfry.thumbnailer"

# Into a prefix of one's own, the association of the game files' types with the editor.
if [ -f "$1/bin/pelfry" ]; then
    cmake --install "$1" --prefix "$stage/own" > /dev/null
    for type in application/x-varn-directory image/x-varn-image image/x-varn-sprite; do
        grep -qx "$type=pelfry.desktop;" "$stage/own/share/applications/mimeinfo.cache"
        test -f "$stage/own/share/mime/$type.xml"
    done
fi
