#!/usr/bin/env bash
# The bash completion of pelfry-cli offers the commands and each command's options as the
# program's help lists them, for each operand the files it takes, and the entries of the
# archive for the names of extract and delete and the OLD name of rename.
# Arguments: the completion script, the pelfry-cli program.
set -u
export LC_ALL=C # one order of names everywhere
source "$1"
cli=$2
failures=0

check() { # what, expected, got
    if [[ $2 != "$3" ]]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

# The completions of the last word after "pelfry-cli WORDS...", sorted, on one line.
completions() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _pelfry_cli
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' '
}

commands=$("$cli" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
check "commands" "$(echo "$commands" --help --version | tr ' ' '\n' | sort | tr '\n' ' ')" "$(completions '')"
for command in $commands; do
    options=$("$cli" "$command" --help | sed -n '/^Options:/,$p' | grep -oE '^  (-[a-z], )?--[a-z-]+' |
        grep -oE -- '--[a-z-]+' | sort | tr '\n' ' ')
    check "options of $command" "$options" "$(completions "$command" --)"
done

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
touch GFX.DIR old.dir notes.txt HERO.IMG walk.spr HERO.IMG.bmp walk.SPR.spd
mkdir work
check "archive" "GFX.DIR old.dir work " "$(completions list '')"
check "folder" "work " "$(completions extract GFX.DIR '')"
check "no entry names from a file that is no archive, and no message" "" "$(completions delete GFX.DIR '' 2>&1)"
check "log" "notes.txt work " "$(completions rebuild --quiet '')"
check "archive after the log" "GFX.DIR old.dir work " "$(completions rebuild notes.txt '')"
check "game files" "HERO.IMG walk.spr work " "$(completions convert --png '')"
check "thumbnail of" "GFX.DIR HERO.IMG old.dir walk.spr work " "$(completions thumbnail -s 64 '')"
check "edited files" "HERO.IMG.bmp walk.SPR.spd work " "$(completions convert-back HERO.IMG.bmp '')"
check "any file after --name" "GFX.DIR HERO.IMG HERO.IMG.bmp notes.txt old.dir walk.SPR.spd walk.spr work " \
    "$(completions add --name X GFX.DIR '')"
check "the archive after --jobs N" "GFX.DIR old.dir work " "$(completions rebuild --jobs 2 notes.txt '')"
check "operands after --" "GFX.DIR old.dir work " "$(completions list -- '')"

# Entry names as the shell must be given them, after the archive as typed.
"$cli" add --name 'UI\ICON.IMG' SET.DIR HERO.IMG && "$cli" add --name '-x y' SET.DIR HERO.IMG &&
    "$cli" add SET.DIR HERO.IMG || exit 1
check "entry names" '-x\ y HERO.IMG UI\\ICON.IMG ' "$(completions extract -q SET.DIR out '')"
check "entry names by prefix" 'UI\\ICON.IMG ' "$(completions delete ./\SET.DIR 'UI\\')"
check "entry names after --" '-x\ y ' "$(completions delete -- \''SET.DIR'\' -)"
check "entry names for rename's OLD" '-x\ y HERO.IMG UI\\ICON.IMG ' "$(completions rename SET.DIR '')"
check "nothing for rename's NEW" "" "$(completions rename SET.DIR HERO.IMG '')"
exit $((failures > 0))
