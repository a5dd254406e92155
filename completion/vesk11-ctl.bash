# bash completion for vesk11-ctl: command words, options (the global ones and those of the command
# given), the catalogue's names after get and set, files after diff, apply and -o, devices after
# -d. Self-contained: works with or without the bash-completion package.

_vesk11_ctl_parameters="param_x param_y param_z param_xy param_xz param_yz power_mode
    speed_limit_enable speed_limit_1_min speed_limit_1_max speed_limit_2_min speed_limit_2_max
    speed_limit_3_min speed_limit_3_max speed_limit_4_min speed_limit_4_max speed_limit_5_min
    speed_limit_5_max"
_vesk11_ctl_status="fw_version_gen fw_version_major fw_version_minor fw_version_patch hw_antenna
    hw_serial app_version_major app_version_minor app_version_patch app_variant acc_roll
    acc_pitch acc_calib temperature app_type"

_vesk11_ctl()
{
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -r -a words <<<"$line"
    local cur=
    if [[ $line != *[[:space:]] ]]; then
        cur=${words[-1]}
        unset 'words[-1]'
    fi

    # The command word: the first word that is neither an option nor an option's value.
    local command= previous=${words[-1]} i
    for ((i = 1; i < ${#words[@]}; i++)); do
        case ${words[i]} in
            -d | --device | -t | --timeout | -r | --retries | -o | --output | --reboot-wait | \
                --save-when | --rs485-delay-before | --rs485-delay-after) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    local -a candidates=()
    local nospace=
    case $previous in
        -d | --device)
            compopt -o filenames 2>/dev/null
            candidates=(/dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/serial/by-id/*)
            ;;
        --save-when) candidates=(changed always) ;;
        -o | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t candidates < <(compgen -f -- "$cur")
            ;;
        -t | --timeout | -r | --retries | --count | --duration | --listen | --reboot-wait | \
            --rs485-delay-before | --rs485-delay-after) ;;
        *)
            if [[ $cur == -* ]]; then
                candidates=(--device --timeout --retries --json --verbose --quiet --help --version
                    --rs485 --rs485=rts-on-send --rs485=rts-after-send --rs485-delay-before
                    --rs485-delay-after)
                case $command in
                    set) candidates+=(--save) ;;
                    reboot) candidates+=(--reboot-wait) ;;
                    apply) candidates+=(--check --save --save-when) ;;
                    dump) candidates+=(--output) ;;
                    monitor) candidates+=(--count --duration --hex) ;;
                    scan) candidates+=(--listen) ;;
                esac
            elif [[ -z $command ]]; then
                candidates=(info get set dump diff apply save reset-ram reset-flash reboot low-power
                    command monitor scan status)
            else
                case $command in
                    # shellcheck disable=SC2206 # the lists are split into words on purpose
                    get) candidates=($_vesk11_ctl_parameters $_vesk11_ctl_status) ;;
                    set)
                        local name
                        for name in $_vesk11_ctl_parameters; do candidates+=("$name="); done
                        nospace=1
                        ;;
                    scan)
                        mapfile -t candidates < <(compgen -G "${cur}*" | grep -E '^/dev/(serial/by-id/|tty(USB|ACM|S))')
                        ;;
                    low-power) candidates=(on off) ;;
                    status)
                        # The lines of the running daemons, by name, and socket paths.
                        local dir=${VESK11_RUNTIME_DIR:-/run/vesk11} socket
                        for socket in "$dir"/*/control; do
                            [[ -S $socket ]] && candidates+=("$(basename "$(dirname "$socket")")")
                        done
                        [[ $cur == */* ]] && mapfile -t candidates < <(compgen -f -- "$cur")
                        ;;
                    command) candidates=(reboot update_flash_conf reset_ram_conf reset_flash_conf) ;;
                    diff | apply)
                        compopt -o filenames 2>/dev/null
                        mapfile -t candidates < <(compgen -f -- "$cur")
                        ;;
                esac
            fi
            ;;
    esac

    COMPREPLY=()
    local candidate
    for candidate in "${candidates[@]}"; do
        [[ -e $candidate || $candidate != /dev/* ]] || continue
        [[ $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
    done
    if [[ -n $nospace ]]; then
        compopt -o nospace 2>/dev/null
    fi
    return 0
}

complete -F _vesk11_ctl vesk11-ctl
