# bash completion for scheduler-host: the commands, the options, plug-in files and log levels.
_scheduler_host() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case "$prev" in
        --library) COMPREPLY=($(compgen -f -X '!*.so*' -- "$cur")); compopt -o plusdirs 2>/dev/null; return ;;
        --log-level) COMPREPLY=($(compgen -W '1 2 3 4' -- "$cur")); return ;;
        --linger) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-h --help --version --verbose --linger --no-start --library
                                 --no-translator --log-level' -- "$cur"))
        return
    fi
    local word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ $word == demo || $word == serve ]] && { COMPREPLY=($(compgen -f -X '!*.so*' -- "$cur")); return; }
    done
    COMPREPLY=($(compgen -W 'demo serve' -- "$cur"))
}
complete -F _scheduler_host scheduler-host
