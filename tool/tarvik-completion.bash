# bash completion for tarvik: options, the command names of the model chosen
# so far on the command line, file names after -script, devices after -port.

_tarvik_names() {
    local list=-commands word
    for word in "${COMP_WORDS[@]}"; do
        case $word in
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
    -serve)
        return # an address and port: nothing to offer
        ;;
    -script)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    -port)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "${cur:-/dev/}" | grep -E '^/dev/(tty(S|USB|ACM|AMA)|rfcomm|lirc)|\.vcd$'))
        [ ${#COMPREPLY[@]} -eq 0 ] && COMPREPLY=($(compgen -f -- "$cur"))
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
