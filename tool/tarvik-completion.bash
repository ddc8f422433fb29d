# bash completion for tarvik: options, the command names of the model the
# line chooses (-v2 or -pet anywhere on it, before the cursor or after),
# file names after -script, the machine's ports and recordings after -port.

_tarvik_names() {
    local list=-commands i
    for ((i = 2; i < ${#COMP_WORDS[@]}; i++)); do
        case ${COMP_WORDS[i-1]} in
        -port | -resend | -script | -serve) continue ;; # a value, not an option
        esac
        case ${COMP_WORDS[i]} in
        -v2) list=-commandsv2 ;;
        -pet) list=-commandspet ;;
        esac
    done
    # Lines of the list are "           name (code)"; model 2 names shown as
    # DX_name take a direction digit.
    "${COMP_WORDS[0]}" "$list" 2>/dev/null | while read -r name code; do
        case $code in
        \(*\)) ;;
        *) continue ;;
        esac
        case $name in
        DX*) printf '%s\n' D0"${name#DX}" D1"${name#DX}" D2"${name#DX}" D3"${name#DX}" \
            D4"${name#DX}" D5"${name#DX}" D6"${name#DX}" D7"${name#DX}" ;;
        *) printf '%s\n' "$name" ;;
        esac
    done
}

_tarvik() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
    case $prev in
    -serve | -resend)
        return # an address and port, a number: nothing to offer
        ;;
    -script)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    -port)
        # The ports the program lists (it opens none to list them), never the
        # system console; and recordings.
        local ports
        ports=$("${COMP_WORDS[0]}" -ports 2>/dev/null | grep -v 'the system console' | cut -d' ' -f1)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -W "$ports" -- "$cur") $(compgen -f -X '!*.[vV][cC][dD]' -- "$cur"))
        return
        ;;
    esac
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$(_tarvik_names) -script -serve -commands -commandsv2 -commandspet -ports -h --version" -- "$cur"))
    else
        COMPREPLY=($(compgen -W "-port -nowakeup -v2 -pet -mmtimer -check -v -resend" -- "$cur"))
    fi
}

complete -F _tarvik tarvik
