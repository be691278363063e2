# Bash completion for pelfry-cli: the commands, each command's options, for each operand the
# files it takes (archives for ARCHIVE, folders for FOLDER, logs for LOG), and the entry names
# of the archive already typed for the NAME operands of extract and delete and the OLD one of
# rename. Needs nothing from
# the bash-completion package, though that package loads it on first use.

# The options of a command, as its --help lists them.
_pelfry_cli_options() {
    case $1 in
        list | delete | rename) echo "--help" ;;
        info | extract) echo "--quiet --help" ;;
        add) echo "--name --quiet --help" ;;
        convert) echo "--png --gif --jobs --quiet --help" ;;
        export) echo "--png --jobs --quiet --help" ;;
        thumbnail) echo "--size --help" ;;
        convert-back | rebuild) echo "--no-compress-img --no-opaque --no-compress-spr --recreate-all --jobs --quiet --help" ;;
    esac
}

# What operand number $2 (from 0) of command $1 is: archive, folder, log, game (images and
# sprites), edited (pictures and descriptions), file (any file), entry (a name in the archive
# that is the first operand) or none.
_pelfry_cli_operand() {
    case $1:$2 in
        list:0 | extract:0 | add:0 | delete:0 | rename:0 | export:0 | rebuild:1) echo archive ;;
        extract:1 | export:1) echo folder ;;
        rebuild:0) echo log ;;
        info:0 | thumbnail:0) echo info ;;
        thumbnail:1) echo file ;;
        convert:*) echo game ;;
        convert-back:*) echo edited ;;
        add:*) echo file ;;
        extract:* | delete:* | rename:1) echo entry ;;
        *) echo none ;;
    esac
}

# Files under the word $1 whose extensions (any case) are among $2 ("" for any), and folders
# to go on into.
_pelfry_cli_files() {
    local word=$1 path ext lower
    local -a extensions
    read -ra extensions <<<"$2"
    while IFS= read -r path; do
        [[ -n $path ]] || continue
        if [[ -d $path || ${#extensions[@]} -eq 0 ]]; then
            COMPREPLY+=("$path")
            continue
        fi
        lower=${path,,}
        for ext in "${extensions[@]}"; do
            if [[ $lower == *."$ext" ]]; then
                COMPREPLY+=("$path")
                break
            fi
        done
    done < <(compgen -f -- "$word")
}

_pelfry_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "list info extract add delete rename convert convert-back
                                             thumbnail export rebuild --help --version" -- "$cur")
        return
    fi
    local command=${COMP_WORDS[1]}
    local options
    options=$(_pelfry_cli_options "$command")
    [[ -n $options ]] || return

    # Count the operands before this word: after "--" every word is one; --name, --jobs (-j)
    # and --size (-s) take a value.
    local i word operand=0 operandsOnly=0 first=""
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((operandsOnly)) || [[ $word != -* ]]; then
            ((operand == 0)) && first=$word
            operand=$((operand + 1))
        elif [[ $word == -- ]]; then
            operandsOnly=1
        elif [[ $word == --name || $word == --jobs || $word == -j || $word == --size || $word == -s ]]; then
            i=$((i + 1))
        fi
    done
    if ((!operandsOnly)); then
        case ${COMP_WORDS[COMP_CWORD - 1]} in
            --name | --jobs | -j | --size | -s) return ;; # an entry name or a number: anything
        esac
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
            return
        fi
    fi

    local kind
    kind=$(_pelfry_cli_operand "$command" "$operand")
    if [[ $kind == entry ]]; then
        _pelfry_cli_entries "${COMP_WORDS[0]}" "$first" "$cur"
        return
    fi
    compopt -o filenames 2>/dev/null
    case $kind in
        archive) _pelfry_cli_files "$cur" "dir" ;;
        folder) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        log) _pelfry_cli_files "$cur" "txt" ;;
        info) _pelfry_cli_files "$cur" "dir img spr" ;;
        game) _pelfry_cli_files "$cur" "img spr" ;;
        edited) _pelfry_cli_files "$cur" "bmp png spd" ;;
        file) _pelfry_cli_files "$cur" "" ;;
    esac
}

# The word $1 as the shell will pass it: quotes and backslashes taken away, a leading ~/ made
# the home folder. Nothing is expanded or run.
_pelfry_cli_dequote() {
    local word=$1 out="" c quote=""
    [[ $word == "~/"* ]] && word=$HOME/${word:2}
    while [[ -n $word ]]; do
        c=${word:0:1}
        word=${word:1}
        if [[ $quote == "'" ]]; then
            [[ $c == "'" ]] && quote="" || out+=$c
        elif [[ $c == \\ && $quote == "" || $c == \\ && ${word:0:1} == [\"\\\$\`] ]]; then
            out+=${word:0:1}
            word=${word:1}
        elif [[ $c == "'" && $quote == "" || $c == '"' ]]; then
            [[ $quote == '"' ]] && quote="" || quote=$c
        else
            out+=$c
        fi
    done
    printf '%s' "$out"
}

# The entries of archive $2 starting with $3 (all as typed), as the program $1 lists them,
# quoted for the command line; nothing when the archive cannot be listed.
_pelfry_cli_entries() {
    local program archive prefix name
    program=$(_pelfry_cli_dequote "$1")
    archive=$(_pelfry_cli_dequote "$2")
    prefix=$(_pelfry_cli_dequote "$3")
    while IFS= read -r name; do
        [[ $name == "$prefix"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
    done < <("$program" list -- "$archive" 2>/dev/null)
}

complete -F _pelfry_cli pelfry-cli
