# bash completion for tarnwick-join (the command line) and tarnwick (the
# window): options from the program's own --help, values of the options that
# take one, and the video files and folders for the inputs.

# Extensions of the video files offered, in lower case; a name matches in
# any letter case (clip.MTS, CLIP.Mp4).
_tarnwick_video_exts=" 3g2 3gp asf avi avm avs dat divx dv f4v flv m2t m2ts m4v mkv mov mp4
    mpe mpeg mpg mts mxf nsv ogm ogv qt rm rmvb tp trp ts vob webm wmv "
_tarnwick_video_exts=${_tarnwick_video_exts//$'\n'/ }

# The word as the program will get it: quotes and backslashes taken away
# ("My Fi, 'My Fi and My\ Fi all give My Fi). The result is in REPLY.
_tarnwick_dequote() {
    local in=$1 out="" quote="" c i
    for ((i = 0; i < ${#in}; i++)); do
        c=${in:i:1}
        if [[ $quote == "'" ]]; then
            [[ $c == "'" ]] && quote="" || out+=$c
        elif [[ $c == "\\" ]]; then
            i=$((i + 1))
            out+=${in:i:1}
        elif [[ $c == '"' || ($c == "'" && -z $quote) ]]; then
            [[ $quote == "$c" ]] && quote="" || quote=$c
        else
            out+=$c
        fi
    done
    REPLY=$out
}

# COMPREPLY: the names that start with $1, each a word of its own whatever
# it holds; with $2 = video only folders and video files. Hidden ones only
# when the name typed starts with a dot.
_tarnwick_files() {
    local REPLY name ext hidden=""
    local -a names
    _tarnwick_dequote "$1"
    [[ $REPLY == "~" ]] && REPLY="~/"
    [[ $REPLY == "~/"* ]] && REPLY=$HOME/${REPLY#"~/"}
    [[ ${REPLY##*/} == .* ]] && hidden=yes
    compopt -o filenames 2>/dev/null
    mapfile -t names < <(compgen -f -- "$REPLY")
    COMPREPLY=()
    for name in "${names[@]}"; do
        [[ -z $hidden && ${name##*/} == .* ]] && continue
        if [[ ${2-} == video && ! -d $name ]]; then
            [[ $name == *.* ]] || continue
            ext=${name##*.}
            [[ $_tarnwick_video_exts == *" ${ext,,} "* ]] || continue
        fi
        COMPREPLY+=("$name")
    done
}

_tarnwick_join() {
    local cmd=$1 cur=${COMP_WORDS[COMP_CWORD]} prev="" option="" i
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # --format=mkv reaches us as three words: --format, = and mkv.
    if [[ $cur == "=" && $prev == --* ]]; then
        option=$prev
        cur=""
    elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    else
        option=$prev
    fi
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == "--" ]]; then
            _tarnwick_files "$cur" video
            return 0
        fi
    done
    case "$option" in
        --threads)
            mapfile -t COMPREPLY < <(compgen -W "1 2 3 4 6 8 12 16" -- "$cur")
            return 0
            ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "flv mp4 mov mkv ts" -- "$cur")
            return 0
            ;;
        --progress)
            mapfile -t COMPREPLY < <(compgen -W "bar lines json none" -- "$cur")
            return 0
            ;;
        -o | --output)
            _tarnwick_files "$cur"
            return 0
            ;;
    esac
    if [[ $cur == -* ]]; then
        # Every option the program's --help names, so that the list follows
        # the program.
        local REPLY options
        _tarnwick_dequote "$cmd"
        options=$("$REPLY" --help 2>&1 |
            grep -oE -- '(^|[][ ,|(])--?[A-Za-z0-9][-A-Za-z0-9]*' | sed 's/^[][ ,|(]//' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options --" -- "$cur")
        return 0
    fi
    _tarnwick_files "$cur" video
}

# The window takes video files only.
_tarnwick() {
    _tarnwick_files "${COMP_WORDS[COMP_CWORD]}" video
}

complete -F _tarnwick_join tarnwick-join
complete -F _tarnwick tarnwick
