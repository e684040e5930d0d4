# bash completion for glimmerpane-cli
#
# The commands and their options are read from "glimmerpane-cli help", so
# the completion always matches the installed program. Each usage line reads
# "  WORD [WORD ...] [ARGS and --options]  description".

_glimmerpane_cli_usages() {
    "${1:-glimmerpane-cli}" help 2>&1 | sed -n 's/^  \([a-z].*\)$/\1/p' | sed 's/   *.*$//; s/  [a-z].*$//'
}

_glimmerpane_cli() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()

    case $prev in
    --port | --ports)
        COMPREPLY=($(compgen -W "$(cd /dev 2>/dev/null && ls -d ttyUSB* ttyACM* ttyS* 2>/dev/null)" -- "$cur"))
        [[ $cur == */* ]] && COMPREPLY+=($(compgen -f -- "$cur"))
        return
        ;;
    --log)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --sim-option)
        COMPREPLY=($(compgen -W "drop delay= split split= corrupt corrupt= garbage garbage= vanish silent" -- "$cur"))
        return
        ;;
    esac

    # The words of the command typed so far: everything after the global
    # options and their values.
    local i=1 words=()
    while ((i < COMP_CWORD)); do
        case ${COMP_WORDS[i]} in
        --port | --ports | --log | --sim-option) ((i += 2)) ;;
        --*) ((i++)) ;;
        *) break ;;
        esac
    done
    if ((i >= COMP_CWORD)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--port --ports --simulate --json --log --yes --fast --sim-option --help --version" -- "$cur"))
        return
    fi
    local j
    for ((j = i; j < COMP_CWORD; j++)); do
        words+=("${COMP_WORDS[j]}")
    done

    local usages line typed="${words[*]}"
    usages=$(_glimmerpane_cli_usages "${COMP_WORDS[0]}")

    # Inside the command's name: offer the next word of every command that
    # begins with what is typed.
    local next=() name
    while IFS= read -r line; do
        name=$(printf '%s\n' "$line" | sed 's/ *\[.*$//; s/ [A-Z-].*$//; s/ --.*$//')
        [[ -z $name ]] && continue
        local -a parts=($name)
        if ((${#parts[@]} > ${#words[@]})) && [[ "$name " == "$typed "* || -z $typed ]]; then
            next+=("${parts[${#words[@]}]}")
        fi
    done <<<"$usages"
    ((${#words[@]} == 0)) && next+=(help)
    if [[ $cur != -* ]] && ((${#next[@]})); then
        local found=($(compgen -W "${next[*]}" -- "$cur"))
        if ((${#found[@]})); then
            COMPREPLY=($(printf '%s\n' "${found[@]}" | sort -u))
            return
        fi
    fi

    # Past the name: the options on the usage lines of the commands typed,
    # or file names.
    if [[ $cur == -* ]]; then
        local opts=""
        while IFS= read -r line; do
            name=$(printf '%s\n' "$line" | sed 's/ *\[.*$//; s/ [A-Z-].*$//; s/ --.*$//')
            if [[ -n $name && "$typed " == "$name "* ]]; then
                opts+=" $(printf '%s\n' "$line" | grep -o -- '--[a-z0-9-]*' | tr '\n' ' ')"
            fi
        done <<<"$usages"
        opts+=" --yes"
        COMPREPLY=($(compgen -W "$opts" -- "$cur" | sort -u))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _glimmerpane_cli glimmerpane-cli
