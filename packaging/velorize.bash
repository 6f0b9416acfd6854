# bash completion for velorize.
# The options and the values they take are read from the program's own --help
# (its usage lines and its option list), so a new option or value needs no
# change here. Run ids for --undo come from `velorize --runs`; paths are
# folders and .wav files.

# Fills _velorize_options (every option) and _velorize_values[OPTION] (the
# words after it: literal values, or placeholders such as NOTE and RUN) from
# the --help of this velorize program, once per program.
_velorize_read_help() {
    local program=$1
    [[ ${_velorize_program-} == "$program" ]] && return 0
    local help
    help=$(LC_ALL=C.UTF-8 "$program" --help 2>/dev/null) || return 1
    _velorize_program=$program
    _velorize_options=()
    declare -gA _velorize_values=()
    local option words
    while read -r option words; do
        _velorize_options+=("$option")
        [[ -n $words ]] && _velorize_values[$option]+=" $words"
    done < <(awk '
        # The usage block: "--opt WORD|WORD" and "[--opt [WORD]]".
        /^Usage:/ { usage = 1 }
        usage && /^$/ { usage = 0 }
        usage {
            line = $0
            while (match(line, /--[a-z][a-z-]*( \[?[A-Za-z][A-Za-z0-9|]*\]?)?/)) {
                found = substr(line, RSTART, RLENGTH)
                line = substr(line, RSTART + RLENGTH)
                split(found, part, " ")
                value = part[2]
                gsub(/\[/, "", value)
                gsub(/\]/, "", value)
                gsub(/\|/, " ", value)
                print part[1], value
            }
            next
        }
        # The option list: "  --opt [WORD]   what it does".
        match($0, /^  --[a-z][a-z-]*( \[?[A-Za-z][A-Za-z0-9]*\]?)?(  +|$)/) {
            split(substr($0, 3, RLENGTH - 2), part, " ")
            value = part[2]
            gsub(/\[/, "", value)
            gsub(/\]/, "", value)
            print part[1], value
        }' <<<"$help" | sort -u)
    mapfile -t _velorize_options < <(printf '%s\n' "${_velorize_options[@]}" | sort -u)
}

_velorize() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    [[ $program == */* ]] || program=$(type -P "$program") || return 0
    _velorize_read_help "$program" || return 0
    COMPREPLY=()

    if [[ -n $prev && -n ${_velorize_values[$prev]-} ]]; then
        local word values=()
        for word in ${_velorize_values[$prev]}; do
            case $word in
                NOTE) values+=(C C# D D# E F F# G G# A A# B none) ;;
                RUN) mapfile -t -O ${#values[@]} values < <("$program" --runs 2>/dev/null | awk '$1 ~ /^[0-9]/ { print $1 }') ;;
                *[[:lower:]]*) values+=("$word") ;;
                # Other placeholders (BEATS, BPM, N) are numbers to be typed.
            esac
        done
        mapfile -t COMPREPLY < <(compgen -W "${values[*]}" -- "$cur" | LC_ALL=C sort -u)
        # --undo's run is optional: options may follow it at once.
        [[ $prev != --undo ]] && return 0
    fi

    if [[ $cur == -* ]]; then
        mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -W "${_velorize_options[*]}" -- "$cur")
        return 0
    fi
    [[ $prev == --undo ]] && return 0

    # Folders and WAVE files, whatever the case of their extension.
    compopt -o filenames 2>/dev/null
    mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -d -- "$cur")
    mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -f -X '!*.[wW][aA][vV]' -- "$cur")
}

complete -F _velorize velorize
