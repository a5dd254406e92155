# bash completion for vesk11-cli: command words, the parameters each command takes, the known
# groups and identifiers of the sensor's catalogue, and on/off after low-power.
# Self-contained: works with or without the bash-completion package.

_vesk11_cli_ids()
{
    case $1 in
        1000) echo 342 344 345 346 ;;
        2000) echo 50 51 52 53 54 55 104 450 451 452 453 454 455 456 457 458 459 460 ;;
        2003) echo 2 3 4 5 7 9 14 15 16 18 23 24 25 26 32 ;;
    esac
}

_vesk11_cli()
{
    # Split the line up to the cursor ourselves, so that "--group=2" is one word whatever
    # COMP_WORDBREAKS holds.
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -r -a words <<<"$line"
    local cur=
    if [[ $line != *[[:space:]] ]]; then
        cur=${words[-1]}
        unset 'words[-1]'
    fi

    local -a candidates=()
    if ((${#words[@]} == 1)); then
        candidates=(command get-status-i32 get-status-f32 get-param-i32 get-param-f32
            set-param-i32 set-param-f32 reboot reset-ram-conf reset-flash-conf
            update-flash-conf low-power)
    else
        local params=
        case ${words[1]} in
            low-power) ((${#words[@]} == 2)) && candidates=(on off) ;;
            get-*) params="--group --id" ;;
            set-* | command) params="--group --id --value" ;;
        esac
        if [[ $cur == *=* ]]; then
            local name=${cur%%=*} word group=
            for word in "${words[@]}"; do
                [[ $word == --group=* ]] && group=${word#--group=}
            done
            case " $params " in
                *" $name "*) ;;
                *) name= ;;
            esac
            local value
            case $name in
                --group) for value in 1000 2000 2003; do candidates+=("--group=$value"); done ;;
                --id) for value in $(_vesk11_cli_ids "$group"); do candidates+=("--id=$value"); done ;;
            esac
        else
            local param
            for param in $params; do
                [[ " ${words[*]} " == *" $param="* ]] || candidates+=("$param=")
            done
        fi
    fi

    COMPREPLY=()
    local candidate
    for candidate in "${candidates[@]}"; do
        [[ $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
    done
    # With '=' as a word break, readline replaces only the text after the '='.
    if [[ $cur == *=* && $COMP_WORDBREAKS == *=* ]]; then
        COMPREPLY=("${COMPREPLY[@]#*=}")
    fi
    if [[ " ${COMPREPLY[*]} " == *"= "* ]]; then
        compopt -o nospace 2>/dev/null
    fi
    return 0
}

complete -F _vesk11_cli vesk11-cli
