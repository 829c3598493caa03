# bash completion for tarnwick-join

_tarnwick_join() {
    local cur prev
    COMPREPLY=()
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ "${COMP_WORDS[i]}" == "--" ]]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0
        fi
    done
    case "$prev" in
        --threads)
            COMPREPLY=($(compgen -W "1 2 3 4 6 8 12 16" -- "$cur"))
            return 0
            ;;
        --format)
            COMPREPLY=($(compgen -W "flv mp4 mov mkv ts" -- "$cur"))
            return 0
            ;;
        -o|--output)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0
            ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "-f --fast --auto -y --overwrite --delete-sources --threads
            --format -q --quiet -v --verbose --check --probe --chapters-per-source -o --output -h --help --version --" \
            -- "$cur"))
        return 0
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -X '!*.@(flv|f4v|mp4|m4v|mov|mkv|ts|tp|avi|wmv|asf|mpg|mpeg|vob|3gp|rm|rmvb|webm|FLV|F4V|MP4|M4V|MOV|MKV|TS|AVI|WMV|MPG|MPEG)' -- "$cur") \
                 $(compgen -d -- "$cur"))
}
complete -F _tarnwick_join tarnwick-join
