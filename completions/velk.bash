# bash completion for velk: commands, their options, and file names.

_velk() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="crc single merge txt c info verify unpack help"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ " $commands " == *" ${words[i]} "* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands -h --help --version -q --quiet" -- "$cur"))
        return
    fi
    if [[ $command == help ]]; then
        COMPREPLY=($(compgen -W "$commands -h --help" -- "$cur"))
        return
    fi

    # Options that take a value: complete the value, not an option.
    case $prev in
        --format) COMPREPLY=($(compgen -W "bin hex srec" -- "$cur")); return ;;
        --input-format)
            COMPREPLY=($(compgen -W "auto bin elf hex srec" -- "$cur")); return ;;
        --bits) COMPREPLY=($(compgen -W "8 16 32" -- "$cur")); return ;;
        --kind) COMPREPLY=($(compgen -W "bin hex srec twin flash-crc padded-flash-crc oad oad-stack oad-app merged" -- "$cur")); return ;;
        --keys | --base | --stack-at | --app-at | --image-version | --rom-version | \
            --app-uid | --stack-uid | --per-line | --name | --length | --origin | --max-size | --crop)
            return ;;
        -o | --output | --header | --against)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
    esac

    local options="-h --help"
    # How the image operands are read and laid out.
    local inputs="--input-format --origin --max-size --crop"
    case $command in
        crc | single) options+=" -q --quiet -o --output --keys --no-twin --format --base --verify $inputs" ;;
        merge) options+=" -q --quiet -o --output --stack-at --app-at --image-version --rom-version --app-uid --stack-uid --format --base --verify $inputs" ;;
        txt) options+=" -q --quiet -o --output --bits --per-line --comma --prefix $inputs" ;;
        c) options+=" -q --quiet -o --output --bits --per-line --name --const --stdint --header $inputs" ;;
        info) options+=" --stack-at --app-at --kind --base --json $inputs" ;;
        verify) options+=" --keys --against --stack-at --app-at --kind --base --json $inputs" ;;
        unpack) options+=" -q --quiet -o --output --keys --length --kind --base" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _velk velk
