# bash completion for zibbet                                -*- shell-script -*-
# Installed as share/bash-completion/completions/zibbet; works on its own
# too: `source completion/zibbet.bash`.

# _zibbet - completes options, a file after -f/--buddyfile, user names after
# -u/--users (the last name of a comma-separated list), nothing after the
# other options that take an argument.
_zibbet() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    local long_opts="--all-users --exec-command --help --buddyfile
        --no-buddyfile --interval --message --no-newline --process-once
        --process-current --silent --status-message --users --version
        --write-buddies"
    local short_opts="-a -c -f -F -h -i -m -n -o -p -q -s -u -v -w"

    # --name=value: bash splits it at "=" (COMP_WORDBREAKS) into "--name",
    # "=" and the value; without that split it is one word.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        prev=${cur%%=*}
        cur=${cur#*=}
    fi

    case $prev in
        -f | --buddyfile)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -u | --users)
            local head=
            [[ $cur == *,* ]] && head=${cur%,*},
            COMPREPLY=($(compgen -P "$head" -u -- "${cur##*,}"))
            return
            ;;
        -c | --exec-command | -i | --interval | -m | --message | \
            -s | --status-message)
            COMPREPLY=()
            return
            ;;
    esac

    if [[ $cur == --* ]]; then
        COMPREPLY=($(compgen -W "$long_opts" -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$short_opts $long_opts" -- "$cur"))
    fi
}

complete -F _zibbet zibbet
