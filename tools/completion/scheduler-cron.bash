# bash completion for scheduler-cron: the commands, and the options that its --help lists.
_scheduler_cron() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    if [[ $cur == -* ]]; then
        local options
        options=$("${COMP_WORDS[0]}" --help 2>/dev/null | grep -oE -- '--?[a-zA-Z][a-zA-Z-]*' | sort -u)
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'check next prev last range explain calendar' -- "$cur"))
    fi
}
complete -F _scheduler_cron scheduler-cron
