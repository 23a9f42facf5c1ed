# bash completion for marlek-sim: its commands, the operation names of fail,
# the pins of set-input, the options of watch, and the program and arguments of
# run.
_marlek_sim() {
    local commands="show set-input set-inputs fail reset path run watch --help --version"
    local operations="Marlek_DIOInit Marlek_DIOFree Marlek_DIOSetConfig Marlek_DIOInputByte Marlek_DIOInputBit
                      Marlek_DIOOutputByte Marlek_DIOOutputBit MarlekLedConfig MarlekSerialConfig
                      KVTGetLastError kvtGetErrorString"
    local current=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "$commands" -- "$current"))
        return
    fi
    case ${COMP_WORDS[1]} in
        run)
            # The program, then its own completion (bash-completion's helper
            # where it is loaded), else file names.
            if declare -F _command_offset >/dev/null; then
                _command_offset 2
            else
                compopt -o default 2>/dev/null
                ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -c -- "$current"))
            fi
            ;;
        fail)
            if ((COMP_CWORD == 2)); then
                COMPREPLY=($(compgen -W "clear $operations" -- "$current"))
            elif ((COMP_CWORD == 3)) && [[ ${COMP_WORDS[2]} != clear ]]; then
                COMPREPLY=($(compgen -W "all" -- "$current"))
            fi
            ;;
        watch)
            case ${COMP_WORDS[COMP_CWORD - 1]} in
                --count | --timeout) ;;
                *) COMPREPLY=($(compgen -W "--count --timeout" -- "$current")) ;;
            esac
            ;;
        set-input)
            if ((COMP_CWORD == 2)); then
                COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7" -- "$current"))
            elif ((COMP_CWORD == 3)); then
                COMPREPLY=($(compgen -W "0 1" -- "$current"))
            fi
            ;;
    esac
}
complete -F _marlek_sim marlek-sim
