# Bash completion for packmeter-cli: options and their values, the two commands, then paths
# (only folders for a scan).
_packmeter_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command="" only_paths="" positionals=0 i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $only_paths ]]; then
            ((positionals++))
            continue
        fi
        case $word in
            --) only_paths=1 ;;
            --format | --sort | --algorithm | --min-saving) ((i++)) ;;
            -*) ;;
            compress | decompress | estimate)
                if [[ -z $command && $positionals -eq 0 ]]; then
                    command=$word
                else
                    ((positionals++))
                fi
                ;;
            *) ((positionals++)) ;;
        esac
    done

    if [[ -z $only_paths ]]; then
        case $prev in
            --format)
                mapfile -t COMPREPLY < <(compgen -W "table tsv json" -- "$cur")
                return
                ;;
            --sort)
                mapfile -t COMPREPLY < <(compgen -W "name size compressed ratio" -- "$cur")
                return
                ;;
        esac
        case $cur in
            --format=*)
                mapfile -t COMPREPLY < <(compgen -W "table tsv json" -- "${cur#--format=}")
                return
                ;;
            --sort=*)
                mapfile -t COMPREPLY < <(compgen -W "name size compressed ratio" -- "${cur#--sort=}")
                return
                ;;
            -*)
                mapfile -t COMPREPLY < <(compgen -W "--format --sort --reverse --by-algorithm --no-helper --algorithm --min-saving --quick --help --version --" -- "$cur")
                return
                ;;
        esac
    fi

    compopt -o filenames 2>/dev/null
    if [[ -n $command ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    elif [[ $positionals -eq 0 ]]; then
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        if [[ -z $only_paths ]]; then
            local commands
            mapfile -t commands < <(compgen -W "compress decompress estimate" -- "$cur")
            COMPREPLY+=("${commands[@]}")
        fi
    else
        COMPREPLY=()  # a scan takes one folder
    fi
}
complete -F _packmeter_cli packmeter-cli
