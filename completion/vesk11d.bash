# bash completion for vesk11d: options, devices after --device, folders after --runtime-dir,
# files after --metrics-file, users, groups, RS-485 modes and port access after the options that take them.

_vesk11d()
{
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -r -a words <<<"$line"
    local cur=
    if [[ $line != *[[:space:]] ]]; then
        cur=${words[-1]}
        unset 'words[-1]'
    fi
    local previous=${words[-1]}
    local -a candidates=()
    case $previous in
        --device)
            compopt -o filenames 2>/dev/null
            candidates=(/dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/serial/by-id/*)
            ;;
        --runtime-dir)
            compopt -o filenames 2>/dev/null
            mapfile -t candidates < <(compgen -d -- "$cur")
            ;;
        --metrics-file)
            compopt -o filenames 2>/dev/null
            mapfile -t candidates < <(compgen -f -- "$cur")
            ;;
        --port-owner | --control-owner) mapfile -t candidates < <(compgen -u -- "$cur") ;;
        --port-group | --control-group) mapfile -t candidates < <(compgen -g -- "$cur") ;;
        --port)
            [[ $cur == *:* ]] && candidates=("${cur%%:*}:rw" "${cur%%:*}:ro")
            ;;
        --name | --port-mode | --control-mode | --metrics-listen | --rs485-delay-before | --rs485-delay-after | --log-level) ;;
        *)
            if [[ $cur == --rs485=* ]]; then
                candidates=(--rs485=rts-on-send --rs485=rts-after-send)
            elif [[ $cur == -* || -z $cur ]]; then
                candidates=(--device --name --runtime-dir --port --port-owner --port-group
                    --port-mode --control-owner --control-group --control-mode --metrics-listen
                    --metrics-file --rs485 --rs485-delay-before --rs485-delay-after --log-level
                    --help --version)
            fi
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "${candidates[*]}" -- "$cur")
}
complete -F _vesk11d vesk11d
