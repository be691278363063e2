#!/usr/bin/env bash
# The bash completion of pelfry-cli offers the commands and each command's options as the
# program's help lists them, and for each operand the files it takes.
# Arguments: the completion script, the pelfry-cli program.
set -u
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
    COMP_WORDS=(pelfry-cli "$@")
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
check "entry names" "" "$(completions delete GFX.DIR '')"
check "log" "notes.txt work " "$(completions rebuild --quiet '')"
check "archive after the log" "GFX.DIR old.dir work " "$(completions rebuild notes.txt '')"
check "game files" "HERO.IMG walk.spr work " "$(completions convert --png '')"
check "edited files" "HERO.IMG.bmp walk.SPR.spd work " "$(completions convert-back HERO.IMG.bmp '')"
check "any file after --name" "GFX.DIR HERO.IMG HERO.IMG.bmp notes.txt old.dir walk.SPR.spd walk.spr work " \
    "$(completions add --name X GFX.DIR '')"
check "the archive after --jobs N" "GFX.DIR old.dir work " "$(completions rebuild --jobs 2 notes.txt '')"
check "operands after --" "GFX.DIR old.dir work " "$(completions list -- '')"
exit $((failures > 0))
