#!/usr/bin/env bash
# `cmake --install` puts pelfry-cli's man page and bash completion where man and bash look.
# Argument: the build folder.
set -eu
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Staged as a package build stages it: the files under DESTDIR, nothing else touched.
DESTDIR=$stage cmake --install "$1" --prefix /usr > /dev/null
prefix=$stage/usr
test -x "$prefix/bin/pelfry-cli"
page="$prefix/share/man/man1/pelfry-cli.1"
grep -q '^\.TH PELFRY-CLI "1"' "$page"
# Every command has its part, made from its help.
for command in list info extract add delete convert convert-back export rebuild; do
    grep -q "^\.SS $command\$" "$page" || { echo "no section for $command in $page"; exit 1; }
done
grep -q -- '--no-compress-img' "$page"
completion="$prefix/share/bash-completion/completions/pelfry-cli"
bash -n "$completion"
grep -q '^complete -F _pelfry_cli pelfry-cli$' "$completion"
